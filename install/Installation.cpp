// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Installation.h"

#include <windows.h>

#include <memory>

#include "install/Errors.h"
#include "install/Failure.h"
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
constexpr unsigned kRegistrarExitMs = 30000;
constexpr unsigned kServiceStartMs = 10000;
constexpr unsigned kPollMs = 100;

// Quoted: unquoted, a folder with blanks ("C:\Program Files\...") makes the
// launcher try "C:\Program.exe" first.
std::string QuotedProgram(const std::string& folder) {
  std::string quoted(1, '"');
  quoted += WithTrailingBackslash(folder);
  quoted += kServiceProgram;
  quoted += '"';
  return quoted;
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// The payload archive, written under a fresh name in the install folder and
// checked against the resource; removed again when it leaves scope.
class PayloadArchive {
 public:
  explicit PayloadArchive(const std::string& folder) {
    char name[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(folder.c_str(), "Quv", 0, name)) throw LastErrorFailure("写入临时文件", folder);
    path_ = name;
    if (!SaveResourceToFile(kPayloadResource, kPayloadResource, path_)) throw LastErrorFailure("写入临时文件", path_);
    if (ReadWholeFile(path_) != ResourceBytes(kPayloadResource, kPayloadResource))
      throw CodeFailure("检查临时文件", path_, ERROR_CRC);
  }
  ~PayloadArchive() {
    if (!path_.empty()) platform::FileDelete(path_);
  }
  PayloadArchive(const PayloadArchive&) = delete;
  PayloadArchive& operator=(const PayloadArchive&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void MakeShortcut(const std::string& target, const std::string& name, int index, InstalledFileList& files,
                  InstallTransaction& transaction) {
  if (!CreateShortcut(target, name, kPrograms, kShortcutName, index, files, &transaction))
    throw LastErrorFailure("创建快捷方式", name);
}

void SaveList(const InstalledFileList& files, const std::string& path, InstallTransaction& transaction) {
  transaction.PrepareFile(path);
  try {
    SaveInstalledFiles(files, path);
  } catch (const EStreamError&) {
    throw LastErrorFailure("保存安装列表", path);
  }
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Runs command line and waits, through pause, for its end; answers its exit
// code, or raises InstallFailure.
DWORD RunToEnd(const std::string& step, const std::string& commandLine, const Pause& pause) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    throw LastErrorFailure(step, commandLine);
  CloseHandle(info.hThread);
  // Closed however the wait ends (a confirmed close raises from pause).
  const std::unique_ptr<void, HandleCloser> process(info.hProcess);
  for (unsigned waited = 0; waited < kRegistrarExitMs; waited += kPollMs) {
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) break;
    pause(kPollMs);
  }
  DWORD code = STILL_ACTIVE;
  const bool ended = GetExitCodeProcess(info.hProcess, &code) && code != STILL_ACTIVE;
  if (!ended) throw CodeFailure(step, commandLine, WAIT_TIMEOUT);
  return code;
}
}  // namespace

void RunInstallation(const std::string& installFolder, InstalledFileList& files, const InstallationSteps& steps,
                     InstallTransaction& transaction) {
  if (!steps.UnZip) throw Exception("RunInstallation: no unzip step");
  transaction.RemoveService(kServiceName, kServiceProgram);
  if (!platform::DirExists(installFolder)) {
    if (steps.SetStatus) steps.SetStatus(kCreatingFolderStatus);
    if (steps.ProcessMessages) steps.ProcessMessages();
    transaction.CreateFolder(installFolder);
  }
  const std::string folder = WithTrailingBackslash(installFolder);

  files.clear();
  {
    PayloadArchive archive(folder);
    steps.UnZip(archive.Path(), folder);
  }

  files.push_back(InstalledFileLine(0, folder + "QuvSvr.exe"));
  files.push_back(InstalledFileLine(1, folder + "UnInstall.exe"));
  files.push_back(InstalledFileLine(2, folder + "pelnu.dll"));
  files.push_back(InstalledFileLine(3, folder + "install.in"));
  files.push_back(InstalledFileLine(4, folder + kInstallListName));

  // "quvSvr.exe" as the shortcut has always named it; the file system finds
  // the extracted "QuvSvr.exe" by it.
  MakeShortcut(folder + "quvSvr.exe", kShortcutName, 5, files, transaction);
  MakeShortcut(folder + "UnInstall.exe", kUninstallShortcutName, 6, files, transaction);
  SaveList(files, folder + kInstallListName, transaction);
}

void FinishAction(const std::string& installFolder, InstallTransaction& transaction, const Pause& pause) {
  const std::string program = QuotedProgram(installFolder);
  if (!IsNtPlatform()) {
    if (WinExec(program.c_str(), SW_SHOW) <= 31) throw LastErrorFailure("启动服务程序", program);
    return;
  }
  if (QueryServiceState("", kServiceName) != 0) {
    StopAndDeleteService(kServiceName);
    WaitForService(kServiceName, false, kRemovalWaitMs, pause);
    if (QueryServiceState("", kServiceName) != 0)
      throw CodeFailure("删除旧服务", kServiceName, ERROR_SERVICE_MARKED_FOR_DELETE);
  }

  // Recorded before the launch: whatever the program registered goes again
  // with a rollback.
  transaction.ServiceRegistered(kServiceName);
  const DWORD exitCode = RunToEnd("注册服务", program + " -install /silent", pause);
  if (exitCode != 0) throw CodeFailure("注册服务", kServiceName, exitCode);
  // The launched program may leave the registration to a helper of its own.
  if (!WaitForService(kServiceName, true, kRegistrationWaitMs, pause))
    throw CodeFailure("注册服务", kServiceName, ERROR_SERVICE_DOES_NOT_EXIST);
  if (const std::uint32_t code = SetServiceDescription(kServiceName, kServiceDescription))
    throw CodeFailure("写入服务说明", kServiceName, code);
  if (const std::uint32_t code = StartServiceAndWait(kServiceName, pause, kServiceStartMs))
    throw CodeFailure("启动服务", kServiceName, code);
}

}  // namespace quv
