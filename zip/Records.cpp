#include "zip/Records.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/Platform.h"
#include "zip/Crc32.h"
#include "zip/Text.h"
#include "zip/Utils.h"

namespace quv {

namespace {

ZipSignatureTable g_signatures;  // standard values until SetZipSignatures

const std::string kEmpty;

constexpr std::uint16_t kUtf8NameFlag = 0x0800;  // general purpose bit 11

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32); }

constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;
// Larger Zip64 values are taken for damage: no archive comes near, and sums
// of positions and sizes stay far from overflowing.
constexpr std::uint64_t kZip64Limit = std::uint64_t{1} << 62;
constexpr std::uint16_t kSaturated16 = 0xFFFF;

// Calls f(id, data, size) for every complete block of an extra field; a
// block running past the field's end ends the walk.
template <class F>
void ForEachExtraBlock(const std::string& extra, F f) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(extra.data());
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t id = Le16(base + at);
    const std::size_t size = Le16(base + at + 2);
    if (at + 4 + size > extra.size()) return;
    f(id, base + at + 4, size);
    at += 4 + size;
  }
}

// The Zip64 extra block's values, in their fixed order, each present only
// for a field its header saturated.
class Zip64Fields {
 public:
  Zip64Fields(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  void Take(bool saturated, std::int64_t& value) {
    if (!saturated || at_ + 8 > size_) return;
    const std::uint64_t v = Le64(data_ + at_);
    at_ += 8;
    if (v < kZip64Limit) value = static_cast<std::int64_t>(v);
  }
  void TakeDisk(bool saturated, std::uint32_t& disk) {
    if (!saturated || at_ + 4 > size_) return;
    disk = Le32(data_ + at_);
    at_ += 4;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr std::int64_t kTicksPerSecond = 10000000;
// Between 1601-01-01, where NTFS times count from, and 1970-01-01.
constexpr std::int64_t kTicks1601To1970 = 116444736000000000LL;

// The modification time an extra block gives, if it is a time block that
// holds one. NTFS: 4 reserved bytes, then tagged attributes, tag 1 holding
// modification, access and creation times. Extended timestamp: a flags
// byte, then the modification time (flag bit 0) in seconds since 1970.
std::optional<std::int64_t> ModifiedTimeOf(std::uint16_t id, const std::uint8_t* data, std::size_t size) {
  if (id == kNtfsExtraId) {
    for (std::size_t at = 4; at + 4 <= size;) {
      const std::uint16_t tag = Le16(data + at);
      const std::size_t length = Le16(data + at + 2);
      if (at + 4 + length > size) break;
      if (tag == 1 && length >= 8) {
        const std::uint64_t ticks = Le64(data + at + 4);
        if (ticks >= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(ticks) - kTicks1601To1970;
      }
      at += 4 + length;
    }
  }
  if (id == kTimestampExtraId && size >= 5 && (data[0] & 1) != 0) {
    return static_cast<std::int64_t>(static_cast<std::int32_t>(Le32(data + 1))) * kTicksPerSecond;
  }
  return std::nullopt;
}

// Reads exactly count bytes into text; false on a short read.
bool ReadName(TStream& stream, std::uint16_t count, std::string& text) {
  text.assign(count, '\0');
  if (count == 0) return true;
  return stream.Read(text.data(), count) == count;
}

// Whether the name's bytes are in the system code page (so that a
// double-byte character's trail byte can look like a backslash).
// Reads up to count bytes into text, keeping what there is.
void ReadAvailable(TStream& stream, std::uint16_t count, std::string& text) {
  text.assign(count, '\0');
  if (count == 0) return;
  text.resize(static_cast<std::size_t>(std::max(stream.Read(text.data(), count), 0)));
}

bool IsCodePageName(std::uint16_t bitFlag) { return (bitFlag & kUtf8NameFlag) == 0; }

// The UTF-8 text of an Info-ZIP Unicode block (version 1, the CRC-32 of the
// stored bytes it stands for, the text) when it belongs to those bytes: a
// tool that changed the stored name without knowing the block leaves a
// stale copy behind.
std::optional<std::string> UnicodeText(const std::string& block, const std::string& stored) {
  if (block.size() < 5 || block[0] != 1) return std::nullopt;
  const auto* data = reinterpret_cast<const std::uint8_t*>(block.data());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stored.data());
  if (Le32(data + 1) != ~UpdateCrc(0xFFFFFFFFu, bytes, stored.size())) return std::nullopt;
  return block.substr(5);
}

// The data of the extra field's block with that id; empty when none.
std::string ExtraBlock(const std::string& extra, std::uint16_t id) {
  std::string found;
  ForEachExtraBlock(extra, [&](std::uint16_t blockId, const std::uint8_t* data, std::size_t size) {
    if (blockId == id) found.assign(reinterpret_cast<const char*>(data), size);
  });
  return found;
}

// "\" and on Windows ":" end the folder part of an entry's name (POSIX has no
// drives: a colon there is part of the name).
constexpr std::string_view kFolderEnds = platform::kIsWindows ? "\\:" : "\\";

// The records copy only from their own kind; any other goes to TPersistent,
// which raises EConvertError.
template <class Record>
void AssignToOwnKind(const Record& record, TPersistent* dest) {
  if (auto* same = dynamic_cast<Record*>(dest)) {
    same->Assign(&record);
  } else {
    record.TPersistent::AssignTo(dest);
  }
}

// Assign's source when it is another Record; null when there is nothing to
// copy (the target itself, or another kind, handed to TPersistent::Assign).
template <class Record>
const Record* OtherOfOwnKind(Record& target, const TPersistent* source) {
  const auto* same = dynamic_cast<const Record*>(source);
  if (same == nullptr) target.TPersistent::Assign(source);
  return same == &target ? nullptr : same;
}

std::uint16_t ClampLength(std::size_t n) { return static_cast<std::uint16_t>(std::min<std::size_t>(n, 0xFFFF)); }

}  // namespace

// ---- signatures ------------------------------------------------------------------

void SetZipSignatures(std::uint32_t central, std::uint32_t local, std::uint32_t endCentral) {
  g_signatures.Central = central != 0 ? central : kCentralSignature;
  g_signatures.Local = local != 0 ? local : kLocalSignature;
  g_signatures.EndCentral = endCentral != 0 ? endCentral : kEndCentralSignature;
  for (int i = 0; i < 4; ++i) g_signatures.LocalBytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g_signatures.Local >> (8 * i));
  g_signatures.EndCentralFirstByte = static_cast<std::uint8_t>(g_signatures.EndCentral & 0xFF);
}

const ZipSignatureTable& ZipSignatures() { return g_signatures; }

// ---- raw records -------------------------------------------------------------------

namespace {

// The fields both file headers hold in the same order, from VersionNeeded
// (at p) to the extra field's length.
template <class Header>
void ReadSharedHeaderFields(Header& r, const std::uint8_t* p) {
  r.VersionNeeded = Le16(p);
  r.BitFlag = Le16(p + 2);
  r.CompressionMethod = Le16(p + 4);
  r.LastModFileDateTime = Le32(p + 6);
  r.CRC32 = Le32(p + 10);
  r.CompressedSize = Le32(p + 14);
  r.UncompressedSize = Le32(p + 18);
  r.FileNameLength = Le16(p + 22);
  r.ExtraFieldLength = Le16(p + 24);
}

}  // namespace

LocalFileHeader LocalFileHeader::FromBytes(const std::uint8_t* p) {
  LocalFileHeader r;
  r.Signature = Le32(p);
  ReadSharedHeaderFields(r, p + 4);
  return r;
}

CentralFileHeader CentralFileHeader::FromBytes(const std::uint8_t* p) {
  CentralFileHeader r;
  r.Signature = Le32(p);
  r.VersionMadeBy = Le16(p + 4);
  ReadSharedHeaderFields(r, p + 6);
  r.FileCommentLength = Le16(p + 32);
  r.DiskNumberStart = Le16(p + 34);
  r.InternalFileAttributes = Le16(p + 36);
  r.ExternalFileAttributes = Le32(p + 38);
  r.RelativeOffsetOfLocalHeader = Le32(p + 42);
  return r;
}

EndCentralRecord EndCentralRecord::FromBytes(const std::uint8_t* p) {
  EndCentralRecord r;
  r.Signature = Le32(p);
  r.ThisDisk = Le16(p + 4);
  r.CentralDisk = Le16(p + 6);
  r.EntriesThisDisk = static_cast<std::int16_t>(Le16(p + 8));
  r.TotalEntries = Le16(p + 10);
  r.CentralDirSize = Le32(p + 12);
  r.CentralDirOffset = Le32(p + 16);
  r.ZipCommentLength = Le16(p + 20);
  return r;
}

Zip64LocatorRecord Zip64LocatorRecord::FromBytes(const std::uint8_t* p) {
  Zip64LocatorRecord r;
  r.Signature = Le32(p);
  r.EndCentralDisk = Le32(p + 4);
  r.EndCentralOffset = Le64(p + 8);
  r.TotalDisks = Le32(p + 16);
  return r;
}

Zip64EndCentralRecord Zip64EndCentralRecord::FromBytes(const std::uint8_t* p) {
  Zip64EndCentralRecord r;
  r.Signature = Le32(p);
  r.ThisDisk = Le32(p + 16);
  r.CentralDisk = Le32(p + 20);
  r.EntriesThisDisk = Le64(p + 24);
  r.TotalEntries = Le64(p + 32);
  r.CentralDirSize = Le64(p + 40);
  r.CentralDirOffset = Le64(p + 48);
  return r;
}

std::uint32_t FixDosDateTime(std::uint32_t value) {
  std::uint32_t seconds = (value & 0x1F) * 2;
  std::uint32_t minutes = (value >> 5) & 0x3F;
  std::uint32_t hours = (value >> 11) & 0x1F;
  std::uint32_t day = (value >> 16) & 0x1F;
  std::uint32_t month = (value >> 21) & 0x0F;
  std::uint32_t year = ((value >> 25) & 0x7F) + 1980;
  bool clamped = false;
  auto clampAbove = [&clamped](std::uint32_t& v, std::uint32_t limit) {
    if (v > limit) {
      v = limit;
      clamped = true;
    }
  };
  auto clampBelow = [&clamped](std::uint32_t& v, std::uint32_t limit) {
    if (v < limit) {
      v = limit;
      clamped = true;
    }
  };
  clampAbove(hours, 23);
  clampAbove(minutes, 59);
  clampAbove(seconds, 59);
  clampBelow(year, 1980);
  clampAbove(year, 2099);
  clampAbove(month, 12);
  clampBelow(month, 1);
  clampAbove(day, 31);
  clampBelow(day, 1);
  if (!clamped) return value;
  return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hours << 11) | (minutes << 5) | (seconds / 2);
}

// ---- TZipHeaderInfo ----------------------------------------------------------------

TZipHeaderInfo::~TZipHeaderInfo() = default;

void TZipHeaderInfo::Clear() {
  static_cast<ZipEntryFields&>(*this) = ZipEntryFields{};
  SetPath({}, {});
  rare_.reset();
  hasUtf8Path_ = false;
  OEMConvert = false;
}

void TZipHeaderInfo::AssignTo(TPersistent* dest) const { AssignToOwnKind(*this, dest); }

void TZipHeaderInfo::Assign(const TPersistent* source) {
  if (const TZipHeaderInfo* src = OtherOfOwnKind(*this, source)) Assign(*src);
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& source) {
  if (&source == this) return;
  static_cast<ZipEntryFields&>(*this) = source;
  const std::string_view path = source.StoredPathView();
  SetPath(path.substr(0, source.nameStart_), path.substr(source.nameStart_));
  RareParts parts = source.rare_ ? *source.rare_ : RareParts{};
  // A source without its comment loaded leaves this entry's text as it is.
  if (source.FileCommentLength == 0 || !source.FileCommentLoaded()) parts.fileComment = TakeRareParts().fileComment;
  SetRareParts(std::move(parts));
  hasUtf8Path_ = source.hasUtf8Path_;
}

void TZipHeaderInfo::SetRareParts(RareParts parts) {
  if (parts.Empty()) {
    rare_.reset();
  } else if (rare_) {
    *rare_ = std::move(parts);
  } else {
    rare_ = std::make_unique<RareParts>(std::move(parts));
  }
}

TZipHeaderInfo::RareParts TZipHeaderInfo::TakeRareParts() { return rare_ ? std::move(*rare_) : RareParts{}; }

void TZipHeaderInfo::SetPath(std::string_view folder, std::string_view name) {
  const std::size_t length = folder.size() + name.size();
  std::unique_ptr<char[]> path(length != 0 ? new char[length] : nullptr);
  std::copy(folder.begin(), folder.end(), path.get());
  std::copy(name.begin(), name.end(), path.get() + folder.size());
  path_ = std::move(path);
  pathLength_ = static_cast<std::uint32_t>(length);
  nameStart_ = static_cast<std::uint32_t>(folder.size());
  FileNameLength = ClampLength(length);
}

void TZipHeaderInfo::SetFileName(const std::string& text) {
  if (text == FileNameView()) return;
  SetPath(DirectoryView(), text);
  SetUtf8Path(std::nullopt);
}

void TZipHeaderInfo::SetDirectory(const std::string& folder) {
  std::string dir = folder;
  if (!dir.empty() && !text::LastCharIs(dir, '\\')) dir += '\\';
  if (dir == DirectoryView()) return;
  SetPath(dir, FileNameView());
  SetUtf8Path(std::nullopt);
}

void TZipHeaderInfo::SplitName(const std::string& name) {
  const std::size_t nameStart = text::AfterLastOf(name, kFolderEnds);
  const std::string_view whole(name);
  if (nameStart == 0 || name[nameStart - 1] == '\\') {
    SetPath(whole.substr(0, nameStart), whole.substr(nameStart));
  } else {
    // A drive ("C:name" on Windows): the folder part gets its backslash.
    SetPath(std::string(whole.substr(0, nameStart)) + '\\', whole.substr(nameStart));
  }
}

const std::string& TZipHeaderInfo::FileComment() const { return FileCommentLoaded() ? *rare_->fileComment : kEmpty; }

void TZipHeaderInfo::SetFileComment(std::optional<std::string> text) {
  FileCommentLength = text.has_value() ? ClampLength(text->size()) : 0;
  RareParts parts = TakeRareParts();
  parts.fileComment = std::move(text);
  SetRareParts(std::move(parts));
}

void TZipHeaderInfo::SetStoredComment(const std::string& stored) {
  RareParts parts = TakeRareParts();
  const std::optional<std::string> unicode = UnicodeText(parts.unicodeComment, stored);
  if (unicode) {
    bool lossless = true;
    parts.fileComment = platform::ConvertFromUtf8(*unicode, lossless);
  } else {
    parts.fileComment = stored;
  }
  SetRareParts(std::move(parts));
  FileCommentLength = ClampLength(stored.size());
}

const std::string& TZipHeaderInfo::AesExtra() const { return rare_ ? rare_->aesExtra : kEmpty; }

void TZipHeaderInfo::SetAesExtra(std::string block) {
  if (block.empty() && !rare_) return;
  RareParts parts = TakeRareParts();
  parts.aesExtra = std::move(block);
  SetRareParts(std::move(parts));
}

TZipHeaderInfo::NameForms TZipHeaderInfo::DecodeName(const std::string& stored, const std::string& extra,
                                                    std::uint16_t bitFlag, bool oemName,
                                                    const std::string& nameCharset) {
  NameForms name;
  if (const std::optional<std::string> unicode = UnicodeText(ExtraBlock(extra, kUnicodePathExtraId), stored)) {
    name.utf8 = *unicode;
  } else if (!IsCodePageName(bitFlag)) {
    // UTF-8 names (bit 11) are never in the OEM code page.
    name.utf8 = stored;
  } else if (!nameCharset.empty()) {
    name.utf8 = platform::ConvertCharsetToUtf8(stored, nameCharset);
  }
  bool lossless = true;
  if (name.utf8) {
    name.system = platform::ConvertFromUtf8(*name.utf8, lossless);
    SlashesToBackslashes(*name.utf8);
  } else if (oemName && OEMConvert) {
    name.system = platform::ConvertOemToAnsi(stored);
  } else {
    name.system = stored;
  }
  NameUnrepresentable = !lossless;
  SlashesToBackslashes(name.system);
  return name;
}

void TZipHeaderInfo::SetUtf8Path(std::optional<std::string> utf8) {
  hasUtf8Path_ = utf8.has_value();
  const bool differs = utf8 && *utf8 != StoredPathView();
  if (!differs && !rare_) return;
  RareParts parts = TakeRareParts();
  parts.utf8Path = differs ? std::move(*utf8) : std::string();
  SetRareParts(std::move(parts));
}

std::optional<std::string> TZipHeaderInfo::Utf8Path() const {
  if (!hasUtf8Path_) return std::nullopt;
  if (rare_ && !rare_->utf8Path.empty()) return rare_->utf8Path;
  return StoredPath();
}

bool TZipHeaderInfo::IsSymbolicLink() const {
  constexpr std::uint8_t kHostUnix = 3;
  constexpr std::uint32_t kTypeMask = 0170000;
  constexpr std::uint32_t kLink = 0120000;
  return (VersionMadeBy >> 8) == kHostUnix && ((ExternalFileAttributes >> 16) & kTypeMask) == kLink;
}

template <class Header>
void TZipHeaderInfo::TakeSharedFields(const Header& record, const std::string& name) {
  VersionNeeded = record.VersionNeeded;
  BitFlag = record.BitFlag;
  CompressionMethod = record.CompressionMethod;
  LastModFileDateTime = FixDosDateTime(record.LastModFileDateTime);
  CRC32 = record.CRC32;
  CompressedSize = record.CompressedSize;
  UncompressedSize = record.UncompressedSize;
  FileNameLength = record.FileNameLength;
  CentralHeaderOffset = 0;
  SplitName(name);
  SetUtf8Path(std::nullopt);
  SetFileComment(std::nullopt);
  MatchFlag = false;
  Selected = false;
}

void TZipHeaderInfo::SetFromCentral(const CentralFileHeader& record, const std::string& name) {
  TakeSharedFields(record, name);
  VersionMadeBy = record.VersionMadeBy;
  CentralExtraFieldLength = record.ExtraFieldLength;
  FileCommentLength = record.FileCommentLength;
  DiskNumberStart = record.DiskNumberStart;
  InternalFileAttributes = record.InternalFileAttributes;
  ExternalFileAttributes = record.ExternalFileAttributes;
  RelativeOffsetOfLocalHeader = record.RelativeOffsetOfLocalHeader;
}

void TZipHeaderInfo::SetFromLocal(const LocalFileHeader& record, const std::string& name) {
  TakeSharedFields(record, name);
  LocalExtraFieldLength = record.ExtraFieldLength;
  // The central header's own fields: a local header has none of them.
  VersionMadeBy = 0;
  FileCommentLength = 0;
  DiskNumberStart = 0;
  InternalFileAttributes = 0;
  ExternalFileAttributes = 0;
  RelativeOffsetOfLocalHeader = 0;
}

void TZipHeaderInfo::ApplyCentralExtra(const std::string& extra, const CentralFileHeader& record) {
  ForEachExtraBlock(extra, [&](std::uint16_t id, const std::uint8_t* data, std::size_t size) {
    TakeModifiedTime(id, data, size);
    if (id != kZip64ExtraId) return;
    Zip64Fields fields(data, size);
    fields.Take(record.UncompressedSize == kSaturated32, UncompressedSize);
    fields.Take(record.CompressedSize == kSaturated32, CompressedSize);
    fields.Take(record.RelativeOffsetOfLocalHeader == kSaturated32, RelativeOffsetOfLocalHeader);
    fields.TakeDisk(record.DiskNumberStart == kSaturated16, DiskNumberStart);
  });
}

void TZipHeaderInfo::ApplyLocalExtra(const std::string& extra, const LocalFileHeader& record) {
  ForEachExtraBlock(extra, [&](std::uint16_t id, const std::uint8_t* data, std::size_t size) {
    TakeModifiedTime(id, data, size);
    if (id != kZip64ExtraId) return;
    LocalZip64 = true;
    Zip64Fields fields(data, size);
    fields.Take(record.UncompressedSize == kSaturated32, UncompressedSize);
    fields.Take(record.CompressedSize == kSaturated32, CompressedSize);
  });
}

void TZipHeaderInfo::TakeModifiedTime(std::uint16_t id, const std::uint8_t* data, std::size_t size) {
  // NTFS times are the finer ones: an extended timestamp never replaces one.
  if (id == kTimestampExtraId && UtcModified && hasNtfsTime_) return;
  const std::optional<std::int64_t> time = ModifiedTimeOf(id, data, size);
  if (!time) return;
  UtcModified = time;
  hasNtfsTime_ = id == kNtfsExtraId;
}

bool TZipHeaderInfo::ReadCentralFromStream(TStream*& stream, const TNextVolume& nextVolume, void* owner,
                                           const std::string& nameCharset) {
  const std::int64_t start = stream->Seek(0, soFromCurrent);
  std::uint8_t raw[CentralFileHeader::kSize];
  std::int32_t got = std::max(stream->Read(raw, CentralFileHeader::kSize), 0);
  if (got < CentralFileHeader::kSize && nextVolume) {
    // Only a header that begins here (or nothing at all) continues on the next volume.
    std::uint8_t sig[4];
    for (int i = 0; i < 4; ++i) sig[i] = static_cast<std::uint8_t>(ZipSignatures().Central >> (8 * i));
    const bool begins = got == 0 || std::memcmp(raw, sig, static_cast<std::size_t>(std::min(got, 4))) == 0;
    if (begins) {
      nextVolume(owner, *this, stream);
      got += std::max(stream->Read(raw + got, CentralFileHeader::kSize - got), 0);
    }
  }
  if (got < CentralFileHeader::kSize || Le32(raw) != ZipSignatures().Central) {
    stream->Seek(start, soFromBeginning);
    return false;
  }
  const CentralFileHeader record = CentralFileHeader::FromBytes(raw);
  std::string name;
  if (!ReadName(*stream, record.FileNameLength, name)) {
    stream->Seek(start, soFromBeginning);
    return false;
  }
  const std::int64_t extraStart = stream->Position();
  std::string extra;
  ReadAvailable(*stream, record.ExtraFieldLength, extra);
  NameForms forms = DecodeName(name, extra, record.BitFlag, record.HostSystem() == 0, nameCharset);
  SetFromCentral(record, forms.system);
  SetRareParts({std::nullopt, ExtraBlock(extra, kUnicodeCommentExtraId), ExtraBlock(extra, kWinZipAesExtraId), {}});
  SetUtf8Path(std::move(forms.utf8));
  UtcModified.reset();
  ApplyCentralExtra(extra, record);
  CentralHeaderOffset = start;
  // Where the stated length ends, also when the field is cut short: the
  // directory reader steps back over a length that turns out wrong.
  stream->Seek(extraStart + record.ExtraFieldLength, soFromBeginning);
  return true;
}

bool TZipHeaderInfo::ReadLocalFromStream(TStream& stream, const std::string& nameCharset) {
  const std::int64_t start = stream.Seek(0, soFromCurrent);
  std::uint8_t raw[LocalFileHeader::kSize];
  if (stream.Read(raw, LocalFileHeader::kSize) != LocalFileHeader::kSize || Le32(raw) != ZipSignatures().Local) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  const LocalFileHeader record = LocalFileHeader::FromBytes(raw);
  std::string name;
  std::string extra;
  if (!ReadName(stream, record.FileNameLength, name) || !ReadName(stream, record.ExtraFieldLength, extra)) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  NameForms forms = DecodeName(name, extra, record.BitFlag, true, nameCharset);
  SetFromLocal(record, forms.system);
  SetAesExtra(ExtraBlock(extra, kWinZipAesExtraId));
  SetUtf8Path(std::move(forms.utf8));
  UtcModified.reset();
  ApplyLocalExtra(extra, record);
  RelativeOffsetOfLocalHeader = start;
  return true;
}

// ---- TEndCentral -----------------------------------------------------------------

void TEndCentral::Clear() {
  static_cast<EndCentralFields&>(*this) = EndCentralFields{};
  zipComment_.reset();
  Modified = false;
}

void TEndCentral::AssignTo(TPersistent* dest) const { AssignToOwnKind(*this, dest); }

void TEndCentral::Assign(const TPersistent* source) {
  const TEndCentral* src = OtherOfOwnKind(*this, source);
  if (src == nullptr) return;
  static_cast<EndCentralFields&>(*this) = *src;
  // A source without its comment loaded leaves this record's text as it is.
  if (src->ZipCommentLength != 0 && src->zipComment_.has_value()) {
    zipComment_ = src->zipComment_;
    ZipCommentLength = ClampLength(zipComment_->size());
  }
}

bool TEndCentral::FindEndCentral(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size < EndCentralRecord::kSize) return size == 0;
  const auto length = static_cast<std::int32_t>(std::min<std::int64_t>(size, 65557));
  stream.Seek(-length, soFromEnd);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[static_cast<std::size_t>(length)]);
  if (stream.Read(buffer.get(), length) != length) return false;
  const std::uint32_t signature = ZipSignatures().EndCentral;
  const std::uint8_t first = ZipSignatures().EndCentralFirstByte;
  for (std::int32_t i = length - EndCentralRecord::kSize; i >= 0; --i) {
    const std::uint8_t* p = buffer.get() + i;
    if (*p != first || Le32(p) != signature) continue;
    const EndCentralRecord record = EndCentralRecord::FromBytes(p);
    ThisDisk = record.ThisDisk;
    CentralDisk = record.CentralDisk;
    EntriesThisDisk = record.EntriesThisDisk;
    TotalEntries = record.TotalEntries;
    CentralDirSize = record.CentralDirSize;
    CentralDirOffset = record.CentralDirOffset;
    ZipCommentLength = record.ZipCommentLength;
    const std::int64_t recordAt = size - length + i;
    ZipCommentOffset = recordAt + EndCentralRecord::kSize;
    ReadZip64EndCentral(stream, recordAt);
    stream.Seek(0, soFromEnd);
    return true;
  }
  return false;
}

void TEndCentral::ReadZip64EndCentral(TStream& stream, std::int64_t recordAt) {
  if (recordAt < Zip64LocatorRecord::kSize) return;
  std::uint8_t raw[Zip64EndCentralRecord::kSize];
  stream.Seek(recordAt - Zip64LocatorRecord::kSize, soFromBeginning);
  if (stream.Read(raw, Zip64LocatorRecord::kSize) != Zip64LocatorRecord::kSize) return;
  const Zip64LocatorRecord locator = Zip64LocatorRecord::FromBytes(raw);
  if (locator.Signature != kZip64LocatorSignature) return;
  // The locator is on the last disk and the writers put the record there
  // too; a locator naming another disk (or an offset past itself) is damage,
  // and the 32-bit record then stands alone.
  const std::uint32_t lastDisk = locator.TotalDisks > 0 ? locator.TotalDisks - 1 : 0;
  if (locator.EndCentralDisk != lastDisk) return;
  if (locator.EndCentralOffset > static_cast<std::uint64_t>(recordAt)) return;
  stream.Seek(static_cast<std::int64_t>(locator.EndCentralOffset), soFromBeginning);
  if (stream.Read(raw, Zip64EndCentralRecord::kSize) != Zip64EndCentralRecord::kSize) return;
  const Zip64EndCentralRecord record = Zip64EndCentralRecord::FromBytes(raw);
  if (record.Signature != kZip64EndCentralSignature || record.TotalEntries >= kZip64Limit ||
      record.EntriesThisDisk >= kZip64Limit || record.CentralDirSize >= kZip64Limit ||
      record.CentralDirOffset >= kZip64Limit)
    return;
  ThisDisk = record.ThisDisk;
  CentralDisk = record.CentralDisk;
  EntriesThisDisk = static_cast<std::int64_t>(record.EntriesThisDisk);
  TotalEntries = static_cast<std::int64_t>(record.TotalEntries);
  CentralDirSize = static_cast<std::int64_t>(record.CentralDirSize);
  CentralDirOffset = static_cast<std::int64_t>(record.CentralDirOffset);
  Zip64 = true;
}

const std::string& TEndCentral::ZipComment() const { return zipComment_.has_value() ? *zipComment_ : kEmpty; }

void TEndCentral::SetZipComment(const std::string& text) {
  if (text.empty()) {
    zipComment_.reset();
  } else {
    zipComment_ = text;
  }
  ZipCommentLength = ClampLength(text.size());
}

}  // namespace quv
