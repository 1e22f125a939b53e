// Starting the worker threads: a thread that cannot be created fails start-up only after the
// others have been stopped and joined.
#include "HVBotAlertAgent.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/error.h"

namespace {

platform::Event* g_stop = nullptr;
std::atomic<int> g_running{0};
std::atomic<int> g_ended{0};

void WaitForStop(int) {
  ++g_running;
  platform::WaitForOne(*g_stop, platform::INFINITE);
  --g_running;
  ++g_ended;
}

// Fails the third start as a system out of threads would.
bool FailThird(std::thread& thread, const WorkerThreadEntry& entry) {
  if (entry.argument == 3) {
    platform::SetLastError(platform::ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return StartThread(thread, entry);
}

const WorkerThreadEntry kTable[] = {
    {u"first", &WaitForStop, 1},
    {u"second", &WaitForStop, 2},
    {u"third", &WaitForStop, 3},
    {u"fourth", &WaitForStop, 4},
};

class StartWorkerThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_running = 0;
    g_ended = 0;
  }
};

TEST_F(StartWorkerThreadsTest, FailedCreationStopsAndJoinsTheStartedThreads) {
  std::unique_ptr<platform::Event> stop = platform::Event::Create(true, false);
  g_stop = stop.get();
  std::vector<std::thread> threads;
  EXPECT_EQ(StartWorkerThreads(kTable, *stop, threads, &FailThird), platform::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(threads.empty());
  EXPECT_EQ(platform::WaitForOne(*stop, 0), platform::WAIT_OBJECT_0) << "the stop event is set";
  EXPECT_EQ(g_running.load(), 0);
  EXPECT_EQ(g_ended.load(), 2) << "both started threads returned before the failure was answered";
}

TEST_F(StartWorkerThreadsTest, AllThreadsRunUntilTheStopEvent) {
  std::unique_ptr<platform::Event> stop = platform::Event::Create(true, false);
  g_stop = stop.get();
  std::vector<std::thread> threads;
  ASSERT_EQ(StartWorkerThreads(kTable, *stop, threads), platform::ERROR_SUCCESS);
  EXPECT_EQ(threads.size(), 4u);
  EXPECT_EQ(platform::WaitForOne(*stop, 0), platform::WAIT_TIMEOUT);
  stop->Set();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(g_ended.load(), 4);
}

}  // namespace
