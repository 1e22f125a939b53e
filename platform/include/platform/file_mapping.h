// Named file mappings: the object "Global\NAME" (or a local NAME) is a file of exactly the
// mapping's size in the object namespace, mapped shared by every holder. The mapping lives while
// any process holds it, through a mapping handle or a view; a file that nobody holds is stale,
// and creating the name again starts from zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

inline constexpr uint32_t FILE_MAP_WRITE = 0x0002;
inline constexpr uint32_t FILE_MAP_READ = 0x0004;
inline constexpr uint32_t FILE_MAP_ALL_ACCESS = 0xF001F;

class NamedObjectFile;

// One mapped view of a whole mapping; unmapped at destruction. The view keeps the mapping alive.
class FileMappingView {
 public:
  ~FileMappingView();
  FileMappingView(const FileMappingView&) = delete;
  FileMappingView& operator=(const FileMappingView&) = delete;

  void* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  friend class FileMapping;
  FileMappingView(std::shared_ptr<NamedObjectFile> object, void* data, size_t size)
      : m_object(std::move(object)), m_data(data), m_size(size) {}
  std::shared_ptr<NamedObjectFile> m_object;
  void* m_data;
  size_t m_size;
};

class FileMapping {
 public:
  // Creates the mapping of size bytes (zeros), or attaches to the live one of that name: then
  // the last error is ERROR_ALREADY_EXISTS and the existing mapping keeps its size, as on
  // Windows. nullptr with the last error on failure (ERROR_INVALID_PARAMETER for size 0).
  static std::unique_ptr<FileMapping> Create(std::string_view name, size_t size);

  // access is FILE_MAP_READ or includes FILE_MAP_WRITE. nullptr with ERROR_FILE_NOT_FOUND when
  // no live mapping has the name.
  static std::unique_ptr<FileMapping> Open(uint32_t access, std::string_view name);

  size_t Size() const { return m_size; }

  // A view of the whole mapping; nullptr with ERROR_ACCESS_DENIED for a writable view of a
  // mapping opened for reading.
  std::unique_ptr<FileMappingView> Map(uint32_t access) const;

 private:
  FileMapping(std::shared_ptr<NamedObjectFile> object, size_t size, bool writable)
      : m_object(std::move(object)), m_size(size), m_writable(writable) {}
  std::shared_ptr<NamedObjectFile> m_object;
  size_t m_size;
  bool m_writable;
};

}  // namespace platform
