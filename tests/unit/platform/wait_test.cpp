#include "platform/wait.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

TEST(WaitForAny, LowestSignalledIndexWins) {
  const struct {
    std::vector<int> signalled;
    uint32_t expected;
  } cases[] = {
      {{0}, 0}, {{3}, 3}, {{1, 2}, 1}, {{2, 0, 3}, 0}, {{3, 2}, 2}, {{}, WAIT_TIMEOUT},
  };
  for (const auto& c : cases) {
    std::vector<std::unique_ptr<Event>> events;
    std::vector<WaitObject*> objects;
    for (int i = 0; i < 4; ++i) {
      events.push_back(Event::Create(true, false));
      objects.push_back(events.back().get());
    }
    for (int i : c.signalled) events[i]->Set();
    EXPECT_EQ(WaitForAny(objects, 0), c.expected) << "first of " << c.signalled.size();
  }
}

TEST(WaitForAny, OnlyTheWinningAutoResetEventIsConsumed) {
  auto first = Event::Create(false, true);
  auto second = Event::Create(false, true);
  EXPECT_EQ(WaitForAny({first.get(), second.get()}, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForAny({first.get(), second.get()}, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForAny({first.get(), second.get()}, 0), WAIT_TIMEOUT);
}

TEST(WaitForAny, TimesOutWhenNothingIsSignalled) {
  auto event = Event::Create(true, false);
  for (uint32_t timeout : {0u, 30u}) EXPECT_EQ(WaitForAny({event.get()}, timeout), WAIT_TIMEOUT) << timeout;
  EXPECT_EQ(WAIT_TIMEOUT, 0x102u);
}

TEST(WaitForAny, InfiniteWaitEndsWhenAnotherThreadSets) {
  auto idle = Event::Create(true, false);
  auto wake = Event::Create(false, false);
  auto waiter = std::async(std::launch::async, [&] { return WaitForAny({idle.get(), wake.get()}, INFINITE); });
  wake->Set();
  EXPECT_EQ(waiter.get(), WAIT_OBJECT_0 + 1);
}

TEST(WaitForAny, RefusesMissingObjects) {
  auto event = Event::Create(true, true);
  EXPECT_EQ(WaitForAny({event.get(), nullptr}, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForAny(std::span<WaitObject* const>(), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform
