// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Installation.h"

#include <windows.h>

#include "install/Errors.h"
#include "install/Paths.h"
#include "install/Resource.h"
#include "install/ServiceControl.h"
#include "install/Shortcut.h"
#include "platform/Platform.h"

namespace quv {

using namespace paths;

const char kWizardTitle[] = "安装Quv服务程序";
const char kServiceDescription[] = "收银软件Quv服务程序";
const char kShortcutName[] = "Quv服务程序";
const char kUninstallShortcutName[] = "卸载Quv服务程序";
const char kMyComputer[] = "我的电脑";
const char kCreatingFolderStatus[] = "创建文件夹";

namespace {
// The program registers itself within a fraction of a second; a removed
// service may linger while its process ends.
constexpr unsigned kRegistrationWaitMs = 5000;
constexpr unsigned kRemovalWaitMs = 3000;

// Quoted: unquoted, a folder with blanks ("C:\Program Files\...") makes the
// launcher try "C:\Program.exe" first.
std::string QuotedProgram(const std::string& folder) {
  std::string quoted(1, '"');
  quoted += WithTrailingBackslash(folder);
  quoted += kServiceProgram;
  quoted += '"';
  return quoted;
}
}  // namespace

void ClearOldInstallation() {
  if (QueryServiceState("", kServiceName) != 0) StopAndDeleteService(kServiceName);
  if (IsProcessRunning(kServiceProgram)) KillProcessByName(kServiceProgram);
}

void RunInstallation(const std::string& installFolder, InstalledFileList& files, const InstallationSteps& steps) {
  if (!steps.UnZip) throw Exception("RunInstallation: no unzip step");
  if (!platform::DirExists(installFolder)) {
    if (steps.SetStatus) steps.SetStatus(kCreatingFolderStatus);
    if (steps.ProcessMessages) steps.ProcessMessages();
    if (installFolder.empty()) throw EInOutError("Unable to create directory");
    platform::ForceDirs(installFolder);
  }
  const std::string folder = WithTrailingBackslash(installFolder);
  const std::string archive = folder + kPayloadArchive;

  files.clear();
  SaveResourceToFile(kPayloadResource, kPayloadResource, archive);
  steps.UnZip(archive, folder);
  if (platform::FileExists(archive)) platform::FileDelete(archive);

  files.push_back(InstalledFileLine(0, folder + "QuvSvr.exe"));
  files.push_back(InstalledFileLine(1, folder + "UnInstall.exe"));
  files.push_back(InstalledFileLine(2, folder + "pelnu.dll"));
  files.push_back(InstalledFileLine(3, folder + "install.in"));
  files.push_back(InstalledFileLine(4, folder + kInstallListName));

  // "quvSvr.exe" as the shortcut has always named it; the file system finds
  // the extracted "QuvSvr.exe" by it.
  CreateShortcut(folder + "quvSvr.exe", kShortcutName, kPrograms, kShortcutName, 5, files);
  CreateShortcut(folder + "UnInstall.exe", kUninstallShortcutName, kPrograms, kShortcutName, 6, files);
}

bool FinishAction(const std::string& installFolder) {
  if (!IsNtPlatform()) {
    WinExec(QuotedProgram(installFolder).c_str(), SW_SHOW);
    return true;
  }
  if (QueryServiceState("", kServiceName) != 0) {
    StopAndDeleteService(kServiceName);
    WaitForService(kServiceName, false, kRemovalWaitMs);
  }
  if (QueryServiceState("", kServiceName) != 0) return false;

  WinExec((QuotedProgram(installFolder) + " -install /silent").c_str(), SW_SHOW);
  // The launched program registers the service in its own time; the
  // description needs the service's key and the start needs the registration.
  WaitForService(kServiceName, true, kRegistrationWaitMs);
  SetServiceDescription(kServiceName, kServiceDescription);
  StartServiceByName(kServiceName);
  return true;
}

}  // namespace quv
