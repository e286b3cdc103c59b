// The component itself: construction, the property setters, copying
// settings, the comment accessors, opening and closing the archive file and
// the sorted view. Reading the directory is in Directory.cpp, disks in
// Disks.cpp, the cipher in Cipher.cpp.
#include "unzip/UnZip.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/FileNames.h"
#include "zip/Exception.h"
#include "zip/Text.h"
#include "zip/Utils.h"

namespace quv {

namespace {

// The component's own disk handler, as a named type so that Assign can tell
// it from a handler the application installed.
struct OwnDiskHandler {
  TUnZip* self;
  void operator()(TObject* sender, std::int32_t nextDisk, std::string& fileName) const {
    self->DefaultGetNextDisk(sender, nextDisk, fileName);
  }
};

// Closes the archive after a lazy comment read, unless a multi-disk set is
// open: its other disks may be in the drive by the next read.
class CloseUnlessMultiDisk {
 public:
  explicit CloseUnlessMultiDisk(TUnZip& owner) : owner_(owner) {}
  ~CloseUnlessMultiDisk() {
    if (owner_.MultiDiskMode() == mdNone) owner_.CloseArchive();
  }
  CloseUnlessMultiDisk(const CloseUnlessMultiDisk&) = delete;
  CloseUnlessMultiDisk& operator=(const CloseUnlessMultiDisk&) = delete;

 private:
  TUnZip& owner_;
};

}  // namespace

TUnZip::TUnZip(TObject* Owner, bool designing)
    : designing_(designing),
      owner_(Owner),
      currentEntry_(std::make_unique<TZipHeaderInfo>()),
      endCentral_(std::make_unique<TEndCentral>()) {
  currentEntry_->OEMConvert = oemConvert_;
  if (!designing_) OnGetNextDisk = OwnDiskHandler{this};
}

TUnZip::~TUnZip() { ClearArchive(); }

void TUnZip::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TUnZip*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  // The names are taken as they are (no dialog for a "?"), but a directory
  // read from another file must not pass for the new one's.
  if (!names::SameFileName(zipName_, other->zipName_)) {
    ReleaseDirectory();
    ReleaseArchiveStream();
    endCentral_->Clear();
    archiveDate_ = 0;
    ForgetScan();
  }
  zipName_ = other->zipName_;
  destDir_ = other->destDir_;
  rootDir_ = other->rootDir_;
  sortMode_ = other->sortMode_;
  recreateDirs_ = other->recreateDirs_;
  overwriteMode_ = other->overwriteMode_;
  filesList_.Assign(&other->filesList_);
  excludeList_.Assign(&other->excludeList_);
  doAll_ = other->doAll_;
  incompleteZipMode_ = other->incompleteZipMode_;
  keepZipOpen_ = other->keepZipOpen_;
  doProcessMessages_ = other->doProcessMessages_;
  ui_ = other->ui_;
  retainAttributes_ = other->retainAttributes_;
  replaceReadOnly_ = other->replaceReadOnly_;
  threads_ = other->threads_;
  OnStartUnZipInfo = other->OnStartUnZipInfo;
  OnFilePercentDone = other->OnFilePercentDone;
  OnTotalPercentDone = other->OnTotalPercentDone;
  OnStartUnZip = other->OnStartUnZip;
  OnEndUnZip = other->OnEndUnZip;
  OnPromptForOverwrite = other->OnPromptForOverwrite;
  OnSkippingFile = other->OnSkippingFile;
  OnBadPassword = other->OnBadPassword;
  OnBadCRC = other->OnBadCRC;
  OnInCompleteZip = other->OnInCompleteZip;
  // The source's own disk handler would ask about the source's disks; this
  // component gets its own instead.
  const auto* own = other->OnGetNextDisk.target<OwnDiskHandler>();
  if (own != nullptr && own->self == other) {
    OnGetNextDisk = OwnDiskHandler{this};
  } else {
    OnGetNextDisk = other->OnGetNextDisk;
  }
  OnUnZipComplete = other->OnUnZipComplete;
  OnGetNextBuffer = other->OnGetNextBuffer;
}

void TUnZip::Loaded() {
  thisVersion_ = kThisVersion;
  currentEntry_->OEMConvert = oemConvert_;
}

// ---- setters -------------------------------------------------------------------

void TUnZip::SetZipName(const std::string& Value) {
  if (designing_) {
    zipName_ = Value;
    return;
  }
  if (names::SameFileName(Value, zipName_)) return;
  std::string name = Value;
  if (!Value.empty() && Value.back() == '?') {
    const std::string folder = text::FolderPart(Value);
    std::string start;
    if (!folder.empty() && platform::DirExists(folder)) {
      start = folder;
    } else {
      start = std::string(platform::kIsWindows ? "C:\\" : "/");
    }
    std::string chosen;
    if (!Ui().PickFile(
            "Open a Zip File",
            "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*", start,
            chosen)) {
      throw EUserCanceled("User canceled setting zip file name.");
    }
    name = chosen;
  }
  zipName_ = name;
  ReleaseDirectory();
  archiveDate_ = 0;
  endCentral_->Clear();
  ReleaseArchiveStream();
  ForgetScan();
}

void TUnZip::SetDestDir(const std::string& Value) {
  std::string dir = Value;
  if (Value == "?") {
    std::string start = destDir_;
    if (!platform::DirExists(destDir_ + "\\")) start = platform::GetDriveDir(0);
    std::string chosen;
    if (!Ui().PickFolder(start, chosen)) throw EUserCanceled("User canceled Set Desination Directory");
    dir = chosen;
  }
  if (text::LastCharIs(dir, '\\')) dir.pop_back();
  destDir_ = dir;
}

void TUnZip::SetRootDir(const std::string& Value) {
  if (Value.empty()) {
    rootDir_.clear();
  } else if (text::LastCharIs(Value, '\\')) {
    rootDir_ = Value;
  } else {
    rootDir_ = Value + "\\";
  }
}

// ---- entries and comments ------------------------------------------------------

std::int32_t TUnZip::Count() const { return directory_ ? directory_->Count() : 0; }

TZipHeaderInfo* TUnZip::CheckedEntry(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("Index " + std::to_string(Index) + " is out of range");
  return View()->Items(Index);
}

std::string TUnZip::EntryFileName(std::int32_t Index) const { return CheckedEntry(Index)->FileName(); }

std::string TUnZip::EntryComment(std::int32_t Index) {
  const TZipHeaderInfo* entry = CheckedEntry(Index);
  if (!entry->HasComment()) return std::string();
  if (entry->FileCommentLoaded()) return entry->FileComment();
  OpenArchive();
  CloseUnlessMultiDisk closer(*this);
  // Opening may have read the directory afresh (the file changed).
  TZipHeaderInfo* current = CheckedEntry(Index);
  if (!current->HasComment()) return std::string();
  if (current->FileCommentLoaded() || LoadEntryComment(*archiveStream_, *current)) return current->FileComment();
  return std::string();
}

void TUnZip::SetEntryComment(std::int32_t Index, const std::string& Value) {
  TZipHeaderInfo* entry = CheckedEntry(Index);
  if (entry->FileCommentLoaded() && entry->FileComment() == Value) return;
  if (!entry->FileCommentLoaded() && !entry->HasComment() && Value.empty()) return;
  entry->SetFileComment(Value.empty() ? std::nullopt : std::optional<std::string>(Value));
  endCentral_->Modified = true;
}

std::string TUnZip::ArchiveComment() {
  if (!endCentral_->HasComment()) return std::string();
  if (endCentral_->ZipCommentLoaded()) return endCentral_->ZipComment();
  OpenArchive();
  CloseUnlessMultiDisk closer(*this);
  if (!endCentral_->HasComment()) return std::string();
  if (!endCentral_->ZipCommentLoaded()) LoadArchiveComment(*archiveStream_);
  return endCentral_->ZipComment();
}

void TUnZip::SetArchiveComment(const std::string& Value) {
  if (endCentral_->ZipCommentLoaded() && endCentral_->ZipComment() == Value) return;
  if (!endCentral_->ZipCommentLoaded() && !endCentral_->HasComment() && Value.empty()) return;
  endCentral_->SetZipComment(Value);
  endCentral_->Modified = true;
}

bool TUnZip::LoadEntryComment(TStream& stream, TZipHeaderInfo& entry) {
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

void TUnZip::LoadArchiveComment(TStream& stream) {
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

void TUnZip::OpenArchiveStream() {
  if (!archiveStream_) {
    archiveStream_ = std::make_unique<TLFNFileStream>(zipName_, streamBufferSize_, flushFilesOnClose_,
                                                      platform::fmOpenRead | platform::fmShareDenyWrite);
  }
}

void TUnZip::OpenArchive() {
  OpenArchiveStream();
  if (!directory_ || platform::FileGetDate(archiveStream_->Handle()) != archiveDate_) ReadDirectory();
}

void TUnZip::CloseArchive() {
  if (!keepZipOpen_) ReleaseArchiveStream();
}

void TUnZip::ClearArchive() {
  ReleaseArchiveStream();
  ReleaseDirectory();
  endCentral_->Clear();
  ForgetScan();
  archiveDate_ = 0;
  currentDisk_ = 0;
  setLastDiskName_.clear();
  SetMultiDiskMode(mdNone);
  zipName_.clear();
}

void TUnZip::ForgetScan() {
  localScan_ = false;
  rebuildReason_.clear();
  countMismatch_.clear();
}

void TUnZip::ReleaseDirectory() {
  sortedView_.reset();
  directory_.reset();
}

void TUnZip::NewDirectory() {
  ReleaseDirectory();
  directory_ = std::make_unique<TSortedZip>(RejectDuplicates);
  directory_->SetSortMode(ByNone);
}

std::unique_ptr<TZipHeaderInfo> TUnZip::NewEntry() const {
  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->OEMConvert = oemConvert_;
  return entry;
}

void TUnZip::ApplySortMode(TZipSortMode Mode) {
  sortedView_.reset();
  if (Mode != ByNone && directory_) {
    auto view = std::make_unique<TSortedZip>(AcceptDuplicates);
    view->SetOwnsObjects(false);
    view->SetSortMode(Mode);
    std::vector<TObject*> entries;
    entries.reserve(static_cast<std::size_t>(directory_->Count()));
    for (std::int32_t i = 0; i < directory_->Count(); ++i) entries.push_back(directory_->Items(i));
    view->AddAll(entries);
    sortedView_ = std::move(view);
  }
  sortMode_ = Mode;
}

// ---- the working entry -------------------------------------------------------------

void TUnZip::LocateEntry(std::int32_t Index) {
  if (!archiveStream_) OpenArchive();
  currentEntry_->Assign(CheckedEntry(Index));
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

// ---- DecodeInput ----------------------------------------------------------------------

std::int32_t TUnZip::ReadInput(void* buffer, std::int32_t count) {
  return archiveStream_ ? archiveStream_->Read(buffer, count) : 0;
}

bool TUnZip::CanSpan() const { return endCentral_->ThisDisk != 0 && static_cast<bool>(OnGetNextDisk); }

bool TUnZip::OpenNextDisk() {
  // No disk follows the one with the end record.
  if (std::cmp_greater_equal(currentDisk_, endCentral_->ThisDisk)) return false;
  return OpenDisk(currentDisk_ + 2) != nullptr;
}

void TUnZip::Decrypt(std::uint8_t* buffer, std::int32_t length) {
  if (!currentEntry_->IsEncrypted()) return;
  if (aesDecryptor_) {
    aesDecryptor_->Decrypt(buffer, static_cast<std::size_t>(length));
  } else if (OnDecrypt) {
    OnDecrypt(this, buffer, length, password_);
  } else {
    DecryptBuffer(buffer, length);
  }
}

void TUnZip::Breathe() {
  if (doProcessMessages_) ui_->ProcessMessages();
}

}  // namespace quv
