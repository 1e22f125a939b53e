#include "platform/os_version.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <string>

#include "platform/error.h"

namespace platform {
namespace {

TEST(GetVersionEx, ReportsTheNtFamilyWithTheKernelRelease) {
  OsVersionInfoEx info;
  ASSERT_TRUE(GetVersionExW(&info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  std::string release = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                        std::to_string(info.dwBuildNumber);
  EXPECT_EQ(std::string(names.release).rfind(release, 0), 0u) << names.release;
  EXPECT_GE(info.dwMajorVersion, 4u);  // what the process lookup calls new enough
}

TEST(GetVersionEx, RefusesARecordOfTheWrongSize) {
  OsVersionInfoEx info;
  info.dwOSVersionInfoSize = 148;
  EXPECT_FALSE(GetVersionExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetVersionExW(nullptr));
}

}  // namespace
}  // namespace platform
