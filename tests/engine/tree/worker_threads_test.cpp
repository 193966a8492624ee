// The scan's threads: every work runs once on each thread, a work starts
// only once the one before has returned everywhere, and without threads
// nothing runs.
#include "engine/tree/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace torquelin;

TEST(WorkerThreads, EachWorkRunsOnceOnEveryThreadAfterTheOneBefore) {
  for (const unsigned count : {0u, 1u, 3u}) {
    SCOPED_TRACE(count);
    WorkerThreads threads(count);
    ASSERT_EQ(threads.Count(), count);
    std::atomic<unsigned> firstDone{0};
    std::atomic<unsigned> secondSawFirstUnfinished{0};
    std::vector<std::atomic<unsigned>> calls(2 * count + 1);
    threads.Start([&](unsigned t) {
      // The slowest first work must still come before any second one.
      if (t == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++calls[t];
      ++firstDone;
    });
    threads.Start([&](unsigned t) {
      if (firstDone.load() != count) ++secondSawFirstUnfinished;
      ++calls[count + t];
    });
    threads.Wait();
    EXPECT_EQ(secondSawFirstUnfinished.load(), 0u);
    for (unsigned i = 0; i < 2 * count; ++i) EXPECT_EQ(calls[i].load(), 1u) << i;
    EXPECT_EQ(calls[2 * count].load(), 0u);
  }
}
