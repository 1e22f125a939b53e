#include "platform/file_mapping.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <string>

#include "platform/error.h"
#include "platform/object_namespace.h"

namespace platform {
namespace {

bool WantsWrite(uint32_t access) { return (access & FILE_MAP_WRITE) != 0; }

// The size the file has now: an attached mapping keeps the size its creator gave it.
bool FileSize(int fd, size_t* size) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  *size = static_cast<size_t>(info.st_size);
  return true;
}

}  // namespace

FileMappingView::~FileMappingView() { ::munmap(m_data, m_size); }

std::unique_ptr<FileMapping> FileMapping::Create(std::string_view name, size_t size) {
  if (size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  std::shared_ptr<NamedObjectFile> object = NamedObjectFile::Create(path, size, {});
  if (!object) return nullptr;
  uint32_t created = GetLastError();
  size_t actual = 0;
  if (!FileSize(object->Fd(), &actual)) return nullptr;
  SetLastError(created);
  return std::unique_ptr<FileMapping>(new FileMapping(std::move(object), actual, true));
}

std::unique_ptr<FileMapping> FileMapping::Open(uint32_t access, std::string_view name) {
  std::string path = NamedObjectPath(name);
  if (path.empty()) return nullptr;
  std::shared_ptr<NamedObjectFile> object = NamedObjectFile::Open(path, WantsWrite(access));
  if (!object) return nullptr;
  size_t size = 0;
  if (!FileSize(object->Fd(), &size)) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return std::unique_ptr<FileMapping>(new FileMapping(std::move(object), size, WantsWrite(access)));
}

std::unique_ptr<FileMappingView> FileMapping::Map(uint32_t access) const {
  bool write = WantsWrite(access);
  if (write && !m_writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  void* data = ::mmap(nullptr, m_size, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, m_object->Fd(), 0);
  if (data == MAP_FAILED) {
    SetLastErrorFromErrno();
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return std::unique_ptr<FileMappingView>(new FileMappingView(m_object, data, m_size));
}

}  // namespace platform
