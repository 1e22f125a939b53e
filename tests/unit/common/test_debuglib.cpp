// A debug library with the SD_ entry points that keeps what it was handed, so that tests can see
// which records reach it. Tests open it again with dlopen to read its lists.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {
std::vector<std::u16string> g_wideRecords;
std::vector<std::u16string> g_wideModules;
std::vector<std::string> g_initArguments;
}  // namespace

extern "C" {

int SD_InitDebug_with_Ini_0200(const char* settingsFile, const char* buildDate, const char* buildTime) {
  g_initArguments = {settingsFile, buildDate, buildTime};
  return 1;
}

void SD_TraceW_0200(const char16_t*, int, int, const char16_t*, ...) {}

void SD_TraceA_0200(const char*, int, int, const char*, ...) {}

void SD_TraceW(int, int, int, const char16_t* module, int, int, const char16_t* text) {
  g_wideModules.emplace_back(module);
  g_wideRecords.emplace_back(text);
}

size_t TestDebugLib_RecordCount() { return g_wideRecords.size(); }
const char16_t* TestDebugLib_Record(size_t index) { return g_wideRecords.at(index).c_str(); }
const char16_t* TestDebugLib_Module(size_t index) { return g_wideModules.at(index).c_str(); }
const char* TestDebugLib_InitArgument(size_t index) {
  return index < g_initArguments.size() ? g_initArguments[index].c_str() : nullptr;
}

}  // extern "C"
