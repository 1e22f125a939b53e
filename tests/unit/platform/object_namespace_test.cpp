#include "platform/object_namespace.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

TEST(EscapeObjectName, KeepsPlainBytesAndEscapesTheRest) {
  const struct {
    std::string name, escaped;
  } cases[] = {
      {"KAVONamePipe", "KAVONamePipe"},
      {"a-b_c.d09", "a-b_c.d09"},
      {"HV_OVU_///LOADER_1a", "HV_OVU_%2F%2F%2FLOADER_1a"},
      {"two words", "two%20words"},
      {"back\\slash%", "back%5Cslash%25"},
      {"\xC3\xA9", "%C3%A9"},  // UTF-8 bytes, upper-case hex
      {".", "%2E"},            // never the folder itself ...
      {"..", "%2E%2E"},        // ... or its parent
      {"...", "..."},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeObjectName(c.name), c.escaped) << c.name;
}

TEST(ObjectPaths, MapEachKindOfNameUnderTheRuntimeFolder) {
  ScopedTestEnvironment env;
  const std::string rt = env.RuntimeDir();
  EXPECT_EQ(RuntimeDir(), rt);
  const struct {
    std::string path, expected;
  } cases[] = {
      {NamedObjectPath("Global\\KavoRmCallbackMMF"), rt + "/global/KavoRmCallbackMMF"},
      {NamedObjectPath("global\\x y"), rt + "/global/x%20y"},
      {NamedObjectPath("KAVO_SVC_STOP_EVENT"), rt + "/session/test/KAVO_SVC_STOP_EVENT"},
      {NamedObjectPath("Local\\Mine"), rt + "/session/test/Mine"},
      {PipePath("KAVONamePipe"), rt + "/pipe/KAVONamePipe"},
      {PipePath("\\\\.\\pipe\\KAVOCln_5"), rt + "/pipe/KAVOCln_5"},
      {DevicePath("\\\\.\\HVPassthru"), rt + "/device/HVPassthru"},
      {DevicePath("\\\\.\\Global\\HVPassthru"), rt + "/device/HVPassthru"},
      {ServiceStatusPath("Corvane"), rt + "/services/Corvane"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.path, c.expected);
}

TEST(ObjectPaths, CreateFoldersOpenToEveryUser) {
  ScopedTestEnvironment env;
  ASSERT_FALSE(NamedObjectPath("Global\\x").empty());
  for (const std::string& folder : {env.RuntimeDir(), env.RuntimeDir() + "/global"}) {
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0) << folder;
    EXPECT_EQ(info.st_mode & 07777, 01777u) << folder;
  }
}

TEST(ObjectPaths, SessionDefaultsToTheRealUser) {
  ScopedTestEnvironment env;
  ::unsetenv("VELMORA_SESSION");
  EXPECT_EQ(NamedObjectPath("E"), env.RuntimeDir() + "/session/" + std::to_string(::getuid()) + "/E");
}

TEST(ObjectPaths, RefuseEmptyAndOverlongNames) {
  ScopedTestEnvironment env;
  EXPECT_EQ(NamedObjectPath("Global\\"), "");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(PipePath(std::string(200, ' ')), "");  // 600 bytes once escaped
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST(ObjectPaths, ReportAFolderThatCannotBeMade) {
  ScopedTestEnvironment env;
  velmora::test::WriteFile(env.Root() + "/file", "x");
  ::setenv("VELMORA_RUNTIME_DIR", (env.Root() + "/file/rt").c_str(), 1);
  EXPECT_EQ(NamedObjectPath("E"), "");
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
}

class NamedObjectFileTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment env;
  std::string path = NamedObjectPath("Global\\obj");
};

TEST_F(NamedObjectFileTest, NewObjectGetsItsContentPaddedOrCut) {
  {
    auto padded = NamedObjectFile::Create(path, 4, "ab");
    ASSERT_NE(padded, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(path), std::string("ab\0\0", 4));
  }
  auto cut = NamedObjectFile::Create(path, 2, "wxyz");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(ReadFile(path), "wx");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);
}

TEST_F(NamedObjectFileTest, SecondCreateAttachesToTheLiveObjectUntouched) {
  auto first = NamedObjectFile::Create(path, 3, "one");
  ASSERT_NE(first, nullptr);
  auto second = NamedObjectFile::Create(path, 5, "other");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFile(path), "one");
  EXPECT_TRUE(NamedObjectFile::IsLive(path));
}

TEST_F(NamedObjectFileTest, ObjectWithoutHoldersIsAbsentAndTakenOverAfresh) {
  EXPECT_EQ(NamedObjectFile::Open(path, false), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  NamedObjectFile::Create(path, 3, "old");  // released at once: the file stays, stale
  EXPECT_FALSE(NamedObjectFile::IsLive(path));
  EXPECT_EQ(NamedObjectFile::Open(path, true), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  auto fresh = NamedObjectFile::Create(path, 3, "new");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(path), "new");
  auto opened = NamedObjectFile::Open(path, false);
  ASSERT_NE(opened, nullptr);
  fresh.reset();
  // The opener alone keeps it alive.
  EXPECT_TRUE(NamedObjectFile::IsLive(path));
}

TEST_F(NamedObjectFileTest, ConcurrentCreatorsMakeExactlyOneObject) {
  NamedObjectFile::Create(path, 1, "s");  // a stale file to fight over
  constexpr int kCreators = 8;
  std::atomic<int> made{0}, attached{0};
  std::vector<std::unique_ptr<NamedObjectFile>> holders(kCreators);
  std::vector<std::thread> threads;
  for (int i = 0; i < kCreators; ++i) {
    threads.emplace_back([&, i] {
      holders[i] = NamedObjectFile::Create(path, 1, std::string(1, static_cast<char>('a' + i)));
      if (!holders[i]) return;
      (GetLastError() == ERROR_SUCCESS ? made : attached)++;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(made.load(), 1);
  EXPECT_EQ(attached.load(), kCreators - 1);
}

}  // namespace
}  // namespace platform
