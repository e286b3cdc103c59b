#include "unzip/OutputFile.h"

#include <algorithm>

#include "zip/Exception.h"
#include "zip/Text.h"

namespace quv {

namespace {

constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;

}  // namespace


platform::FileStamp StampOf(const TZipHeaderInfo& entry, bool retainAttributes) {
  platform::FileStamp stamp;
  // The exact time when the archive has one; the DOS date is local time in
  // 2-second steps.
  stamp.utcTicks = entry.UtcModified;
  stamp.dosDateTime = static_cast<std::int32_t>(FixDosDateTime(entry.LastModFileDateTime));
  if (!retainAttributes) return stamp;
  stamp.attributes = entry.ExternalFileAttributes;
  const std::uint32_t mode = entry.ExternalFileAttributes >> 16;
  // Unix permissions, but not for a link's text, which is extracted as a
  // plain file and keeps the usual ones.
  if ((entry.VersionMadeBy >> 8) == kHostUnix && mode != 0 && (mode & kUnixTypeMask) != kUnixSymlink) {
    stamp.permissions = mode & 0777;
  }
  return stamp;
}

// ---- TNullStream ------------------------------------------------------------------

std::int32_t TNullStream::Write(const void* /*buffer*/, std::int32_t count) {
  if (count <= 0) return 0;
  position_ += count;
  size_ = std::max(size_, position_);
  return count;
}

std::int64_t TNullStream::Seek(std::int64_t offset, int origin) {
  std::int64_t target = offset;
  if (origin == soFromCurrent) target += position_;
  if (origin == soFromEnd) target += size_;
  if (target < 0) throw EStreamError("Stream seek error");
  position_ = target;
  return position_;
}

// ---- TOutputFile ------------------------------------------------------------------

namespace {

// Output files take whole blocks of decoded output (up to 32 KB, and Inflate
// hands over more at once) and write them in few large system calls.
constexpr std::int64_t kOutputBufferSize = 128 * 1024;
constexpr std::int64_t kSmallestBuffer = 4096;

}  // namespace

TOutputFile::TOutputFile(platform::Path finalName, platform::OutputTree& tree, const platform::Path& tempFolder,
                         std::int64_t expectedSize, std::uint32_t permissions)
    : finalName_(std::move(finalName)),
      tree_(tree),
      expectedSize_(expectedSize),
      bufferSize_(static_cast<std::size_t>(std::clamp(expectedSize, kSmallestBuffer, kOutputBufferSize))) {
  std::string reason;
  platform::OutputTree::TempFile temp = tree_.CreateTemp(tempFolder, permissions, reason);
  if (temp.handle == platform::kInvalidHandle) throw EFCreateError(reason);
  handle_ = temp.handle;
  tempName_ = std::move(temp.name);
  madeWith_ = temp.permissions;
}

TOutputFile::~TOutputFile() {
  platform::FileClose(handle_);
  if (!committed_) tree_.Discard(tempName_);
}

std::int32_t TOutputFile::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const char*>(buffer);
  const auto size = static_cast<std::size_t>(count);
  if (buffer_.size() + size > bufferSize_) Flush();
  // A block as large as the buffer needs no copy, nor does one that ends
  // the file while nothing waits before it: a small file, written at once,
  // takes no buffer at all.
  if (size >= bufferSize_ || (buffer_.empty() && position_ + count >= expectedSize_)) {
    WriteThrough(bytes, count);
  } else {
    if (buffer_.capacity() < bufferSize_) buffer_.reserve(bufferSize_);
    buffer_.append(bytes, size);
  }
  position_ += count;
  return count;
}

std::int64_t TOutputFile::Seek(std::int64_t offset, int origin) {
  if (offset == 0 && origin == soFromCurrent) return position_;
  throw EStreamError("Output files are written in sequence");
}

void TOutputFile::Finish(bool commitToDisk, const platform::FileStamp& stamp) {
  Flush();
  // A finished file may wait a while for its turn to be moved into place.
  std::string().swap(buffer_);
  if (commitToDisk && !platform::FileCommit(handle_)) Fail();
  const platform::FileHandle written = handle_;
  handle_ = platform::kInvalidHandle;
  platform::FileStampAndClose(written, tempName_, stamp, madeWith_);
}

platform::Placed TOutputFile::Commit(platform::Replace rule, std::string& reason) {
  const platform::Placed placed = tree_.Commit(tempName_, finalName_, rule, reason);
  committed_ = placed == platform::Placed::Done;
  return placed;
}

void TOutputFile::Flush() {
  if (buffer_.empty()) return;
  WriteThrough(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
  buffer_.clear();
}

void TOutputFile::WriteThrough(const char* bytes, std::int32_t count) {
  if (platform::FileWrite(handle_, bytes, count) != count) Fail();
}

void TOutputFile::Fail() {
  throw EWriteError("Cannot write file \"" + platform::NativePath(finalName_.SystemText()) + "\". " + platform::LastErrorText());
}

}  // namespace quv
