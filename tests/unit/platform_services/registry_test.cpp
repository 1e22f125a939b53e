#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "test_env.h"

namespace platform {
namespace {

using velmora::test::ReadFile;
using velmora::test::ScopedTestEnvironment;
using velmora::test::WriteFile;

using Bytes = std::vector<uint8_t>;

Bytes WideBytes(std::u16string_view text) {
  Bytes bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

Bytes TextBytes(std::u16string_view text) { return WideBytes(std::u16string(text) + u'\0'); }

constexpr char16_t kProductKey[] = u"SOFTWARE\\Halvard\\Halvard Velmora\\CurrentVersion";

class RegistryTest : public ::testing::Test {
 protected:
  RegKey CreateKey(const char16_t* path = kProductKey) {
    RegKey key;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
    return key;
  }

  uint32_t Read(const RegKey& key, const char16_t* name, uint32_t* type, Bytes* data) {
    uint32_t size = 0;
    uint32_t error = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (error != ERROR_SUCCESS) return error;
    data->assign(size, 0);
    return RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
  }

  void Set(const RegKey& key, const char16_t* name, uint32_t type, const Bytes& data) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<uint32_t>(data.size())), ERROR_SUCCESS);
  }

  ScopedTestEnvironment m_env;
};

struct ValueCase {
  const char16_t* name;
  uint32_t type;
  Bytes data;
};

const std::vector<ValueCase>& ValueCases() {
  static const std::vector<ValueCase> cases = {
      {u"Version", REG_SZ, TextBytes(u"1.0.0.1")},
      {u"Quotes", REG_SZ, TextBytes(u"C:\\Program Files\\\"x\" ; [not a key]")},
      {u"Unicode", REG_SZ, TextBytes(u"\u00E9\u20AC\U0001F600")},
      {u"Empty", REG_SZ, TextBytes(u"")},
      {u"Lines", REG_SZ, TextBytes(u"one\r\ntwo")},                     // cannot go in quotes
      {u"Unterminated", REG_SZ, WideBytes(u"abc")},                      // kept exactly as given
      {u"LoneSurrogate", REG_SZ, TextBytes(std::u16string(1, char16_t(0xD800)))},
      {u"Lang", REG_DWORD, {0x00, 0x04, 0x00, 0x00}},
      {u"Max", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {u"ShortDword", REG_DWORD, {0x01, 0x02}},
      {u"Blob", REG_BINARY, {0x00, 0x01, 0xFE, 0xFF}},
      {u"NoBytes", REG_BINARY, {}},
      {u"List", REG_MULTI_SZ, WideBytes(std::u16string(u"a\0bc\0\0", 6))},
      {u"Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {u"", REG_SZ, TextBytes(u"the default value")},
      {u"Name \"with\" \\ and = sign", REG_DWORD, {7, 0, 0, 0}},
  };
  return cases;
}

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  RegKey key = CreateKey();
  for (const ValueCase& c : ValueCases()) Set(key, c.name, c.type, c.data);
  // Every read parses the file afresh, so this reads what the file holds.
  for (const ValueCase& c : ValueCases()) {
    uint32_t type = REG_NONE;
    Bytes data;
    ASSERT_EQ(Read(key, c.name, &type, &data), ERROR_SUCCESS) << std::string(c.name, c.name + 1);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(data, c.data);
  }
  // And formatting what was parsed gives the same text again.
  RegistryHive hive;
  std::string text = ReadFile(m_env.RegistryFile());
  ASSERT_EQ(ParseRegistryHive(text, &hive), ERROR_SUCCESS);
  EXPECT_EQ(FormatRegistryHive(hive), text);
}

TEST_F(RegistryTest, FileStaysInTheExportFormat) {
  RegKey key = CreateKey();
  Set(key, u"Version", REG_SZ, TextBytes(u"1.0 \"beta\" C:\\x"));
  Set(key, u"Lang", REG_DWORD, {0x1a, 0, 0, 0});
  Set(key, u"", REG_SZ, TextBytes(u"d"));
  Set(key, u"Blob", REG_BINARY, {1, 0xab});
  Set(key, u"Lines", REG_SZ, TextBytes(u"a\nb"));
  Set(key, u"LANG", REG_DWORD, {0x1b, 0, 0, 0});  // same value, other case
  EXPECT_EQ(ReadFile(m_env.RegistryFile()),
            "Windows Registry Editor Version 5.00\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard\\Halvard Velmora]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard\\Halvard Velmora\\CurrentVersion]\n"
            "\"Version\"=\"1.0 \\\"beta\\\" C:\\\\x\"\n"
            "\"Lang\"=dword:0000001b\n"
            "@=\"d\"\n"
            "\"Blob\"=hex:01,ab\n"
            "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n");
}

TEST_F(RegistryTest, ReadsHandWrittenHives) {
  WriteFile(m_env.RegistryFile(),
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; written by hand\r\n"
            "[hkey_local_machine\\Software\\Halvard\\Quor\\Hvproxy]\r\n"
            "\"Port\" = dword:1F90\r\n"
            "\"Long\"=hex:00,01,02,\\\r\n"
            "  03,04\r\n"
            "[HKEY_CURRENT_USER\\Software\\Halvard]\r\n"
            "\"AllowDisable\"=dword:00000001\r\n");
  RegKey proxy;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\HALVARD\\quor\\HVPROXY", 0, KEY_READ, &proxy), ERROR_SUCCESS);
  uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(Read(proxy, u"port", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, (Bytes{0x90, 0x1F, 0, 0}));
  ASSERT_EQ(Read(proxy, u"Long", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, (Bytes{0, 1, 2, 3, 4}));
  // An ancestor without its own line exists too; the roots keep apart.
  RegKey ancestor;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Halvard", 0, KEY_READ, &ancestor), ERROR_SUCCESS);
  RegKey user;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Halvard\\Quor", 0, KEY_READ, &user), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, CorruptHiveIsAnErrorAndIsNeverOverwritten) {
  const char* const texts[] = {
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n",
      "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1\n",                              // no header
      "Windows Registry Editor Version 5.00\n\"x\"=dword:1\n",                  // value before a key
      "Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n",
      "Windows Registry Editor Version 5.00\n[HKLM\\A]\n",                       // short root names are for tools
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n",
      "Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\A]\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:1,zz\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"open\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\\n\"\n",  // unknown escape
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=-\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\nplain line\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(zz):00\n",
  };
  for (const char* text : texts) {
    WriteFile(m_env.RegistryFile(), text);
    RegKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT) << text;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"B", KEY_ALL_ACCESS, &key, nullptr), ERROR_REGISTRY_CORRUPT)
        << text;
    RegKey root(HKEY_LOCAL_MACHINE);
    uint32_t size = 4;
    uint8_t buffer[4];
    EXPECT_EQ(RegQueryValueExW(root, u"x", nullptr, nullptr, buffer, &size), ERROR_REGISTRY_CORRUPT) << text;
    EXPECT_EQ(ReadFile(m_env.RegistryFile()), text);
  }
}

TEST_F(RegistryTest, MissingIsTwoAndTooSmallIsMoreData) {
  RegKey key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.Valid());
  key = CreateKey();
  Set(key, u"Version", REG_SZ, TextBytes(u"123456789"));     // 20 bytes with the terminator
  Set(key, u"Long", REG_SZ, TextBytes(u"1234567890"));       // 22 bytes
  struct Case { const char16_t* name; uint32_t error; uint32_t size; };
  const Case cases[] = {{u"Version", ERROR_SUCCESS, 20}, {u"Long", ERROR_MORE_DATA, 22}, {u"Absent", ERROR_FILE_NOT_FOUND, 20}};
  for (const Case& c : cases) {
    uint8_t buffer[24];
    std::fill(std::begin(buffer), std::end(buffer), 0xCC);
    uint32_t size = 20;
    EXPECT_EQ(RegQueryValueExW(key, c.name, nullptr, nullptr, buffer, &size), c.error);
    if (c.error != ERROR_FILE_NOT_FOUND) {
      EXPECT_EQ(size, c.size);
    }
    // Nothing is written past the caller's 20 bytes, and nothing at all when it does not fit.
    EXPECT_EQ(buffer[20], 0xCC);
    if (c.error != ERROR_SUCCESS) {
      EXPECT_EQ(buffer[0], 0xCC);
    }
  }
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Long", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 22u);
}

TEST_F(RegistryTest, HandlesFollowWindowsRules) {
  RegKey writable = CreateKey();
  RegKey reader;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &reader), ERROR_SUCCESS);
  Bytes one{1, 0, 0, 0};
  EXPECT_EQ(RegSetValueExW(reader, u"x", 0, REG_DWORD, one.data(), 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader, u"x"), ERROR_ACCESS_DENIED);

  uint32_t disposition = 0;
  RegKey sub;
  ASSERT_EQ(RegCreateKeyExW(writable, u"Sub\\Deeper", KEY_ALL_ACCESS, &sub, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(RegCreateKeyExW(writable, u"SUB\\deeper", KEY_ALL_ACCESS, &sub, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  struct BadName { const char16_t* subKey; uint32_t error; };
  const BadName badNames[] = {{u"\\Leading", ERROR_BAD_PATHNAME}, {u"a\\\\b", ERROR_BAD_PATHNAME},
                              {u"line\nbreak", ERROR_INVALID_PARAMETER}};
  for (const BadName& c : badNames) EXPECT_EQ(RegCreateKeyExW(writable, c.subKey, KEY_ALL_ACCESS, &sub, nullptr), c.error);
  EXPECT_EQ(RegSetValueExW(writable, u"new\nline", 0, REG_DWORD, one.data(), 4), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(RegDeleteKeyW(writable, u"Sub"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyW(writable, u"Sub\\Deeper"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(writable, u"Sub\\Deeper"), ERROR_FILE_NOT_FOUND);

  Set(writable, u"Kept", REG_DWORD, one);
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvard"), ERROR_SUCCESS);
  uint32_t size = 4;
  uint8_t buffer[4];
  EXPECT_EQ(RegQueryValueExW(writable, u"Kept", nullptr, nullptr, buffer, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExW(writable, u"Kept", 0, REG_DWORD, one.data(), 4), ERROR_KEY_DELETED);
  RegKey software;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);

  RegKey moved = std::move(software);
  EXPECT_TRUE(moved.Valid());
  EXPECT_FALSE(software.Valid());  // not a handle to the root
  EXPECT_EQ(RegSetValueExW(software, u"x", 0, REG_DWORD, one.data(), 4), ERROR_INVALID_HANDLE);

  EXPECT_EQ(RegCloseKey(writable), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(writable), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(writable, u"Kept", nullptr, nullptr, buffer, &size), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, EnumeratesSubkeysSortedAndValuesInOrder) {
  RegKey key = CreateKey(u"SOFTWARE\\E");
  RegKey child;
  for (const char16_t* name : {u"b\\x", u"A", u"c", u"B\\y"}) {
    ASSERT_EQ(RegCreateKeyExW(key, name, KEY_ALL_ACCESS, &child, nullptr), ERROR_SUCCESS);
  }
  Set(key, u"second", REG_DWORD, {2, 0, 0, 0});
  Set(key, u"first", REG_DWORD, {1, 0, 0, 0});
  std::vector<std::u16string> names;
  char16_t name[8];
  uint32_t size = 8;
  for (uint32_t i = 0; (size = 8, RegEnumKeyExW(key, i, name, &size)) == ERROR_SUCCESS; ++i) names.emplace_back(name, size);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"c"}));
  size = 1;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &size), ERROR_MORE_DATA);
  size = 8;
  uint32_t type = 0;
  ASSERT_EQ(RegEnumValueW(key, 1, name, &size, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"first");
  size = 8;
  EXPECT_EQ(RegEnumValueW(key, 2, name, &size, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, NarrowCallsCarryTextsAsUtf8) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\N\xC3\xA9", KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  const char text[] = "caf\xC3\xA9";
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const uint8_t*>(text), sizeof text), ERROR_SUCCESS);
  uint32_t type = 0;
  Bytes wide;
  ASSERT_EQ(Read(key, u"name", &type, &wide), ERROR_SUCCESS);
  EXPECT_EQ(wide, TextBytes(u"caf\u00E9"));
  char narrow[8];
  uint32_t size = sizeof narrow;
  ASSERT_EQ(RegQueryValueExA(key, "NAME", nullptr, &type, reinterpret_cast<uint8_t*>(narrow), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  EXPECT_STREQ(narrow, text);
  size = 5;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<uint8_t*>(narrow), &size), ERROR_MORE_DATA);
  EXPECT_EQ(RegDeleteValueA(key, "Name"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\N\xC3\xA9"), ERROR_SUCCESS);
}

std::u16string RaceValueName(int child, int index) {
  return Utf8ToUtf16("p" + std::to_string(child) + "_" + std::to_string(index));
}

TEST_F(RegistryTest, TwoProcessesWritingDifferentValuesLoseNeither) {
  constexpr int kWrites = 40;
  CreateKey();
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      RegKey key;
      bool ok = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
      for (int i = 0; i < kWrites; ++i) {
        std::u16string name = RaceValueName(child, i);
        uint32_t number = static_cast<uint32_t>(i);
        ok = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<uint8_t*>(&number), 4) == ERROR_SUCCESS && ok;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kWrites; ++i) {
      std::u16string name = RaceValueName(child, i);
      uint32_t type = 0;
      Bytes data;
      ASSERT_EQ(Read(key, name.c_str(), &type, &data), ERROR_SUCCESS) << child << " " << i;
      EXPECT_EQ(data, (Bytes{static_cast<uint8_t>(i), 0, 0, 0}));
    }
  }
}

// ---- velmora-reg ----

struct ToolResult {
  int exitCode;
  std::string output;
};

ToolResult RunTool(const std::string& arguments, const std::string& input = "") {
  std::string command = "printf '" + input + "' | " VELMORA_DIST_DIR "/velmora-reg " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof block, pipe)) > 0) output.append(block, got);
  int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

constexpr char kToolKey[] = "'HKLM\\SOFTWARE\\Halvard\\Halvard Velmora\\CurrentVersion'";

TEST_F(RegistryTest, ToolAddsValuesTheCallsRead) {
  struct Case { std::string arguments; const char16_t* name; uint32_t type; Bytes data; std::string shown; };
  const Case cases[] = {
      {"/v Version /t REG_SZ /d 1.0.0.1 /f", u"Version", REG_SZ, TextBytes(u"1.0.0.1"), "Version    REG_SZ    1.0.0.1"},
      {"/v Version /d '2 0' /f", u"Version", REG_SZ, TextBytes(u"2 0"), "Version    REG_SZ    2 0"},
      {"/v Lang /t reg_dword /d 0x400 /f", u"Lang", REG_DWORD, {0, 4, 0, 0}, "Lang    REG_DWORD    0x400"},
      {"/v InstQuor /t REG_DWORD /d 1 /f", u"InstQuor", REG_DWORD, {1, 0, 0, 0}, "InstQuor    REG_DWORD    0x1"},
      {"/v Key /t REG_BINARY /d 00ff10 /f", u"Key", REG_BINARY, {0, 0xff, 0x10}, "Key    REG_BINARY    00FF10"},
      {"/ve /d dflt /f", u"", REG_SZ, TextBytes(u"dflt"), "(Default)    REG_SZ    dflt"},
      {"-v process /t REG_SZ -f", u"process", REG_SZ, TextBytes(u""), "process    REG_SZ    "},
  };
  RegKey key;
  for (const Case& c : cases) {
    ToolResult added = RunTool(std::string("add ") + kToolKey + " " + c.arguments);
    ASSERT_EQ(added.exitCode, 0) << c.arguments << "\n" << added.output;
    EXPECT_EQ(added.output, "The operation completed successfully.\n");
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(Read(key, c.name, &type, &data), ERROR_SUCCESS) << c.arguments;
    EXPECT_EQ(type, c.type) << c.arguments;
    EXPECT_EQ(data, c.data) << c.arguments;
    std::string valueArgument = *c.name ? "/v " + std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)) : "/ve";
    ToolResult queried = RunTool(std::string("query ") + kToolKey + " " + valueArgument);
    EXPECT_EQ(queried.exitCode, 0);
    EXPECT_EQ(queried.output, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard\\Halvard Velmora\\CurrentVersion\n    " + c.shown + "\n\n");
  }
}

TEST_F(RegistryTest, ToolQueriesWhatTheCallsWrote) {
  RegKey key = CreateKey(u"SOFTWARE\\Q");
  Set(key, u"Number", REG_DWORD, {0x1a, 0, 0, 0});
  Set(key, u"Text", REG_SZ, TextBytes(u"caf\u00E9"));
  RegKey child = CreateKey(u"SOFTWARE\\Q\\Child");
  Set(child, u"Deep", REG_BINARY, {0xAB});
  EXPECT_EQ(RunTool("query 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Q'").output,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n"
            "    Number    REG_DWORD    0x1a\n"
            "    Text    REG_SZ    caf\xC3\xA9\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Child\n\n");
  EXPECT_EQ(RunTool("query 'HKLM\\software\\q' /s").output,
            "\nHKEY_LOCAL_MACHINE\\software\\q\n"
            "    Number    REG_DWORD    0x1a\n"
            "    Text    REG_SZ    caf\xC3\xA9\n"
            "\nHKEY_LOCAL_MACHINE\\software\\q\\Child\n"
            "    Deep    REG_BINARY    AB\n\n");
}

TEST_F(RegistryTest, ToolDeletesAndAsksWithoutForce) {
  RegKey key = CreateKey(u"SOFTWARE\\D");
  Set(key, u"a", REG_DWORD, {1, 0, 0, 0});
  Set(key, u"b", REG_DWORD, {2, 0, 0, 0});
  CreateKey(u"SOFTWARE\\D\\Sub");
  uint32_t size = 0;

  EXPECT_EQ(RunTool("add 'HKLM\\SOFTWARE\\D' /v a /t REG_DWORD /d 5", "n\\n").exitCode, 1);
  EXPECT_EQ(RunTool("add 'HKLM\\SOFTWARE\\D' /v a /t REG_DWORD /d 5", "yes\\n").exitCode, 0);
  EXPECT_EQ(RunTool("delete 'HKLM\\SOFTWARE\\D' /v a", "no\\n").exitCode, 1);
  EXPECT_EQ(RegQueryValueExW(key, u"a", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RunTool("delete 'HKLM\\SOFTWARE\\D' /v a", "y\\n").exitCode, 0);
  EXPECT_EQ(RegQueryValueExW(key, u"a", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunTool("delete 'HKLM\\SOFTWARE\\D' /v a /f").exitCode, 1);
  EXPECT_EQ(RunTool("delete 'HKLM\\SOFTWARE\\D' /f").exitCode, 0);
  RegKey gone;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\D", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ToolRefusesBadInputWithAClearMessage) {
  struct Case { std::string arguments; std::string message; };
  const Case cases[] = {
      {"", "ERROR: Invalid syntax."},
      {"frobnicate 'HKLM\\SOFTWARE'", "ERROR: Invalid syntax."},
      {"add 'HKXX\\SOFTWARE' /v a /f", "ERROR: Invalid syntax."},
      {"add 'HKLM\\SOFTWARE\\X' /v a /t REG_DWORD /d 12x /f", "ERROR: Invalid number for REG_DWORD: 12x"},
      {"add 'HKLM\\SOFTWARE\\X' /v a /t REG_DWORD /d 4294967296 /f", "ERROR: Invalid number for REG_DWORD"},
      {"add 'HKLM\\SOFTWARE\\X' /v a /t REG_BINARY /d abc /f", "ERROR: Binary data needs an even number"},
      {"add 'HKLM\\SOFTWARE\\X' /v a /t REG_FANCY /f", "ERROR: Unknown value type REG_FANCY."},
      {"query 'HKLM\\SOFTWARE\\Absent'", "ERROR: The system was unable to find the specified registry key or value."},
      {"delete 'HKLM' /f", "ERROR: A root key cannot be deleted."},
  };
  for (const Case& c : cases) {
    ToolResult result = RunTool(c.arguments);
    EXPECT_EQ(result.exitCode, 1) << c.arguments;
    EXPECT_EQ(result.output.rfind(c.message, 0), 0u) << c.arguments << "\n" << result.output;
  }
  WriteFile(m_env.RegistryFile(), "not a hive\n");
  ToolResult corrupt = RunTool("add 'HKLM\\SOFTWARE\\X' /v a /d b /f");
  EXPECT_EQ(corrupt.exitCode, 1);
  EXPECT_NE(corrupt.output.find("is not in the registry editor's export format"), std::string::npos);
  EXPECT_EQ(ReadFile(m_env.RegistryFile()), "not a hive\n");
}

}  // namespace
}  // namespace platform
