// Where named kernel objects live in the file system, and the liveness rule that makes an
// object vanish with its last holder.
//
// Names are escaped for the file system: every byte outside [A-Za-z0-9._-] becomes %XX.
// "Global\NAME" is RT/global/NAME, any other object name RT/session/<VELMORA_SESSION>/NAME,
// pipe names RT/pipe/NAME, devices RT/device/NAME, service status RT/services/NAME, where RT
// is $VELMORA_RUNTIME_DIR (default /tmp/velmora). Folders are created on first use.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
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

// Byte ranges of an object file that carry open-file-description locks.
inline constexpr off_t kLivenessByte = 0;   // shared by every holder
inline constexpr off_t kOwnershipByte = 1;  // mutex ownership; an event's state update
// Serialises creation and takeover; far beyond any object's content.
inline constexpr off_t kCreationGuardByte = off_t{1} << 62;

// Open-file-description lock of one byte: type is F_RDLCK, F_WRLCK or F_UNLCK; wait blocks
// until it is granted. false with the last error set (ERROR_IO_PENDING when held elsewhere).
bool LockByte(int fd, short type, off_t offset, bool wait);

// Whether another open file description holds a lock on the byte.
bool IsByteLockedElsewhere(int fd, off_t offset);

// A regular file standing for a named object. Every holder keeps a shared open-file-description
// lock on byte 0; a file that nobody holds that way is stale and counts as absent.
class NamedObjectFile {
 public:
  // Creates the object file, or attaches to the live one at the path. A new file (or a stale one
  // taken over) gets initialContent, zero-padded or cut to size; an attached one is left as it
  // is. Answers nullptr with the last error on failure; on success the last error is
  // ERROR_ALREADY_EXISTS when a live object was attached, ERROR_SUCCESS otherwise.
  // initNew, when given, runs on a new or taken-over file before any other process can see
  // it (for example to take initial ownership); its false fails the creation.
  static std::unique_ptr<NamedObjectFile> Create(const std::string& path, size_t size,
                                                 std::string_view initialContent,
                                                 const std::function<bool(int fd)>& initNew = {});

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
