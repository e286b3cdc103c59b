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

constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixSymlink = 0120000;
constexpr std::int32_t kEncryptionHeaderSize = 12;
// Output files take whole blocks of decoded output (up to 32 KB, and Inflate
// hands over more at once) and write them in few large system calls.
constexpr std::int32_t kOutputBufferSize = 128 * 1024;

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

// An output file that knows its own position, so the decoders' size guard
// costs no system call per block.
class TOutputFile final : public TStream {
 public:
  TOutputFile(const std::string& name, std::int32_t bufSize, bool flushOnClose)
      : file_(name, bufSize, flushOnClose, platform::fmCreate) {}
  std::string ClassName() const override { return "TOutputFile"; }
  std::int32_t Read(void* buffer, std::int32_t count) override { return file_.Read(buffer, count); }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    const std::int32_t n = file_.Write(buffer, count);
    if (n > 0) position_ += n;
    return n;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    if (offset == 0 && origin == soFromCurrent) return position_;
    position_ = file_.Seek(offset, origin);
    return position_;
  }
  std::int64_t Size() override { return file_.Size(); }

 private:
  TLFNFileStream file_;
  std::int64_t position_ = 0;
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

// Names of Windows devices, which a file of that name (with any extension)
// would reach instead of a file.
bool IsDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && (stem.back() == ' ' || stem.back() == ':')) stem.pop_back();
  stem = names::UpperCase(stem);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

// Whether one file or folder name taken from an archive may be created as it
// stands: not only dots and spaces (Windows trims those, so ".. " would be
// the parent), no NUL (it would cut the name short), no device.
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  if (name.find('\0') != std::string::npos) return false;
  if (name.find_first_not_of(". ") == std::string::npos) return false;
  return !(platform::kIsWindows && IsDeviceName(name));
}

// Resolves the "." and ".." parts of a folder path taken from an archive and
// drops its empty parts. False when it would climb above where it starts or
// holds a name that is not safe to create. A last part without a separator
// after it (an entry name split at a colon) is kept as it is, for the file
// name to follow it.
bool ConfineFolder(const std::string& folder, bool codePage, std::string& out) {
  std::vector<std::string> parts;
  std::string tail;
  bool safe = true;
  ForEachComponent(folder, codePage, [&](const std::string& part, bool closed) {
    if (!closed) {
      if (part.find('\0') != std::string::npos) safe = false;
      tail = part;
      return;
    }
    if (part.empty() || part == ".") return;
    if (part == "..") {
      if (parts.empty()) {
        safe = false;
      } else {
        parts.pop_back();
      }
      return;
    }
    if (!IsPlainName(part)) safe = false;
    parts.push_back(part);
  });
  if (!safe) return false;
  out.clear();
  for (const std::string& part : parts) out += part + "\\";
  out += tail;
  return true;
}

// The folder part of a path, up to and including its last separator.
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

std::optional<std::string> TUnZip::ComposeDestDir() const {
  // An empty DestDir is the current folder: names stay relative.
  const std::string base = destDir_.empty() ? std::string() : destDir_ + "\\";
  const TZipHeaderInfo& entry = *currentEntry_;
  if (!recreateDirs_ || entry.Directory().empty()) return base;
  std::string d = entry.Directory();
  if (!rootDir_.empty() && StartsWithIgnoringCase(d, rootDir_)) d.erase(0, rootDir_.size());
  // A stored path from the root, or from a drive, goes below the destination
  // all the same.
  if (d.size() >= 2 && d[1] == ':') {
    d.erase(0, 2);
  }
  std::string confined;
  if (!ConfineFolder(d, (entry.BitFlag & kUtf8NameFlag) == 0, confined)) return std::nullopt;
  return base + confined;
}

void TUnZip::SkipEntry() { runTotalBytes_ -= currentEntry_->UncompressedSize; }

void TUnZip::ExtractEntry(std::int32_t Index) {
  retryEntry_ = false;
  LocateEntry(Index);
  TZipHeaderInfo& entry = *currentEntry_;
  const bool isFile = !entry.FileName().empty();
  const std::int64_t dataStart = isFile && archiveStream_ ? archiveStream_->Position() : 0;

  const std::optional<std::string> dir = ComposeDestDir();
  const bool nameSafe = !isFile || IsPlainName(entry.FileName());
  if (!dir || !nameSafe) {
    // The archive's name would lead out of the destination: never written.
    if (OnSkippingFile) OnSkippingFile(this, skCannotCreate, entry.StoredPath(), Index, skipRetry_);
    SkipEntry();
    return;
  }

  if (!isFile) {
    if (recreateDirs_ && !testMode_ && !dir->empty() && !platform::DirExists(*dir)) platform::ForceDirs(*dir);
    ++extractedCount_;
    return;
  }

  std::string fName = *dir + entry.FileName();
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, Index, fName, skip);
  if (skip) return;

  // Without a decoder only an empty entry can be made; anything else is
  // reported and left out, and the run goes on.
  const bool decodable = MethodDecodable(entry.CompressionMethod);
  if (!decodable && entry.UncompressedSize != 0) {
    if (OnSkippingFile) OnSkippingFile(this, skUnsupportedMethod, entry.StoredPath(), Index, skipRetry_);
    SkipEntry();
    return;
  }

  if (!testMode_) {
    const std::string folder = FolderOf(fName);
    if (!folder.empty() && !platform::DirExists(folder)) platform::ForceDirs(folder);
  }

  if (entry.IsEncrypted() && !CheckPassword(Index)) {
    if (OnSkippingFile) OnSkippingFile(this, skBadPassword, entry.StoredPath(), Index, skipRetry_);
    SkipEntry();
    return;
  }

  if (!testMode_ && overwriteMode_ != Always && platform::FileExists(fName)) {
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

  if (testMode_) {
    if (testOutput_) {
      outStream_ = std::make_unique<TForwardStream>(*testOutput_);
    } else {
      outStream_ = std::make_unique<TNullStream>();
    }
  } else {
    bool retried = false;
    for (;;) {
      try {
        outStream_ = std::make_unique<TOutputFile>(fName, kOutputBufferSize, flushFilesOnClose_);
        break;
      } catch (const EFCreateError&) {
        if (replaceReadOnly_ && !retried) {
          retried = true;
          const std::int32_t attr = platform::FileGetAttr(fName);
          if (attr != -1 && (attr & platform::faReadOnly) != 0) {
            platform::FileSetAttr(fName, static_cast<std::uint32_t>(attr) & ~platform::faReadOnly);
          }
          continue;
        }
      } catch (const std::exception&) {
      }
      if (OnSkippingFile) OnSkippingFile(this, skCannotCreate, fName, Index, skipRetry_);
      SkipEntry();
      return;
    }
  }

  // Decode. The stream may have been moved (a handler reading a comment, the
  // password test), so it goes back to the entry's data.
  bool success = false;
  try {
    TDecodeContext& ctx = *decodeContext_;
    ctx.ResetForEntry(entry.CompressedSize, entry.UncompressedSize);
    if (archiveStream_) {
      archiveStream_->Seek(dataStart + (entry.IsEncrypted() ? kEncryptionHeaderSize : 0), soFromBeginning);
    }
    if (decodable) DecodeEntry(ctx, entry.CompressionMethod, entry.BitFlag);
    success = true;
  } catch (const EBiggerThanUncompressed&) {
    success = false;
  } catch (...) {
    outStream_.reset();
    throw;
  }

  outStream_.reset();
  if (success && !testMode_) {
    const platform::FileHandle h = platform::FileOpen(fName, platform::fmOpenWrite | platform::fmShareDenyNone);
    if (h != platform::kInvalidHandle) {
      // The exact time when the archive has one; the DOS date is local time
      // in 2-second steps.
      if (!entry.UtcModified || !platform::FileSetUtcTime(h, *entry.UtcModified))
        platform::FileSetDate(h, static_cast<std::int32_t>(FixDosDateTime(entry.LastModFileDateTime)));
      platform::FileClose(h);
    }
    if (retainAttributes_) {
      platform::FileSetAttr(fName, entry.ExternalFileAttributes);
      const std::uint32_t mode = entry.ExternalFileAttributes >> 16;
      // Unix permissions, but not for a link's text, which is extracted as a
      // plain file and keeps the usual ones.
      if ((entry.VersionMadeBy >> 8) == kHostUnix && mode != 0 && (mode & kUnixTypeMask) != kUnixSymlink) {
        platform::FileSetPermissions(fName, mode & 0777);
      }
    }
  }

  const std::uint32_t calculated = ~crc_;
  const bool matches = calculated == entry.CRC32;
  if (matches) {
    if (OnEndUnZip) OnEndUnZip(this, Index, fName);
    ++extractedCount_;
    return;
  }
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
  if (!testMode_) platform::FileDelete(fName);
}

}  // namespace quv
