// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Transaction.h"

#include <windows.h>

#include <utility>

#include "install/FolderSecurity.h"
#include "install/Paths.h"
#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv {

namespace {
// A stopped service leaves the manager once its process has ended.
constexpr unsigned kServiceGoneMs = 10000;
constexpr unsigned kServiceStartMs = 10000;
constexpr unsigned kPollMs = 100;

std::string UnusedBackupName(const std::string& path) {
  std::string backup = path + ".quvold";
  for (int n = 2; GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES; ++n) {
    backup = path + ".quvold" + std::to_string(n);
  }
  return backup;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A process to wait for, by id (none when 0 or gone already).
class ProcessHandle {
 public:
  explicit ProcessHandle(std::uint32_t id) : h_(id ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr) {}
  ~ProcessHandle() {
    if (h_) CloseHandle(h_);
  }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  bool Running() const { return h_ && WaitForSingleObject(h_, 0) == WAIT_TIMEOUT; }

 private:
  HANDLE h_;
};

bool DeleteAnyFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}
}  // namespace

InstallTransaction::InstallTransaction(Pause pause) : pause_(std::move(pause)) {
  if (!pause_) pause_ = [](unsigned ms) { platform::SleepMs(ms); };
}

InstallTransaction::~InstallTransaction() {
  if (Open()) Rollback();
}

bool InstallTransaction::WaitForServiceGone(const std::string& name) {
  return WaitForService(name, false, kServiceGoneMs, pause_);
}

void InstallTransaction::RemoveService(const std::string& name, const std::string& program,
                                       const std::string& folder) {
  ServiceConfig config;
  if (ReadServiceConfig(name, config)) {
    // The stopped service's process ends on its own; other copies of the
    // program are ended below.
    const ProcessHandle serviceProcess(ServiceProcessId(name));
    // Recorded first: even a removal that fails half-way is put back.
    changes_.push_back(Change{Kind::ServiceRemoved, name, "", config, {}});
    StopAndDeleteService(name);
    if (!WaitForServiceGone(name)) throw CodeFailure("删除旧服务", name, ERROR_SERVICE_MARKED_FOR_DELETE);
    for (unsigned waited = 0; waited < kServiceGoneMs && serviceProcess.Running(); waited += kPollMs)
      pause_(kPollMs);
  }
  if (!IsProcessRunning(program, folder)) return;
  changes_.push_back(Change{Kind::ProgramsEnded, program, "", {}, {}});
  if (!KillProcessByName(program, folder)) throw CodeFailure("结束程序", program, ERROR_ACCESS_DENIED);
}

void InstallTransaction::ServiceRegistered(const std::string& name) {
  changes_.push_back(Change{Kind::ServiceRegistered, name, "", {}, {}});
}

void InstallTransaction::UninstallEntryWritten(UninstallEntrySnapshot before) {
  changes_.push_back(Change{Kind::UninstallEntryWritten, kUninstallKey, "", {}, std::move(before)});
}

void InstallTransaction::CreateFolder(const std::string& path) {
  // Without a trailing backslash, except for a drive's root.
  std::string folder = path;
  if (folder.size() > 3 && text::FolderPart(folder) == folder) folder.pop_back();
  if (folder.empty()) throw CodeFailure("创建文件夹", path, ERROR_PATH_NOT_FOUND);
  if (platform::DirExists(folder)) return;
  const std::string parent = text::FolderPart(folder);
  if (!parent.empty() && parent != folder && !platform::DirExists(parent)) CreateFolder(parent);
  if (!CreateProtectedFolder(folder)) throw LastErrorFailure("创建文件夹", folder);
  changes_.push_back(Change{Kind::FolderCreated, folder, "", {}, {}});
}

void InstallTransaction::PrepareFile(const std::string& path) {
  // A folder in the way is left alone: writing the file fails then.
  if (platform::DirExists(path)) return;
  if (!IsFile(path)) {
    changes_.push_back(Change{Kind::FileWritten, path, "", {}, {}});
    return;
  }
  // Old files outside the install folder (the shortcuts in a user's Start
  // menu) are kept in it, where no user sees or changes them.
  const bool outside = !backupFolder_.empty() && !paths::IsInsideFolder(path, backupFolder_);
  const std::string backup =
      UnusedBackupName(outside ? WithTrailingBackslash(backupFolder_) + text::FileNamePart(path) : path);
  if (!MoveFileA(path.c_str(), backup.c_str())) throw LastErrorFailure("替换文件", path);
  changes_.push_back(Change{Kind::FileReplaced, path, backup, {}, {}});
}

void InstallTransaction::HoldTemporary(const std::string& path, void* handle) {
  for (Change& change : changes_) {
    if (change.kind != Kind::TemporaryHeld || change.path != path) continue;
    change.handle = handle;
    return;
  }
  changes_.push_back(Change{Kind::TemporaryHeld, path, "", {}, {}, handle});
}

void InstallTransaction::ReleaseTemporary(const std::string& path) {
  for (auto it = changes_.begin(); it != changes_.end(); ++it) {
    if (it->kind != Kind::TemporaryHeld || it->path != path) continue;
    UndoOne(*it);
    changes_.erase(it);
    return;
  }
}

bool InstallTransaction::Commit() {
  bool atRestart = false;
  for (const Change& change : changes_) {
    if (change.kind == Kind::TemporaryHeld) UndoOne(change);
    if (change.kind != Kind::FileReplaced) continue;
    // A kept old file that is still in use goes at the next start.
    if (!DeleteAnyFile(change.backup)) {
      MoveFileExA(change.backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      atRestart = true;
    }
  }
  changes_.clear();
  return atRestart;
}

std::vector<std::string> InstallTransaction::Rollback() {
  std::vector<std::string> notUndone;
  while (!changes_.empty()) {
    const Change change = std::move(changes_.back());
    changes_.pop_back();
    std::string left = UndoOne(change);
    if (!left.empty()) notUndone.push_back(std::move(left));
  }
  return notUndone;
}

std::string InstallTransaction::UndoOne(const Change& change) {
  switch (change.kind) {
    case Kind::FileWritten:
      return DeleteAnyFile(change.path) ? "" : "未能删除文件 " + change.path;
    case Kind::FileReplaced:
      if (DeleteAnyFile(change.path) && MoveFileA(change.backup.c_str(), change.path.c_str())) return "";
      return "未能恢复文件 " + change.path + " (原文件保存为 " + change.backup + ")";
    case Kind::FolderCreated:
      return RemoveDirectoryA(change.path.c_str()) || !platform::DirExists(change.path)
                 ? ""
                 : "未能删除文件夹 " + change.path;
    case Kind::ServiceRegistered:
      StopAndDeleteService(change.path);
      return WaitForServiceGone(change.path) ? "" : "未能删除新注册的服务 " + change.path;
    case Kind::ServiceRemoved: {
      WaitForServiceGone(change.path);
      std::uint32_t code = RegisterService(change.path, change.service);
      if (code == 0 && change.service.running) code = StartServiceAndWait(change.path, pause_, kServiceStartMs);
      return code == 0 ? "" : "未能恢复服务 " + change.path + ": " + SystemErrorText(code);
    }
    case Kind::UninstallEntryWritten: {
      const std::uint32_t code = RestoreUninstallEntry(change.entry);
      return code == 0 ? "" : "未能恢复卸载信息 " + change.path + ": " + SystemErrorText(code);
    }
    case Kind::TemporaryHeld:
      if (change.handle) CloseHandle(change.handle);
      return DeleteAnyFile(change.path) ? "" : "未能删除临时文件 " + change.path;
    case Kind::ProgramsEnded:
      return "已结束的程序 " + change.path + " 未重新启动";
  }
  return "";
}

}  // namespace quv
