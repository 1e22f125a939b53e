// The service's settings from "Config/Config.ini": one immutable snapshot, replaced whole by
// every reload, so that a reader on any thread keeps a consistent set for as long as it holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/identity.h"
#include "platform/os_version.h"
#include "platform/wait.h"

// The backend a fresh installation reports to until the deployment writes its own host into
// "Backend Server"/"Server".
inline constexpr char kDefaultBackendServer[] = "backend.velmora.example";

// Below the program folder. Other modules write single keys of this file with the profile calls.
inline constexpr char kConfigFolderName[] = "Config";
inline constexpr char kConfigFileName[] = "Config/Config.ini";

// The identifier used when no GUID can be made.
inline constexpr char kFallbackClientGuid[] = "1111";

// The member initialisers are the values a missing key reads as.
struct CConfigSettings {
  // "Operation"
  int32_t NetMonitorInterval = 3000;
  std::string GUID;
  std::string Version = "1.0";
  int32_t UseProxy = 0;
  int32_t AlertMe = 1;
  int32_t PurgeLogDay = 45;
  int32_t SendToBackEndInterval = 10000;
  int32_t CheckHttpIncoming = 1;
  int32_t CheckSmtpOutgoing = 1;
  int32_t CheckIrcRequest = 1;
  int32_t CheckDnsQuery = 1;
  // "Backend Server"
  std::string BackendServer = kDefaultBackendServer;
  int32_t BackendPort = 443;
  std::string BackendObject = "/botdetect/botdetect.php";
  std::string AlertObject = "/botdetect/BotAlertMessage/BotAlertMessage.htm";
  std::string CAFile;  // PEM bundle for the backend's certificate; empty: the system's trust store
  int32_t VerifyPeer = 1;
  // "Proxy Server"; the password is held in plain text
  int32_t ProxySource = 1;
  std::string ProxyServer;
  int32_t ProxyPort = 0;
  std::string ProxyUserName;
  std::string ProxyPassword;

  bool operator==(const CConfigSettings&) const = default;
};

// The current settings; before the first load, the defaults of a missing file. Never null.
std::shared_ptr<const CConfigSettings> GetConfig();

// The operating-system version record read by InitConfig; all zero before it.
platform::OsVersionInfoEx GetOsVersion();

// Once at start-up: reads the version record, remembers the program folder (with or without its
// trailing '/'), writes the first-run file when there is none, makes sure the file carries a
// client identifier and loads it.
// Answers 0, or the error of a failed first-run write (the defaults are loaded all the same).
int InitConfig(const std::string& programFolder = platform::ModuleFolder());

// Reads every key into a new snapshot and publishes it whole. A missing file or key reads as
// its default; values are taken as they are.
void LoadConfig();

// Writes every key with its first-run value and a new client identifier. Answers 0 or the error.
int WriteDefaultConfig();

// 32 lower-case hexadecimal digits of a fresh GUID, or "1111" when none can be made (also when
// the component library is already initialised on the calling thread).
std::string MakeClientGuid();

// Absolute paths from the program folder of InitConfig (the program file's folder before it).
std::string ConfigFolderPath();
std::string ConfigFilePath();

// Thread body: reloads after every write to a file in the "Config" folder until stopEvent is
// signalled. Answers 0 after the stop event, -1 when the folder cannot be watched or a wait fails.
int MonitorConfigDirectory(platform::WaitObject* stopEvent);
