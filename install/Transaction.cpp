// Holds the wizard's Chinese texts: compiled with the GBK execution
// character set.
#include "install/Transaction.h"

#include <windows.h>

#include <cstdlib>
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

// The service stays marked for deletion while another program holds it
// open; Windows does not say which, so the known holders that run are named.
InstallFailure MarkedForDeletion(const std::string& name) {
  const std::string holders = ServiceHoldersRunning();
  std::string text = SystemErrorText(ERROR_SERVICE_MARKED_FOR_DELETE) + "\r\n另一个程序打开着该服务";
  if (!holders.empty()) text += " (正在运行: " + holders + ")";
  text += ". 请关闭服务管理控制台等程序后再试.";
  return InstallFailure(InstallStepFailure{"删除旧服务", name, ERROR_SERVICE_MARKED_FOR_DELETE, text, {}});
}

bool DeleteAnyFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}
}  // namespace

void TestKillPoint(const char* step) {
  const char* wanted = std::getenv("QUV_TEST_KILL_AT");
  if (wanted && std::string(wanted) == step) TerminateProcess(GetCurrentProcess(), 99);
}

namespace {
// GetTempFileName's names with the prefix "Quv": "Quv" + one to four
// hexadecimal digits + ".tmp".
bool IsArchiveName(const std::string& name) {
  if (name.size() < 8 || name.size() > 11 || name.compare(0, 3, "Quv") != 0) return false;
  if (!text::SameText(std::string_view(name).substr(name.size() - 4), ".tmp")) return false;
  return name.find_first_not_of("0123456789abcdefABCDEF", 3) == name.size() - 4;
}

// The extraction's: ".quv" + process id + "-" + a count + ".tmp".
bool IsExtractionTemporaryName(const std::string& name) {
  if (name.size() < 10 || name.compare(0, 4, ".quv") != 0 || name.compare(name.size() - 4, 4, ".tmp") != 0)
    return false;
  const std::string middle = name.substr(4, name.size() - 8);
  const std::size_t dash = middle.find('-');
  return dash != std::string::npos && dash > 0 && dash + 1 < middle.size() &&
         middle.find_first_not_of("0123456789-") == std::string::npos && middle.find('-', dash + 1) == std::string::npos;
}
}  // namespace

std::vector<std::string> RemoveLeftoverTemporaries(const std::string& folder) {
  std::vector<std::string> removed;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "*.tmp").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return removed;
  do {
    const std::string name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !(IsArchiveName(name) || IsExtractionTemporaryName(name)))
      continue;
    if (DeleteAnyFile(folder + name)) removed.push_back(folder + name);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return removed;
}

InstallTransaction::InstallTransaction(Pause pause) : pause_(std::move(pause)), journalPath_(Journal::DefaultPath()) {
  if (!pause_) pause_ = [](unsigned ms) { platform::SleepMs(ms); };
}

void InstallTransaction::Record(const JournalRecord& record) {
  if (!journal_.IsOpen()) {
    if (!Journal::FolderIsSafe(journalPath_))
      throw InstallFailure(InstallStepFailure{"检查文件夹权限", text::FolderPart(journalPath_),
                                              ERROR_ACCESS_DENIED, SystemErrorText(ERROR_ACCESS_DENIED), {}});
    // A journal in the way is a run cut short: undone first.
    std::vector<std::string> notUndone;
    if (!journal_.Create(journalPath_) &&
        !(GetLastError() == ERROR_FILE_EXISTS && RecoverInterruptedRun(notUndone) && notUndone.empty() &&
          journal_.Create(journalPath_)))
      throw CodeFailure("写入恢复记录", journalPath_, notUndone.empty() ? GetLastError() : ERROR_CAN_NOT_COMPLETE);
  }
  if (!journal_.Append(record)) throw LastErrorFailure("写入恢复记录", journalPath_);
}

void InstallTransaction::SetBackupFolder(const std::string& folder) {
  Record(JournalRecord{JournalRecord::Kind::InstallFolder, folder, "", {}, {}});
  backupFolder_ = folder;
}

InstallTransaction::~InstallTransaction() {
  if (Open() || journal_.IsOpen()) Rollback();
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
    Record(JournalRecord{JournalRecord::Kind::ServiceRemoved, name, "", config, {}});
    changes_.push_back(Change{Kind::ServiceRemoved, name, "", config, {}});
    StopAndDeleteService(name);
    // Nothing else changes before the old registration is really gone.
    if (!WaitForServiceGone(name)) throw MarkedForDeletion(name);
    for (unsigned waited = 0; waited < kServiceGoneMs && serviceProcess.Running(); waited += kPollMs)
      pause_(kPollMs);
  }
  if (!IsProcessRunning(program, folder)) return;
  changes_.push_back(Change{Kind::ProgramsEnded, program, "", {}, {}});
  if (!KillProcessByName(program, folder)) throw CodeFailure("结束程序", program, ERROR_ACCESS_DENIED);
}

void InstallTransaction::ServiceRegistered(const std::string& name) {
  Record(JournalRecord{JournalRecord::Kind::ServiceRegistered, name, "", {}, {}});
  changes_.push_back(Change{Kind::ServiceRegistered, name, "", {}, {}});
}

void InstallTransaction::UninstallEntryWritten(UninstallEntrySnapshot before) {
  Record(JournalRecord{JournalRecord::Kind::UninstallEntryWritten, kUninstallKey, "", {}, before});
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
  Record(JournalRecord{JournalRecord::Kind::FolderCreated, folder, "", {}, {}});
  if (!CreateProtectedFolder(folder)) throw LastErrorFailure("创建文件夹", folder);
  changes_.push_back(Change{Kind::FolderCreated, folder, "", {}, {}});
}

void InstallTransaction::PrepareFile(const std::string& path) {
  // A folder in the way is left alone: writing the file fails then.
  if (platform::DirExists(path)) return;
  if (!IsFile(path)) {
    Record(JournalRecord{JournalRecord::Kind::FileWritten, path, "", {}, {}});
    changes_.push_back(Change{Kind::FileWritten, path, "", {}, {}});
    return;
  }
  // Old files outside the install folder (the shortcuts in a user's Start
  // menu) are kept in it, where no user sees or changes them.
  const bool outside = !backupFolder_.empty() && !paths::IsInsideFolder(path, backupFolder_);
  const std::string backup =
      UnusedBackupName(outside ? WithTrailingBackslash(backupFolder_) + text::FileNamePart(path) : path);
  Record(JournalRecord{JournalRecord::Kind::FileReplaced, path, backup, {}, {}});
  if (!MoveFileA(path.c_str(), backup.c_str())) throw LastErrorFailure("替换文件", path);
  changes_.push_back(Change{Kind::FileReplaced, path, backup, {}, {}});
}

void InstallTransaction::HoldTemporary(const std::string& path, void* handle) {
  for (Change& change : changes_) {
    if (change.kind != Kind::TemporaryHeld || change.path != path) continue;
    change.handle = handle;
    return;
  }
  Record(JournalRecord{JournalRecord::Kind::TemporaryHeld, path, "", {}, {}});
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

void InstallTransaction::FlushNewFiles() {
  for (const Change& change : changes_) {
    if (change.kind != Kind::FileWritten && change.kind != Kind::FileReplaced) continue;
    HANDLE file = CreateFileA(change.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      // A file the run meant to write and did not is no business of the flush.
      if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;
      throw LastErrorFailure("写入文件", change.path);
    }
    const bool flushed = FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!flushed) throw CodeFailure("写入文件", change.path, error);
  }
}

namespace {
// The new file goes; one in use (the uninstaller undoing the run that
// replaced it runs from it) is renamed aside instead, which Windows allows
// for a running program, and goes once it has ended: at the next start, or
// earlier by the uninstaller's clean-up.
bool RemoveReplacement(const std::string& path) {
  if (DeleteAnyFile(path)) return true;
  if (!IsFile(path)) return false;
  const std::string aside = path + kInUseSuffix;
  DeleteAnyFile(aside);  // an earlier run's, no longer in use
  if (!MoveFileExA(path.c_str(), aside.c_str(), 0)) return false;
  if (!DeleteAnyFile(aside)) MoveFileExA(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return true;
}

// Deletes a kept old file; one still in use goes at the next start (answers false then).
bool DeleteBackup(const std::string& backup) {
  if (DeleteAnyFile(backup)) return true;
  MoveFileExA(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return false;
}
}  // namespace

bool InstallTransaction::Commit() {
  bool atRestart = false;
  // Once this record is on the disk, a run cut short below is finished,
  // not undone, by the next one.
  if (journal_.IsOpen() && !journal_.Append(JournalRecord{JournalRecord::Kind::Committed, "", "", {}, {}})) {
    // Without a journal nothing undoes the run; with one that cannot say
    // it was kept, the old files stay, so that undoing it still can be done.
    journal_.Remove();
    if (GetFileAttributesA(journalPath_.c_str()) != INVALID_FILE_ATTRIBUTES) {
      changes_.clear();
      return false;
    }
  }
  for (const Change& change : changes_) {
    if (change.kind == Kind::TemporaryHeld) UndoOne(change);
    if (change.kind == Kind::FileReplaced && !DeleteBackup(change.backup)) atRestart = true;
  }
  changes_.clear();
  journal_.Remove();
  return atRestart;
}

void InstallTransaction::CleanUpCommitted(const std::vector<Change>& changes) {
  for (const Change& change : changes) {
    if (change.kind == Kind::TemporaryHeld) DeleteAnyFile(change.path);
    if (change.kind == Kind::FileReplaced && GetFileAttributesA(change.backup.c_str()) != INVALID_FILE_ATTRIBUTES)
      DeleteBackup(change.backup);
  }
}

bool InstallTransaction::RecoverInterruptedRun(std::vector<std::string>& notUndone) {
  if (Open() || journal_.IsOpen() || GetFileAttributesA(journalPath_.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  // Acted on with full rights: only a journal no one else can write counts.
  if (!Journal::FolderIsSafe(journalPath_)) {
    notUndone.push_back("恢复记录的文件夹不安全, 未使用: " + text::FolderPart(journalPath_));
    return true;
  }
  bool committed = false;
  std::vector<Change> changes;
  for (const JournalRecord& r : Journal::Read(journalPath_)) {
    using K = JournalRecord::Kind;
    switch (r.kind) {
      case K::Committed: committed = true; break;
      case K::InstallFolder: RemoveLeftoverTemporaries(WithTrailingBackslash(r.path)); break;
      case K::FolderCreated: changes.push_back(Change{Kind::FolderCreated, r.path, "", {}, {}}); break;
      case K::FileWritten: changes.push_back(Change{Kind::FileWritten, r.path, "", {}, {}}); break;
      case K::FileReplaced: changes.push_back(Change{Kind::FileReplaced, r.path, r.backup, {}, {}}); break;
      case K::ServiceRemoved: changes.push_back(Change{Kind::ServiceRemoved, r.path, "", r.service, {}}); break;
      case K::ServiceRegistered: changes.push_back(Change{Kind::ServiceRegistered, r.path, "", {}, {}}); break;
      case K::UninstallEntryWritten:
        changes.push_back(Change{Kind::UninstallEntryWritten, r.path, "", {}, r.entry});
        break;
      case K::TemporaryHeld: changes.push_back(Change{Kind::TemporaryHeld, r.path, "", {}, {}}); break;
    }
  }
  if (committed) {
    CleanUpCommitted(changes);
  } else {
    changes_ = std::move(changes);
    notUndone = Rollback();
  }
  if (notUndone.empty()) DeleteFileA(journalPath_.c_str());
  return true;
}

const char kRecoverStep[] = "撤销上次中断的安装";
const char kRecoveredStatus[] = "已撤销上次中断的安装所做的更改";

bool RecoverInterruptedInstallation(InstallTransaction& transaction, const std::function<void(const std::string&)>& log) {
  std::vector<std::string> notUndone;
  if (!transaction.RecoverInterruptedRun(notUndone)) return false;
  if (!notUndone.empty())
    throw InstallFailure(InstallStepFailure{kRecoverStep, Journal::DefaultPath(), ERROR_CAN_NOT_COMPLETE,
                                            SystemErrorText(ERROR_CAN_NOT_COMPLETE), std::move(notUndone)});
  if (log) log(kRecoveredStatus);
  return true;
}

std::vector<std::string> InstallTransaction::Rollback() {
  std::vector<std::string> notUndone;
  while (!changes_.empty()) {
    const Change change = std::move(changes_.back());
    changes_.pop_back();
    std::string left = UndoOne(change);
    if (!left.empty()) notUndone.push_back(std::move(left));
  }
  // What could not be undone stays in the journal for the next run.
  if (notUndone.empty()) journal_.Remove();
  return notUndone;
}

std::string InstallTransaction::UndoOne(const Change& change) {
  switch (change.kind) {
    case Kind::FileWritten:
      return DeleteAnyFile(change.path) ? "" : "未能删除文件 " + change.path;
    case Kind::FileReplaced:
      // Without its old copy it was never moved, or is back already.
      if (GetFileAttributesA(change.backup.c_str()) == INVALID_FILE_ATTRIBUTES) return "";
      if (RemoveReplacement(change.path) && MoveFileA(change.backup.c_str(), change.path.c_str())) return "";
      return "未能恢复文件 " + change.path + " (原文件保存为 " + change.backup + ")";
    case Kind::FolderCreated:
      return RemoveDirectoryA(change.path.c_str()) || !platform::DirExists(change.path)
                 ? ""
                 : "未能删除文件夹 " + change.path;
    case Kind::ServiceRegistered:
      if (QueryServiceState("", change.path) == 0) return "";
      StopAndDeleteService(change.path);
      return WaitForServiceGone(change.path) ? "" : "未能删除新注册的服务 " + change.path;
    case Kind::ServiceRemoved: {
      // Never deleted (the run ended before): it is there as it was.
      if (QueryServiceState("", change.path) != 0 && !IsMarkedForDeletion(change.path)) {
        if (!change.service.running) return "";
        const std::uint32_t code = StartServiceAndWait(change.path, pause_, kServiceStartMs);
        return code == 0 ? "" : "未能恢复服务 " + change.path + ": " + SystemErrorText(code);
      }
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
