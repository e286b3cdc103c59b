// The extraction run: selecting entries, composing each output path, the
// overwrite rule, the password test, decoding through the run's decoding
// state, the CRC check, and stamping the file with the entry's date and
// attributes.
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decompress/DecodeContext.h"
#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/FileNames.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"
#include "zip/Wildcard.h"

namespace quv {

namespace {

constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;
constexpr std::int32_t kEncryptionHeaderSize = 12;
// Output files take whole blocks of decoded output (up to 32 KB, and Inflate
// hands over more at once) and write them in few large system calls.
constexpr std::int32_t kOutputBufferSize = 128 * 1024;

// The folder part of a path, up to and including its last separator.
std::string FolderOf(const std::string& path);

// Where a test run's output goes: counted, then forgotten.
class TNullStream final : public TStream {
 public:
  std::string ClassName() const override { return "TNullStream"; }
  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* /*buffer*/, std::int32_t count) override {
    if (count <= 0) return 0;
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    std::int64_t target = offset;
    if (origin == soFromCurrent) target += position_;
    if (origin == soFromEnd) target += size_;
    if (target < 0) throw EStreamError("Stream seek error");
    position_ = target;
    return position_;
  }
  std::int64_t Size() override { return size_; }

 private:
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
};

// A test run's output handed on to the caller's stream.
class TForwardStream final : public TStream {
 public:
  explicit TForwardStream(TStream& target) : target_(target) {}
  std::string ClassName() const override { return "TForwardStream"; }
  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    counted_.Write(buffer, count);
    target_.WriteBuffer(buffer, count);
    return count;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override { return counted_.Seek(offset, origin); }
  std::int64_t Size() override { return counted_.Size(); }

 private:
  TStream& target_;
  TNullStream counted_;
};

// An output file written under a temporary name in its destination folder.
// Only Commit moves it over its final name; destroyed before that, it
// deletes itself, so a failed entry leaves nothing behind and an existing
// file of that name unchanged. It knows its own position, so the decoders'
// size guard costs no system call per block, and a failed write raises
// EWriteError naming the final file and the system's reason.
class TOutputFile final : public TStream {
 public:
  TOutputFile(std::string finalName, std::int32_t bufSize) : finalName_(std::move(finalName)) {
    std::string reason;
    handle_ = platform::CreateTempFile(FolderOf(finalName_), tempName_, &reason);
    if (handle_ == platform::kInvalidHandle) throw EFCreateError("Cannot create file \"" + finalName_ + "\". " + reason);
    buffer_.reserve(static_cast<std::size_t>(bufSize));
  }
  ~TOutputFile() override {
    platform::FileClose(handle_);
    if (!committed_) platform::FileDelete(tempName_);
  }
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  std::string ClassName() const override { return "TOutputFile"; }

  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count <= 0) return 0;
    const auto* bytes = static_cast<const char*>(buffer);
    if (buffer_.size() + static_cast<std::size_t>(count) > buffer_.capacity()) Flush();
    if (static_cast<std::size_t>(count) >= buffer_.capacity()) {
      WriteThrough(bytes, count);
    } else {
      buffer_.append(bytes, static_cast<std::size_t>(count));
    }
    position_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    if (offset == 0 && origin == soFromCurrent) return position_;
    throw EStreamError("Output files are written in sequence");
  }
  std::int64_t Size() override { return position_; }

  // Writes what is pending (committing it to the disk when asked) and stamps
  // the file with the entry's time; raises EWriteError when the data did not
  // reach the file.
  void Finish(bool commitToDisk, const TZipHeaderInfo& entry) {
    Flush();
    if (commitToDisk && !platform::FileCommit(handle_)) Fail();
    platform::FileClose(handle_);
    handle_ = platform::kInvalidHandle;
    // Stamped through a handle of its own: closing the written one may set
    // the time again (Wine does).
    const platform::FileHandle h = platform::FileOpen(tempName_, platform::fmOpenWrite | platform::fmShareDenyNone);
    if (h == platform::kInvalidHandle) return;
    // The exact time when the archive has one; the DOS date is local time
    // in 2-second steps.
    if (!entry.UtcModified || !platform::FileSetUtcTime(h, *entry.UtcModified))
      platform::FileSetDate(h, static_cast<std::int32_t>(FixDosDateTime(entry.LastModFileDateTime)));
    platform::FileClose(h);
  }
  const std::string& TempName() const { return tempName_; }
  // Moves the finished file over its final name; false (with the reason) when
  // that name cannot be replaced.
  bool Commit(std::string& reason) {
    committed_ = platform::MoveFileOver(tempName_, finalName_, &reason);
    return committed_;
  }

 private:
  void Flush() {
    if (buffer_.empty()) return;
    WriteThrough(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
    buffer_.clear();
  }
  void WriteThrough(const char* bytes, std::int32_t count) {
    if (platform::FileWrite(handle_, bytes, count) != count) Fail();
  }
  [[noreturn]] void Fail() {
    throw EWriteError("Cannot write file \"" + finalName_ + "\". " + platform::LastErrorText());
  }

  std::string finalName_;
  std::string tempName_;
  platform::FileHandle handle_ = platform::kInvalidHandle;
  std::string buffer_;
  std::int64_t position_ = 0;
  bool committed_ = false;
};

// Splits a name at "\" and "/" (never at the trail byte of a double-byte
// character when the name is in the system code page).
template <class F>
void ForEachComponent(const std::string& path, bool codePage, F f) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (codePage && platform::IsLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') {
      f(path.substr(start, i - start), true);
      start = i + 1;
    }
  }
  if (start < path.size()) f(path.substr(start), false);
}

// Why one file or folder name taken from an archive may not be created as it
// stands ("" when it may): only dots and spaces (Windows trims those, so ".. "
// would be the parent), a NUL (it would cut the name short), or on Windows a
// name that the system would turn into another.
std::string NameFault(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.find('\0') != std::string::npos) return "NUL in the name";
  if (name.find_first_not_of(". ") == std::string::npos) return "a name of dots and spaces";
  return platform::kIsWindows ? names::WindowsNameFault(name) : std::string();
}

// Resolves the "." and ".." parts of a folder path taken from an archive and
// drops its empty parts. False, with the reason in fault, when it would climb
// above where it starts or holds a name that is not safe to create. A last
// part without a separator after it (an entry name split at a drive colon)
// is kept as it is, for the file name to follow it.
bool ConfineFolder(const std::string& folder, bool codePage, std::string& out, std::string& fault) {
  std::vector<std::string> parts;
  std::string tail;
  ForEachComponent(folder, codePage, [&](const std::string& part, bool closed) {
    if (!fault.empty()) return;
    if (!closed) {
      // Only Windows splits at a colon; there one left in the folder part
      // would name a stream.
      fault = NameFault(part);
      tail = part;
      return;
    }
    if (part.empty() || part == ".") return;
    if (part == "..") {
      if (parts.empty()) {
        fault = "leads outside the destination";
      } else {
        parts.pop_back();
      }
      return;
    }
    fault = NameFault(part);
    parts.push_back(part);
  });
  if (!fault.empty()) return false;
  out.clear();
  for (const std::string& part : parts) out += part + "\\";
  out += tail;
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (platform::IsLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') cut = i + 1;
  }
  return path.substr(0, cut);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && names::SameText(text.substr(0, prefix.size()), prefix);
}

void SetEntryAttributes(const TZipHeaderInfo& entry, const std::string& name) {
  platform::FileSetAttr(name, entry.ExternalFileAttributes);
  const std::uint32_t mode = entry.ExternalFileAttributes >> 16;
  // Unix permissions, but not for a link's text, which is extracted as a
  // plain file and keeps the usual ones.
  if ((entry.VersionMadeBy >> 8) == kHostUnix && mode != 0 && (mode & kUnixTypeMask) != kUnixSymlink) {
    platform::FileSetPermissions(name, mode & 0777);
  }
}

bool MoveIntoPlace(TOutputFile& file, const std::string& fName, bool replaceReadOnly, std::string& reason) {
  if (file.Commit(reason)) return true;
  // Windows will not replace a read-only file.
  const std::int32_t attr = platform::FileGetAttr(fName);
  if (!replaceReadOnly || attr == -1 || (attr & platform::faReadOnly) == 0) return false;
  platform::FileSetAttr(fName, static_cast<std::uint32_t>(attr) & ~platform::faReadOnly);
  return file.Commit(reason);
}

// Gives the run's state back on every way out of it (also to a run that a
// handler started inside another one).
class RunGuard {
 public:
  RunGuard(bool& keepOpen, TDecodeContext*& context)
      : keepOpen_(keepOpen), saved_(keepOpen), context_(context), savedContext_(context) {
    keepOpen_ = true;
  }
  ~RunGuard() {
    context_ = savedContext_;
    keepOpen_ = saved_;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  bool& keepOpen_;
  bool saved_;
  TDecodeContext*& context_;
  TDecodeContext* savedContext_;
};

}  // namespace

std::int32_t TUnZip::UnZipFiles() {
  if (destDir_ == "?") return 0;
  LoadDirectory();
  OpenArchive();
  const std::int32_t count = RunExtraction(*archiveStream_);
  CloseArchive();
  return count;
}

std::int32_t TUnZip::RunExtraction(TS_BufferStream& /*stream*/) {
  RunGuard guard(keepZipOpen_, decodeContext_);
  skipRetry_ = false;
  extractedCount_ = 0;
  bool sortChanged = false;
  const TZipSortMode savedSort = sortMode_;

  auto finish = [&]() {
    decodeContext_ = nullptr;
    filesList_.Clear();
    if (sortChanged) ApplySortMode(savedSort);
    if (OnUnZipComplete) OnUnZipComplete(this, extractedCount_);
  };

  try {
    TDecodeContext context(*this);
    decodeContext_ = &context;
    if (!testMode_ && !destDir_.empty() && !platform::DirExists(destDir_)) platform::ForceDirs(destDir_);

    if (endCentral_->ThisDisk != 0 && sortMode_ != ByNone) {
      ApplySortMode(ByNone);
      sortChanged = true;
    }

    CheckEntriesApart();
    runTotalBytes_ = 0;
    runBytesDone_ = 0;
    std::int32_t filesToDo = Count();
    // DoAll also takes the folder entries it does not recreate.
    std::vector<bool> taken(static_cast<std::size_t>(Count()));
    for (std::int32_t i = 0; i < Count(); ++i) {
      TZipHeaderInfo* entry = View()->Items(i);
      entry->MatchFlag = doAll_;
      // The matcher folds letter case itself.
      const std::string stored = entry->StoredPath();
      if (entry->FileName().empty() && !recreateDirs_) {
        entry->MatchFlag = false;
      } else {
        for (const std::string& line : filesList_.Lines()) {
          if (entry->MatchFlag) break;
          if (WildcardMatches(line, stored)) entry->MatchFlag = true;
        }
      }
      const bool excluded = std::any_of(excludeList_.Lines().begin(), excludeList_.Lines().end(),
                                        [&](const std::string& line) { return WildcardMatches(line, stored); });
      if (excluded) entry->MatchFlag = false;
      taken[static_cast<std::size_t>(i)] = entry->MatchFlag || (doAll_ && !excluded);
      if (entry->MatchFlag) {
        runTotalBytes_ += entry->UncompressedSize;
      } else {
        --filesToDo;
      }
    }

    bool stopNow = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(this, filesToDo, runTotalBytes_, stopNow);

    if (filesToDo > 0 && !stopNow) {
      for (std::int32_t i = 0; i < Count(); ++i) {
        if (!taken[static_cast<std::size_t>(i)]) continue;
        do {
          ExtractEntry(i);
        } while (retryEntry_);
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return extractedCount_;
}

namespace {

constexpr std::int64_t kLocalHeaderSize = 30;

struct Span {
  std::int64_t disk;
  std::int64_t start;  // the local header
  const TZipHeaderInfo* entry;
};

[[noreturn]] void ThrowOverlap(const TZipHeaderInfo& entry, const std::string& what) {
  throw EBadZipFile("The data of \"" + entry.StoredPath() + "\" overlaps " + what + " (possible zip bomb)");
}

}  // namespace

void TUnZip::CheckEntriesApart() {
  // Data decoded again through another entry's name would multiply the output
  // without limit: entries in the order of their local headers, each one's
  // smallest possible end must come before the next header.
  std::vector<Span> spans;
  spans.reserve(static_cast<std::size_t>(directory_ ? directory_->Count() : 0));
  for (std::int32_t i = 0; directory_ && i < directory_->Count(); ++i) {
    const TZipHeaderInfo* e = directory_->Items(i);
    spans.push_back({static_cast<std::int64_t>(e->DiskNumberStart), static_cast<std::int64_t>(e->RelativeOffsetOfLocalHeader), e});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.disk != b.disk ? a.disk < b.disk : a.start < b.start; });
  const TEndCentral& end = *endCentral_;
  dataLimits_.clear();
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const Span& s = spans[i];
    std::int64_t limit = -1;
    std::string what;
    if (i + 1 < spans.size() && spans[i + 1].disk == s.disk) {
      limit = spans[i + 1].start;
      what = "the local header of \"" + spans[i + 1].entry->StoredPath() + "\"";
    } else if (centralInArchive_ && !localScan_ && static_cast<std::int64_t>(end.CentralDisk) == s.disk) {
      limit = static_cast<std::int64_t>(end.CentralDirOffset);
      what = "the central directory";
    }
    if (limit < 0) continue;  // the data may go on to the next disk
    if (s.start + kLocalHeaderSize + static_cast<std::int64_t>(s.entry->CompressedSize) > limit) ThrowOverlap(*s.entry, what);
    dataLimits_[s.entry] = limit;
  }
}

std::optional<std::string> TUnZip::ComposeDestDir(std::string& fault) const {
  // An empty DestDir is the current folder: names stay relative.
  const std::string base = destDir_.empty() ? std::string() : destDir_ + "\\";
  const TZipHeaderInfo& entry = *currentEntry_;
  if (!recreateDirs_ || entry.Directory().empty()) return base;
  std::string d = entry.Directory();
  if (!rootDir_.empty() && StartsWithIgnoringCase(d, rootDir_)) d.erase(0, rootDir_.size());
  // A stored path from the root, or from a drive, goes below the destination
  // all the same. POSIX has no drives: there a colon is part of the name.
  if (platform::kIsWindows && d.size() >= 2 && d[1] == ':') {
    d.erase(0, 2);
  }
  std::string confined;
  if (!ConfineFolder(d, true, confined, fault)) return std::nullopt;
  return base + confined;
}

void TUnZip::SkipEntry() { runTotalBytes_ -= currentEntry_->UncompressedSize; }

void TUnZip::SkipUncreatable(std::int32_t Index, const std::string& name, const std::string& reason) {
  skipDetail_ = reason;
  if (OnSkippingFile) OnSkippingFile(this, skCannotCreate, name, Index, skipRetry_);
  skipDetail_.clear();
  SkipEntry();
}

void TUnZip::ExtractEntry(std::int32_t Index) {
  retryEntry_ = false;
  aesDecryptor_.reset();
  LocateEntry(Index);
  TZipHeaderInfo& entry = *currentEntry_;
  const std::optional<WinZipAesField> aes = WinZipAesOf(entry);
  const bool isFile = !entry.FileName().empty();
  const std::int64_t dataStart = isFile && archiveStream_ ? archiveStream_->Position() : 0;
  if (isFile && archiveStream_) {
    // With the local header's true length the data's end is known exactly.
    const auto limit = dataLimits_.find(View()->Items(Index));
    if (limit != dataLimits_.end() &&
        dataStart + static_cast<std::int64_t>(entry.CompressedSize) > limit->second) {
      ThrowOverlap(entry, "the entry after it");
    }
  }

  const std::string base = destDir_.empty() ? std::string() : destDir_ + "\\";
  std::string unsafe;
  const std::optional<std::string> dir = ComposeDestDir(unsafe);
  if (dir && isFile) unsafe = NameFault(entry.FileName());
  // A "?" in place of a character would name another file.
  if (entry.NameUnrepresentable && !testMode_) unsafe = "its name has characters the system code page cannot hold";
  if (!dir || !unsafe.empty()) {
    // The archive's name would lead out of the destination or become another
    // name: never written.
    SkipUncreatable(Index, entry.StoredPath(), unsafe);
    return;
  }

  if (!isFile) {
    if (recreateDirs_ && !testMode_ && !dir->empty() && !platform::ForceDirsBeneath(base, *dir)) {
      SkipUncreatable(Index, *dir, "a link or file is in the way");
      return;
    }
    ++extractedCount_;
    return;
  }

  std::string fName = *dir + entry.FileName();
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, Index, fName, skip);
  if (skip) return;

  // Without a decoder only an empty entry can be made; anything else is
  // reported and left out, and the run goes on.
  const std::uint16_t method = aes ? aes->Method : entry.CompressionMethod;
  const bool decodable = MethodDecodable(method);
  if (!decodable && entry.UncompressedSize != 0) {
    if (OnSkippingFile) OnSkippingFile(this, skUnsupportedMethod, entry.StoredPath(), Index, skipRetry_);
    SkipEntry();
    return;
  }

  if (!testMode_) {
    // Folders the archive names are never reached through a link; a handler
    // may have chosen a place of its own.
    const std::string folder = FolderOf(fName);
    const bool made = folder.compare(0, base.size(), base) == 0 ? platform::ForceDirsBeneath(base, folder)
                                                                 : folder.empty() || platform::ForceDirs(folder);
    if (!made) {
      SkipUncreatable(Index, fName, "a link or file is in the way");
      return;
    }
  }

  if (entry.IsEncrypted() && !(aes ? CheckAesPassword(Index, *aes) : CheckPassword(Index))) {
    if (OnSkippingFile) OnSkippingFile(this, skBadPassword, entry.StoredPath(), Index, skipRetry_);
    SkipEntry();
    return;
  }

  // A link or special file of that name counts as existing and is replaced
  // or kept like a file, never opened.
  if (!testMode_ && overwriteMode_ != Always && platform::NameTaken(fName)) {
    bool overWriteIt = false;
    switch (overwriteMode_) {
      case Prompt:
        if (OnPromptForOverwrite) {
          OnPromptForOverwrite(this, overWriteIt, Index, fName);
        } else {
          overWriteIt = platform::Ui().ShowMessage("Replace existing file " + EntryFileName(Index) + "?",
                                                   "File Exists Alert",
                                                   platform::Buttons::YesNo) == platform::Answer::Yes;
        }
        break;
      case ifNewer:
      case ifOlder: {
        const std::int32_t age = platform::FileAge(fName);
        const std::uint32_t mine = FixDosDateTime(entry.LastModFileDateTime);
        const auto theirs = static_cast<std::uint32_t>(age);
        if (age != -1) overWriteIt = overwriteMode_ == ifNewer ? mine > theirs : mine < theirs;
        break;
      }
      default:
        break;
    }
    if (!overWriteIt) {
      if (OnSkippingFile) OnSkippingFile(this, skNotOverwritten, fName, Index, skipRetry_);
      SkipEntry();
      return;
    }
  }

  TOutputFile* file = nullptr;
  if (testMode_) {
    if (testOutput_) {
      outStream_ = std::make_unique<TForwardStream>(*testOutput_);
    } else {
      outStream_ = std::make_unique<TNullStream>();
    }
  } else {
    try {
      auto created = std::make_unique<TOutputFile>(fName, kOutputBufferSize);
      file = created.get();
      outStream_ = std::move(created);
    } catch (const EFCreateError& e) {
      SkipUncreatable(Index, fName, e.Message());
      return;
    }
  }

  // Decode. The stream may have been moved (a handler reading a comment, the
  // password test), so it goes back to the entry's data. Whatever ends the
  // run here takes the unfinished file with it.
  DecodeResult result = DecodeResult::DamagedData;
  try {
    TDecodeContext& ctx = *decodeContext_;
    ctx.ResetForEntry(entry.CompressedSize, entry.UncompressedSize);
    const std::int32_t header =
        !entry.IsEncrypted() ? 0 : aes ? aes->SaltLength() + kAesVerifierSize : kEncryptionHeaderSize;
    if (archiveStream_) archiveStream_->Seek(dataStart + header, soFromBeginning);
    result = decodable ? DecodeEntry(ctx, method, entry.BitFlag) : DecodeResult::UnknownMethod;
    // A failed authentication code fails the entry like a wrong CRC.
    if (aesDecryptor_ && result != DecodeResult::DamagedData && !AesEntryAuthentic()) {
      result = DecodeResult::DamagedData;
    }
    if (file && result != DecodeResult::DamagedData) file->Finish(flushFilesOnClose_, entry);
  } catch (...) {
    outStream_.reset();
    throw;
  }

  // An entry of a method nobody decodes only passes when it is empty.
  const std::uint32_t calculated = ~crc_;
  const bool crcMatches = calculated == entry.CRC32 || (aes && !aes->ChecksCrc());
  const bool matches = crcMatches && (result == DecodeResult::Decoded ||
                                      (result == DecodeResult::UnknownMethod && entry.UncompressedSize == 0));
  if (matches) {
    std::string reason;
    if (file) {
      if (retainAttributes_) SetEntryAttributes(entry, file->TempName());
      if (!MoveIntoPlace(*file, fName, replaceReadOnly_, reason)) {
        outStream_.reset();
        SkipUncreatable(Index, fName, reason);
        return;
      }
    }
    outStream_.reset();
    if (OnEndUnZip) OnEndUnZip(this, Index, fName);
    ++extractedCount_;
    return;
  }
  outStream_.reset();
  if (entry.IsEncrypted()) {
    if (OnBadPassword) {
      std::string tried = password_;
      OnBadPassword(this, Index, tried);
      if (tried != password_) {
        password_ = tried;
        retryEntry_ = true;
      }
    }
    if (!retryEntry_ && OnSkippingFile) OnSkippingFile(this, skBadPassword, entry.StoredPath(), Index, skipRetry_);
  } else if (OnBadCRC) {
    OnBadCRC(this, static_cast<std::int32_t>(calculated), static_cast<std::int32_t>(entry.CRC32), Index);
  }
}

}  // namespace quv
