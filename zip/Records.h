// The ZIP records the engine reads (local header, central directory header,
// end-of-central-directory record) and their in-memory forms. The records are
// only read, never written; readers answer false and restore the stream
// position instead of raising on bad data.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "zip/Persistent.h"
#include "zip/Stream.h"

namespace quv {

// ---- record signatures -----------------------------------------------------
inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::uint32_t kEndCentralSignature = 0x06054B50;
inline constexpr std::uint32_t kZip64EndCentralSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;

struct ZipSignatureTable {
  std::uint32_t Central = kCentralSignature;
  std::uint32_t Local = kLocalSignature;
  std::uint32_t EndCentral = kEndCentralSignature;
  // The local signature's bytes in file order, for byte-wise scans.
  std::array<std::uint8_t, 4> LocalBytes{0x50, 0x4B, 0x03, 0x04};
  // First byte in the file of the end-of-central-directory signature.
  std::uint8_t EndCentralFirstByte = 0x50;
};

// Sets the module-wide signatures; 0 selects the standard value.
void SetZipSignatures(std::uint32_t central, std::uint32_t local, std::uint32_t endCentral);
const ZipSignatureTable& ZipSignatures();

// ---- raw records (decoded from little-endian bytes) ------------------------
struct LocalFileHeader {
  static constexpr std::int32_t kSize = 30;
  std::uint32_t Signature = 0;
  std::uint16_t VersionNeeded = 0;
  std::uint16_t BitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint32_t LastModFileDateTime = 0;  // time low, date high
  std::uint32_t CRC32 = 0;
  std::uint32_t CompressedSize = 0;  // 0xFFFFFFFF: in the Zip64 extra field
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FileNameLength = 0;
  std::uint16_t ExtraFieldLength = 0;

  static LocalFileHeader FromBytes(const std::uint8_t* p);  // kSize bytes
};

struct CentralFileHeader {
  static constexpr std::int32_t kSize = 46;
  std::uint32_t Signature = 0;
  std::uint16_t VersionMadeBy = 0;  // low byte: version, high byte: host system
  std::uint16_t VersionNeeded = 0;
  std::uint16_t BitFlag = 0;
  std::uint16_t CompressionMethod = 0;
  std::uint32_t LastModFileDateTime = 0;
  std::uint32_t CRC32 = 0;
  std::uint32_t CompressedSize = 0;  // 0xFFFFFFFF: in the Zip64 extra field
  std::uint32_t UncompressedSize = 0;
  std::uint16_t FileNameLength = 0;
  std::uint16_t ExtraFieldLength = 0;
  std::uint16_t FileCommentLength = 0;
  std::uint16_t DiskNumberStart = 0;
  std::uint16_t InternalFileAttributes = 0;
  std::uint32_t ExternalFileAttributes = 0;
  std::uint32_t RelativeOffsetOfLocalHeader = 0;

  std::uint8_t HostSystem() const { return static_cast<std::uint8_t>(VersionMadeBy >> 8); }
  static CentralFileHeader FromBytes(const std::uint8_t* p);  // kSize bytes
};

struct EndCentralRecord {
  static constexpr std::int32_t kSize = 22;
  std::uint32_t Signature = 0;
  std::uint16_t ThisDisk = 0;
  std::uint16_t CentralDisk = 0;
  std::int16_t EntriesThisDisk = 0;
  std::uint16_t TotalEntries = 0;
  std::uint32_t CentralDirSize = 0;
  std::uint32_t CentralDirOffset = 0;
  std::uint16_t ZipCommentLength = 0;

  static EndCentralRecord FromBytes(const std::uint8_t* p);  // kSize bytes
};

// Stands right before the end record of an archive with Zip64 end records.
struct Zip64LocatorRecord {
  static constexpr std::int32_t kSize = 20;
  std::uint32_t Signature = 0;
  std::uint32_t EndCentralDisk = 0;
  std::uint64_t EndCentralOffset = 0;
  std::uint32_t TotalDisks = 0;

  static Zip64LocatorRecord FromBytes(const std::uint8_t* p);  // kSize bytes
};

// The fixed part of the Zip64 end-of-central-directory record.
struct Zip64EndCentralRecord {
  static constexpr std::int32_t kSize = 56;
  std::uint32_t Signature = 0;
  std::uint32_t ThisDisk = 0;
  std::uint32_t CentralDisk = 0;
  std::uint64_t EntriesThisDisk = 0;
  std::uint64_t TotalEntries = 0;
  std::uint64_t CentralDirSize = 0;
  std::uint64_t CentralDirOffset = 0;

  static Zip64EndCentralRecord FromBytes(const std::uint8_t* p);  // kSize bytes
};

// Extra-field ids the engine reads.
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint16_t kNtfsExtraId = 0x000A;
inline constexpr std::uint16_t kTimestampExtraId = 0x5455;
inline constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
inline constexpr std::uint16_t kUnicodeCommentExtraId = 0x6375;
inline constexpr std::uint16_t kWinZipAesExtraId = 0x9901;

// Clamps each part of a packed DOS date/time into range; a valid value
// comes back unchanged.
std::uint32_t FixDosDateTime(std::uint32_t value);

// ---- one archive entry -------------------------------------------------------
// What an entry takes from its central (or local) header, and the marks the
// component keeps on it: one plain struct, so that copies are copies. Wide
// fields first: an archive's directory holds one per entry.
struct ZipEntryFields {
  std::int64_t CompressedSize = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t RelativeOffsetOfLocalHeader = 0;
  std::int64_t CentralHeaderOffset = 0;
  // The modification time from the NTFS or extended-timestamp extra field,
  // in 100-ns ticks since 1970-01-01 UTC; the DOS date stands in without one.
  std::optional<std::int64_t> UtcModified;
  std::uint32_t LastModFileDateTime = 0;
  std::uint32_t CRC32 = 0xFFFFFFFFu;
  std::uint32_t DiskNumberStart = 0;
  std::uint32_t ExternalFileAttributes = 0x20;  // the archive attribute
  std::uint16_t VersionMadeBy = 20;
  std::uint16_t VersionNeeded = 20;
  std::uint16_t BitFlag = 0;
  std::uint16_t CompressionMethod = 8;
  // Follows the name as kept (Directory + FileName), which OEM conversion may
  // lengthen on POSIX; to step over the stored name in the file use the
  // record's own length (the readers leave the stream just after the name).
  std::uint16_t FileNameLength = 0;
  std::uint16_t CentralExtraFieldLength = 0;
  std::uint16_t LocalExtraFieldLength = 0;
  std::uint16_t FileCommentLength = 0;
  std::uint16_t InternalFileAttributes = 1;
  // The local header carried a Zip64 extra field: its data descriptor, if
  // any, has 8-byte sizes.
  bool LocalZip64 = false;
  // The name has characters the system code page cannot hold (shown as
  // "?"): it names no file that may be created.
  bool NameUnrepresentable = false;
  bool MatchFlag = false;
  bool Selected = false;

  bool operator==(const ZipEntryFields&) const = default;
};

class TZipHeaderInfo;

// Makes stream the next volume of a spanned archive, positioned at its start.
using TNextVolume = std::function<void(void* owner, TZipHeaderInfo& entry, TStream*& stream)>;

class TZipHeaderInfo : public TPersistent, public ZipEntryFields {
 public:
  TZipHeaderInfo() = default;
  ~TZipHeaderInfo() override;
  std::string ClassName() const override { return "TZipHeaderInfo"; }

  void AssignTo(TPersistent* dest) const override;
  void Assign(const TPersistent* source) override;
  // The same from an entry known to be one: no look at its kind.
  void Assign(const TZipHeaderInfo& source);

  void Clear();

  // Reads one central directory header at the stream's position; stream may
  // be replaced by nextVolume (called only when set). The stream is left
  // just after the extra field (where its stated length ends), before the
  // comment. False (position restored) when no header is there. nameCharset:
  // see NameCharset of the unzip component.
  bool ReadCentralFromStream(TStream*& stream, const TNextVolume& nextVolume, void* owner,
                             const std::string& nameCharset = {});
  // Reads one local file header at the stream's position and leaves the
  // stream at the entry's data; as above.
  bool ReadLocalFromStream(TStream& stream, const std::string& nameCharset = {});
  // Fill the entry from a record and its already converted name.
  void SetFromCentral(const CentralFileHeader& record, const std::string& name);
  void SetFromLocal(const LocalFileHeader& record, const std::string& name);
  // Takes what the extra field of the entry's central (or local) header adds:
  // the Zip64 sizes, offset and disk for the fields the header saturated,
  // and the exact modification time.
  void ApplyCentralExtra(const std::string& extra, const CentralFileHeader& record);
  void ApplyLocalExtra(const std::string& extra, const LocalFileHeader& record);

  // The path is kept whole with the position where its name part begins.
  std::string FileName() const { return std::string(FileNameView()); }
  std::string_view FileNameView() const { return StoredPathView().substr(nameStart_); }
  void SetFileName(const std::string& text);
  std::string Directory() const { return std::string(DirectoryView()); }
  std::string_view DirectoryView() const { return StoredPathView().substr(0, nameStart_); }
  // Appends "\" unless the text is empty or already ends in one (judged by
  // characters of the system code page).
  void SetDirectory(const std::string& text);
  // Directory() + FileName().
  std::string StoredPath() const { return std::string(StoredPathView()); }
  std::string_view StoredPathView() const { return {path_.get(), pathLength_}; }

  // The comment text once loaded (empty otherwise).
  const std::string& FileComment() const;
  bool FileCommentLoaded() const { return rare_ && rare_->fileComment.has_value(); }
  // With text: keeps a copy and sets FileCommentLength; none clears both.
  void SetFileComment(std::optional<std::string> text);
  // The comment's bytes as stored after the central header: kept in the
  // system code page, from the Unicode Comment field when that belongs to
  // them. FileCommentLength stays the stored length.
  void SetStoredComment(const std::string& stored);
  // The data of the header's WinZip AES block (id 0x9901), empty without
  // one; unzip/WinZipAes.h reads it.
  const std::string& AesExtra() const;
  void SetAesExtra(std::string block);

  // The stored path in UTF-8 ("\" between folders) when the name came as
  // UTF-8 (the flag, or a Unicode Path block that belongs to it) or from a
  // named character set; none for other names and once SetFileName or
  // SetDirectory renamed the entry. On Windows the system code page may not
  // hold it, where StoredPath() shows "?".
  std::optional<std::string> Utf8Path() const;

  // A symbolic link: a Unix host's entry whose mode says so. Its data is
  // the link's target.
  bool IsSymbolicLink() const;

  bool HasComment() const { return FileCommentLength != 0; }
  bool IsEncrypted() const { return (BitFlag & 0x0001) != 0; }
  bool HasDataDescriptor() const { return (BitFlag & 0x0008) != 0; }

 private:
  // What few entries have, in one block allocated only for them.
  struct RareParts {
    std::optional<std::string> fileComment;
    // The central extra field's Unicode Comment block, if any.
    std::string unicodeComment;
    std::string aesExtra;
    // The UTF-8 path where it differs from the stored one.
    std::string utf8Path;
    bool Empty() const { return !fileComment && unicodeComment.empty() && aesExtra.empty() && utf8Path.empty(); }
  };
  // Keeps parts, or no block when they hold nothing.
  void SetRareParts(RareParts parts);
  RareParts TakeRareParts();

  // The name from its stored bytes and the extra field: in the system code
  // page (setting NameUnrepresentable) and, when it has one, in UTF-8.
  struct NameForms {
    std::string system;
    std::optional<std::string> utf8;
  };
  NameForms DecodeName(const std::string& stored, const std::string& extra, std::uint16_t bitFlag, bool oemName,
                       const std::string& nameCharset);
  void SetUtf8Path(std::optional<std::string> utf8);
  // What SetFromCentral and SetFromLocal both take from their record.
  template <class Header>
  void TakeSharedFields(const Header& record, const std::string& name);
  void TakeModifiedTime(std::uint16_t id, const std::uint8_t* data, std::size_t size);
  void SplitName(const std::string& name);
  void SetPath(std::string_view folder, std::string_view name);

  // Declared first: they fit in the tail of ZipEntryFields. A directory
  // holds one entry per archive entry, so its size is the directory's.
  bool hasNtfsTime_ = false;
  // Utf8Path() answers: the rare parts' copy, else the stored path.
  bool hasUtf8Path_ = false;

 public:
  bool OEMConvert = false;

 private:
  // The stored path's bytes: 12 bytes here where a std::string takes 32.
  std::unique_ptr<char[]> path_;
  std::uint32_t pathLength_ = 0;
  std::uint32_t nameStart_ = 0;
  std::unique_ptr<RareParts> rare_;
};

// ---- the archive's end record ------------------------------------------------
// Its fields as the engine keeps them (from the Zip64 end record when there is one).
struct EndCentralFields {
  std::uint32_t Signature = ZipSignatures().EndCentral;
  std::uint32_t ThisDisk = 0;
  std::uint32_t CentralDisk = 0;
  std::int64_t EntriesThisDisk = 0;
  std::int64_t TotalEntries = 0;
  std::int64_t CentralDirSize = 0;
  std::int64_t CentralDirOffset = 0;
  std::uint16_t ZipCommentLength = 0;
  // The values came from a Zip64 end record.
  bool Zip64 = false;
  std::int64_t ZipCommentOffset = 0;

  bool operator==(const EndCentralFields&) const = default;
};

class TEndCentral : public TPersistent, public EndCentralFields {
 public:
  TEndCentral() = default;
  ~TEndCentral() override = default;
  std::string ClassName() const override { return "TEndCentral"; }

  void AssignTo(TPersistent* dest) const override;
  void Assign(const TPersistent* source) override;

  void Clear();
  // Locates the record within the last 65,557 bytes and reads its fields,
  // taken from the Zip64 end record when a locator before it points to one;
  // an empty stream counts as found. The stream is left at its end.
  bool FindEndCentral(TStream& stream);
  bool HasComment() const { return ZipCommentLength != 0; }

  const std::string& ZipComment() const;
  bool ZipCommentLoaded() const { return zipComment_.has_value(); }
  // Keeps a copy (none for the empty text); ZipCommentLength = its length.
  void SetZipComment(const std::string& text);

 private:
  // Takes the Zip64 end record that a locator right before the end record
  // at recordAt points to, when there is one.
  void ReadZip64EndCentral(TStream& stream, std::int64_t recordAt);
  std::optional<std::string> zipComment_;

 public:
  bool Modified = false;
};

}  // namespace quv
