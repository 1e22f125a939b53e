#include "test_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/process.h"

namespace velmora::test {
namespace {

std::string SaveAndSet(const char* name, const std::string& value) {
  const char* old = ::getenv(name);
  std::string saved = old ? old : std::string("\x01unset");
  ::setenv(name, value.c_str(), 1);
  return saved;
}

void Restore(const char* name, const std::string& saved) {
  if (saved == "\x01unset") {
    ::unsetenv(name);
  } else {
    ::setenv(name, saved.c_str(), 1);
  }
}

}  // namespace

ScopedTestEnvironment::ScopedTestEnvironment() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  m_root = made;
  m_savedRuntime = SaveAndSet("VELMORA_RUNTIME_DIR", RuntimeDir());
  m_savedRegistry = SaveAndSet("VELMORA_REGISTRY", RegistryFile());
  m_savedSession = SaveAndSet("VELMORA_SESSION", "test");
}

ScopedTestEnvironment::~ScopedTestEnvironment() {
  Restore("VELMORA_RUNTIME_DIR", m_savedRuntime);
  Restore("VELMORA_REGISTRY", m_savedRegistry);
  Restore("VELMORA_SESSION", m_savedSession);
  if (!m_root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
}

std::string ScopedTestEnvironment::MakeInstallation() const {
  std::filesystem::path target = std::filesystem::path(m_root) / "install";
  std::filesystem::copy(VELMORA_DIST_DIR, target,
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  return target.string() + "/";
}

bool WaitUntil(const std::function<bool()>& condition, uint32_t patienceMs) {
  uint64_t deadline = platform::GetTickCount64() + patienceMs;
  while (!condition()) {
    if (platform::GetTickCount64() > deadline) return false;
    platform::Sleep(5);
  }
  return true;
}

pid_t LaunchProgram(const std::string& program, const std::string& arguments) {
  pid_t pid = -1;
  EXPECT_EQ(platform::LaunchProcess(program, "\"" + program + "\" " + arguments, platform::LaunchOptions{}, &pid),
            platform::ERROR_SUCCESS)
      << program;
  return pid;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace velmora::test
