// Any profile file reads without crashing or overrunning the caller's buffer, and writing one
// key leaves every other key's value as it was.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"

namespace {

const std::string& ProfilePath() {
  static const std::string path = [] {
    char folder[] = "/tmp/velmora-profile-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    return std::string(folder) + "/fuzz.ini";
  }();
  return path;
}

std::vector<std::string> NameList(const char* section) {
  std::vector<char> buffer(8192);
  uint32_t length = platform::GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                                       static_cast<uint32_t>(buffer.size()), ProfilePath().c_str());
  std::vector<std::string> names;
  for (size_t at = 0; at < length;) {
    std::string name(buffer.data() + at);
    at += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

std::string Value(const std::string& section, const std::string& key, uint32_t size) {
  std::vector<char> buffer(size + 1, '#');
  uint32_t length = platform::GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", buffer.data(), size,
                                                       ProfilePath().c_str());
  if (buffer[size] != '#' || (size > 0 && (length >= size || buffer[length] != '\0'))) std::abort();
  return std::string(buffer.data(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) return 0;  // names could not be listed apart
  FILE* file = std::fopen(ProfilePath().c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  std::vector<std::pair<std::string, std::string>> keys;
  std::vector<std::string> values;
  std::vector<std::string> sections = NameList(nullptr);
  for (const std::string& section : sections) {
    for (const std::string& key : NameList(section.c_str())) {
      keys.emplace_back(section, key);
      values.push_back(Value(section, key, 4096));
      Value(section, key, static_cast<uint32_t>(size % 7));
      platform::GetPrivateProfileIntA(section.c_str(), key.c_str(), 0, ProfilePath().c_str());
    }
  }
  if (sections.empty()) return 0;
  const char* newKey = "FuzzWrittenKey";
  if (!platform::WritePrivateProfileStringA(sections[0].c_str(), newKey, "v", ProfilePath().c_str())) return 0;
  if (Value(sections[0], newKey, 64) != "v") std::abort();
  for (size_t i = 0; i < keys.size(); ++i) {
    bool rewritten = platform::EqualsNoCase(keys[i].first, sections[0]) && platform::EqualsNoCase(keys[i].second, newKey);
    if (!rewritten && Value(keys[i].first, keys[i].second, 4096) != values[i]) std::abort();
  }
  return 0;
}
