// The installation run and the finish action of the setup wizard, kept apart
// from the window: the wizard hands in the install folder's text, its
// installed-file list and the few things only it can do (status text,
// message processing, the unzip component).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "install/InstalledFiles.h"
#include "install/Transaction.h"

namespace quv {

// The wizard's texts (GB2312).
extern const char kWizardTitle[];          // "安装Quv服务程序"
extern const char kServiceDescription[];   // "收银软件Quv服务程序"
extern const char kShortcutName[];         // "Quv服务程序", also the Start-menu folder
extern const char kUninstallShortcutName[];  // "卸载Quv服务程序"
extern const char kMyComputer[];           // "我的电脑"
extern const char kCreatingFolderStatus[];  // "创建文件夹"
// The steps that refuse a folder: where it lies, and who may write it.
extern const char kCheckFolderStep[];        // "检查安装文件夹"
extern const char kCheckFolderAccessStep[];  // "检查文件夹权限"
extern const char kCheckSpaceStep[];   // "检查磁盘空间"

// Raises InstallFailure (ERROR_DISK_FULL, with both figures) when the drive
// of installFolder (which need not exist yet) has fewer than needed bytes
// free for the caller.
void CheckFreeSpace(const std::string& installFolder, std::uint64_t needed);

// Name and type of the payload archive resource.
inline constexpr char kPayloadResource[] = "Quv";

// Takes one line for the installation log (system code page); may be empty.
using Note = std::function<void(const std::string& line)>;

struct InstallationSteps {
  // Sets the caption of the status label (EInstallProcess).
  std::function<void(const std::string& caption)> SetStatus;
  // Processes the pending window messages once.
  std::function<void()> ProcessMessages;
  // Extracts every entry of the archive zipName into destDir (a folder with a
  // trailing backslash), replacing existing files without asking, read-only
  // ones too, recreating the entries' folders, and closes the archive again.
  // Each file is handed to the transaction's PrepareFile before it is
  // written. Required; errors it raises end the run.
  std::function<void(const std::string& zipName, const std::string& destDir)> UnZip;
  // Each step as it starts and when it is done.
  Note Log;
};

// The installation run, each step checked and recorded in transaction:
// first undoes a run cut short (logged and shown as kRecoveredStatus; one
// that cannot be undone fails the run), refuses a folder without room for
// the payload (CheckFreeSpace), refuses a folder that CheckInstallFolder refuses, stops and removes a
// registered "ZRQuvSvr", ends copies of "QuvSvr.exe" started from the
// folder, creates the install folder when missing, writes the payload
// archive under a fresh name there and checks it while holding it, has it
// extracted, fills
// files afresh with the installed files, makes the two Start-menu shortcuts
// and saves files as "install.dl". The archive is removed on every path.
// A failed step raises InstallFailure; the caller rolls back.
void RunInstallation(const std::string& installFolder, InstalledFileList& files, const InstallationSteps& steps,
                     InstallTransaction& transaction);

// The finish button, each step checked. On the NT family: removes a
// remaining registration, has "QuvSvr.exe -install /silent" register the
// service (recorded in transaction) and waits for it, writes the description
// and starts the service, waiting until it runs. On the older family: starts
// "QuvSvr.exe". Then, on both, writes the Programs and Features entry
// (recorded in transaction). Waits go through pause; each step goes to log.
// A failed step raises InstallFailure.
void FinishAction(const std::string& installFolder, InstallTransaction& transaction, const Pause& pause,
                  const Note& log = {});

}  // namespace quv
