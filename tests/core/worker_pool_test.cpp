#include "core/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace quarrendel {
namespace {

TEST(WorkerPoolTest, ResultsArriveInIndexOrderWithinTheLookAhead) {
  for (int32_t threads : {1, 2, 5}) {
    WorkerPool pool(threads);
    EXPECT_EQ(pool.Threads(), threads);
    constexpr size_t kLookAhead = 3;
    std::atomic<size_t> consumed{0};
    std::atomic<size_t> furthestAhead{0};
    std::vector<size_t> order;
    pool.OrderedMap(
        300, kLookAhead,
        [&](size_t i) {
          const size_t ahead = i - consumed.load();
          size_t seen = furthestAhead.load();
          while (ahead > seen && !furthestAhead.compare_exchange_weak(seen, ahead)) {
          }
          // Later indices finish first now and then.
          if (i % 7 == 0) std::this_thread::yield();
          return std::to_string(i * i);
        },
        [&](size_t i, std::string&& square) {
          EXPECT_EQ(square, std::to_string(i * i));
          order.push_back(i);
          consumed = i + 1;
        });
    ASSERT_EQ(order.size(), 300u);
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
    EXPECT_LT(furthestAhead.load(), kLookAhead) << threads << " threads";
  }
}

TEST(WorkerPoolTest, AFailureStopsTheWalkAtItsIndex) {
  for (int32_t threads : {1, 3}) {
    WorkerPool pool(threads);
    std::vector<size_t> consumed;
    std::atomic<size_t> produced{0};
    EXPECT_THROW(pool.OrderedMap(
                     1000, 4,
                     [&](size_t i) {
                       if (i == 5) throw std::runtime_error("task 5");
                       ++produced;
                       return i;
                     },
                     [&](size_t i, size_t) { consumed.push_back(i); }),
                 std::runtime_error);
    EXPECT_EQ(consumed, (std::vector<size_t>{0, 1, 2, 3, 4}));
    EXPECT_LE(produced.load(), 5u + 4u);  // nothing started beyond the look-ahead

    // A failure of the consumer leaves no task behind that still uses the walk's state.
    EXPECT_THROW(pool.OrderedMap(
                     100, 8, [](size_t i) { return i; },
                     [](size_t i, size_t) {
                       if (i == 2) throw std::logic_error("consumer");
                     }),
                 std::logic_error);
    // The pool still works afterwards.
    size_t sum = 0;
    pool.OrderedMap(10, 2, [](size_t i) { return i; }, [&](size_t, size_t v) { sum += v; });
    EXPECT_EQ(sum, 45u);
  }
}

TEST(WorkerPoolTest, AConsumerThatSaysStopEndsTheWalk) {
  for (int32_t threads : {1, 3}) {
    WorkerPool pool(threads);
    std::vector<size_t> consumed;
    std::atomic<size_t> produced{0};
    pool.OrderedMap(
        1000, 4,
        [&](size_t i) {
          ++produced;
          return i;
        },
        [&](size_t i, size_t) {
          consumed.push_back(i);
          return i < 6;
        });
    EXPECT_EQ(consumed, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6})) << threads << " threads";
    EXPECT_LE(produced.load(), 7u + 4u);
  }
}

TEST(WorkerPoolTest, ThreadCountFollowsTheEnvironmentOverride) {
  const char* before = std::getenv("QUARRENDEL_THREADS");
  const std::string saved = before != nullptr ? before : "";
  setenv("QUARRENDEL_THREADS", "3", 1);
  EXPECT_EQ(DefaultThreadCount(), 3);
  unsetenv("QUARRENDEL_THREADS");
  const int32_t affinity = DefaultThreadCount();
  EXPECT_GE(affinity, 1);
  for (const char* bad : {"0", "-2", "4x", "", "100000"}) {
    setenv("QUARRENDEL_THREADS", bad, 1);
    EXPECT_EQ(DefaultThreadCount(), affinity) << '"' << bad << '"';
  }
  if (before != nullptr) setenv("QUARRENDEL_THREADS", saved.c_str(), 1);
  else unsetenv("QUARRENDEL_THREADS");
}

}  // namespace
}  // namespace quarrendel
