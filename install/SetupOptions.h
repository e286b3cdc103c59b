// The setup program's command line, for deployment by script: switches as
// other installers have them (letter case ignored), and the exit codes a
// script can test. Portable text handling; the folder and log paths stay in
// the system's code page, as the command line brings them.
#pragma once

#include <string>

#include "install/Failure.h"

namespace quv {

struct SetupOptions {
  enum class Mode { Wizard, Silent, VerySilent };
  Mode mode = Mode::Wizard;
  std::string folder;  // /DIR=, empty: the installed folder, else the default
  std::string log;     // /LOG=, empty: the temporary folder
  bool usage = false;  // /?
  bool noCancel = false;        // /NOCANCEL: the window cannot be closed during the run
  bool allowDowngrade = false;  // /ALLOWDOWNGRADE: install over a newer version
  std::string error;   // what was wrong with the command line, or empty
};

// Reads the switches of a whole command line (as GetCommandLine gives it,
// the program's own name first): /SILENT, /VERYSILENT, /DIR="folder",
// /LOG="file" (a bare /LOG: the default log), /NORESTART (the installer
// never restarts Windows itself), /SUPPRESSMSGBOXES and /SP- (no questions
// are asked anyway), /NOCANCEL, /ALLOWDOWNGRADE, /?. Quotes group blanks into one argument and are
// dropped. Anything else sets error.
SetupOptions ParseSetupCommandLine(const std::string& commandLine);

// The programs' version ("1.0.0").
extern const char kSetupVersion[];

// The usage text of the message box.
extern const char kSetupUsage[];

// The exit codes of QuvSetup.exe.
enum SetupExitCode : int {
  kExitInstalled = 0,
  kExitUsage = 1,          // unknown switch or a switch without its value
  kExitLogFailed = 2,      // the /LOG file cannot be written
  kExitFolderRefused = 3,  // the folder is not absolute (drive or share)
  kExitCancelled = 4,      // the window was closed during the run
  kExitFiles = 5,          // a folder or file could not be made, replaced or extracted
  kExitShortcuts = 6,      // a Start-menu shortcut could not be made
  kExitService = 7,        // the old service could not be removed, or the new one registered or started
  kExitUninstallEntry = 8, // the Programs and Features entry could not be written
  kExitNotRolledBack = 9,  // any failure whose rollback left changes behind
  kExitOther = 10,         // anything else (an internal error)
  kExitUnsafeFolder = 11,  // users other than administrators may write the folder, or it is not theirs
  kExitNoRights = 12,      // not run with administrator rights: nothing was changed
  kExitAlreadyRunning = 13,  // another run of the setup program or the uninstaller is under way
  kExitDowngrade = 14,     // a newer version is installed (/ALLOWDOWNGRADE installs all the same)
  kExitDiskFull = 15,      // the drive has too little free space: nothing was changed
  kExitRestartNeeded = 3010,  // installed; files still in use go at the next start of Windows
};

// Whether version a ("1.2.3", missing parts 0) is older than b.
bool IsOlderVersion(const std::string& a, const std::string& b);

// The exit code of a failed run.
int ExitCodeOf(const InstallStepFailure& failure);

}  // namespace quv
