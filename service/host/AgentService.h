// The service process: entry, installation and removal of the service, the service main
// function with its status reports, the control handler, and the console mode that runs the same
// work without the service manager.
#pragma once

#include <cstdint>
#include <string>

#include "platform/service_manager.h"

inline constexpr char16_t kServiceName[] = u"Corvane";
inline constexpr char16_t kServiceDisplayName[] = u"Halvard Velmora Service";
inline constexpr char16_t kTraceTag[] = u"HVBotAlertAgent";

// Longest program path the service registers or changes into, in characters.
inline constexpr size_t kMaxProgramPathChars = 260;

// The process entry: argv as main receives it; the command-line tail is argv[1...] joined by
// blanks. Always 1.
int AgentServiceEntry(int argc, char** argv);

// The program file's folder becomes the current directory.
void SetCurrentDirToModule();
// "Config", "Pcap_input", "Pcap_output", "Download" and "Temp" in the current directory.
void CreateProgramFolders();

bool IsServiceInstalled();
// Creates the service and starts it.
bool InstallService();
// Stops the service (waiting about ten seconds at most) and deletes it.
bool UninstallService();
int RunServiceDispatcher();

void ServiceMain(uint32_t argc, char16_t** argv);
void service_ctrl(uint32_t control);

// Starts the program hidden, without arguments, and does not wait for it: 1, or 0 when it could
// not be started.
int LaunchEXE(const char16_t* programPath);
