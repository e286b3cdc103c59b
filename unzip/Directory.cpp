// Reading an archive's directory: the end record and its plausibility, the
// configuration file that can stand in for a lost directory, the central
// entries (with the retry for a lying extra-field length and the recovery
// from duplicate entries), and the scan that rebuilds the directory from the
// local headers when the central directory is missing or damaged.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/ArchiveReader.h"
#include "zip/Exception.h"
#include "zip/Text.h"

namespace quv {

namespace {

constexpr std::int32_t kScanMessageInterval = 10240;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;

[[noreturn]] void ThrowBadZip() { throw EBadZipFile("Not a valid zip file!"); }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32); }

// Moves the stream forward by n bytes from where it stands.
void Skip(TStream& stream, std::int64_t n) {
  if (n > 0) stream.Seek(n, soFromCurrent);
}

// A data descriptor: CRC, compressed and uncompressed size, with or without
// its signature in front; the sizes take 8 bytes each after a local header
// with a Zip64 extra field.
std::int32_t DescriptorLength(bool withSignature, bool wide) { return (withSignature ? 4 : 0) + 4 + (wide ? 16 : 8); }

bool IsRecordSignature(const std::uint8_t* p) {
  const std::uint32_t v = Le32(p);
  return v == ZipSignatures().Local || v == ZipSignatures().Central;
}

// The length of the data descriptor at p that closes data of `distance`
// bytes, or 0 when none is there. avail bytes can be read from p. A
// descriptor without a signature only counts when a header or the end of
// the file follows it.
std::int32_t MatchDescriptor(const std::uint8_t* p, std::int64_t avail, std::int64_t distance, bool wide) {
  if (avail >= 4 && Le32(p) == kDataDescriptorSignature) {
    const std::int32_t length = DescriptorLength(true, wide);
    if (avail < length) return 0;
    const std::uint64_t size = wide ? Le64(p + 8) : Le32(p + 8);
    if (size == static_cast<std::uint64_t>(distance)) return length;
  }
  const std::int32_t length = DescriptorLength(false, wide);
  if (avail < length) return 0;
  const std::uint64_t size = wide ? Le64(p + 4) : Le32(p + 4);
  if (size != static_cast<std::uint64_t>(distance)) return 0;
  const bool endsTheFile = avail == length;
  return endsTheFile || (avail >= length + 4 && IsRecordSignature(p + length)) ? length : 0;
}

// Fills the entry's CRC and sizes from the descriptor of the given length at p.
void TakeDescriptor(const std::uint8_t* p, std::int32_t length, TZipHeaderInfo& entry) {
  const bool withSignature = length == DescriptorLength(true, entry.LocalZip64);
  const std::uint8_t* q = p + (withSignature ? 4 : 0);
  entry.CRC32 = Le32(q);
  if (entry.LocalZip64) {
    entry.CompressedSize = static_cast<std::int64_t>(Le64(q + 4) & 0x3FFFFFFFFFFFFFFFull);
    entry.UncompressedSize = static_cast<std::int64_t>(Le64(q + 12) & 0x3FFFFFFFFFFFFFFFull);
  } else {
    entry.CompressedSize = Le32(q + 4);
    entry.UncompressedSize = Le32(q + 8);
  }
}

// For a local entry whose sizes follow its data: finds the data descriptor
// whose compressed size equals its distance from dataStart, fills the
// entry's CRC and sizes from it and leaves the stream after it.
bool FindDataDescriptor(TStream& stream, std::int64_t dataStart, TZipHeaderInfo& entry) {
  constexpr std::int32_t kChunk = 32768;
  // Enough to judge every form at a position: the longest descriptor and
  // the signature after it.
  constexpr std::int32_t kKeep = 28;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunk + kKeep]);
  std::int32_t held = 0;          // bytes in buffer
  std::int64_t base = dataStart;  // file position of buffer[0]
  stream.Seek(dataStart, soFromBeginning);
  for (;;) {
    const std::int32_t got = stream.Read(buffer.get() + held, kChunk);
    const bool atEnd = got <= 0;
    held += std::max(got, 0);
    const std::int32_t last = atEnd ? held : std::max(held - kKeep, 0);
    for (std::int32_t i = 0; i < last; ++i) {
      const std::uint8_t* p = buffer.get() + i;
      const std::int32_t length = MatchDescriptor(p, held - i, base + i - dataStart, entry.LocalZip64);
      if (length == 0) continue;
      TakeDescriptor(p, length, entry);
      stream.Seek(base + i + length, soFromBeginning);
      return true;
    }
    if (atEnd) return false;
    std::memmove(buffer.get(), buffer.get() + last, static_cast<std::size_t>(held - last));
    base += last;
    held -= last;
  }
}

// The length of the descriptor after an entry's data of known size.
std::int32_t DescriptorAt(TStream& stream, std::int64_t at, bool wide) {
  std::uint8_t sig[4];
  stream.Seek(at, soFromBeginning);
  const bool withSignature = stream.Read(sig, 4) == 4 && Le32(sig) == kDataDescriptorSignature;
  return DescriptorLength(withSignature, wide);
}

}  // namespace

bool TArchiveReader::EndRecordPlausible() const {
  const TEndCentral& end = *endCentral_;
  // A directory offset past the file's end is not judged here: reading the
  // directory fails and the local headers stand in for it.
  return end.ThisDisk <= 999 && end.CentralDisk <= 999 && end.ThisDisk >= end.CentralDisk;
}

void TArchiveReader::LoadDirectory() {
  // A handler that keeps answering "another disk may come" while the archive
  // stays incomplete is asked again once, not forever; then the load fails.
  constexpr int kIncompleteAttempts = 2;
  for (int attempt = 1;; ++attempt) {
    platform::CursorShown busy(*settings_.ui, platform::Cursor::Busy);
    try {
      OpenArchive();
      break;
    } catch (const EIncompleteZip&) {
      ReleaseArchiveStream();
      if (!owner_.HandlesIncompleteZip()) return;
      if (attempt >= kIncompleteAttempts) throw;
      continue;
    } catch (...) {
      ClearArchive();
      throw;
    }
  }
  CloseArchive();
}

void TArchiveReader::ReadDirectory() {
  OpenArchiveStream();
  archiveDate_ = platform::FileGetDate(archiveStream_->Handle());
  ReleaseDirectory();
  centralInArchive_ = false;
  countMismatch_.clear();
  try {
    // Set when the configuration file stands in for the archive's own end
    // record and directory.
    std::unique_ptr<TLFNFileStream> config;
    if (FindEndRecord(config)) {
      GoToCentralDirectory(config.get());
    } else {
      ReadWithoutEndRecord();
    }
    if (!directory_ || directory_->Count() == 0) NewDirectory();
    TStream* stream = config ? static_cast<TStream*>(config.get()) : archiveStream_.get();
    ReadCentralEntries(stream, config != nullptr);
    ReadCommentWithDirectory(config.get());
    // The current disk is the one the archive stream is on: OpenDisk keeps
    // it, and a single file is disk 0.
    ApplySortMode(settings_.sortMode);
  } catch (...) {
    // A half-read directory must not be taken for the archive's next time.
    ReleaseDirectory();
    throw;
  }
}

bool TArchiveReader::FindEndRecord(std::unique_ptr<TLFNFileStream>& config) {
  endCentral_->Clear();
  if (endCentral_->FindEndCentral(*archiveStream_) && EndRecordPlausible()) return true;
  endCentral_->Clear();
  const std::string configName = text::ChangeFileExtension(zipName_, ".zfc");
  if (!platform::FileExists(configName)) return false;
  config = std::make_unique<TLFNFileStream>(configName, streamBufferSize_, false, platform::fmOpenRead);
  // An empty file would count as an empty archive; it holds no directory.
  if (config->Size() > 0 && endCentral_->FindEndCentral(*config) && EndRecordPlausible()) return true;
  endCentral_->Clear();
  config.reset();
  return false;
}

void TArchiveReader::GoToCentralDirectory(TStream* config) {
  const bool configMode = config != nullptr;
  currentDisk_ = configMode ? 0 : static_cast<std::int32_t>(endCentral_->ThisDisk);
  centralInArchive_ = !configMode;
  DetectMultiDiskMode();
  if (!configMode && endCentral_->ThisDisk != 0) setLastDiskName_ = zipName_;
  // A count of 0 over a directory that holds headers is read as well (see
  // ReadCentralEntries).
  const bool headersCounted = endCentral_->TotalEntries > 0;
  const bool headersUncounted = endCentral_->CentralDirSize > 0 && owner_.MultiDiskMode() == mdNone;
  if (!headersCounted && !headersUncounted) return;
  if (configMode) {
    config->Seek(0, soFromBeginning);
    return;
  }
  if (owner_.MultiDiskMode() != mdNone && std::cmp_not_equal(endCentral_->CentralDisk, currentDisk_)) {
    OpenDisk(static_cast<std::int32_t>(endCentral_->CentralDisk) + 1);
  }
  archiveStream_->Seek(endCentral_->CentralDirOffset, soFromBeginning);
}

void TArchiveReader::ReadWithoutEndRecord() {
  // Whatever an earlier archive was, this one is read as a single file.
  owner_.SetMultiDiskMode(mdNone);
  owner_.AskIncompleteZip();
  switch (settings_.incompleteZipMode) {
    case izAssumeNotAZip:
      throw ENotAZipFile("Not a valid zip file!");
    case izAssumeBad:
      if (!ScanLocalHeaders("no end record")) {
        ClearArchive();
        ThrowBadZip();
      }
      break;
    default:
      throw EIncompleteZip("Incomplete Zip File");
  }
}

void TArchiveReader::ReadCommentWithDirectory(TStream* config) {
  if (!endCentral_->HasComment()) return;
  if (config != nullptr) {
    // The comment's offset is one in the configuration file, which is
    // gone after this read: take the comment now.
    LoadArchiveComment(*config);
  } else if (endCentral_->ThisDisk != 0) {
    if (std::cmp_not_equal(currentDisk_, endCentral_->ThisDisk))
      OpenDisk(static_cast<std::int32_t>(endCentral_->ThisDisk) + 1);
    LoadArchiveComment(*archiveStream_);
  }
}

namespace {

// The previous entry's extra field was not there after all (the next header
// is missing where its stated length ends): takes it as absent and puts the
// stream back where it would have begun.
void DropMissingExtraField(TStream& stream, TZipHeaderInfo& previous) {
  stream.Seek(-static_cast<std::int64_t>(previous.CentralExtraFieldLength), soFromCurrent);
  previous.CentralExtraFieldLength = 0;
  if (!previous.FileCommentLoaded() || stream.Position() < previous.FileCommentLength) return;
  // Its comment, read at once, was taken from the wrong place.
  const std::int64_t commentEnd = stream.Position();
  stream.Seek(commentEnd - previous.FileCommentLength, soFromBeginning);
  std::string comment(previous.FileCommentLength, '\0');
  stream.Read(comment.data(), previous.FileCommentLength);
  previous.SetStoredComment(comment);
  stream.Seek(commentEnd, soFromBeginning);
}

// Reads the next central header into entry. When none is there right after
// an entry with an extra field, that field's stated length may be wrong: it
// is then taken as absent and the header read again.
bool ReadNextCentralHeader(TStream*& stream, TZipHeaderInfo& entry, TZipHeaderInfo* previous,
                           const TNextVolume& volumes, void* owner, const std::string& nameCharset) {
  if (entry.ReadCentralFromStream(stream, volumes, owner, nameCharset)) return true;
  if (previous == nullptr || stream->Position() < previous->CentralExtraFieldLength) return false;
  DropMissingExtraField(*stream, *previous);
  return entry.ReadCentralFromStream(stream, volumes, owner, nameCharset);
}

// After a scan rebuilt the directory, a central header only refreshes the
// entry found at the same local header (its place found by the scan stays).
void RefreshScannedEntry(TSortedZip& directory, const TZipHeaderInfo& central) {
  const std::int32_t at = directory.IndexOf(&central);
  if (at < 0) return;
  TZipHeaderInfo* listed = directory.Items(at);
  const std::int64_t localOffset = listed->RelativeOffsetOfLocalHeader;
  listed->Assign(&central);
  listed->RelativeOffsetOfLocalHeader = localOffset;
}

using Entries = std::vector<std::unique_ptr<TZipHeaderInfo>>;

// Lists the entries at once (sorted once rather than inserted one by one).
// False, the entries kept, when two claim the same local header: the
// directory is damaged.
bool AddToDirectory(TSortedZip& directory, Entries& entries) {
  std::vector<TObject*> items;
  items.reserve(entries.size());
  for (const auto& entry : entries) items.push_back(entry.get());
  try {
    directory.AddAll(items);
  } catch (const EListError&) {
    return false;
  }
  for (auto& entry : entries) entry.release();
  entries.clear();
  return true;
}

// Reads the comment after the entry's central header when eager (while this
// disk or the configuration file is at hand), else steps over it.
void TakeEntryComment(TStream& stream, TZipHeaderInfo& entry, bool eager) {
  if (!eager || !entry.HasComment()) {
    Skip(stream, entry.FileCommentLength);
    return;
  }
  std::string comment(entry.FileCommentLength, '\0');
  const std::int32_t got = stream.Read(comment.data(), entry.FileCommentLength);
  comment.resize(static_cast<std::size_t>(std::max(got, 0)));
  entry.SetStoredComment(comment);
}

// Whether a central header begins at the stream's position and ends within
// the directory's stated end.
bool CentralHeaderFollows(TStream& stream, std::int64_t directoryEnd) {
  const std::int64_t at = stream.Position();
  if (at + CentralFileHeader::kSize > directoryEnd) return false;
  std::uint8_t signature[4];
  const bool found = stream.Read(signature, 4) == 4 && Le32(signature) == ZipSignatures().Central;
  stream.Seek(at, soFromBeginning);
  return found;
}

}  // namespace

TNextVolume TArchiveReader::NextVolumeOpener() {
  return [this](void*, TZipHeaderInfo&, TStream*& volume) {
    // Past the disk of the end record there is no disk to ask for: the
    // header is simply not there.
    if (std::cmp_less(currentDisk_, endCentral_->ThisDisk)) volume = OpenDisk(currentDisk_ + 2);
  };
}

std::int64_t TArchiveReader::DirectoryEnd(bool configMode) const {
  // A directory that holds more headers than the end record counts is read
  // whole, as far as its stated size goes (one file only: a set's directory
  // may go on on another disk).
  return (configMode ? 0 : endCentral_->CentralDirOffset) + std::max<std::int64_t>(endCentral_->CentralDirSize, 0);
}

std::int64_t TArchiveReader::HeadersToReserve(TStream& stream) const {
  // Room for every counted entry at once, as far as the directory's stated
  // size and the file can hold their headers: a damaged record reserves no
  // more than the file's size would need.
  const std::int64_t headerRoom = std::min(endCentral_->CentralDirSize, stream.Size()) / CentralFileHeader::kSize;
  return localScan_ ? 0 : std::min(endCentral_->TotalEntries, headerRoom);
}

void TArchiveReader::NoteCountMismatch(std::int32_t read) {
  if (localScan_ || read <= endCentral_->TotalEntries) return;
  const std::int64_t counted = endCentral_->TotalEntries;
  countMismatch_ = "the end record counts " + std::to_string(counted) + (counted == 1 ? " entry" : " entries") +
                   ", the central directory holds " + std::to_string(read);
}

void TArchiveReader::ReadCentralEntries(TStream*& stream, bool configMode) {
  const TNextVolume nextVolume = NextVolumeOpener();
  const TNextVolume noVolume;
  const bool eagerComments = configMode || endCentral_->ThisDisk != 0;
  // In one file every entry's data is in that file, whatever disk its header
  // names (writers get it wrong): all are compared with each other.
  const bool oneFile = endCentral_->ThisDisk == 0;
  const std::int64_t directoryEnd = DirectoryEnd(configMode);
  const std::int64_t fitting = HeadersToReserve(*stream);
  Entries entries;
  if (fitting > 0) entries.reserve(static_cast<std::size_t>(fitting));
  // The entry just read, while its extra field's stated length may yet
  // prove wrong (see ReadNextCentralHeader).
  TZipHeaderInfo* previous = nullptr;
  std::int32_t index = 0;
  // After a scan rebuilt the directory the central headers are read again
  // from the first, and only refresh the entries found.
  auto rebuild = [&](const char* reason) {
    RebuildFromLocalHeaders(reason);
    entries.clear();
    index = 0;
    previous = nullptr;
    if (configMode) stream->Seek(0, soFromBeginning);
  };

  for (;;) {
    const bool spanning = !localScan_ && !configMode && owner_.MultiDiskMode() != mdNone;
    const bool counted = index < endCentral_->TotalEntries;
    if (!counted && (localScan_ || spanning || !CentralHeaderFollows(*stream, directoryEnd))) {
      if (localScan_ || AddToDirectory(*directory_, entries)) break;
      rebuild("two central headers name the same local header");
      continue;
    }
    const TNextVolume& volumes = spanning ? nextVolume : noVolume;
    std::unique_ptr<TZipHeaderInfo> entry = NewEntry();
    const bool read = ReadNextCentralHeader(stream, *entry, previous, volumes, this, settings_.nameCharset);
    previous = nullptr;
    if (!read && localScan_) break;
    if (!read) {
      rebuild("a central header is missing or damaged");
      continue;
    }
    if (oneFile) entry->DiskNumberStart = 0;
    ++index;
    if (localScan_) {
      RefreshScannedEntry(*directory_, *entry);
      // Step over the rest of this header also when no entry matched, so
      // that the next header is read from its start.
      Skip(*stream, entry->FileCommentLength);
      continue;
    }
    TakeEntryComment(*stream, *entry, eagerComments);
    if (entry->CentralExtraFieldLength > 0) previous = entry.get();
    entries.push_back(std::move(entry));
  }
  NoteCountMismatch(index);
}

void TArchiveReader::RebuildFromLocalHeaders(const char* reason) {
  // The local headers of a multi-disk set are on other disks, so no scan of
  // this file can stand in for its directory.
  if (owner_.MultiDiskMode() == mdNone && ScanLocalHeaders(reason)) return;
  ClearArchive();
  ThrowBadZip();
}

namespace {

// Moves the stream to the first local header signature followed by a
// plausible version; false when the stream ends first.
bool FindFirstLocalHeader(TStream& stream, platform::UserInterface* breathe) {
  const auto& signature = ZipSignatures().LocalBytes;
  int matched = 0;  // signature bytes, then 5 after the version's low byte
  std::int32_t sinceMessages = 0;
  for (;;) {
    std::uint8_t byte = 0;
    if (stream.Read(&byte, 1) != 1) return false;
    if (++sinceMessages == kScanMessageInterval) {
      sinceMessages = 0;
      if (breathe != nullptr) breathe->ProcessMessages();
    }
    if (matched < 4) {
      if (byte == signature[matched]) {
        ++matched;
      } else {
        matched = byte == signature[0] ? 1 : 0;
      }
    } else if (matched == 4) {
      matched = 5;  // low byte of the version needed
    } else {
      if (byte < 10) break;
      matched = 0;
    }
  }
  stream.Seek(-6, soFromCurrent);
  return true;
}

// Reads the local header at the stream's position into entry and moves the
// stream past the entry's data and descriptor; false when no header is
// there. last is set when the data's end, and so the next header, is unknown.
bool ReadNextLocalEntry(TStream& stream, TZipHeaderInfo& entry, bool& last, const std::string& nameCharset) {
  if (!entry.ReadLocalFromStream(stream, nameCharset)) return false;
  const std::int64_t dataStart = stream.Position();
  if (entry.HasDataDescriptor() && entry.CompressedSize == 0) {
    // The sizes follow the data; take them from the descriptor.
    last = !FindDataDescriptor(stream, dataStart, entry);
    return true;
  }
  const std::int64_t dataEnd = dataStart + entry.CompressedSize;
  const std::int64_t next = entry.HasDataDescriptor() ? dataEnd + DescriptorAt(stream, dataEnd, entry.LocalZip64) : dataEnd;
  stream.Seek(next, soFromBeginning);
  return true;
}

}  // namespace

bool TArchiveReader::ScanLocalHeaders() { return ScanLocalHeaders("the caller asked for a scan of the local headers"); }

bool TArchiveReader::ScanLocalHeaders(const char* reason) {
  if (localScan_ || !archiveStream_) return false;
  localScan_ = true;
  rebuildReason_ = reason;
  ReleaseDirectory();
  TS_BufferStream& stream = *archiveStream_;
  const std::int32_t start = text::SameText(text::FileExtension(zipName_), ".EXE") ? kSfxScanStart : 0;
  stream.Seek(start, soFromBeginning);
  if (!FindFirstLocalHeader(stream, settings_.doProcessMessages ? settings_.ui : nullptr)) return false;
  NewDirectory();
  Entries entries;
  for (bool last = false; !last;) {
    std::unique_ptr<TZipHeaderInfo> entry = NewEntry();
    if (!ReadNextLocalEntry(stream, *entry, last, settings_.nameCharset)) break;
    entries.push_back(std::move(entry));
  }
  // Each header lies after the data of the one before: no two can clash.
  AddToDirectory(*directory_, entries);
  endCentral_->ThisDisk = 0;
  endCentral_->TotalEntries = Count();
  endCentral_->CentralDirOffset = stream.Position();
  currentDisk_ = 0;
  owner_.SetMultiDiskMode(mdNone);
  return true;
}

}  // namespace quv
