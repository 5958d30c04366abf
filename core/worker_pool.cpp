#include "core/worker_pool.h"

#include <sched.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace quarrendel {

int32_t DefaultThreadCount() {
  if (const char* text = std::getenv("QUARRENDEL_THREADS"); text != nullptr) {
    int32_t n = 0;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, n);
    if (ec == std::errc() && at == end && n >= 1 && n <= 1024) return n;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int32_t>(hardware) : 1;
}

WorkerPool::WorkerPool(int32_t threads) {
  if (threads <= 1) return;
  workers_.reserve(static_cast<size_t>(threads) - 1);
  try {
    for (int32_t t = 1; t < threads; ++t) workers_.emplace_back([this] { Work(); });
  } catch (...) {
    Close();
    throw;
  }
}

WorkerPool::~WorkerPool() { Close(); }

void WorkerPool::Close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

bool WorkerPool::RunQueuedTask() {
  std::function<void()> task;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    task = std::move(queue_.front());
    queue_.pop_front();
  }
  task();
  return true;
}

void WorkerPool::Work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

}  // namespace quarrendel
