// What an installation left on the machine, seen from outside the wizard:
// files, the installed-file list, the service, running programs and the
// Start-menu shortcuts; and removing all of it again. Used by the install
// scenarios and by quv_install_report (make run).
//
// Texts are UTF-8, as in the driver. Files and the registry are read through
// the Unicode API, so nothing here depends on the code page the wizard wrote
// in; Cp936 gives the bytes that page must have produced.
#pragma once

#include <windows.h>

#include <string>

namespace quv::wizardtest {

inline constexpr const char* kServiceName = "ZRQuvSvr";
inline constexpr const char* kServiceDescription = "收银软件Quv服务程序";
inline constexpr const char* kLinkFolder = "Quv服务程序";
inline constexpr const char* kServiceLink = "Quv服务程序.lnk";
inline constexpr const char* kUninstallLink = "卸载Quv服务程序.lnk";

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// utf8 in code page 936 (GBK), whatever the system code page.
std::string Cp936(const std::string& utf8);
std::string Lower(std::string text);

// The whole file, or missing set when it cannot be read.
std::string ReadFileBytes(const std::string& path, bool* missing = nullptr);
bool FileThere(const std::string& path);
bool FolderThere(const std::string& path);
// INVALID_FILE_ATTRIBUTES when missing.
DWORD Attributes(const std::string& path);
// Removes a file or a folder with everything in it, read-only files too.
void RemoveTree(const std::string& path);
// Names in a folder (not "." and ".."), sorted; empty when there is none.
std::string ListFolder(const std::string& folder);

// The per-user Start menu's Programs folder, as the shell reports it.
std::string ProgramsFolder();
// Where the two shortcuts belong: ProgramsFolder() + "\Quv服务程序\".
std::string LinkFolder();

struct Shortcut {
  bool loaded = false;
  std::string target, workingDir, description;
};
Shortcut ReadShortcut(const std::string& lnkPath);

// The service's current state (SERVICE_RUNNING ...), 0 when not registered.
DWORD ServiceState(const char* name);
std::string ServiceDescription(const char* name);
std::string ServiceProgram(const char* name);
// Starts the registered service; answers whether the manager took it.
bool StartServiceNamed(const char* name);
// Stops and deletes the service and waits (bounded) until it is gone.
void RemoveService(const char* name);

// Running processes of that executable name (letter case ignored).
int ProcessCount(const char* exeName);
void KillProcesses(const char* exeName);

// Runs a command line to its end (bounded); its exit code, or -1.
long RunAndWait(const std::string& commandLine, DWORD timeoutMs = 30000);

// Everything an installation into folder (no trailing backslash) may have
// left: the service, its programs running, the folder and the shortcuts.
void RemoveInstallation(const std::string& folder);

// A readable account of the installation the shortcuts point to: its
// folder's files, "install.dl", the service and the shortcuts.
std::string Report();

}  // namespace quv::wizardtest
