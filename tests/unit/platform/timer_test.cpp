#include "platform/timer.h"

#include <gtest/gtest.h>

#include "platform/event.h"

namespace platform {
namespace {

constexpr uint32_t kPatienceMs = 20000;

TEST(WaitableTimer, FiresOnceAfterItsDueTime) {
  for (bool manual : {true, false}) {
    auto timer = WaitableTimer::Create(manual);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(WaitForOne(*timer, 0), WAIT_TIMEOUT);  // not armed
    ASSERT_TRUE(timer->SetRelative(20));
    EXPECT_EQ(WaitForOne(*timer, kPatienceMs), WAIT_OBJECT_0) << "manual " << manual;
    // A manual-reset timer stays signalled; an auto-reset one was consumed by the wait.
    EXPECT_EQ(WaitForOne(*timer, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << "manual " << manual;
  }
}

TEST(WaitableTimer, ZeroDueTimeFiresAtOnce) {
  auto timer = WaitableTimer::Create(true);
  ASSERT_TRUE(timer->SetRelative(0));
  EXPECT_EQ(WaitForOne(*timer, kPatienceMs), WAIT_OBJECT_0);
}

TEST(WaitableTimer, RearmingOrCancellingClearsTheSignal) {
  auto timer = WaitableTimer::Create(true);
  ASSERT_TRUE(timer->SetRelative(0));
  ASSERT_EQ(WaitForOne(*timer, kPatienceMs), WAIT_OBJECT_0);
  ASSERT_TRUE(timer->SetRelative(600000));
  EXPECT_EQ(WaitForOne(*timer, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(timer->SetRelative(0));
  ASSERT_EQ(WaitForOne(*timer, kPatienceMs), WAIT_OBJECT_0);
  ASSERT_TRUE(timer->Cancel());
  EXPECT_EQ(WaitForOne(*timer, 0), WAIT_TIMEOUT);
}

TEST(WaitableTimer, CancelledTimerNeverFires) {
  auto timer = WaitableTimer::Create(false);
  ASSERT_TRUE(timer->SetRelative(10));
  ASSERT_TRUE(timer->Cancel());
  EXPECT_EQ(WaitForOne(*timer, 60), WAIT_TIMEOUT);
}

TEST(WaitableTimer, InterruptsAWaitOnOtherObjects) {
  auto event = Event::Create(true, false);
  auto timer = WaitableTimer::Create(true);
  ASSERT_TRUE(timer->SetRelative(10));
  EXPECT_EQ(WaitForAny({event.get(), timer.get()}, kPatienceMs), WAIT_OBJECT_0 + 1);
}

}  // namespace
}  // namespace platform
