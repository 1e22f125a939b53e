#include "platform/folder_watch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/profile.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ScopedTestEnvironment;
using velmora::test::WriteFile;

// inotify queues an event before the system call that caused it returns, so a watch can be
// tested right after the change without waiting for anything.
class FolderWatchTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeFolders(); }

  // Config/Config.ini and Config/Sub/inner.txt, made afresh.
  void MakeFolders() {
    m_folder = m_env.Root() + "/Config";
    m_sub = m_folder + "/Sub";
    std::filesystem::remove_all(m_folder);
    ASSERT_EQ(::mkdir(m_folder.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(m_sub.c_str(), 0755), 0);
    WriteFile(m_folder + "/Config.ini", "[Operation]\nx=1\n");
    WriteFile(m_sub + "/inner.txt", "a");
  }

  ScopedTestEnvironment m_env;
  std::string m_folder;
  std::string m_sub;
};

TEST_F(FolderWatchTest, WriteInTheFolderWakesAWaitBesideAnEvent) {
  auto watch = FolderWatch::Create(m_folder, FILE_NOTIFY_CHANGE_LAST_WRITE);
  ASSERT_NE(watch, nullptr);
  auto stop = Event::Create(true, false);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(WaitForAny({stop.get(), watch.get()}, 0), WAIT_TIMEOUT);

  WriteFile(m_folder + "/Config.ini", "[Operation]\nx=2\n");
  EXPECT_EQ(WaitForAny({stop.get(), watch.get()}, INFINITE), WAIT_OBJECT_0 + 1);
  // The wait consumed the change; the watch re-arms by itself for the next one.
  EXPECT_EQ(WaitForAny({stop.get(), watch.get()}, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(WritePrivateProfileStringA("Operation", "x", "3", (m_folder + "/Config.ini").c_str()));
  EXPECT_EQ(WaitForAny({stop.get(), watch.get()}, INFINITE), WAIT_OBJECT_0 + 1);

  stop->Set();
  EXPECT_EQ(WaitForAny({stop.get(), watch.get()}, INFINITE), WAIT_OBJECT_0);
}

TEST_F(FolderWatchTest, ChangesInASubfolderDoNotSignal) {
  auto watch = FolderWatch::Create(m_folder, FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(watch, nullptr);
  WriteFile(m_sub + "/inner.txt", "changed");
  WriteFile(m_sub + "/new.txt", "new");
  ASSERT_EQ(std::rename((m_sub + "/new.txt").c_str(), (m_sub + "/renamed.txt").c_str()), 0);
  ASSERT_EQ(::mkdir((m_sub + "/deeper").c_str(), 0755), 0);
  EXPECT_EQ(WaitForOne(*watch, 0), WAIT_TIMEOUT);
}

TEST_F(FolderWatchTest, EachFilterSeesItsOwnKindOfChange) {
  struct Case { const char* what; uint32_t filter; bool signalled; void (*change)(const std::string& folder); };
  const Case cases[] = {
      {"write", FILE_NOTIFY_CHANGE_LAST_WRITE, true, [](const std::string& f) { WriteFile(f + "/Config.ini", "y"); }},
      {"write", FILE_NOTIFY_CHANGE_FILE_NAME, false, [](const std::string& f) { WriteFile(f + "/Config.ini", "y"); }},
      {"create", FILE_NOTIFY_CHANGE_FILE_NAME, true, [](const std::string& f) { WriteFile(f + "/a.pcap", ""); }},
      {"delete", FILE_NOTIFY_CHANGE_FILE_NAME, true, [](const std::string& f) { ::unlink((f + "/Config.ini").c_str()); }},
      {"delete", FILE_NOTIFY_CHANGE_LAST_WRITE, false, [](const std::string& f) { ::unlink((f + "/Config.ini").c_str()); }},
      {"rename in", FILE_NOTIFY_CHANGE_LAST_WRITE, true,
       [](const std::string& f) { std::rename((f + "/Sub/inner.txt").c_str(), (f + "/moved.txt").c_str()); }},
      {"rename in", FILE_NOTIFY_CHANGE_FILE_NAME, true,
       [](const std::string& f) { std::rename((f + "/Sub/inner.txt").c_str(), (f + "/moved.txt").c_str()); }},
      {"new folder", FILE_NOTIFY_CHANGE_FILE_NAME, false, [](const std::string& f) { ::mkdir((f + "/d").c_str(), 0755); }},
      {"read", FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME, false,
       [](const std::string& f) { velmora::test::ReadFile(f + "/Config.ini"); }},
  };
  for (const Case& c : cases) {
    MakeFolders();
    auto watch = FolderWatch::Create(m_folder, c.filter);
    ASSERT_NE(watch, nullptr);
    c.change(m_folder);
    EXPECT_EQ(WaitForOne(*watch, 0), c.signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << c.what << " " << c.filter;
  }
}

TEST_F(FolderWatchTest, MissingFolderOrFilterFails) {
  EXPECT_EQ(FolderWatch::Create(m_folder + "/absent", FILE_NOTIFY_CHANGE_LAST_WRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FolderWatch::Create(m_folder + "/Config.ini", FILE_NOTIFY_CHANGE_LAST_WRITE), nullptr);
  EXPECT_EQ(FolderWatch::Create(m_folder, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform
