#include "platform/event.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <ostream>
#include <string>

#include "peer_process.h"
#include "platform/object_namespace.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::PeerProcess;
using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

// The behaviour every event shares, whether it lives in this process or in the file system.
struct EventKind {
  const char* label;
  std::function<std::unique_ptr<Event>(bool manualReset, bool initialState)> make;
};

// Shown in test listings instead of the parameter's raw bytes.
void PrintTo(const EventKind& kind, std::ostream* out) { *out << kind.label; }

class EventBehaviour : public ::testing::TestWithParam<EventKind> {
 protected:
  std::unique_ptr<Event> Make(bool manualReset, bool initialState) {
    auto event = GetParam().make(manualReset, initialState);
    EXPECT_NE(event, nullptr);
    return event;
  }
  ScopedTestEnvironment env;
};

TEST_P(EventBehaviour, ManualResetStaysSignalledUntilReset) {
  auto event = Make(true, false);
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(event->Set());
  ASSERT_TRUE(event->Set());
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(event->Reset());
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_TIMEOUT);
}

TEST_P(EventBehaviour, AutoResetIsConsumedByOneWait) {
  auto event = Make(false, true);
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_TIMEOUT);
  // Several sets before a wait release one wait, as on Windows.
  event->Set();
  event->Set();
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForOne(*event, 0), WAIT_TIMEOUT);
}

TEST_P(EventBehaviour, SetFromAnotherThreadEndsAWait) {
  for (bool manual : {true, false}) {
    auto event = Make(manual, false);
    auto waiter = std::async(std::launch::async, [&] { return WaitForOne(*event, 20000); });
    event->Set();
    EXPECT_EQ(waiter.get(), WAIT_OBJECT_0) << "manual " << manual;
  }
}

int g_nameCounter = 0;

INSTANTIATE_TEST_SUITE_P(
    Kinds, EventBehaviour,
    ::testing::Values(EventKind{"Unnamed", [](bool m, bool s) { return Event::Create(m, s); }},
                      EventKind{"Named", [](bool m, bool s) {
                                  return Event::CreateNamed("Global\\ev" + std::to_string(++g_nameCounter), m, s);
                                }}),
    [](const auto& info) { return std::string(info.param.label); });

class NamedEventTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment env;
  std::string Name() const { return "Global\\Kavo_Botted_Event"; }
  std::string File() const { return env.RuntimeDir() + "/global/Kavo_Botted_Event"; }
};

TEST_F(NamedEventTest, FileByteZeroCarriesTheState) {
  auto event = Event::CreateNamed(Name(), true, false);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(ReadFile(File())[0], '0');
  event->Set();
  EXPECT_EQ(ReadFile(File())[0], '1');
  event->Reset();
  EXPECT_EQ(ReadFile(File())[0], '0');
}

TEST_F(NamedEventTest, SecondCreateSharesTheObjectAndIgnoresItsArguments) {
  auto first = Event::CreateNamed(Name(), false, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto second = Event::CreateNamed(Name(), true, true);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForOne(*second, 0), WAIT_TIMEOUT);  // not set by the second create
  second->Set();
  EXPECT_EQ(WaitForOne(*first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForOne(*second, 0), WAIT_TIMEOUT);  // still auto-reset: the first wait took it
}

TEST_F(NamedEventTest, OpenFindsOnlyALiveEvent) {
  EXPECT_EQ(Event::OpenNamed(Name()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  auto created = Event::CreateNamed(Name(), true, false);
  auto opened = Event::OpenNamed(Name());
  ASSERT_NE(opened, nullptr);
  opened->Set();
  EXPECT_EQ(WaitForOne(*created, 0), WAIT_OBJECT_0);
  created.reset();
  opened.reset();
  EXPECT_EQ(Event::OpenNamed(Name()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(NamedEventTest, ShellWriteOfOneSetsTheEvent) {
  auto event = Event::CreateNamed(Name(), true, false);
  ASSERT_NE(event, nullptr);
  auto waiter = std::async(std::launch::async, [&] { return WaitForOne(*event, 20000); });
  std::string command = "printf 1 | dd of='" + File() + "' conv=notrunc status=none";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
}

TEST_F(NamedEventTest, SetInThisProcessWakesAWaiterInAnother) {
  auto event = Event::CreateNamed(Name(), false, false);
  PeerProcess peer("platform_object_peer", {"event-wait", Name(), "20000"});
  ASSERT_EQ(peer.ReadLine(), "waiting");
  event->Set();
  EXPECT_EQ(peer.ReadLine(), "0");
  EXPECT_EQ(peer.Wait(), 0);
}

TEST_F(NamedEventTest, SetInAnotherProcessWakesAWaiterHere) {
  auto event = Event::CreateNamed(Name(), false, false);
  auto waiter = std::async(std::launch::async, [&] { return WaitForOne(*event, 20000); });
  PeerProcess peer("platform_object_peer", {"event-set", Name()});
  EXPECT_EQ(peer.Wait(), 0);
  EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
}

TEST_F(NamedEventTest, EventOfAKilledHolderCountsAsAbsent) {
  PeerProcess holder("platform_object_peer", {"event-create", Name(), "1", "1"});
  ASSERT_EQ(holder.ReadLine(), "created 0");
  {
    auto again = Event::CreateNamed(Name(), true, false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForOne(*again, 0), WAIT_OBJECT_0);  // the holder's initial state
  }
  holder.Kill(SIGKILL);
  EXPECT_EQ(holder.Wait(), 128 + SIGKILL);

  EXPECT_EQ(Event::OpenNamed(Name()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  auto fresh = Event::CreateNamed(Name(), true, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForOne(*fresh, 0), WAIT_TIMEOUT);  // initialised anew, not the dead holder's '1'
}

}  // namespace
}  // namespace platform
