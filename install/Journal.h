// The installation's journal on disk: one record per change, written and
// flushed before the change takes effect, so that a run cut short (power
// loss, a kill, a logoff) can be undone by the next one. It lives in a
// folder of its own under the all-users application data folder, made with
// the protected access list: the next run finds it whatever folder either
// run installed into, and no ordinary user can plant or edit the records a
// run later acts on with full rights.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install/ServiceControl.h"
#include "install/UninstallEntry.h"

namespace quv {

struct JournalRecord {
  enum class Kind : std::uint8_t {
    FolderCreated = 1,
    FileWritten,
    FileReplaced,
    ServiceRemoved,
    ServiceRegistered,
    UninstallEntryWritten,
    TemporaryHeld,
    InstallFolder,  // where earlier runs may have left temporary files
    Committed,      // the run is kept: what follows its records is only cleaning up
  };
  Kind kind = Kind::Committed;
  std::string path;    // file, folder or service name
  std::string backup;  // the old file moved aside
  ServiceConfig service;
  UninstallEntrySnapshot entry;
};

// The journal's bytes for one record, and all whole records back from bytes
// (a record cut short by a crash, and anything after it, is dropped: its
// change never took effect).
std::string EncodeJournalRecord(const JournalRecord& record);
std::vector<JournalRecord> DecodeJournal(const std::string& bytes);

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // "<common application data>\QuvSetup\install.journal".
  static std::string DefaultPath();
  // Whether the folder that holds path exists, or can be made, with the
  // protected access list, and no one else may write it.
  static bool FolderIsSafe(const std::string& path);
  // The records a run left at path; empty when there is no journal.
  static std::vector<JournalRecord> Read(const std::string& path);

  // Starts a new journal at path (none may be there). Answers false (the
  // system's last error tells why) when it cannot be made.
  bool Create(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Appends the record and flushes it to the disk; false when it could not.
  bool Append(const JournalRecord& record);
  // Closes and deletes the journal: the run it recorded is over.
  void Remove();

 private:
  void* file_ = nullptr;  // HANDLE
  std::string path_;
};

}  // namespace quv
