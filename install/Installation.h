// The installation run and the finish action of the setup wizard, kept apart
// from the window: the wizard hands in the install folder's text, its
// installed-file list and the few things only it can do (status text,
// message processing, the unzip component).
#pragma once

#include <functional>
#include <string>

#include "install/InstalledFiles.h"

namespace quv {

// The wizard's texts (GB2312).
extern const char kWizardTitle[];          // "安装Quv服务程序"
extern const char kServiceDescription[];   // "收银软件Quv服务程序"
extern const char kShortcutName[];         // "Quv服务程序", also the Start-menu folder
extern const char kUninstallShortcutName[];  // "卸载Quv服务程序"
extern const char kMyComputer[];           // "我的电脑"
extern const char kCreatingFolderStatus[];  // "创建文件夹"

// Name and type of the payload archive resource, and its temporary file.
inline constexpr char kPayloadResource[] = "Quv";
inline constexpr char kPayloadArchive[] = "QuvSvr.zip";

struct InstallationSteps {
  // Sets the caption of the status label (EInstallProcess).
  std::function<void(const std::string& caption)> SetStatus;
  // Processes the pending window messages once.
  std::function<void()> ProcessMessages;
  // Extracts every entry of the archive zipName into destDir (a folder with a
  // trailing backslash), replacing existing files without asking, read-only
  // ones too, recreating the entries' folders, and closes the archive again.
  // The wizard does this on UnZipIt: OverwriteMode Always, ReplaceReadOnly,
  // RecreateDirs, ZipName, DestDir, DoAll, UnZipFiles, ClearArchive.
  // Required; errors it raises end the run.
  std::function<void(const std::string& zipName, const std::string& destDir)> UnZip;
};

// Clears the way before the run: stops and deletes a registered "ZRQuvSvr"
// (without waiting) and ends running copies of "QuvSvr.exe".
void ClearOldInstallation();

// Creates the install folder when missing, writes the payload archive there,
// has it extracted, deletes it, fills files afresh with the installed files
// and makes the two Start-menu shortcuts. Errors (a missing resource, an empty
// folder text, the unzip step's, the shell's) are not caught. The wizard then
// hides its window and calls SaveInstallList.
void RunInstallation(const std::string& installFolder, InstalledFileList& files, const InstallationSteps& steps);

// The finish button. On the NT family: removes a remaining registration, has
// "QuvSvr.exe -install /silent" register the service, waits (bounded) for
// it, writes the description and starts the service. On the older family:
// starts "QuvSvr.exe". Answers whether the wizard should now close; false
// when an old registration could not be removed (the user may try again).
bool FinishAction(const std::string& installFolder);

}  // namespace quv
