// SPDX-License-Identifier: Apache-2.0
#include "shell/detection_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace quarn {
namespace {

// A thread that finishes a batch whose last job another thread holds takes the jobs of the
// batches queued after it meanwhile: here the held job waits for the later batch's job, which
// only the finishing thread is free to run. Without that help the held job gives up after a
// few seconds and says so.
TEST(DetectionPoolTest, FinishingTakesLaterBatchesWhileAnotherThreadEndsItsBatch) {
  DetectionPool pool(2);
  std::atomic<bool> first_started{false};
  std::atomic<bool> later_ran{false};
  bool later_ran_in_time = false;
  auto first = pool.StartJobs(1, [&](size_t) {
    first_started = true;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!later_ran && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    later_ran_in_time = later_ran;
  });
  while (!first_started) std::this_thread::yield();
  auto later = pool.StartJobs(1, [&](size_t) { later_ran = true; });
  pool.Finish(std::move(first));
  EXPECT_TRUE(later_ran_in_time);
  pool.Finish(std::move(later));
}

}  // namespace
}  // namespace quarn
