// Shell shortcuts (.lnk files) in the per-user shell folders.
#pragma once

#include <cstdint>
#include <string>

#include "install/InstalledFiles.h"
#include "install/Transaction.h"

namespace quv {

// Location codes: the folder comes from the value of that name under
// HKEY_CURRENT_USER "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders".
inline constexpr std::uint8_t kDesktop = 0;      // "Desktop"
inline constexpr std::uint8_t kStartMenu = 1;    // "Start Menu"
inline constexpr std::uint8_t kPrograms = 2;     // "Programs"
inline constexpr std::uint8_t kStartup = 3;      // "Startup"
inline constexpr std::uint8_t kQuickLaunch = 4;  // "AppData" + "\Microsoft\Internet Explorer\Quick Launch"
// All users' Programs folder, as the system names it (CSIDL_COMMON_PROGRAMS).
inline constexpr std::uint8_t kCommonPrograms = 5;

// Where the Start-menu shortcuts of a run whose token user is userSid (a
// PSID) go: all users' Programs folder for LocalSystem (a deployment tool's
// run is no user's, and its own profile is no one's Start menu), the
// user's own Programs folder otherwise.
std::uint8_t ProgramsLocationFor(void* userSid);
// The same for the running process's token.
std::uint8_t ProgramsLocation();

// Makes a shortcut to target (working folder: target's folder) named name
// (or, when empty, after target's file) in the location's folder, inside
// subfolder when that is not empty (created as one level when missing). On
// success appends "File<index>=<.lnk path>N" to files and answers true; a
// missing folder, an unknown location or a failed save answer false. Needs COM
// initialised on the calling thread; failing to obtain the shell-link object
// raises EOleSysError. With a transaction, the subfolder and the .lnk file
// are recorded in it (an older .lnk is kept for its rollback).
bool CreateShortcut(const std::string& target, const std::string& name, std::uint8_t location,
                    const std::string& subfolder, int index, InstalledFileList& files,
                    InstallTransaction* transaction = nullptr);

}  // namespace quv
