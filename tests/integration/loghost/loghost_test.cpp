// LogHost run from a temporary installation, driven by a program that traces as the product does.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KAVOcl_Common.h"
#include "dl_DebugLog.h"
#include "pipe_Util.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

constexpr char kLogHostPipe[] = "Log_ServerNamePipe";
constexpr uint32_t kPatienceMs = 15000;

using velmora::test::LaunchProgram;
using velmora::test::WaitUntil;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

bool HostListens() {
  return platform::WaitNamedPipe(kLogHostPipe, 0) || platform::GetLastError() == platform::ERROR_TIMEOUT;
}

int RunToEnd(const std::string& program, const std::string& arguments) {
  pid_t pid = LaunchProgram(program, arguments);
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class LogHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_install = m_env.MakeInstallation();
    m_client = InstallClient(m_install);
  }

  void TearDown() override {
    if (m_hostPid > 0 && ::waitpid(m_hostPid, nullptr, WNOHANG) == 0) {
      ::kill(m_hostPid, SIGTERM);
      ::waitpid(m_hostPid, nullptr, 0);
    }
  }

  static std::string InstallClient(const std::string& folder) {
    std::string client = folder + "loghost_client";
    std::filesystem::copy_file(VELMORA_TEST_BIN_DIR "/loghost_client", client,
                               std::filesystem::copy_options::overwrite_existing);
    return client;
  }

  void WriteSettings(const std::string& folder, const std::string& log, int level) {
    velmora::test::WriteFile(folder + "qzdebug.ini",
                             "[debug]\ndebuglog=" + log + "\ndebuglevel=" + std::to_string(level) + "\n");
  }

  void StartHost(int level = 8) {
    WriteSettings(m_install, "debug.log", level);
    m_hostPid = LaunchProgram(m_install + "LogHost", "");
    ASSERT_TRUE(WaitUntil(HostListens, kPatienceMs)) << "LogHost never opened its pipe";
  }

  bool HostExited() {
    return WaitUntil([&] { return ::waitpid(m_hostPid, nullptr, WNOHANG) == m_hostPid; }, kPatienceMs) &&
           (m_hostPid = -1, true);
  }

  std::string LogText() {
    std::ifstream in(m_install + "debug.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The log line whose record text holds needle, split into its fields; empty when none shows up.
  std::vector<std::string> WaitForLine(const std::string& needle) {
    std::vector<std::string> found;
    WaitUntil([&] {
      for (const std::string& line : Split(LogText(), '\n')) {
        if (line.find(needle) != std::string::npos) {
          found = Split(line, '\t');
          return true;
        }
      }
      return false;
    }, kPatienceMs);
    return found;
  }

  velmora::test::ScopedTestEnvironment m_env;
  std::string m_install;
  std::string m_client;
  pid_t m_hostPid = -1;
};

TEST_F(LogHostTest, TraceBecomesOneLineWithTagProgramAndMessage) {
  StartHost();
  pid_t client = LaunchProgram(m_client, "trace 8 \"[Test] hello host\"");
  ASSERT_EQ(::waitpid(client, nullptr, 0), client);
  std::vector<std::string> fields = WaitForLine("[Test] hello host");
  ASSERT_EQ(fields.size(), 7u) << LogText();
  EXPECT_EQ(fields[0].size(), 20u);
  EXPECT_EQ(fields[0][10], 'T');
  EXPECT_EQ(fields[0].back(), 'Z');
  EXPECT_EQ(fields[1], std::to_string(client));
  EXPECT_EQ(fields[3], "8");
  EXPECT_EQ(fields[4], "LogHostClient");
  EXPECT_EQ(fields[6], "[HVBotAlertAgent][loghost_client][Test] hello host");
  size_t count = 0;
  for (const std::string& line : Split(LogText(), '\n')) count += line.find("hello host") != std::string::npos;
  EXPECT_EQ(count, 1u);
  EXPECT_FALSE(WaitForLine("Compiled on [").empty()) << "the build banner is traced at start";
}

TEST_F(LogHostTest, RecordsAboveTheLevelAreDropped) {
  StartHost(5);
  ASSERT_EQ(RunToEnd(m_client, "trace 8 dropped-record 5 kept-record"), 0);
  ASSERT_FALSE(WaitForLine("kept-record").empty());
  EXPECT_EQ(LogText().find("dropped-record"), std::string::npos);
}

TEST_F(LogHostTest, TabLineBreakAndBackslashAreEscaped) {
  StartHost();
  ASSERT_EQ(RunToEnd(m_client, "trace-special"), 0);
  std::vector<std::string> fields = WaitForLine("[Special]");
  ASSERT_EQ(fields.size(), 7u) << LogText();
  EXPECT_EQ(fields[6], "[HVBotAlertAgent][loghost_client][Special] tab\\there\\nnext\\\\end");
}

TEST_F(LogHostTest, SurvivesBrokenAndUnknownMessages) {
  StartHost();
  auto sendRaw = [](const std::string& bytes) {
    CPipeClient client;
    ASSERT_TRUE(client.Open(u"Log_ServerNamePipe"));
    size_t count = bytes.size();
    ASSERT_TRUE(client.Send(bytes.data(), count));
  };
  CCmdProtocol write;
  write.Add(u"LOG_WRITE").AddInt(1).AddUInt(2).AddUInt(3).AddInt(1).Add(u"Mod").AddInt(4).Add(u"cut-short");
  const std::u16string& text = write.GetText();
  std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  sendRaw(bytes.substr(0, 21));  // a client that went away in the middle of its message
  sendRaw("odd");
  sendRaw(std::string(100000, '\xFF'));
  CCmdProtocol unknown;
  unknown.Add(u"LOG_NOT_A_COMMAND").AddInt(1);
  sendRaw(std::string(reinterpret_cast<const char*>(unknown.GetText().c_str()), (unknown.GetText().size() + 1) * 2));
  ASSERT_EQ(RunToEnd(m_client, "trace 8 still-serving"), 0);
  EXPECT_FALSE(WaitForLine("still-serving").empty());
  EXPECT_EQ(::waitpid(m_hostPid, nullptr, WNOHANG), 0) << "LogHost ended";
}

TEST_F(LogHostTest, QueryAnswersTheHostsProgramPath) {
  StartHost();
  std::u16string path;
  ASSERT_TRUE(QueryLogHostPath(path, 10));
  EXPECT_EQ(platform::Utf16ToUtf8(path), std::filesystem::canonical(m_install + "LogHost").string());
}

TEST_F(LogHostTest, QueryWithoutHostFails) {
  std::u16string path = u"stale";
  EXPECT_FALSE(QueryLogHostPath(path, 10));
  EXPECT_TRUE(path.empty());
}

TEST_F(LogHostTest, StopEndsAHostFromTheSameFolder) {
  StartHost();
  ASSERT_EQ(RunToEnd(m_client, "stop"), 0);
  EXPECT_TRUE(HostExited());
}

TEST_F(LogHostTest, StopLeavesAHostFromAnotherFolderRunning) {
  StartHost();
  std::string otherFolder = m_env.Root() + "/other/";
  std::filesystem::create_directories(otherFolder);
  ASSERT_EQ(RunToEnd(InstallClient(otherFolder), "stop"), 0);
  std::u16string path;
  ASSERT_TRUE(QueryLogHostPath(path, 10)) << "the host must still answer";
  EXPECT_EQ(::waitpid(m_hostPid, nullptr, WNOHANG), 0);
  EXPECT_TRUE(EndLogHost());
  EXPECT_TRUE(HostExited());
}

TEST_F(LogHostTest, StartFollowsTheDebugSettings) {
  struct Case {
    const char* what;
    const char* settings;  // nullptr: no "qzdebug.ini"
    bool starts;
  };
  const Case cases[] = {
      {"log and level set", "[debug]\ndebuglog=debug.log\ndebuglevel=8\n", true},
      {"level 0", "[debug]\ndebuglog=debug.log\ndebuglevel=0\n", false},
      {"no log file", "[debug]\ndebuglevel=8\n", false},
      {"no settings file", nullptr, false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(m_install + "qzdebug.ini");
    if (c.settings != nullptr) velmora::test::WriteFile(m_install + "qzdebug.ini", c.settings);
    ASSERT_EQ(RunToEnd(m_client, "start"), 0) << c.what;
    if (c.starts) {
      EXPECT_TRUE(WaitUntil(HostListens, kPatienceMs)) << c.what;
      EXPECT_TRUE(EndLogHost());
      EXPECT_TRUE(WaitUntil([] { return !HostListens(); }, kPatienceMs)) << c.what;
    } else {
      platform::Sleep(500);
      EXPECT_FALSE(HostListens()) << c.what;
    }
  }
}

}  // namespace
