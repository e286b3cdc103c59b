// The reader's archive file, sorted view, comments and working entry.
// Reading the directory is in Directory.cpp, disks in Disks.cpp.
#include "unzip/ArchiveReader.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "zip/Exception.h"

namespace quv {

namespace {

// Closes the archive after a lazy comment read, unless a multi-disk set is
// open: its other disks may be in the drive by the next read.
class CloseUnlessMultiDisk {
 public:
  CloseUnlessMultiDisk(TArchiveReader& reader, const TArchiveOwner& owner) : reader_(reader), owner_(owner) {}
  ~CloseUnlessMultiDisk() {
    if (owner_.MultiDiskMode() == mdNone) reader_.CloseArchive();
  }
  CloseUnlessMultiDisk(const CloseUnlessMultiDisk&) = delete;
  CloseUnlessMultiDisk& operator=(const CloseUnlessMultiDisk&) = delete;

 private:
  TArchiveReader& reader_;
  const TArchiveOwner& owner_;
};

}  // namespace

TArchiveReader::TArchiveReader(TArchiveOwner& owner, const TUnZipSettings& settings)
    : owner_(owner),
      settings_(settings),
      currentEntry_(std::make_unique<TZipHeaderInfo>()),
      endCentral_(std::make_unique<TEndCentral>()) {
  currentEntry_->OEMConvert = settings_.oemConvert;
}

TArchiveReader::~TArchiveReader() = default;

void TArchiveReader::SetZipName(const std::string& name) {
  zipName_ = name;
  ForgetArchive();
}

void TArchiveReader::ForgetArchive() {
  ReleaseDirectory();
  ReleaseArchiveStream();
  endCentral_->Clear();
  archiveDate_ = 0;
  ForgetScan();
}

// ---- entries and comments ------------------------------------------------------

std::int32_t TArchiveReader::Count() const { return directory_ ? directory_->Count() : 0; }

TZipHeaderInfo* TArchiveReader::CheckedEntry(std::int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError("Index " + std::to_string(index) + " is out of range");
  return View()->Items(index);
}

std::string TArchiveReader::EntryComment(std::int32_t index) {
  const TZipHeaderInfo* entry = CheckedEntry(index);
  if (!entry->HasComment()) return std::string();
  if (entry->FileCommentLoaded()) return entry->FileComment();
  OpenArchive();
  CloseUnlessMultiDisk closer(*this, owner_);
  // Opening may have read the directory afresh (the file changed).
  TZipHeaderInfo* current = CheckedEntry(index);
  if (!current->HasComment()) return std::string();
  if (current->FileCommentLoaded() || LoadEntryComment(*archiveStream_, *current)) return current->FileComment();
  return std::string();
}

void TArchiveReader::SetEntryComment(std::int32_t index, const std::string& value) {
  TZipHeaderInfo* entry = CheckedEntry(index);
  if (entry->FileCommentLoaded() && entry->FileComment() == value) return;
  if (!entry->FileCommentLoaded() && !entry->HasComment() && value.empty()) return;
  entry->SetFileComment(value.empty() ? std::nullopt : std::optional<std::string>(value));
  endCentral_->Modified = true;
}

std::string TArchiveReader::ArchiveComment() {
  if (!endCentral_->HasComment()) return std::string();
  if (endCentral_->ZipCommentLoaded()) return endCentral_->ZipComment();
  OpenArchive();
  CloseUnlessMultiDisk closer(*this, owner_);
  if (!endCentral_->HasComment()) return std::string();
  if (!endCentral_->ZipCommentLoaded()) LoadArchiveComment(*archiveStream_);
  return endCentral_->ZipComment();
}

void TArchiveReader::SetArchiveComment(const std::string& value) {
  if (endCentral_->ZipCommentLoaded() && endCentral_->ZipComment() == value) return;
  if (!endCentral_->ZipCommentLoaded() && !endCentral_->HasComment() && value.empty()) return;
  endCentral_->SetZipComment(value);
  endCentral_->Modified = true;
}

bool TArchiveReader::LoadEntryComment(TStream& stream, TZipHeaderInfo& entry) {
  stream.Seek(entry.CentralHeaderOffset, soFromBeginning);
  std::uint8_t fixed[CentralFileHeader::kSize];
  if (stream.Read(fixed, CentralFileHeader::kSize) != CentralFileHeader::kSize) return false;
  const CentralFileHeader header = CentralFileHeader::FromBytes(fixed);
  if (header.Signature != ZipSignatures().Central) return false;
  stream.Seek(header.FileNameLength + header.ExtraFieldLength, soFromCurrent);
  std::string text(header.FileCommentLength, '\0');
  const std::int32_t got = stream.Read(text.data(), header.FileCommentLength);
  if (got != header.FileCommentLength) return false;
  entry.SetStoredComment(text);
  return true;
}

void TArchiveReader::LoadArchiveComment(TStream& stream) {
  stream.Seek(endCentral_->ZipCommentOffset, soFromBeginning);
  std::string text(endCentral_->ZipCommentLength, '\0');
  const std::int32_t got = stream.Read(text.data(), endCentral_->ZipCommentLength);
  // A comment cut short by the end of the file is what there is of it.
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  const bool modified = endCentral_->Modified;
  endCentral_->SetZipComment(text);
  endCentral_->Modified = modified;
}

// ---- archive file and views ----------------------------------------------------

void TArchiveReader::OpenArchiveStream() {
  if (!archiveStream_) {
    archiveStream_ = std::make_unique<TLFNFileStream>(zipName_, streamBufferSize_, settings_.flushFilesOnClose,
                                                      platform::fmOpenRead | platform::fmShareDenyWrite);
  }
}

void TArchiveReader::OpenArchive() {
  OpenArchiveStream();
  if (!directory_ || platform::FileGetDate(archiveStream_->Handle()) != archiveDate_) ReadDirectory();
}

void TArchiveReader::CloseArchive() {
  if (!settings_.keepZipOpen) ReleaseArchiveStream();
}

void TArchiveReader::ClearArchive() {
  ForgetArchive();
  currentDisk_ = 0;
  setLastDiskName_.clear();
  owner_.SetMultiDiskMode(mdNone);
  zipName_.clear();
}

void TArchiveReader::ForgetScan() {
  localScan_ = false;
  rebuildReason_.clear();
  countMismatch_.clear();
}

void TArchiveReader::ReleaseDirectory() {
  sortedView_.reset();
  directory_.reset();
}

void TArchiveReader::NewDirectory() {
  ReleaseDirectory();
  directory_ = std::make_unique<TSortedZip>(RejectDuplicates);
  directory_->SetSortMode(ByNone);
}

std::unique_ptr<TZipHeaderInfo> TArchiveReader::NewEntry() const {
  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->OEMConvert = settings_.oemConvert;
  return entry;
}

void TArchiveReader::ApplySortMode(TZipSortMode mode) {
  sortedView_.reset();
  if (mode != ByNone && directory_) {
    auto view = std::make_unique<TSortedZip>(AcceptDuplicates);
    view->SetOwnsObjects(false);
    view->SetSortMode(mode);
    std::vector<TObject*> entries;
    entries.reserve(static_cast<std::size_t>(directory_->Count()));
    for (std::int32_t i = 0; i < directory_->Count(); ++i) entries.push_back(directory_->Items(i));
    view->AddAll(entries);
    sortedView_ = std::move(view);
  }
}

// ---- the working entry -------------------------------------------------------------

void TArchiveReader::LocateEntry(std::int32_t index) {
  if (!archiveStream_) OpenArchive();
  currentEntry_->Assign(*CheckedEntry(index));
  if (currentEntry_->FileNameView().empty()) return;
  if (endCentral_->ThisDisk != 0 && std::cmp_not_equal(currentEntry_->DiskNumberStart, currentDisk_)) {
    // No disk follows the one with the end record.
    if (currentEntry_->DiskNumberStart > endCentral_->ThisDisk) throw EFatalUnzipError("Premature end of file reached");
    OpenDisk(static_cast<std::int32_t>(currentEntry_->DiskNumberStart) + 1);
  }
  // Named here: no event has told the caller which entry this is yet.
  const auto unreadable = [&] {
    return EFatalUnzipError("Premature end of file reached in the local header of \"" + currentEntry_->StoredPath() +
                            "\"");
  };
  archiveStream_->Seek(currentEntry_->RelativeOffsetOfLocalHeader, soFromBeginning);
  std::uint8_t fixed[LocalFileHeader::kSize];
  if (archiveStream_->Read(fixed, LocalFileHeader::kSize) != LocalFileHeader::kSize) throw unreadable();
  const LocalFileHeader header = LocalFileHeader::FromBytes(fixed);
  archiveStream_->Seek(header.FileNameLength + header.ExtraFieldLength, soFromCurrent);
}

}  // namespace quv
