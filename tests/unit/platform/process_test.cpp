#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/unique_fd.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  using Words = std::vector<std::string>;
  const struct {
    std::string line;
    Words words;
  } cases[] = {
      {"", Words{}},
      {"   ", Words{}},
      {"prog", Words{"prog"}},
      {"  prog  a\tb  ", Words{"prog", "a", "b"}},
      {"\"C:\\Program Files\\x.exe\" /ballon", Words{"C:\\Program Files\\x.exe", "/ballon"}},
      {"p \"two words\" x\"y z\"w", Words{"p", "two words", "xy zw"}},
      {"p a\\\\b c\\", Words{"p", "a\\\\b", "c\\"}},     // backslashes not before a quote stay
      {"p a\\\"b", Words{"p", "a\"b"}},                  // odd count: a literal quote
      {"p \"a\\\\\" b", Words{"p", "a\\", "b"}},         // even count: halved, quote groups
      {"p a\\\\\\\"b", Words{"p", "a\\\"b"}},            // three: one backslash and a quote
      {"p \"\" x", Words{"p", "", "x"}},                 // an empty argument
      {"p \"say \"\"hi\"\"\"", Words{"p", "say \"hi\""}},  // doubled quotes inside quotes
      {"p \"open", Words{"p", "open"}},                  // an unclosed quote runs to the end
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

class LaunchTest : public ::testing::Test {
 protected:
  std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadFile(path), line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }
  bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  int WaitFor(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ScopedTestEnvironment env;
  const std::string peer = std::string(VELMORA_TEST_BIN_DIR) + "/platform_process_peer";
};

TEST_F(LaunchTest, HiddenProgramGetsItsArgumentsEnvironmentAndNothingElse) {
  const std::string report = env.Root() + "/report";
  // A descriptor this process opened without close-on-exec must not reach the program.
  UniqueFd leaked(::open("/dev/zero", O_RDONLY));
  ASSERT_TRUE(leaked);
  LaunchOptions options;
  options.extraEnvironment = {{"VELMORA_PEER_VALUE", "from parent"}};
  pid_t pid = -1;
  ASSERT_EQ(LaunchProcess(peer, "\"" + peer + "\" " + report + " \"two words\" a\\\"b", options, &pid),
            ERROR_SUCCESS);
  ASSERT_EQ(WaitFor(pid), 0);
  auto lines = Lines(report);
  EXPECT_TRUE(Has(lines, "arg two words"));
  EXPECT_TRUE(Has(lines, "arg a\"b"));
  EXPECT_TRUE(Has(lines, "env from parent"));
  EXPECT_TRUE(Has(lines, "own-session 1"));
  // Exactly the three standard streams, all on /dev/null.
  EXPECT_TRUE(Has(lines, "fd 0 /dev/null"));
  EXPECT_TRUE(Has(lines, "fd 1 /dev/null"));
  EXPECT_TRUE(Has(lines, "fd 2 /dev/null"));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("fd ", 0) == 0; }), 3)
      << ReadFile(report);
}

TEST_F(LaunchTest, ExtraVariableReplacesAnInheritedOne) {
  const std::string report = env.Root() + "/report";
  ::setenv("VELMORA_PEER_VALUE", "inherited", 1);
  pid_t pid = -1;
  ASSERT_EQ(LaunchProcess(peer, "peer " + report, LaunchOptions{}, &pid), ERROR_SUCCESS);
  ASSERT_EQ(WaitFor(pid), 0);
  EXPECT_TRUE(Has(Lines(report), "env inherited"));

  LaunchOptions options;
  options.extraEnvironment = {{"VELMORA_PEER_VALUE", "replaced"}};
  ASSERT_EQ(LaunchProcess(peer, "peer " + report, options, &pid), ERROR_SUCCESS);
  ASSERT_EQ(WaitFor(pid), 0);
  auto lines = Lines(report);
  EXPECT_TRUE(Has(lines, "env replaced"));
  ::unsetenv("VELMORA_PEER_VALUE");
}

TEST_F(LaunchTest, EmptyProgramPathTakesTheFirstWord) {
  const std::string report = env.Root() + "/report";
  pid_t pid = -1;
  ASSERT_EQ(LaunchProcess("", "\"" + peer + "\" " + report + " x", LaunchOptions{}, &pid), ERROR_SUCCESS);
  ASSERT_EQ(WaitFor(pid), 0);
  EXPECT_TRUE(Has(Lines(report), "arg x"));
}

TEST_F(LaunchTest, ProgramThatCannotRunGivesItsError) {
  const std::string notExecutable = env.Root() + "/data";
  velmora::test::WriteFile(notExecutable, "#!/bin/sh\n");
  ::chmod(notExecutable.c_str(), 0644);
  const struct {
    std::string path;
    uint32_t error;
  } cases[] = {
      {env.Root() + "/missing", ERROR_FILE_NOT_FOUND},
      {notExecutable, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    pid_t pid = -1;
    EXPECT_EQ(LaunchProcess(c.path, "x", LaunchOptions{}, &pid), c.error) << c.path;
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(LaunchProcess("", "", LaunchOptions{}), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform
