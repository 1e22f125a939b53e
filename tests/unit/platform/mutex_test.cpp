#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <string>

#include "peer_process.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::PeerProcess;
using velmora::test::ScopedTestEnvironment;

class NamedMutexTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment env;
  const std::string name = "Global\\KAVOCLIENT_MUTEX";
};

TEST_F(NamedMutexTest, InitialOwnerHoldsItAgainstOtherHandles) {
  auto owner = NamedMutex::Create(name, true);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto other = NamedMutex::Open(name);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->Wait(0), WAIT_TIMEOUT);
  EXPECT_EQ(other->Wait(30), WAIT_TIMEOUT);
  EXPECT_TRUE(owner->Release());
  EXPECT_EQ(other->Wait(0), WAIT_OBJECT_0);
  EXPECT_EQ(owner->Wait(0), WAIT_TIMEOUT);
}

TEST_F(NamedMutexTest, SecondCreateDoesNotTakeOwnership) {
  auto first = NamedMutex::Create(name, false);
  auto second = NamedMutex::Create(name, true);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(second->Release());
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_EQ(first->Wait(0), WAIT_OBJECT_0);
}

TEST_F(NamedMutexTest, OwnershipCountsLikeARecursiveMutex) {
  auto mutex = NamedMutex::Create(name, true);
  auto other = NamedMutex::Open(name);
  EXPECT_EQ(mutex->Wait(0), WAIT_OBJECT_0);
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(other->Wait(0), WAIT_TIMEOUT);  // one ownership still held
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  EXPECT_EQ(other->Wait(0), WAIT_OBJECT_0);
}

TEST_F(NamedMutexTest, InfiniteWaitGetsItWhenReleased) {
  auto owner = NamedMutex::Create(name, true);
  auto waiter = NamedMutex::Open(name);
  auto result = std::async(std::launch::async, [&] { return waiter->Wait(INFINITE); });
  ASSERT_TRUE(owner->Release());
  EXPECT_EQ(result.get(), WAIT_OBJECT_0);
}

TEST_F(NamedMutexTest, OpenOfMissingMutexGivesFileNotFound) {
  EXPECT_EQ(NamedMutex::Open(name), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(NamedMutexTest, OwnershipHoldsAcrossProcesses) {
  PeerProcess holder("platform_object_peer", {"mutex-hold", name});
  ASSERT_EQ(holder.ReadLine(), "owned");
  auto mine = NamedMutex::Create(name, true);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(mine->Wait(0), WAIT_TIMEOUT);

  holder.CloseInput();  // the holder releases and ends
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(mine->Wait(0), WAIT_OBJECT_0);

  PeerProcess tryer("platform_object_peer", {"mutex-try", name});
  EXPECT_EQ(tryer.ReadLine(), std::to_string(WAIT_TIMEOUT));
  EXPECT_EQ(tryer.Wait(), 0);
}

TEST_F(NamedMutexTest, KilledOwnerLeavesItFree) {
  PeerProcess holder("platform_object_peer", {"mutex-hold", name});
  ASSERT_EQ(holder.ReadLine(), "owned");
  auto mine = NamedMutex::Open(name);
  ASSERT_NE(mine, nullptr);
  auto result = std::async(std::launch::async, [&] { return mine->Wait(INFINITE); });
  holder.Kill(SIGKILL);
  EXPECT_EQ(result.get(), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace platform
