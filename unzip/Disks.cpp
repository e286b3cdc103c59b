// Multi-disk sets: telling removable disks from a set of files, opening the
// file of another disk (asking OnGetNextDisk for it), checking a removable
// disk's label, and the component's own way of finding the next disk.
#include <cstdio>
#include <string>
#include <utility>

#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/ArchiveReader.h"
#include "zip/Exception.h"
#include "zip/Text.h"
#include "zip/Utils.h"

namespace quv {

namespace {

// How often a disk file may turn out missing (or a removable disk carry the
// wrong label) before the request counts as cancelled: a handler that keeps
// naming a file that is not there would otherwise be asked forever.
constexpr int kMissingDiskAttempts = 2;

[[noreturn]] void ThrowCanceled() { throw EUserCanceled("User canceled loading new disk."); }

// Decimal n with at least width digits, zero-padded ("%3.3d" for width 3):
// how disk numbers appear in labels and file extensions.
std::string ZeroPadded(long n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*ld", width, n);
  return buf;
}

// The drive root ("A:\") of a name, upper-cased; what the drive queries take.
std::string DriveRoot(const std::string& name) { return text::UpperAscii(LeftStr(name, 3)); }

}  // namespace

void TArchiveReader::DetectMultiDiskMode() {
  if (endCentral_->ThisDisk == 0) {
    owner_.SetMultiDiskMode(mdNone);
    return;
  }
  const std::string root = DriveRoot(zipName_);
  if (root.size() < 2 || root[1] != ':') {
    owner_.SetMultiDiskMode(mdFileSet);
  } else if (platform::QueryDriveType(root) == platform::DriveType::Removable) {
    owner_.SetMultiDiskMode(mdRemovable);
  } else {
    owner_.SetMultiDiskMode(mdFileSet);
  }
}

bool TArchiveReader::DiskLabelMatches(std::int32_t N) const {
  if (owner_.MultiDiskMode() != mdRemovable) return true;
  // ZipName still names the previous disk's file: same drive.
  const std::string label = LeftStr(platform::GetVolumeLabel(DriveRoot(zipName_)), 11);
  return RightStr(label, 3) == ZeroPadded(N, 3);
}

TS_BufferStream* TArchiveReader::OpenDisk(std::int32_t N) {
  ReleaseArchiveStream();
  std::string name = zipName_;
  int missing = 0;
  for (;;) {
    if (!owner_.AskNextDisk(N, name)) ThrowCanceled();  // nobody to ask
    if (name.empty()) ThrowCanceled();
    // A removable disk with the wrong label counts as missing too.
    if (platform::FileExists(name) && (!owner_.VerifyDiskLabels() || DiskLabelMatches(N))) break;
    if (++missing >= kMissingDiskAttempts) ThrowCanceled();
  }
  archiveStream_ = std::make_unique<TLFNFileStream>(name, streamBufferSize_, false, platform::fmOpenRead);
  currentDisk_ = N - 1;
  archiveDate_ = platform::FileGetDate(archiveStream_->Handle());
  zipName_ = name;
  return archiveStream_.get();
}

void TArchiveReader::DefaultGetNextDisk(std::int32_t NextDisk, std::string& FName) {
  if (owner_.MultiDiskMode() == mdRemovable) {
    platform::CursorShown arrow(*settings_.ui, platform::Cursor::Default);
    std::string text = "Please insert disk ";
    text.append(std::to_string(NextDisk)).append(" of the multi-disk set.");
    const platform::Answer answer = settings_.ui->ShowMessage(text, std::string(), platform::Buttons::OkCancel);
    if (answer != platform::Answer::Ok) FName.clear();
    return;
  }
  const std::string numbered = text::ChangeFileExtension(FName, std::string(".").append(ZeroPadded(NextDisk, 3)));
  if (!platform::FileExists(numbered)) {
    // The usual naming of split archives: name.z01, name.z02, ... with the
    // last disk under the set's own name.
    const std::string split = text::ChangeFileExtension(FName, std::string(".z").append(ZeroPadded(NextDisk, 2)));
    if (platform::FileExists(split)) {
      FName = split;
      return;
    }
    if (!setLastDiskName_.empty() && std::cmp_equal(NextDisk, endCentral_->ThisDisk + 1) && platform::FileExists(setLastDiskName_)) {
      FName = setLastDiskName_;
      return;
    }
  }
  FName = numbered;
}

}  // namespace quv
