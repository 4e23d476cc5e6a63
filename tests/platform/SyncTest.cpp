// The manual-reset event and the thread with a bounded join.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "platform/Platform.h"

namespace es::platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Event, StaysSetUntilResetAndWaitGivesUpAfterItsTimeout) {
  EXPECT_TRUE(Event(true).Wait(0)) << "starts set when asked";
  Event event(false);
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(10));  // manual reset: waiting does not clear it
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
  EXPECT_NE(event.NativeHandle(), nullptr);
  const auto start = Clock::now();
  EXPECT_FALSE(event.Wait(60));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
}

TEST(Thread, WakesOnAnEventJoinIsBoundedAndStartsAgain) {
  Event go(false), done(false);
  Thread thread;
  ASSERT_TRUE(thread.Start([&] {
    if (go.Wait(-1)) done.Set();
  }));
  EXPECT_TRUE(thread.Running());
  const auto start = Clock::now();
  EXPECT_FALSE(thread.Join(50));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_TRUE(thread.Running());
  go.Set();
  EXPECT_TRUE(done.Wait(5000));
  EXPECT_TRUE(thread.Join(5000));
  EXPECT_FALSE(thread.Running());
  EXPECT_TRUE(thread.Join(0));  // nothing left to wait for

  std::atomic<int> runs{0};
  ASSERT_TRUE(thread.Start([&] { ++runs; }));
  ASSERT_TRUE(thread.Join(5000));
  EXPECT_EQ(runs, 1);
}

TEST(Thread, OwnerLetsGoOfARunningThread) {
  // The thread keeps what its body captured; the Thread object may go first.
  auto release = std::make_shared<Event>(false);
  auto finished = std::make_shared<Event>(false);
  {
    Thread thread;
    ASSERT_TRUE(thread.Start([release, finished] {
      release->Wait(-1);
      finished->Set();
    }));
    EXPECT_FALSE(thread.Join(10));
  }
  release->Set();
  EXPECT_TRUE(finished->Wait(5000));
}

}  // namespace
}  // namespace es::platform
