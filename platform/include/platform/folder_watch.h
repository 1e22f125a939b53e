// Folder change notifications (inotify) on one folder, not its subfolders. Re-arming is
// implicit: after a wait answers the watch, the next change signals it again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/wait.h"

namespace platform {

inline constexpr uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;   // creation, deletion, renames
inline constexpr uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10; // writes and renames

class FolderWatch : public WaitObject {
 public:
  // nullptr with the last error when the folder cannot be watched.
  static std::unique_ptr<FolderWatch> Create(const std::string& folder, uint32_t filter);
};

}  // namespace platform
