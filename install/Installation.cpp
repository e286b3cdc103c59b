// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Installation.h"

#include <windows.h>

#include <memory>

#include "install/Errors.h"
#include "install/Failure.h"
#include "install/FolderSecurity.h"
#include "install/Paths.h"
#include "install/Resource.h"
#include "install/ServiceControl.h"
#include "install/Shortcut.h"
#include "install/UninstallEntry.h"
#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv {

using namespace paths;

const char kWizardTitle[] = "安装Quv服务程序";
const char kServiceDescription[] = "收银软件Quv服务程序";
const char kShortcutName[] = "Quv服务程序";
const char kUninstallShortcutName[] = "卸载Quv服务程序";
const char kMyComputer[] = "我的电脑";
const char kCreatingFolderStatus[] = "创建文件夹";
const char kCheckFolderStep[] = "检查安装文件夹";
const char kCheckFolderAccessStep[] = "检查文件夹权限";
const char kCheckSpaceStep[] = "检查磁盘空间";

namespace {
// The program registers itself within a fraction of a second; a removed
// service may linger while its process ends.
constexpr unsigned kRegistrationWaitMs = 5000;
constexpr unsigned kRemovalWaitMs = 3000;
constexpr unsigned kRegistrarExitMs = 30000;
constexpr unsigned kServiceStartMs = 10000;
constexpr unsigned kPollMs = 100;
constexpr std::uint64_t kListAndShortcutsBytes = 64 * 1024;

// Quoted: unquoted, a folder with blanks ("C:\Program Files\...") makes the
// launcher try "C:\Program.exe" first.
std::string QuotedProgram(const std::string& folder) {
  std::string quoted(1, '"');
  quoted += WithTrailingBackslash(folder);
  quoted += kServiceProgram;
  quoted += '"';
  return quoted;
}

// The payload archive, written under a fresh name in the install folder and
// then held open for reading with writers shut out until it is removed: what
// is checked against the resource is what the extraction reads. The
// transaction holds it, so that a rollback (even one that ends the program
// mid-run) closes and removes it.
class PayloadArchive {
 public:
  PayloadArchive(const std::string& folder, InstallTransaction& transaction) : transaction_(transaction) {
    char name[MAX_PATH + 1] = {};
    if (!GetTempFileNameA(folder.c_str(), "Quv", 0, name)) throw LastErrorFailure("写入临时文件", folder);
    path_ = name;
    transaction_.HoldTemporary(path_, nullptr);
    if (!SaveResourceToFile(kPayloadResource, kPayloadResource, path_)) throw LastErrorFailure("写入临时文件", path_);
    held_ = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held_ == INVALID_HANDLE_VALUE) throw LastErrorFailure("检查临时文件", path_);
    transaction_.HoldTemporary(path_, held_);
    if (ReadHeld() != ResourceBytes(kPayloadResource, kPayloadResource))
      throw CodeFailure("检查临时文件", path_, ERROR_CRC);
  }
  ~PayloadArchive() { transaction_.ReleaseTemporary(path_); }
  PayloadArchive(const PayloadArchive&) = delete;
  PayloadArchive& operator=(const PayloadArchive&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string ReadHeld() const {
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(held_, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
  }

  InstallTransaction& transaction_;
  std::string path_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

void RemoveLeftovers(const std::string& folder, const Note& log) {
  for (const std::string& path : RemoveLeftoverTemporaries(folder))
    if (log) log("删除上次中断的安装留下的临时文件: " + path);
}

// A run cut short before this one is undone first, and says so.
void RecoverInterruptedRun(InstallTransaction& transaction, const InstallationSteps& steps) {
  if (!RecoverInterruptedInstallation(transaction, steps.Log)) return;
  if (steps.SetStatus) steps.SetStatus(kRecoveredStatus);
  if (steps.ProcessMessages) steps.ProcessMessages();
}

std::uint32_t Le(std::string_view b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

// The sum of the entries' sizes in the archive's central directory (the
// payload is the program's own resource, a plain archive without comment).
std::uint64_t UnpackedSize(std::string_view zip) {
  constexpr std::size_t kEndRecord = 22, kCentralHeader = 46;
  if (zip.size() < kEndRecord || Le(zip, zip.size() - kEndRecord, 4) != 0x06054b50) return 0;
  std::uint64_t total = 0;
  std::size_t at = Le(zip, zip.size() - kEndRecord + 16, 4);
  for (std::size_t n = Le(zip, zip.size() - kEndRecord + 10, 2); n > 0; --n) {
    if (at > zip.size() || zip.size() - at < kCentralHeader || Le(zip, at, 4) != 0x02014b50) break;
    total += Le(zip, at + 24, 4);
    at += kCentralHeader + Le(zip, at + 28, 2) + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
  }
  return total;
}

// Refuses a folder the service must not live in, before anything changes.
void CheckFolder(const std::string& folder) {
  const FolderVerdict verdict = CheckInstallFolder(folder);
  if (verdict.kind == FolderVerdict::Usable) return;
  const bool unsafe = verdict.kind == FolderVerdict::Unsafe;
  throw InstallFailure(InstallStepFailure{unsafe ? kCheckFolderAccessStep : kCheckFolderStep, folder,
                                          static_cast<std::uint32_t>(unsafe ? ERROR_ACCESS_DENIED : ERROR_BAD_PATHNAME),
                                          verdict.reason, {}});
}

void MakeShortcut(const std::string& target, const std::string& name, int index, InstalledFileList& files,
                  InstallTransaction& transaction) {
  if (!CreateShortcut(target, name, ProgramsLocation(), kShortcutName, index, files, &transaction))
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

// Runs one step, noting its start and its end in the log; a failure goes
// on up (the caller logs it with the system's text).
template <typename Work>
void Logged(const Note& log, const std::string& what, Work work) {
  if (log) log(what);
  work();
  if (log) log(what + ": 完成");
}

std::uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The entry names the folder's files' size in kilobytes, rounded up.
void WriteEntry(const std::string& installFolder, InstallTransaction& transaction) {
  const std::string folder = WithTrailingBackslash(installFolder);
  std::uint64_t bytes = 0;
  for (const char* name : {kServiceProgram, "UnInstall.exe", kInstallListName}) bytes += FileSize(folder + name);
  transaction.UninstallEntryWritten(ReadUninstallEntry());
  const UninstallEntry entry{kShortcutName, QUV_VERSION, QUV_PUBLISHER, installFolder,
                             static_cast<std::uint32_t>((bytes + 1023) / 1024)};
  if (const std::uint32_t code = WriteUninstallEntry(entry)) throw CodeFailure("写入卸载信息", kUninstallKey, code);
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
  const Note& log = steps.Log;
  RecoverInterruptedRun(transaction, steps);
  TestKillPoint("recovered");
  CheckFolder(installFolder);
  // The payload unpacked, its archive while it is checked, and room for the
  // list and the shortcuts; the old files stay until the run is kept.
  const std::string_view payload = ResourceBytes(kPayloadResource, kPayloadResource);
  CheckFreeSpace(installFolder, UnpackedSize(payload) + payload.size() + kListAndShortcutsBytes);
  Logged(log, std::string("删除旧服务: ") + kServiceName,
         [&] { transaction.RemoveService(kServiceName, kServiceProgram, installFolder); });
  TestKillPoint("service-removed");
  if (!platform::DirExists(installFolder)) {
    if (steps.SetStatus) steps.SetStatus(kCreatingFolderStatus);
    if (steps.ProcessMessages) steps.ProcessMessages();
    Logged(log, "创建文件夹: " + installFolder, [&] { transaction.CreateFolder(installFolder); });
  }
  const std::string folder = WithTrailingBackslash(installFolder);
  RemoveLeftovers(folder, log);
  transaction.SetBackupFolder(folder);

  files.clear();
  {
    std::unique_ptr<PayloadArchive> archive;
    Logged(log, "写入临时文件: " + folder, [&] { archive = std::make_unique<PayloadArchive>(folder, transaction); });
    Logged(log, "解压文件: " + archive->Path(), [&] { steps.UnZip(archive->Path(), folder); });
  }

  files.push_back(InstalledFileLine(0, folder + "QuvSvr.exe"));
  files.push_back(InstalledFileLine(1, folder + "UnInstall.exe"));
  files.push_back(InstalledFileLine(2, folder + "pelnu.dll"));
  files.push_back(InstalledFileLine(3, folder + "install.in"));
  files.push_back(InstalledFileLine(4, folder + kInstallListName));

  // "quvSvr.exe" as the shortcut has always named it; the file system finds
  // the extracted "QuvSvr.exe" by it.
  Logged(log, std::string("创建快捷方式: ") + kShortcutName,
         [&] { MakeShortcut(folder + "quvSvr.exe", kShortcutName, 5, files, transaction); });
  Logged(log, std::string("创建快捷方式: ") + kUninstallShortcutName,
         [&] { MakeShortcut(folder + "UnInstall.exe", kUninstallShortcutName, 6, files, transaction); });
  Logged(log, "保存安装列表: " + folder + kInstallListName,
         [&] { SaveList(files, folder + kInstallListName, transaction); });
  // On the disk before the old files can go.
  transaction.FlushNewFiles();
  TestKillPoint("files-replaced");
}

void CheckFreeSpace(const std::string& installFolder, std::uint64_t needed) {
  // The nearest folder that exists: the install folder may not yet.
  std::string existing = WithTrailingBackslash(installFolder);
  while (existing.size() > 3 && !platform::DirExists(existing)) {
    existing.pop_back();
    existing = text::FolderPart(existing);
  }
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(existing.c_str(), &available, nullptr, nullptr))
    throw LastErrorFailure(kCheckSpaceStep, installFolder);
  if (available.QuadPart >= needed) return;
  const std::string text = "磁盘空间不足: 需要 " + std::to_string((needed + 1023) / 1024) + " KB, 可用 " +
                           std::to_string(available.QuadPart / 1024) + " KB";
  throw InstallFailure(InstallStepFailure{kCheckSpaceStep, installFolder, ERROR_DISK_FULL, text, {}});
}

namespace {
void StartService(const std::string& installFolder, InstallTransaction& transaction, const Pause& pause,
                  const Note& log) {
  const std::string program = QuotedProgram(installFolder);
  if (!IsNtPlatform()) {
    Logged(log, "启动服务程序: " + program, [&] {
      if (WinExec(program.c_str(), SW_SHOW) <= 31) throw LastErrorFailure("启动服务程序", program);
    });
    return;
  }
  if (QueryServiceState("", kServiceName) != 0) {
    Logged(log, std::string("删除旧服务: ") + kServiceName, [&] {
      StopAndDeleteService(kServiceName);
      WaitForService(kServiceName, false, kRemovalWaitMs, pause);
      if (QueryServiceState("", kServiceName) != 0)
        throw CodeFailure("删除旧服务", kServiceName, ERROR_SERVICE_MARKED_FOR_DELETE);
    });
  }

  Logged(log, std::string("注册服务: ") + kServiceName, [&] {
    // Recorded before the launch: whatever the program registered goes
    // again with a rollback.
    transaction.ServiceRegistered(kServiceName);
    const DWORD exitCode = RunToEnd("注册服务", program + " -install /silent", pause);
    if (exitCode != 0) throw CodeFailure("注册服务", kServiceName, exitCode);
    // The launched program may leave the registration to a helper of its own.
    if (!WaitForService(kServiceName, true, kRegistrationWaitMs, pause))
      throw CodeFailure("注册服务", kServiceName, ERROR_SERVICE_DOES_NOT_EXIST);
  });
  TestKillPoint("registration");
  Logged(log, std::string("写入服务说明: ") + kServiceName, [&] {
    if (const std::uint32_t code = SetServiceDescription(kServiceName, kServiceDescription))
      throw CodeFailure("写入服务说明", kServiceName, code);
  });
  Logged(log, std::string("启动服务: ") + kServiceName, [&] {
    if (const std::uint32_t code = StartServiceAndWait(kServiceName, pause, kServiceStartMs))
      throw CodeFailure("启动服务", kServiceName, code);
  });
}
}  // namespace

void FinishAction(const std::string& installFolder, InstallTransaction& transaction, const Pause& pause,
                  const Note& log) {
  StartService(installFolder, transaction, pause, log);
  Logged(log, std::string("写入卸载信息: ") + kUninstallKey, [&] { WriteEntry(installFolder, transaction); });
}

}  // namespace quv
