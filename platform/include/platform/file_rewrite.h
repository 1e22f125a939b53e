// Whole-file reads, and rewrites of small text files that several processes read and change at
// once (the registry hive, profile files). Readers take no lock: a writer builds the new content
// in a temporary file beside the target and renames it into place, so a reader sees the old file
// or the new one, never a mix. Writers serialise on an exclusive lock of the target file itself;
// since the rename swaps the file under the path, a writer re-checks after locking that the path
// still names the file it locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// ERROR_SUCCESS with the file's bytes, or the error (ERROR_FILE_NOT_FOUND when absent).
uint32_t ReadWholeFile(const std::string& path, std::string* content);

class FileRewrite {
 public:
  // Takes the writers' lock on path, creating an empty file when there is none (the folder must
  // exist), and reads the current content. ERROR_SUCCESS or the error.
  uint32_t Lock(const std::string& path);

  const std::string& Content() const { return m_content; }

  // Replaces the file with content, keeping its mode (and owner, for root). The lock is held
  // until this object is destroyed. ERROR_SUCCESS or the error; on failure the file is unchanged.
  uint32_t Replace(std::string_view content);

 private:
  UniqueFd m_fd;
  std::string m_path;
  std::string m_content;
};

}  // namespace platform
