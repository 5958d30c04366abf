// A small pool of std::thread workers for independent blocks of work (one
// texture archive or package member per task). OrderedMap hands the results
// back on the calling thread strictly in index order, so what it builds never
// depends on the number of threads, and it keeps at most a fixed number of
// tasks ahead of the one being consumed, so memory stays bounded.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace quarrendel {

// The number of CPUs this process may run on (its affinity mask), or the
// value of QUARRENDEL_THREADS when that holds a number from 1 to 1024.
int32_t DefaultThreadCount();

class WorkerPool {
 public:
  // With one thread (or fewer) no worker is started and OrderedMap runs every
  // task on the calling thread; with n threads, n - 1 workers are started and
  // the thread calling OrderedMap is the n-th: it runs queued tasks itself
  // while the result it is to hand on next is not ready.
  explicit WorkerPool(int32_t threads = DefaultThreadCount());
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int32_t Threads() const { return static_cast<int32_t>(workers_.size()) + 1; }

  // Runs produce(i) for i = 0 .. count - 1 on the workers and consume(i,
  // result) on the calling thread in index order; produce(i) starts only when
  // i < (index being consumed) + lookAhead. produce must be safe to call from
  // several threads at once; it must not use this pool itself.
  //
  // consume may return bool: false ends the walk there. An exception from
  // produce(i) is rethrown here when index i is due; one from consume
  // propagates as it is. Whichever way the walk ends early, the tasks not yet
  // started are dropped and those running are waited for before it leaves.
  template <class Produce, class Consume>
  void OrderedMap(size_t count, size_t lookAhead, Produce&& produce, Consume&& consume);

 private:
  void Post(std::function<void()> task);
  // Runs the oldest queued task on the calling thread; false when none is queued.
  bool RunQueuedTask();
  void Work();
  void Close();  // lets the workers finish the queue and joins them

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool closing_ = false;
};

namespace detail {

// consume(i, result), and whether the walk goes on after it.
template <class Consume, class Result>
bool ConsumeGoesOn(Consume& consume, size_t i, Result&& result) {
  if constexpr (std::is_same_v<std::invoke_result_t<Consume&, size_t, Result&&>, bool>) {
    return consume(i, std::forward<Result>(result));
  } else {
    consume(i, std::forward<Result>(result));
    return true;
  }
}

}  // namespace detail

template <class Produce, class Consume>
void WorkerPool::OrderedMap(size_t count, size_t lookAhead, Produce&& produce, Consume&& consume) {
  using Result = std::invoke_result_t<Produce&, size_t>;
  if (workers_.empty()) {
    for (size_t i = 0; i < count; ++i) {
      if (!detail::ConsumeGoesOn(consume, i, produce(i))) return;
    }
    return;
  }
  if (count == 0) return;

  struct Slot {
    std::optional<Result> value;
    std::exception_ptr error;
    bool done = false;
  };
  // Index i lives in slot i % window until it is consumed.
  std::vector<Slot> slots(std::clamp<size_t>(lookAhead, 1, count));
  std::mutex mutex;
  std::condition_variable finished;
  size_t running = 0;
  bool dropping = false;

  // Leaves only when no task refers to this frame any more.
  struct Drain {
    std::mutex& mutex;
    std::condition_variable& finished;
    size_t& running;
    bool& dropping;
    ~Drain() {
      std::unique_lock lock(mutex);
      dropping = true;
      finished.wait(lock, [&] { return running == 0; });
    }
  } drain{mutex, finished, running, dropping};

  size_t submitted = 0;
  for (size_t next = 0; next < count; ++next) {
    for (; submitted < count && submitted < next + slots.size(); ++submitted) {
      const size_t i = submitted;
      {
        std::lock_guard lock(mutex);
        ++running;
      }
      auto task = [&, i] {
        Slot& slot = slots[i % slots.size()];
        std::optional<Result> value;
        std::exception_ptr error;
        bool drop;
        {
          std::lock_guard lock(mutex);
          drop = dropping;
        }
        if (!drop) {
          try {
            value.emplace(produce(i));
          } catch (...) {
            error = std::current_exception();
          }
        }
        std::lock_guard lock(mutex);
        slot.value = std::move(value);
        slot.error = error;
        slot.done = true;
        --running;
        // Notified under the lock: the frame may end as soon as it is released.
        finished.notify_all();
      };
      try {
        Post(task);
      } catch (...) {
        std::lock_guard lock(mutex);
        --running;
        throw;
      }
    }
    Slot& slot = slots[next % slots.size()];
    std::optional<Result> value;
    {
      std::unique_lock lock(mutex);
      while (!slot.done) {
        lock.unlock();
        const bool ran = RunQueuedTask();
        lock.lock();
        if (!ran) finished.wait(lock, [&] { return slot.done; });
      }
      if (slot.error) std::rethrow_exception(slot.error);
      value = std::move(slot.value);
      slot = Slot{};
    }
    if (!detail::ConsumeGoesOn(consume, next, std::move(*value))) return;
  }
}

}  // namespace quarrendel
