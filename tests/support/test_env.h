// A private world for one test: its own runtime folder, registry hive and session, so that tests
// running side by side never meet each other's objects. Programs the test starts inherit it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace velmora::test {

class ScopedTestEnvironment {
 public:
  ScopedTestEnvironment();
  ~ScopedTestEnvironment();
  ScopedTestEnvironment(const ScopedTestEnvironment&) = delete;
  ScopedTestEnvironment& operator=(const ScopedTestEnvironment&) = delete;

  // The folder that holds everything below; removed with its contents at the end.
  const std::string& Root() const { return m_root; }
  std::string RuntimeDir() const { return m_root + "/rt"; }
  std::string RegistryFile() const { return m_root + "/registry.reg"; }

  // A fresh copy of the staged installation (build/dist) at Root()/install, with a trailing '/'.
  std::string MakeInstallation() const;

 private:
  std::string m_root;
  std::string m_savedRuntime, m_savedRegistry, m_savedSession;
};

// Polls the condition every few milliseconds until it holds or patienceMs have passed, and
// answers whether it held: for results that other processes or threads bring about.
bool WaitUntil(const std::function<bool()>& condition, uint32_t patienceMs = 30000);

// Starts program with the arguments (program name as argv[0]); a failure fails the test and
// answers -1.
pid_t LaunchProgram(const std::string& program, const std::string& arguments);

// Writes text to the file, replacing it.
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace velmora::test
