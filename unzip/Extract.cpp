// The extraction run: selecting entries, composing each output path, the
// overwrite rule, the password test, decoding through the run's decoding
// state (or taking what a worker decoded ahead), the CRC check, and moving
// the stamped file into place.
#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decompress/DecodeContext.h"
#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/ExtractionRun.h"
#include "unzip/FileNames.h"
#include "unzip/OutputFile.h"
#include "unzip/ParallelDecode.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"
#include "zip/Text.h"
#include "zip/Utils.h"
#include "zip/Wildcard.h"

namespace quv {

namespace {

constexpr std::int32_t kEncryptionHeaderSize = 12;
constexpr std::int64_t kLocalHeaderSize = 30;
// Flag bit 6: the data is under the strong encryption whose keys come from
// certificates or a password through a scheme this engine does not read.
constexpr std::uint16_t kStrongEncryptionFlag = 0x0040;

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

// Splits a name at "\" and "/" (never at the trail byte of a double-byte
// character when the name is in the system code page).
template <class F>
void ForEachComponent(std::string_view path, bool codePage, F f) {
  std::size_t start = 0;
  text::ForEachChar(
      path,
      [&](std::size_t at, unsigned char c) {
        if (c != '\\' && c != '/') return;
        f(path.substr(start, at - start), true);
        start = at + 1;
      },
      codePage);
  if (start < path.size()) f(path.substr(start), false);
}

// Why one file or folder name taken from an archive may not be created as it
// stands ("" when it may): only dots and spaces (Windows trims those, so ".. "
// would be the parent), a NUL (it would cut the name short), or on Windows a
// name that the system would turn into another.
std::string NameFault(std::string_view name) {
  if (name.empty()) return "empty name";
  if (name.find('\0') != std::string_view::npos) return "NUL in the name";
  if (name.find_first_not_of(". ") == std::string_view::npos) return "a name of dots and spaces";
  return platform::kIsWindows ? names::WindowsNameFault(std::string(name)) : std::string();
}

// Resolves the "." and ".." parts of a folder path taken from an archive and
// drops its empty parts. False, with the reason in fault, when it would climb
// above where it starts or holds a name that is not safe to create. A last
// part without a separator after it (an entry name split at a drive colon)
// is kept as it is, for the file name to follow it.
bool ConfineFolder(std::string_view folder, bool codePage, std::string& out, std::string& fault) {
  std::vector<std::string_view> parts;
  std::string_view tail;
  ForEachComponent(folder, codePage, [&](std::string_view part, bool closed) {
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
  for (const std::string_view part : parts) {
    out += part;
    out += '\\';
  }
  out += tail;
  return true;
}

bool StartsWithIgnoringCase(std::string_view whole, std::string_view prefix) {
  return whole.size() >= prefix.size() && text::SameText(whole.substr(0, prefix.size()), prefix);
}

// A name as the file system compares it (Windows ignores letter case),
// hashed: a run keeps one for every file it writes, and two names with one
// hash only cost a look at the disk.
std::size_t NameKey(const std::string& name) {
  if constexpr (platform::kIsWindows) return std::hash<std::string>()(text::UpperAscii(name));
  return std::hash<std::string>()(name);
}

// A link's target is a path, and no system takes one longer than this.
constexpr std::int64_t kLongestLinkTarget = 4096;

// What a link's data decodes to: its target.
class TTextSink final : public TStream {
 public:
  std::string text;
  std::string ClassName() const override { return "TTextSink"; }
  std::int32_t Read(void* /*buffer*/, std::int32_t /*count*/) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count > 0) text.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count > 0 ? count : 0;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    if (offset == 0 && origin == soFromCurrent) return static_cast<std::int64_t>(text.size());
    throw EStreamError("Link targets are written in sequence");
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(text.size()); }
};

// How many folders below base path lies ("a\b\l": 2); none when it is not
// below it or climbs on its way.
std::optional<std::size_t> DepthBelow(const std::string& base, const std::string& path) {
  if (path.compare(0, base.size(), base) != 0) return std::nullopt;
  std::size_t depth = 0;
  bool climbs = false;
  ForEachComponent(std::string_view(path).substr(base.size()), false, [&](std::string_view part, bool closed) {
    if (part == "..") climbs = true;
    if (closed && !part.empty() && part != ".") ++depth;
  });
  if (climbs) return std::nullopt;
  return depth;
}

// Whether a link's target, taken from a folder depth folders below the
// destination, stays inside it: relative, with ".." only at its start and
// no more of them than that depth. A ".." after a name could climb out
// through a link of that name, so it counts as leaving. Split at "\" too,
// as entry names are: stricter than the system needs, never looser.
bool LinkStaysInside(const std::string& target, std::size_t depth) {
  if (target.empty() || target[0] == '/') return false;
  bool descended = false;
  bool inside = true;
  ForEachComponent(target, false, [&](std::string_view part, bool) {
    if (part == "..") {
      inside = inside && !descended && depth > 0;
      if (depth > 0) --depth;
    } else if (!part.empty() && part != ".") {
      descended = true;
    }
  });
  return inside;
}

struct Span {
  std::int64_t start;  // the local header
  std::uint32_t disk;
  std::int32_t index;  // in the sorted view
};

[[noreturn]] void ThrowOverlap(const TZipHeaderInfo& entry, const std::string& what) {
  throw EBadZipFile("The data of \"" + entry.StoredPath() + "\" overlaps " + what + " (possible zip bomb)");
}

// Keeps the archive open while the run goes on and gives the caller's
// setting back on every way out of it.
class KeepOpenGuard {
 public:
  explicit KeepOpenGuard(TUnZip& zip) : zip_(zip), saved_(zip.KeepZipOpen()) { zip_.SetKeepZipOpen(true); }
  ~KeepOpenGuard() { zip_.SetKeepZipOpen(saved_); }
  KeepOpenGuard(const KeepOpenGuard&) = delete;
  KeepOpenGuard& operator=(const KeepOpenGuard&) = delete;

 private:
  TUnZip& zip_;
  bool saved_;
};

}  // namespace

std::int32_t TUnZip::UnZipFiles() {
  if (settings_.destDir == "?") return 0;
  LoadDirectory();
  OpenArchive();
  TExtractionRun run(*this, *reader_, *this, settings_);
  const std::int32_t count = run.Execute();
  CloseArchive();
  return count;
}

// ---- hashes of written names ----------------------------------------------------

std::uint32_t THashSet::Fold(std::uint64_t hash) {
  const auto key = static_cast<std::uint32_t>(hash ^ (hash >> 32));
  return key != 0 ? key : 1;
}

bool THashSet::Contains(std::uint64_t hash) const {
  const std::uint32_t key = Fold(hash);
  return !slots_.empty() && slots_[SlotOf(key)] == key;
}

void THashSet::Insert(std::uint64_t hash) {
  const std::uint32_t key = Fold(hash);
  // At most half full: probes stay short.
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  std::uint32_t& slot = slots_[SlotOf(key)];
  if (slot == key) return;
  slot = key;
  ++count_;
}

std::size_t THashSet::SlotOf(std::uint32_t key) const {
  const std::size_t mask = slots_.size() - 1;
  // The keys are string hashes: their low bits are already well mixed.
  std::size_t at = key & mask;
  while (slots_[at] != 0 && slots_[at] != key) at = (at + 1) & mask;
  return at;
}

void THashSet::Grow() {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(std::max<std::size_t>(16, old.size() * 2), 0);
  for (const std::uint32_t key : old) {
    if (key != 0) slots_[SlotOf(key)] = key;
  }
}

// ---- the run ---------------------------------------------------------------------

TExtractionRun::TExtractionRun(TUnZip& zip, TArchiveReader& reader, TRunReports& reports, const TUnZipSettings& settings)
    : zip_(zip),
      reader_(reader),
      reports_(reports),
      settings_(settings),
      base_(BaseOf(settings_.destDir)),
      context_(zip, *this),
      memory_(settings_.memoryBudget) {}

TExtractionRun::~TExtractionRun() = default;

std::int32_t TExtractionRun::Execute() {
  KeepOpenGuard guard(zip_);
  bool sortChanged = false;
  const TZipSortMode savedSort = zip_.SortMode();

  auto finish = [&]() {
    parallel_.reset();
    tree_.reset();
    reports_.NotePeakMemory(memory_.Peak());
    zip_.FilesList().Clear();
    if (sortChanged) zip_.ApplySortMode(savedSort);
    if (zip_.OnUnZipComplete) zip_.OnUnZipComplete(&zip_, extracted_);
  };

  try {
    const std::string& destDir = settings_.destDir;
    if (!settings_.testMode && !destDir.empty() && !platform::DirExists(destDir)) platform::ForceDirs(destDir);
    if (!settings_.testMode) tree_ = std::make_unique<platform::OutputTree>(Base());

    // The disks of a set are visited in order.
    if (zip_.EndCentral().ThisDisk != 0 && zip_.SortMode() != ByNone) {
      zip_.ApplySortMode(ByNone);
      sortChanged = true;
    }

    CheckEntriesApart();
    std::vector<bool> taken;
    const std::int32_t filesToDo = SelectEntries(taken);

    bool stopNow = false;
    if (zip_.OnStartUnZipInfo) zip_.OnStartUnZipInfo(&zip_, filesToDo, totalBytes_, stopNow);

    if (filesToDo > 0 && !stopNow) {
      StartParallelDecoding(taken);
      for (std::int32_t i = 0; i < zip_.Count(); ++i) {
        if (!taken[static_cast<std::size_t>(i)]) continue;
        StopIfCancelled();
        do {
          ExtractEntry(i);
        } while (retryEntry_);
      }
      MakeLinks();
    }
  } catch (...) {
    finish();
    // The request is answered; the next run starts afresh.
    zip_.CancelRequest() = false;
    throw;
  }
  finish();
  return extracted_;
}

void TExtractionRun::StopIfCancelled() const {
  if (zip_.CancelRequest().load(std::memory_order_relaxed)) throw EUserCanceled("Run cancelled, unfinished files removed");
}

std::int32_t TExtractionRun::SelectEntries(std::vector<bool>& taken) {
  const std::int32_t count = zip_.Count();
  std::int32_t filesToDo = count;
  totalBytes_ = 0;
  bytesDone_ = 0;
  // DoAll also takes the folder entries it does not recreate.
  taken.assign(static_cast<std::size_t>(count), false);
  for (std::int32_t i = 0; i < count; ++i) {
    TZipHeaderInfo* entry = reader_.View()->Items(i);
    entry->MatchFlag = settings_.doAll;
    // The matcher folds letter case itself.
    const std::string stored = entry->StoredPath();
    // An entry with no name at all is no folder entry: it is taken, and reported.
    const bool folderEntry = entry->FileNameView().empty() && !entry->StoredPathView().empty();
    if (folderEntry && !settings_.recreateDirs) {
      entry->MatchFlag = false;
    } else {
      for (const std::string& line : settings_.filesList.Lines()) {
        if (entry->MatchFlag) break;
        if (WildcardMatches(line, stored)) entry->MatchFlag = true;
      }
    }
    const auto& excludes = settings_.excludeList.Lines();
    const bool excluded = std::any_of(excludes.begin(), excludes.end(),
                                      [&](const std::string& line) { return WildcardMatches(line, stored); });
    if (excluded) entry->MatchFlag = false;
    taken[static_cast<std::size_t>(i)] = entry->MatchFlag || (settings_.doAll && !excluded);
    if (entry->MatchFlag) {
      totalBytes_ += entry->UncompressedSize;
    } else {
      --filesToDo;
    }
  }
  return filesToDo;
}

void TExtractionRun::CheckEntriesApart() {
  // Data decoded again through another entry's name would multiply the output
  // without limit: entries in the order of their local headers, each one's
  // smallest possible end must come before the next header.
  const TSortedZip* view = reader_.View();
  const std::int32_t count = view ? view->Count() : 0;
  std::vector<Span> spans;
  spans.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const TZipHeaderInfo* e = view->Items(i);
    spans.push_back({e->RelativeOffsetOfLocalHeader, e->DiskNumberStart, i});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.disk != b.disk ? a.disk < b.disk : a.start < b.start; });
  const TEndCentral& end = zip_.EndCentral();
  dataLimits_.assign(static_cast<std::size_t>(count), kNoLimit);
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const Span& s = spans[i];
    const bool nextOnDisk = i + 1 < spans.size() && spans[i + 1].disk == s.disk;
    const bool centralOnDisk = reader_.CentralInArchive() && !zip_.LocalScanDone() && end.CentralDisk == s.disk;
    if (!nextOnDisk && !centralOnDisk) continue;  // the data may go on to the next disk
    const std::int64_t limit = nextOnDisk ? spans[i + 1].start : end.CentralDirOffset;
    const TZipHeaderInfo& entry = *view->Items(s.index);
    if (s.start + kLocalHeaderSize + entry.CompressedSize > limit) {
      ThrowOverlap(entry, nextOnDisk ? "the local header of \"" + view->Items(spans[i + 1].index)->StoredPath() + "\""
                                     : std::string("the central directory"));
    }
    dataLimits_[static_cast<std::size_t>(s.index)] = limit;
  }
}

std::int64_t TExtractionRun::DataLimit(std::int32_t index) const {
  return std::cmp_less(index, dataLimits_.size()) ? dataLimits_[static_cast<std::size_t>(index)] : kNoLimit;
}

void TExtractionRun::StartParallelDecoding(const std::vector<bool>& taken) {
  // Sets of disks may need the user between entries; passwords are asked
  // for in order; the caller's test output takes the bytes in order.
  const bool parallel = settings_.threads > 1 && zip_.EndCentral().ThisDisk == 0 &&
                        !(settings_.testMode && settings_.testOutput != nullptr);
  if (!parallel) return;
  std::vector<TDecodeJob> jobs;
  // Sized once: growing would hold two copies at the end.
  jobs.reserve(static_cast<std::size_t>(zip_.Count()));
  for (std::int32_t i = 0; i < zip_.Count(); ++i) {
    const TZipHeaderInfo* entry = reader_.View()->Items(i);
    if (!taken[static_cast<std::size_t>(i)] || !entry->MatchFlag || entry->FileNameView().empty()) continue;
    if (entry->IsEncrypted() || !MethodDecodable(entry->CompressionMethod) || entry->UncompressedSize == 0) continue;
    if ((entry->NameUnrepresentable && !settings_.testMode) || RestoresLink(*entry)) continue;
    TDecodeJob job;
    job.index = i;
    job.headerOffset = static_cast<std::int64_t>(entry->RelativeOffsetOfLocalHeader);
    job.compressedSize = entry->CompressedSize;
    job.uncompressedSize = entry->UncompressedSize;
    job.dataLimit = DataLimit(i);
    // The local header usually repeats the central one's name and extra field.
    job.headerGuess = static_cast<std::int32_t>(kLocalHeaderSize + entry->StoredPathView().size() + 256);
    job.method = entry->CompressionMethod;
    job.bitFlag = entry->BitFlag;
    job.crc = entry->CRC32;
    job.stamp = StampOf(*entry, settings_.retainAttributes);
    if (!settings_.testMode && settings_.overwriteMode != Always) {
      // An existing file is most likely kept: its entry waits for the answer.
      std::string fault;
      const std::optional<std::string> dir = ComposeDestDir(*entry, fault);
      if (!dir) continue;
      job.target = *dir + entry->FileName();
    }
    jobs.push_back(std::move(job));
  }
  if (jobs.size() < 2) return;
  TParallelSettings settings;
  settings.archive = zip_.ZipName();
  settings.tree = tree_.get();
  settings.tempFolder = Base();
  settings.archiveBufferSize = reader_.StreamBufferSize();
  settings.testMode = settings_.testMode;
  settings.commitToDisk = settings_.flushFilesOnClose;
  settings.recordBlocks = static_cast<bool>(zip_.OnFilePercentDone) || static_cast<bool>(zip_.OnTotalPercentDone);
  settings.threads = static_cast<unsigned>(settings_.threads);
  settings.memory = &memory_;
  settings.cancel = &zip_.CancelRequest();
  parallel_ = std::make_unique<TParallelDecoder>(std::move(settings), std::move(jobs));
}

// ---- one entry ---------------------------------------------------------------------

void TExtractionRun::ExtractEntry(std::int32_t index) {
  retryEntry_ = false;
  std::unique_ptr<TPreparedEntry> prepared = parallel_ ? parallel_->Take(index) : nullptr;
  std::int64_t dataStart = 0;
  if (prepared) {
    // Its worker read the local header already.
    zip_.CurrentEntry().Assign(*reader_.CheckedEntry(index));
  } else {
    dataStart = LocateData(index);
  }
  const TZipHeaderInfo& entry = zip_.CurrentEntry();
  aes_ = WinZipAesOf(entry);
  const bool isFile = !entry.FileNameView().empty();

  std::string unsafe;
  std::optional<platform::Path> unheld;
  const std::optional<std::string> dir = DestinationFolder(entry, unheld, unsafe);
  if (!dir) {
    // The archive's name would lead out of the destination or become another
    // name: never written.
    SkipUncreatable(index, entry.StoredPath(), unsafe);
    return;
  }
  if (!isFile) {
    MakeFolderEntry(index, unheld ? *unheld : platform::Path(*dir));
    return;
  }

  std::string fName = *dir + entry.FileName();
  SetTarget(unheld ? std::move(*unheld) : platform::Path(fName));
  if (!AnnounceEntry(index, fName)) return;
  const bool decodable = MethodDecodable(aes_ ? aes_->Method : entry.CompressionMethod);
  if (!Readable(index, entry, decodable)) return;
  // A link's folders are made with it, after the run's files.
  if (!RestoresLink(entry) && !PrepareFolder(index, fName)) return;
  if (entry.IsEncrypted() && !(aes_ ? zip_.CheckAesPassword(index, *aes_) : zip_.CheckPassword(index))) {
    Skip(index, skBadPassword, entry.StoredPath());
    return;
  }
  if (RestoresLink(entry)) {
    DeferLink(index, fName, dataStart, decodable);
    return;
  }
  if (!MayWrite(index, fName)) return;

  if (prepared) {
    if (CommitPrepared(index, fName, *prepared)) return;
    dataStart = LocateData(index);
  }
  std::optional<Decoded> decoded = Decode(index, fName, dataStart, decodable);
  if (decoded) Conclude(index, fName, *decoded);
}

std::optional<std::string> TExtractionRun::DestinationFolder(const TZipHeaderInfo& entry,
                                                              std::optional<platform::Path>& unheld,
                                                              std::string& unsafe) const {
  // A "?" in place of a character would name another file: the file system
  // gets the UTF-8 name, which the same checks judge.
  if (entry.NameUnrepresentable && !settings_.testMode) {
    unheld = Utf8Target(entry, unsafe);
    // The events get its folder as the system code page shows it.
    if (!unheld) return std::nullopt;
    return unheld->Folder().SystemText();
  }
  return CreatableDestDir(entry, unsafe);
}

bool TExtractionRun::Readable(std::int32_t index, const TZipHeaderInfo& entry, bool decodable) {
  // Without a decoder only an empty entry can be made; anything else is
  // reported and left out, and the run goes on.
  if (!decodable && entry.UncompressedSize != 0) {
    Skip(index, skUnsupportedMethod, entry.StoredPath());
    return false;
  }
  // No password opens it here: none is asked for.
  if (entry.IsEncrypted() && !aes_ && (entry.BitFlag & kStrongEncryptionFlag) != 0) {
    Skip(index, skUnsupportedMethod, entry.StoredPath(), "strong encryption");
    return false;
  }
  return true;
}

std::int64_t TExtractionRun::LocateData(std::int32_t index) {
  zip_.LocateEntry(index);
  const TZipHeaderInfo& entry = zip_.CurrentEntry();
  TS_BufferStream* archive = zip_.ArchiveStream();
  if (entry.FileNameView().empty() || archive == nullptr) return 0;
  const std::int64_t dataStart = archive->Position();
  // With the local header's true length the data's end is known exactly.
  const std::int64_t limit = DataLimit(index);
  if (limit != kNoLimit && dataStart + entry.CompressedSize > limit) {
    ThrowOverlap(entry, "the entry after it");
  }
  return dataStart;
}

std::optional<std::string> TExtractionRun::CreatableDestDir(const TZipHeaderInfo& entry, std::string& fault) const {
  std::optional<std::string> dir = ComposeDestDir(entry, fault);
  if (dir && !entry.FileNameView().empty()) fault = NameFault(entry.FileNameView());
  // No name at all is no folder entry: it would pass for the destination.
  if (entry.StoredPathView().empty()) fault = "the entry has no name";
  if (!fault.empty()) return std::nullopt;
  return dir;
}

std::optional<std::string> TExtractionRun::ComposeDestDir(const TZipHeaderInfo& entry, std::string& fault) const {
  std::optional<std::string> folder = ConfinedFolder(entry.DirectoryView(), true, fault);
  if (folder) folder->insert(0, Base());
  return folder;
}

std::optional<std::string> TExtractionRun::ConfinedFolder(std::string_view stored, bool codePage,
                                                          std::string& fault) const {
  if (!settings_.recreateDirs || stored.empty()) return std::string();
  if (!settings_.rootDir.empty()) {
    const std::string rootDir = codePage ? settings_.rootDir : platform::Path(settings_.rootDir).Utf8();
    if (StartsWithIgnoringCase(stored, rootDir)) stored.remove_prefix(rootDir.size());
  }
  // A stored path from the root, or from a drive, goes below the destination
  // all the same. POSIX has no drives: there a colon is part of the name.
  if (platform::kIsWindows && stored.size() >= 2 && stored[1] == ':') {
    stored.remove_prefix(2);
  }
  std::string confined;
  if (!ConfineFolder(stored, codePage, confined, fault)) return std::nullopt;
  return confined;
}

std::optional<platform::Path> TExtractionRun::Utf8Target(const TZipHeaderInfo& entry, std::string& fault) const {
  const std::string utf8 = entry.Utf8Path().value_or(std::string());
  const std::size_t nameStart = text::AfterLastOf(utf8, "\\", false);
  const std::optional<std::string> folder = ConfinedFolder(std::string_view(utf8).substr(0, nameStart), false, fault);
  if (!folder) return std::nullopt;
  const std::string name = utf8.substr(nameStart);
  if (!name.empty()) fault = NameFault(name);
  if (!fault.empty()) return std::nullopt;
  return platform::Path(Base()) + platform::Path::FromUtf8(*folder + name);
}

void TExtractionRun::MakeFolderEntry(std::int32_t index, const platform::Path& dir) {
  std::string reason;
  if (settings_.recreateDirs && !settings_.testMode && !dir.Empty() && !tree_->MakeFolders(dir, reason)) {
    SkipUncreatable(index, dir.SystemText(), reason);
    return;
  }
  ++extracted_;
}

bool TExtractionRun::AnnounceEntry(std::int32_t index, std::string& fName) {
  bool skip = false;
  if (!zip_.OnStartUnZip) return true;
  const std::string announced = fName;
  zip_.OnStartUnZip(&zip_, index, fName, skip);
  if (fName != announced) SetTarget(platform::Path(fName));
  return !skip;
}

bool TExtractionRun::PrepareFolder(std::int32_t index, const std::string& fName) {
  if (settings_.testMode) return true;
  // Folders below the destination are never reached through a link; a
  // handler may have chosen a place of its own.
  std::string reason;
  const bool made = tree_->MakeFolders(targetFolder_, reason);
  if (!made) SkipUncreatable(index, fName, reason);
  return made;
}

bool TExtractionRun::KnownFree() const {
  return tree_->Made(targetFolder_) && !written_.Contains(NameKey(target_.Utf8()));
}

bool TExtractionRun::MayWrite(std::int32_t index, std::string& fName) {
  if (settings_.testMode) return true;
  if (settings_.overwriteMode == Always) {
    replace_ = ReplaceRule();
    return true;
  }
  // A name found free is taken only while it stays free; a link or special
  // file of that name counts as existing and is replaced or kept like a
  // file, never opened.
  replace_ = platform::Replace::None;
  if (KnownFree()) return true;
  const platform::NameInfo existing = tree_->Look(target_);
  if (!existing.taken) return true;
  if (MayReplace(index, fName, existing)) return true;
  Skip(index, skNotOverwritten, fName);
  return false;
}

bool TExtractionRun::MayReplace(std::int32_t index, std::string& fName, const platform::NameInfo& existing) {
  const TUZOverwriteMode mode = settings_.overwriteMode;
  bool overWriteIt = false;
  switch (mode) {
    case Prompt:
      if (zip_.OnPromptForOverwrite) {
        const std::string asked = fName;
        zip_.OnPromptForOverwrite(&zip_, overWriteIt, index, fName);
        // A name the handler chose is taken as it stands.
        if (fName != asked) SetTarget(platform::Path(fName));
      } else {
        overWriteIt = zip_.Ui().ShowMessage("Replace existing file " + zip_.EntryFileName(index) + "?",
                                            "File Exists Alert", platform::Buttons::YesNo) == platform::Answer::Yes;
      }
      break;
    case ifNewer:
    case ifOlder: {
      const std::uint32_t mine = FixDosDateTime(zip_.CurrentEntry().LastModFileDateTime);
      const auto theirs = static_cast<std::uint32_t>(existing.dosDateTime);
      if (existing.dosDateTime != -1) overWriteIt = mode == ifNewer ? mine > theirs : mine < theirs;
      break;
    }
    default:
      break;
  }
  if (overWriteIt) replace_ = ReplaceRule();
  return overWriteIt;
}

platform::Replace TExtractionRun::ReplaceRule() const {
  return settings_.replaceReadOnly ? platform::Replace::Any : platform::Replace::Writable;
}

std::optional<TExtractionRun::Decoded> TExtractionRun::Decode(std::int32_t index, const std::string& fName,
                                                              std::int64_t dataStart, bool decodable, TStream* sink) {
  const TZipHeaderInfo& entry = zip_.CurrentEntry();
  const platform::FileStamp stamp = StampOf(entry, settings_.retainAttributes);
  Decoded decoded;
  std::unique_ptr<TStream> testStream;
  if (sink != nullptr) {
    output_ = sink;
  } else if (settings_.testMode) {
    if (settings_.testOutput) {
      testStream = std::make_unique<TForwardStream>(*settings_.testOutput);
    } else {
      testStream = std::make_unique<TNullStream>();
    }
    output_ = testStream.get();
  } else {
    try {
      decoded.file = std::make_unique<TOutputFile>(target_, *tree_, targetFolder_, entry.UncompressedSize,
                                                   stamp.CreationPermissions());
    } catch (const EFCreateError& e) {
      SkipUncreatable(index, fName, e.Message());
      return std::nullopt;
    }
    output_ = decoded.file.get();
  }

  // The stream may have been moved (a handler reading a comment, the
  // password test), so it goes back to the entry's data. Whatever ends the
  // run here takes the unfinished file with it.
  try {
    context_.ResetForEntry(entry.CompressedSize, entry.UncompressedSize);
    const std::int32_t header =
        !entry.IsEncrypted() ? 0 : aes_ ? aes_->SaltLength() + kAesVerifierSize : kEncryptionHeaderSize;
    if (zip_.ArchiveStream()) zip_.ArchiveStream()->Seek(dataStart + header, soFromBeginning);
    const std::uint16_t method = aes_ ? aes_->Method : entry.CompressionMethod;
    decoded.result = decodable ? DecodeEntry(context_, method, entry.BitFlag) : DecodeResult::UnknownMethod;
    if (decoded.result == DecodeResult::DamagedData) decoded.fault = "damaged compressed data";
    // The password passed its verifier: a code that does not match means
    // the encrypted bytes are not the ones it was made for.
    if (aes_ && entry.IsEncrypted() && decoded.result != DecodeResult::DamagedData &&
        !zip_.AesEntryAuthentic(context_.ArchiveLeft)) {
      decoded.result = DecodeResult::DamagedData;
      decoded.fault = "authentication failed: the data is damaged or was altered";
    }
    if (decoded.file && decoded.result != DecodeResult::DamagedData) {
      decoded.file->Finish(settings_.flushFilesOnClose, stamp);
    }
  } catch (const EDecoderOutOfMemory&) {
    output_ = nullptr;
    zip_.Ui().ShowMessage("*** inflate out of memory ***", "Error", platform::Buttons::Ok);
    throw;
  } catch (...) {
    output_ = nullptr;
    throw;
  }
  output_ = nullptr;
  decoded.crc = ~crc_;
  return decoded;
}

bool TExtractionRun::CommitPrepared(std::int32_t index, const std::string& fName, TPreparedEntry& prepared) {
  if (prepared.file) {
    prepared.file->SetFinalName(target_);
    std::string reason;
    const Placement placed = MoveIntoPlace(index, *prepared.file, fName, reason);
    if (placed == Placement::Failed) return false;
    if (placed == Placement::Kept) return true;
  }
  // The progress the worker made, told as the decoding would have told it.
  const std::int64_t size = zip_.CurrentEntry().UncompressedSize;
  std::int64_t bytesOut = 0;
  for (const std::int32_t n : prepared.blocks) {
    bytesOut += n;
    BlockWritten(n, bytesOut, size);
  }
  EntryDone(index, fName);
  return true;
}

bool TExtractionRun::DecodedIntact(const Decoded& decoded) const {
  const TZipHeaderInfo& entry = zip_.CurrentEntry();
  // An entry of a method nobody decodes only passes when it is empty.
  const bool crcMatches = decoded.crc == entry.CRC32 || (aes_ && !aes_->ChecksCrc());
  return crcMatches && (decoded.result == DecodeResult::Decoded ||
                        (decoded.result == DecodeResult::UnknownMethod && entry.UncompressedSize == 0));
}

void TExtractionRun::Conclude(std::int32_t index, const std::string& fName, Decoded& decoded) {
  if (DecodedIntact(decoded)) {
    std::string reason;
    const Placement placed = decoded.file ? MoveIntoPlace(index, *decoded.file, fName, reason) : Placement::Placed;
    decoded.file.reset();
    if (placed == Placement::Failed) SkipUncreatable(index, fName, reason);
    if (placed == Placement::Placed) EntryDone(index, fName);
    return;
  }
  decoded.file.reset();
  ReportFailure(index, decoded);
}

void TExtractionRun::ReportFailure(std::int32_t index, const Decoded& decoded) {
  const TZipHeaderInfo& entry = zip_.CurrentEntry();
  // The traditional cipher's check byte lets one wrong password in 256 pass:
  // its failures may be the password's. An AES entry's password passed a
  // verifier and the code that authenticates the data.
  if (entry.IsEncrypted() && !aes_) {
    if (zip_.OnBadPassword) {
      std::string tried = zip_.Password();
      zip_.OnBadPassword(&zip_, index, tried);
      if (tried != zip_.Password()) {
        zip_.SetPassword(tried);
        retryEntry_ = true;
      }
    }
    if (!retryEntry_) Skip(index, skBadPassword, entry.StoredPath());
  } else {
    reports_.ReportBadCrc(static_cast<std::int32_t>(decoded.crc), static_cast<std::int32_t>(entry.CRC32), index,
                          decoded.fault);
  }
}

TExtractionRun::Placement TExtractionRun::MoveIntoPlace(std::int32_t index, TOutputFile& file, const std::string& fName,
                                                        std::string& reason) {
  return MoveIntoPlace(
      index, [&](platform::Replace rule, std::string& why) { return file.Commit(rule, why); }, fName, reason);
}

TExtractionRun::Placement TExtractionRun::MoveIntoPlace(std::int32_t index, const PlaceAs& place,
                                                        const std::string& fName, std::string& reason) {
  platform::Placed placed = place(replace_, reason);
  if (placed == platform::Placed::NameTaken) {
    // Something appeared under a name that was free: the overwrite rule
    // decides about it now.
    const platform::NameInfo existing = tree_->Look(target_);
    if (!existing.taken) {
      reason = "a folder is in the way";
      return Placement::Failed;
    }
    std::string asked = fName;
    if (!MayReplace(index, asked, existing)) {
      Skip(index, skNotOverwritten, fName);
      return Placement::Kept;
    }
    placed = place(replace_, reason);
  }
  if (placed != platform::Placed::Done) return Placement::Failed;
  if (tree_->Made(targetFolder_)) written_.Insert(NameKey(target_.Utf8()));
  return Placement::Placed;
}

// ---- links ---------------------------------------------------------------------------

bool TExtractionRun::RestoresLink(const TZipHeaderInfo& entry) const {
  return !platform::kIsWindows && !settings_.testMode && entry.IsSymbolicLink();
}

void TExtractionRun::DeferLink(std::int32_t index, const std::string& fName, std::int64_t dataStart, bool decodable) {
  if (zip_.CurrentEntry().UncompressedSize > kLongestLinkTarget) {
    SkipUncreatable(index, fName, "the link's target is too long");
    return;
  }
  TTextSink target;
  const std::optional<Decoded> decoded = Decode(index, fName, dataStart, decodable, &target);
  if (!decoded) return;
  if (!DecodedIntact(*decoded)) {
    ReportFailure(index, *decoded);
    return;
  }
  const std::optional<std::size_t> depth = DepthBelow(platform::Path(Base()).Utf8(), targetFolder_.Utf8());
  if (!settings_.absoluteLinks && !(depth && LinkStaysInside(target.text, *depth))) {
    Skip(index, skUnsafeLink, fName, target.text);
    return;
  }
  links_.push_back({index, fName, target_, std::move(target.text)});
}

void TExtractionRun::MakeLinks() {
  for (const PendingLink& link : links_) {
    StopIfCancelled();
    // The overwrite rule and the events look at the working entry.
    zip_.CurrentEntry().Assign(*reader_.CheckedEntry(link.index));
    SetTarget(link.path);
    std::string fName = link.fName;
    if (!PrepareFolder(link.index, fName) || !MayWrite(link.index, fName)) continue;
    std::string reason;
    const auto makeLink = [&](platform::Replace rule, std::string& why) {
      return tree_->MakeLink(target_, link.target, rule, why);
    };
    const Placement placed = MoveIntoPlace(link.index, makeLink, fName, reason);
    if (placed == Placement::Failed) SkipUncreatable(link.index, fName, reason);
    if (placed == Placement::Placed) EntryDone(link.index, fName);
  }
  links_.clear();
}

void TExtractionRun::EntryDone(std::int32_t index, const std::string& fName) {
  if (zip_.OnEndUnZip) zip_.OnEndUnZip(&zip_, index, fName);
  ++extracted_;
}

void TExtractionRun::Skip(std::int32_t index, TSkipReason reason, const std::string& name, const std::string& detail) {
  reports_.ReportSkip(reason, name, index, skipRetry_, detail);
  totalBytes_ -= zip_.CurrentEntry().UncompressedSize;
}

void TExtractionRun::SkipUncreatable(std::int32_t index, const std::string& name, const std::string& reason) {
  Skip(index, skCannotCreate, name, reason);
}

void TExtractionRun::SetTarget(platform::Path target) {
  target_ = std::move(target);
  targetFolder_ = target_.Folder();
}

std::string TExtractionRun::BaseOf(const std::string& destDir) {
  return destDir.empty() ? std::string() : destDir + "\\";
}

// ---- the decoders' output ----------------------------------------------------------

std::int64_t TExtractionRun::OutputPosition() { return output_ ? output_->Position() : 0; }

std::int32_t TExtractionRun::WriteOutput(const void* buffer, std::int32_t count) {
  return output_ ? output_->Write(buffer, count) : 0;
}

void TExtractionRun::BlockWritten(std::int32_t n, std::int64_t entryBytesOut, std::int64_t unpackedSize) {
  StopIfCancelled();
  if (zip_.OnFilePercentDone) zip_.OnFilePercentDone(&zip_, Percentage(unpackedSize, entryBytesOut));
  if (zip_.OnTotalPercentDone) {
    bytesDone_ += n;
    zip_.OnTotalPercentDone(&zip_, Percentage(totalBytes_, bytesDone_));
  }
}

bool TExtractionRun::ReserveMemory(std::uint64_t bytes) {
  if (!memory_.Reserve(bytes, memoryHeld_)) return false;
  memoryHeld_ += bytes;
  return true;
}

void TExtractionRun::ReleaseMemory(std::uint64_t bytes) {
  memory_.Release(bytes);
  memoryHeld_ -= std::min(bytes, memoryHeld_);
}

}  // namespace quv
