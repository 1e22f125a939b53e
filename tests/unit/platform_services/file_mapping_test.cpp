#include "platform/file_mapping.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/error.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ScopedTestEnvironment;

constexpr char kName[] = "Global\\KavoRmCallbackMMF";
constexpr size_t kSize = 1064;

class FileMappingTest : public ::testing::Test {
 protected:
  ScopedTestEnvironment m_env;
};

TEST_F(FileMappingTest, CreateTwiceSharesOneZeroedFileOfTheMappingsSize) {
  auto first = FileMapping::Create(kName, kSize);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  auto view = first->Map(FILE_MAP_ALL_ACCESS);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->Size(), kSize);
  const auto* bytes = static_cast<const uint8_t*>(view->Data());
  EXPECT_TRUE(std::all_of(bytes, bytes + kSize, [](uint8_t b) { return b == 0; }));
  std::memcpy(view->Data(), "status", 6);

  struct stat info {};
  ASSERT_EQ(::stat((m_env.RuntimeDir() + "/global/KavoRmCallbackMMF").c_str(), &info), 0);
  EXPECT_EQ(static_cast<size_t>(info.st_size), kSize);

  // A second create attaches, reports 183 and keeps the first one's size and bytes.
  auto second = FileMapping::Create(kName, 16);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(second->Size(), kSize);
  auto secondView = second->Map(FILE_MAP_READ);
  ASSERT_NE(secondView, nullptr);
  EXPECT_EQ(std::memcmp(secondView->Data(), "status", 6), 0);
}

TEST_F(FileMappingTest, ReadOnlyOpenSeesWritesAndCannotMapForWriting) {
  auto mapping = FileMapping::Create(kName, kSize);
  ASSERT_NE(mapping, nullptr);
  auto writer = mapping->Map(FILE_MAP_ALL_ACCESS);
  ASSERT_NE(writer, nullptr);

  auto reader = FileMapping::Open(FILE_MAP_READ, kName);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Map(FILE_MAP_WRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  auto view = reader->Map(FILE_MAP_READ);
  ASSERT_NE(view, nullptr);
  static_cast<uint8_t*>(writer->Data())[1063] = 0x5A;
  EXPECT_EQ(static_cast<const uint8_t*>(view->Data())[1063], 0x5A);

  // Another process sees the same bytes.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto other = FileMapping::Open(FILE_MAP_READ, kName);
    auto otherView = other ? other->Map(FILE_MAP_READ) : nullptr;
    ::_exit(otherView && static_cast<const uint8_t*>(otherView->Data())[1063] == 0x5A ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FileMappingTest, LivesWhileAnyViewOrHandleLives) {
  EXPECT_EQ(FileMapping::Open(FILE_MAP_READ, kName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  auto mapping = FileMapping::Create(kName, kSize);
  ASSERT_NE(mapping, nullptr);
  auto view = mapping->Map(FILE_MAP_ALL_ACCESS);
  ASSERT_NE(view, nullptr);
  static_cast<uint8_t*>(view->Data())[0] = 1;
  mapping.reset();
  EXPECT_NE(FileMapping::Open(FILE_MAP_READ, kName), nullptr);  // the view still holds it
  view.reset();
  EXPECT_EQ(FileMapping::Open(FILE_MAP_READ, kName), nullptr);

  // With no holder left the name starts afresh.
  auto again = FileMapping::Create(kName, kSize);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(static_cast<const uint8_t*>(again->Map(FILE_MAP_READ)->Data())[0], 0);
}

TEST_F(FileMappingTest, ZeroSizeIsRefused) {
  EXPECT_EQ(FileMapping::Create(kName, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform
