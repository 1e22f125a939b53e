// Where named kernel objects live in the file system, and the liveness rule that makes an
// object vanish with its last holder.
//
// Names are escaped for the file system: every byte outside [A-Za-z0-9._-] becomes %XX.
// "Global\NAME" is RT/global/NAME, any other object name RT/session/<VELMORA_SESSION>/NAME,
// pipe names RT/pipe/NAME, devices RT/device/NAME, service status RT/services/NAME, where RT
// is $VELMORA_RUNTIME_DIR (default /tmp/velmora). Folders are created on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

std::string RuntimeDir();
std::string EscapeObjectName(std::string_view name);

// Each answers the full path and creates the folders up to it (world-writable with the sticky
// bit, so that processes of every user can create objects); empty with the last error set on
// failure.
std::string NamedObjectPath(std::string_view objectName);
std::string PipePath(std::string_view pipeName);
std::string DevicePath(std::string_view deviceName);
std::string ServiceStatusPath(std::string_view serviceName);

// A regular file standing for a named object. Every holder keeps a shared open-file-description
// lock on byte 0; a file that nobody holds that way is stale and counts as absent.
class NamedObjectFile {
 public:
  // Creates the object file, or attaches to the live one at the path. A new file (or a stale one
  // taken over) gets initialContent, zero-padded or cut to size; an attached one is left as it
  // is. Answers nullptr with the last error on failure; on success the last error is
  // ERROR_ALREADY_EXISTS when a live object was attached, ERROR_SUCCESS otherwise.
  static std::unique_ptr<NamedObjectFile> Create(const std::string& path, size_t size,
                                                 std::string_view initialContent);

  // Attaches to a live object; nullptr with ERROR_FILE_NOT_FOUND when absent or stale.
  static std::unique_ptr<NamedObjectFile> Open(const std::string& path, bool writable);

  // Whether any process holds the object at the path.
  static bool IsLive(const std::string& path);

  int Fd() const { return m_fd.Get(); }
  const std::string& Path() const { return m_path; }

 private:
  NamedObjectFile(UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
  UniqueFd m_fd;
  std::string m_path;
};

}  // namespace platform
