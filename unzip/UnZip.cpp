// The component itself: construction, the property setters, copying
// settings, and the forwards to its parts: the directory reader
// (ArchiveReader.h), the cipher (Cipher.cpp) and the run (Extract.cpp).
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

}  // namespace

TUnZip::TUnZip(TObject* Owner, bool designing)
    : designing_(designing), owner_(Owner) {
  TArchiveOwner& self = *this;
  reader_ = std::make_unique<TArchiveReader>(self, settings_);
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
  if (names::SameFileName(ZipName(), other->ZipName())) {
    reader_->StoreZipName(other->ZipName());
  } else {
    reader_->SetZipName(other->ZipName());
  }
  settings_.destDir = other->settings_.destDir;
  settings_.rootDir = other->settings_.rootDir;
  settings_.sortMode = other->settings_.sortMode;
  settings_.recreateDirs = other->settings_.recreateDirs;
  settings_.overwriteMode = other->settings_.overwriteMode;
  settings_.filesList.Assign(&other->settings_.filesList);
  settings_.excludeList.Assign(&other->settings_.excludeList);
  settings_.doAll = other->settings_.doAll;
  settings_.incompleteZipMode = other->settings_.incompleteZipMode;
  settings_.keepZipOpen = other->settings_.keepZipOpen;
  settings_.doProcessMessages = other->settings_.doProcessMessages;
  settings_.ui = other->settings_.ui;
  settings_.retainAttributes = other->settings_.retainAttributes;
  settings_.replaceReadOnly = other->settings_.replaceReadOnly;
  settings_.threads = other->settings_.threads;
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
  CurrentEntry().OEMConvert = settings_.oemConvert;
}

// ---- setters -------------------------------------------------------------------

void TUnZip::SetZipName(const std::string& Value) {
  if (designing_) {
    reader_->StoreZipName(Value);
    return;
  }
  if (names::SameFileName(Value, ZipName())) return;
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
  reader_->SetZipName(name);
}

void TUnZip::SetDestDir(const std::string& Value) {
  std::string dir = Value;
  if (Value == "?") {
    std::string start = settings_.destDir;
    if (!platform::DirExists(settings_.destDir + "\\")) start = platform::GetDriveDir(0);
    std::string chosen;
    if (!Ui().PickFolder(start, chosen)) throw EUserCanceled("User canceled Set Desination Directory");
    dir = chosen;
  }
  if (text::LastCharIs(dir, '\\')) dir.pop_back();
  settings_.destDir = dir;
}

void TUnZip::SetRootDir(const std::string& Value) {
  if (Value.empty()) {
    settings_.rootDir.clear();
  } else if (text::LastCharIs(Value, '\\')) {
    settings_.rootDir = Value;
  } else {
    settings_.rootDir = Value + "\\";
  }
}

// ---- the directory reader's -------------------------------------------------------

const std::string& TUnZip::ZipName() const { return reader_->ZipName(); }
std::int32_t TUnZip::Count() const { return reader_->Count(); }
TZipHeaderInfo* TUnZip::CheckedEntry(std::int32_t Index) const { return reader_->CheckedEntry(Index); }
std::string TUnZip::EntryFileName(std::int32_t Index) const { return CheckedEntry(Index)->FileName(); }
std::string TUnZip::EntryComment(std::int32_t Index) { return reader_->EntryComment(Index); }
void TUnZip::SetEntryComment(std::int32_t Index, const std::string& Value) { reader_->SetEntryComment(Index, Value); }
std::string TUnZip::ArchiveComment() { return reader_->ArchiveComment(); }
void TUnZip::SetArchiveComment(const std::string& Value) { reader_->SetArchiveComment(Value); }
void TUnZip::OpenArchive() { reader_->OpenArchive(); }
void TUnZip::CloseArchive() { reader_->CloseArchive(); }
void TUnZip::ClearArchive() { reader_->ClearArchive(); }
void TUnZip::LoadDirectory() { reader_->LoadDirectory(); }
void TUnZip::ReadDirectory() { reader_->ReadDirectory(); }
bool TUnZip::ScanLocalHeaders() { return reader_->ScanLocalHeaders(); }
TS_BufferStream* TUnZip::OpenDisk(std::int32_t N) { return reader_->OpenDisk(N); }
void TUnZip::LocateEntry(std::int32_t Index) {
  // A new working entry: the last one's AES keys are of no use to it.
  aesDecryptor_.reset();
  reader_->LocateEntry(Index);
}
const TZipHeaderInfo& TUnZip::CurrentEntry() const { return reader_->CurrentEntry(); }
TZipHeaderInfo& TUnZip::CurrentEntry() { return reader_->CurrentEntry(); }
const TEndCentral& TUnZip::EndCentral() const { return reader_->EndCentral(); }
TS_BufferStream* TUnZip::ArchiveStream() const { return reader_->ArchiveStream(); }
std::int32_t TUnZip::CurrentDisk() const { return reader_->CurrentDisk(); }
bool TUnZip::LocalScanDone() const { return reader_->LocalScanDone(); }
bool TUnZip::DirectoryRebuilt() const { return reader_->DirectoryRebuilt(); }
const std::string& TUnZip::RebuildReason() const { return reader_->RebuildReason(); }
const std::string& TUnZip::CountMismatch() const { return reader_->CountMismatch(); }
std::int32_t TUnZip::ArchiveDate() const { return reader_->ArchiveDate(); }

void TUnZip::ApplySortMode(TZipSortMode Mode) {
  reader_->ApplySortMode(Mode);
  settings_.sortMode = Mode;
}

void TUnZip::DefaultGetNextDisk(TObject* /*Sender*/, std::int32_t NextDisk, std::string& FName) {
  reader_->DefaultGetNextDisk(NextDisk, FName);
}

void TUnZip::AskIncompleteZip() {
  if (OnInCompleteZip) OnInCompleteZip(this, settings_.incompleteZipMode);
}

bool TUnZip::AskNextDisk(std::int32_t disk, std::string& name) {
  if (!OnGetNextDisk) return false;
  OnGetNextDisk(this, disk, name);
  return true;
}

// ---- what a run reports --------------------------------------------------------------

namespace {

// SkipDetail's text for the one event that reports it.
class DetailDuring {
 public:
  DetailDuring(std::string& slot, const std::string& text) : slot_(slot) { slot_ = text; }
  ~DetailDuring() { slot_.clear(); }
  DetailDuring(const DetailDuring&) = delete;
  DetailDuring& operator=(const DetailDuring&) = delete;

 private:
  std::string& slot_;
};

}  // namespace

void TUnZip::ReportSkip(TSkipReason reason, const std::string& name, std::int32_t index, bool& retry,
                        const std::string& detail) {
  if (!OnSkippingFile) return;
  const DetailDuring during(skipDetail_, detail);
  OnSkippingFile(this, reason, name, index, retry);
}

void TUnZip::ReportBadCrc(std::int32_t calcCrc, std::int32_t storedCrc, std::int32_t index,
                          const std::string& detail) {
  if (!OnBadCRC) return;
  const DetailDuring during(skipDetail_, detail);
  OnBadCRC(this, calcCrc, storedCrc, index);
}

// ---- DecodeInput ----------------------------------------------------------------------

std::int32_t TUnZip::ReadInput(void* buffer, std::int32_t count) {
  TS_BufferStream* archive = ArchiveStream();
  return archive ? archive->Read(buffer, count) : 0;
}

bool TUnZip::CanSpan() const { return EndCentral().ThisDisk != 0 && static_cast<bool>(OnGetNextDisk); }

bool TUnZip::OpenNextDisk() {
  // No disk follows the one with the end record.
  if (std::cmp_greater_equal(CurrentDisk(), EndCentral().ThisDisk)) return false;
  return OpenDisk(CurrentDisk() + 2) != nullptr;
}

void TUnZip::Decrypt(std::uint8_t* buffer, std::int32_t length) {
  if (!CurrentEntry().IsEncrypted()) return;
  if (aesDecryptor_) {
    aesDecryptor_->Decrypt(buffer, static_cast<std::size_t>(length));
  } else if (OnDecrypt) {
    OnDecrypt(this, buffer, length, settings_.password);
  } else {
    DecryptBuffer(buffer, length);
  }
}

const std::uint8_t* TUnZip::LendInput(std::int32_t count) {
  TS_BufferStream* archive = ArchiveStream();
  return archive && !CurrentEntry().IsEncrypted() ? archive->Lend(count) : nullptr;
}

void TUnZip::ReturnInput(std::int32_t count) {
  if (TS_BufferStream* archive = ArchiveStream()) archive->Unlend(count);
}

void TUnZip::Breathe() {
  if (settings_.doProcessMessages) settings_.ui->ProcessMessages();
}

}  // namespace quv
