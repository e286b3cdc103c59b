// The installation run as a transaction: every change it makes to the
// machine is recorded as it is made (a folder created, a file written or
// replaced with the old one kept beside it, the old service's registration
// removed, the new one made), so that a failure at any step, or a confirmed
// close, undoes them in reverse order. Commit drops the kept old files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/Failure.h"
#include "install/Journal.h"
#include "install/ServiceControl.h"
#include "install/UninstallEntry.h"

namespace quv {

// Appended to the name of a new file that was in use when its old one came
// back: it is deleted once free.
inline constexpr char kInUseSuffix[] = ".quvinuse";

// Undoing what a run cut short left, and saying that it was done.
extern const char kRecoverStep[];      // "撤销上次中断的安装"
extern const char kRecoveredStatus[];  // "已撤销上次中断的安装所做的更改"

// Waits about ms milliseconds; the wizard's keeps its window responsive.
using Pause = std::function<void(unsigned ms)>;

// The steps a run cut short must be undone from (the journal's tests end the
// program there): "service-removed", "files-replaced", "registration", and
// "recovered" (right after a run cut short was undone, so that a test can
// look at what the undoing left).
// Ends the process at once, as a crash would, when the environment variable
// QUV_TEST_KILL_AT names step; does nothing otherwise.
void TestKillPoint(const char* step);

// Removes the temporary files runs cut short left in folder (a trailing
// backslash): payload archives "Quv<hex>.tmp" and the extraction's
// ".quv<pid>-<n>.tmp". Only administrators can write there, and no run uses
// them once the machine-wide run guard is held. Answers the paths removed.
std::vector<std::string> RemoveLeftoverTemporaries(const std::string& folder);

// Every change is written to the journal (Journal.h) before it takes
// effect; the journal goes with Commit or a complete Rollback.
class InstallTransaction {
 public:
  explicit InstallTransaction(Pause pause);
  // Rolls back what is still open (a run left by an error).
  ~InstallTransaction();
  InstallTransaction(const InstallTransaction&) = delete;
  InstallTransaction& operator=(const InstallTransaction&) = delete;

  // Stops and deletes a registered service (its registration is kept for
  // the rollback) and ends running copies of program started from folder.
  // Raises InstallFailure.
  void RemoveService(const std::string& name, const std::string& program, const std::string& folder);
  // Records the registration made by the new installation: the rollback
  // removes it before restoring the old one.
  void ServiceRegistered(const std::string& name);
  // Before the Programs and Features entry is written: the rollback puts
  // back the entry as it was (none, or the older installation's).
  void UninstallEntryWritten(UninstallEntrySnapshot before);

  // Creates folder with its missing parents, each with the protected access
  // list (CreateProtectedFolder), recording each one made.
  // Raises InstallFailure.
  void CreateFolder(const std::string& folder);
  // Before path is written: an existing file is moved aside (restored by the
  // rollback, deleted by Commit); a new one is removed by the rollback.
  // Raises InstallFailure when the old file cannot be moved.
  void PrepareFile(const std::string& path);

  // A temporary file of the run (made already), held open by handle (a
  // HANDLE, from then on closed here; may be null): the rollback closes and
  // deletes it, even one that ends the program in the middle of the run.
  // Recording the same path again updates its handle.
  void HoldTemporary(const std::string& path, void* handle);
  // Closes and deletes a held temporary file; its record goes.
  void ReleaseTemporary(const std::string& path);

  // Where old files from outside it are kept until Commit (the install
  // folder, once it exists); beside themselves until then.
  void SetBackupFolder(const std::string& folder);

  // Before the first change: finishes what a run cut short left in the
  // journal (its rollback, or the clean-up of a run that was kept) and
  // removes the temporary files it left. Answers whether there was such a
  // run; what could not be undone goes to notUndone, and the journal then
  // stays for the next run.
  bool RecoverInterruptedRun(std::vector<std::string>& notUndone);
  // Flushes the new files to the disk: done before the old ones can go.
  // Raises InstallFailure.
  void FlushNewFiles();

  // Keeps the changes: deletes the old files moved aside. Answers whether
  // any is still in use and goes only at the next start of Windows.
  bool Commit();
  // Undoes the changes in reverse order; answers those it could not undo,
  // one line each. Nothing is left open afterwards.
  std::vector<std::string> Rollback();
  bool Open() const { return !changes_.empty(); }

 private:
  enum class Kind { FolderCreated, FileWritten, FileReplaced, ServiceRemoved, ServiceRegistered, ProgramsEnded,
                    UninstallEntryWritten, TemporaryHeld };
  struct Change {
    Kind kind;
    std::string path;    // file, folder or service name
    std::string backup;  // the old file moved aside
    ServiceConfig service;
    UninstallEntrySnapshot entry;
    void* handle = nullptr;  // of a held temporary file
  };
  bool WaitForServiceGone(const std::string& name);
  std::string UndoOne(const Change& change);
  // Writes the record of a change about to take effect. Raises InstallFailure.
  void Record(const JournalRecord& record);
  void CleanUpCommitted(const std::vector<Change>& changes);

  Pause pause_;
  std::vector<Change> changes_;
  std::string backupFolder_;
  std::string journalPath_;
  Journal journal_;
};

// The one way every program of the installation (the setup program at its
// start and before its first step, the uninstaller before it removes
// anything) finishes a run cut short: transaction's RecoverInterruptedRun.
// Answers whether there was such a run (logged as kRecoveredStatus); raises
// InstallFailure (step kRecoverStep, the changes left in its text) when it
// could not be finished: the journal then stays for the next attempt.
bool RecoverInterruptedInstallation(InstallTransaction& transaction, const std::function<void(const std::string&)>& log);

}  // namespace quv
