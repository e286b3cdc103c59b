// The directory reader: opens the archive file, reads its end record and
// central directory (or its configuration file), rebuilds a damaged
// directory from the local headers, changes disks of a multi-disk set,
// keeps the sorted view and moves the archive stream to an entry's data.
// It reads the component's settings and asks the component's events
// through TArchiveOwner.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "unzip/Settings.h"
#include "zip/BufferStream.h"
#include "zip/Records.h"
#include "zip/SortedZip.h"

namespace quv {

// What the reader asks of the component it reads for.
class TArchiveOwner {
 public:
  virtual ~TArchiveOwner() = default;
  // Whether OnInCompleteZip is assigned.
  virtual bool HandlesIncompleteZip() const = 0;
  // OnInCompleteZip, when assigned; it may change the settings'
  // incompleteZipMode.
  virtual void AskIncompleteZip() = 0;
  // OnGetNextDisk; false when none is assigned.
  virtual bool AskNextDisk(std::int32_t disk, std::string& name) = 0;
  virtual TMultiDiskMode MultiDiskMode() const = 0;
  virtual void SetMultiDiskMode(TMultiDiskMode mode) = 0;
  virtual bool VerifyDiskLabels() const = 0;
};

class TArchiveReader {
 public:
  // Where a self-extracting archive's data is searched from when its
  // directory is lost (the stub before it is at least this long).
  static constexpr std::int32_t kSfxScanStart = 14000;

  TArchiveReader(TArchiveOwner& owner, const TUnZipSettings& settings);
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  const std::string& ZipName() const { return zipName_; }
  // Another archive: everything read from the last one is forgotten.
  void SetZipName(const std::string& name);
  // Stores the name alone (a component being designed).
  void StoreZipName(const std::string& name) { zipName_ = name; }

  std::int32_t Count() const;
  // Index in the sorted view; outside 0 .. Count-1 raises EListError.
  TZipHeaderInfo* CheckedEntry(std::int32_t index) const;
  // The list that indexes address.
  TSortedZip* View() const { return sortedView_ ? sortedView_.get() : directory_.get(); }
  std::string EntryComment(std::int32_t index);
  void SetEntryComment(std::int32_t index, const std::string& value);
  std::string ArchiveComment();
  void SetArchiveComment(const std::string& value);

  void OpenArchive();
  void CloseArchive();
  void ClearArchive();
  void ApplySortMode(TZipSortMode mode);
  void LoadDirectory();
  void ReadDirectory();
  bool ScanLocalHeaders();
  TS_BufferStream* OpenDisk(std::int32_t n);
  void DefaultGetNextDisk(std::int32_t nextDisk, std::string& fileName);
  void LocateEntry(std::int32_t index);

  const TZipHeaderInfo& CurrentEntry() const { return *currentEntry_; }
  TZipHeaderInfo& CurrentEntry() { return *currentEntry_; }
  const TEndCentral& EndCentral() const { return *endCentral_; }
  TS_BufferStream* ArchiveStream() const { return archiveStream_.get(); }
  std::int32_t CurrentDisk() const { return currentDisk_; }
  bool LocalScanDone() const { return localScan_; }
  bool DirectoryRebuilt() const { return localScan_ && directory_ != nullptr; }
  const std::string& RebuildReason() const { return rebuildReason_; }
  const std::string& CountMismatch() const { return countMismatch_; }
  std::int32_t ArchiveDate() const { return archiveDate_; }
  // Whether the central directory lies in the archive (not in a .zfc file).
  bool CentralInArchive() const { return centralInArchive_; }
  std::int32_t StreamBufferSize() const { return streamBufferSize_; }

 private:
  std::unique_ptr<TZipHeaderInfo> NewEntry() const;
  // Drops the sorted view and the directory list with its entries.
  void ReleaseDirectory();
  void NewDirectory();
  // Forgets what was read of the archive (not its name).
  void ForgetArchive();
  bool EndRecordPlausible() const;
  void DetectMultiDiskMode();
  bool DiskLabelMatches(std::int32_t n) const;
  // The steps of ReadDirectory. FindEndRecord looks in the archive, then in
  // its configuration file (same name, ".zfc"), which it leaves open in
  // config when that holds the record.
  bool FindEndRecord(std::unique_ptr<TLFNFileStream>& config);
  void GoToCentralDirectory(TStream* config);
  // No end record: the incomplete-archive mode (OnInCompleteZip may change
  // it) decides between refusing and scanning the local headers.
  void ReadWithoutEndRecord();
  void ReadCommentWithDirectory(TStream* config);
  void ReadCentralEntries(TStream*& stream, bool configMode);
  // ReadCentralEntries' pieces: asking for the next disk when a header goes
  // on there, where the directory ends, how many entries to make room for,
  // and the note of more headers than the end record counts.
  TNextVolume NextVolumeOpener();
  std::int64_t DirectoryEnd(bool configMode) const;
  std::int64_t HeadersToReserve(TStream& stream) const;
  void NoteCountMismatch(std::int32_t read);
  // A damaged central directory: the local headers stand in for it, or
  // EBadZipFile. reason: see RebuildReason.
  void RebuildFromLocalHeaders(const char* reason);
  bool ScanLocalHeaders(const char* reason);
  // Clears the local-scan flag and what the last read noted.
  void ForgetScan();
  // Reads and caches the comment of an entry whose central header lies at
  // its CentralHeaderOffset in stream; false when it cannot be read.
  bool LoadEntryComment(TStream& stream, TZipHeaderInfo& entry);
  void LoadArchiveComment(TStream& stream);
  // Opens ZipName as the archive stream unless it is open.
  void OpenArchiveStream();
  // Closes whatever archive stream is open (also with KeepZipOpen set).
  void ReleaseArchiveStream() { archiveStream_.reset(); }

  TArchiveOwner& owner_;
  const TUnZipSettings& settings_;
  std::string zipName_;
  std::unique_ptr<TLFNFileStream> archiveStream_;
  // Owns the entries, physical order (ByNone), no duplicate local headers.
  std::unique_ptr<TSortedZip> directory_;
  // A second, non-owning list for any other sort mode; null when the
  // directory list itself is the view.
  std::unique_ptr<TSortedZip> sortedView_;
  std::unique_ptr<TZipHeaderInfo> currentEntry_;
  std::unique_ptr<TEndCentral> endCentral_;
  std::int32_t archiveDate_ = 0;
  std::int32_t currentDisk_ = 0;
  bool localScan_ = false;
  std::string rebuildReason_;
  std::string countMismatch_;
  bool centralInArchive_ = false;
  // Large blocks: the archive is read in few system calls, and the next
  // small entries usually come with the one being read.
  std::int32_t streamBufferSize_ = 256 * 1024;
  // The file that holds a multi-disk set's end record (its last disk), for
  // finding the set's other files under their usual names.
  std::string setLastDiskName_;
};

}  // namespace quv
