// The working state of one extraction run (TUnZip::UnZipFiles) and the
// steps it takes for each entry. The component keeps its settings, events
// and directory reader; the run keeps what lives only while it goes on: a
// copy of the settings, the decoding state, the output, the counts, the
// retry flags, the folders it made and, in a parallel run, the decoders
// working ahead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decompress/DecodeContext.h"
#include "platform/Platform.h"
#include "unzip/ArchiveReader.h"
#include "unzip/ParallelDecode.h"
#include "unzip/RunReports.h"
#include "unzip/Settings.h"
#include "unzip/UnZip.h"

namespace quv {

class TOutputFile;

// A set of hashes, each folded to 32 bits, in one open-addressed table: 8
// to 16 bytes per hash where a node-based set takes about 40. Two hashes
// may fold alike (and 0 is kept as 1): the set then answers "maybe there"
// for one never inserted, which here only costs a check on disk.
class THashSet {
 public:
  bool Contains(std::uint64_t hash) const;
  void Insert(std::uint64_t hash);

 private:
  static std::uint32_t Fold(std::uint64_t hash);
  // The slot that holds key, or the empty slot where it would go.
  std::size_t SlotOf(std::uint32_t key) const;
  void Grow();
  std::vector<std::uint32_t> slots_;  // 0: empty; the size a power of two
  std::size_t count_ = 0;
};

// The run reads its settings from the copy it takes when it starts, the
// directory from the reader, and fires the component's events. It is the
// decoders' output: it writes to the entry's file (or the test stream),
// keeps the CRC register and tells the progress.
class TExtractionRun final : public DecodeOutput {
 public:
  TExtractionRun(TUnZip& zip, TArchiveReader& reader, TRunReports& reports, const TUnZipSettings& settings);
  ~TExtractionRun() override;
  TExtractionRun(const TExtractionRun&) = delete;
  TExtractionRun& operator=(const TExtractionRun&) = delete;

  // Extracts (or tests) the selected entries; answers how many.
  std::int32_t Execute();

  // DecodeOutput, for the calling thread's decoders.
  std::int64_t OutputPosition() override;
  std::int32_t WriteOutput(const void* buffer, std::int32_t count) override;
  std::uint32_t& Crc() override { return crc_; }
  void BlockWritten(std::int32_t n, std::int64_t entryBytesOut, std::int64_t unpackedSize) override;
  // The calling thread's decoders' memory, counted in the run's budget.
  bool ReserveMemory(std::uint64_t bytes) override;
  void ReleaseMemory(std::uint64_t bytes) override;

 private:
  // An entry's decoded output and what decoding it gave.
  struct Decoded {
    std::unique_ptr<TOutputFile> file;  // null in test mode
    DecodeResult result = DecodeResult::DamagedData;
    std::uint32_t crc = 0;
    std::string fault;  // why the data failed besides its CRC, or ""
  };

  // Marks the entries the run takes and adds up their sizes; answers how
  // many; taken gets the entries to visit (folder entries included).
  std::int32_t SelectEntries(std::vector<bool>& taken);
  // Refuses an archive whose entries' data overlap another entry's local
  // header or the central directory (EBadZipFile) and notes each entry's limit.
  void CheckEntriesApart();
  // The limit CheckEntriesApart noted for the entry (kNoLimit: none).
  std::int64_t DataLimit(std::int32_t index) const;
  void StartParallelDecoding(const std::vector<bool>& taken);
  // EUserCanceled when the component's CancelRequest is raised.
  void StopIfCancelled() const;

  void ExtractEntry(std::int32_t index);
  // The entry's destination folder as the events name it and, for a name
  // the system code page cannot hold, the UTF-8 path it is written to
  // (unheld); none, with the reason in unsafe, when it may not be created.
  std::optional<std::string> DestinationFolder(const TZipHeaderInfo& entry, std::optional<platform::Path>& unheld,
                                               std::string& unsafe) const;
  // Whether the entry's data can be read here (a decoder for a non-empty
  // entry, no strong encryption); reported when not.
  bool Readable(std::int32_t index, const TZipHeaderInfo& entry, bool decodable);
  // LocateEntry, then the check that the data stays before what follows it;
  // answers where the entry's data start.
  std::int64_t LocateData(std::int32_t index);
  // The entry's destination folder; none, with the reason in fault, when its
  // stored path may not be created.
  std::optional<std::string> ComposeDestDir(const TZipHeaderInfo& entry, std::string& fault) const;
  // ComposeDestDir, and none also when the entry's own name may not be
  // created (fault says why).
  std::optional<std::string> CreatableDestDir(const TZipHeaderInfo& entry, std::string& fault) const;
  // The part of a destination folder below the destination, from a stored
  // folder in the system code page or (codePage false) in UTF-8.
  std::optional<std::string> ConfinedFolder(std::string_view stored, bool codePage, std::string& fault) const;
  // For a name the system code page cannot hold: its path from the UTF-8
  // name, checked as CreatableDestDir checks the other names.
  std::optional<platform::Path> Utf8Target(const TZipHeaderInfo& entry, std::string& fault) const;
  void MakeFolderEntry(std::int32_t index, const platform::Path& dir);
  // OnStartUnZip; false when the handler skips the entry. A name the
  // handler changed becomes target_ as it stands.
  bool AnnounceEntry(std::int32_t index, std::string& fName);
  // The folder fName goes into; false (reported) when it cannot be made.
  bool PrepareFolder(std::int32_t index, const std::string& fName);
  // Whether the entry may be written, and how its file may take fName
  // (replace_); false (reported) when an existing fName stays.
  bool MayWrite(std::int32_t index, std::string& fName);
  // The overwrite rule for what is at fName; false when it stays.
  bool MayReplace(std::int32_t index, std::string& fName, const platform::NameInfo& existing);
  // How a file may replace one the overwrite rule let go.
  platform::Replace ReplaceRule() const;
  // Whether target_ is known to be free: its folder was made by this run and
  // no earlier entry of the run wrote that name. A file that appears there
  // meanwhile is still found when the file is moved into place.
  bool KnownFree() const;
  // Decodes the current entry into target_'s folder (or nowhere, testing;
  // or into sink, a link's target); none when the output file cannot be
  // created (reported).
  std::optional<Decoded> Decode(std::int32_t index, const std::string& fName, std::int64_t dataStart, bool decodable,
                                TStream* sink = nullptr);
  // Moves a prepared entry into place and reports it; false when it cannot
  // be moved there (the entry is then decoded again the ordinary way).
  bool CommitPrepared(std::int32_t index, const std::string& fName, TPreparedEntry& prepared);
  // The CRC check's outcome: the file moved into place and reported, or the
  // failure reported (a bad password may ask for a retry).
  void Conclude(std::int32_t index, const std::string& fName, Decoded& decoded);
  bool DecodedIntact(const Decoded& decoded) const;
  void ReportFailure(std::int32_t index, const Decoded& decoded);
  // What became of a finished file: moved into place; kept out by the
  // overwrite rule (reported), since a file appeared under its name; or not
  // movable there, for reason. place puts it at target_ as a rule allows.
  enum class Placement { Placed, Kept, Failed };
  using PlaceAs = std::function<platform::Placed(platform::Replace, std::string&)>;
  Placement MoveIntoPlace(std::int32_t index, const PlaceAs& place, const std::string& fName, std::string& reason);
  Placement MoveIntoPlace(std::int32_t index, TOutputFile& file, const std::string& fName, std::string& reason);

  // Symbolic links (POSIX, not testing): each is decoded in its turn and
  // made after every other entry, so that nothing is written through one.
  bool RestoresLink(const TZipHeaderInfo& entry) const;
  void DeferLink(std::int32_t index, const std::string& fName, std::int64_t dataStart, bool decodable);
  void MakeLinks();
  struct PendingLink {
    std::int32_t index;
    std::string fName;
    platform::Path path;
    std::string target;
  };
  void EntryDone(std::int32_t index, const std::string& fName);
  // Makes target the working entry's path (target_, targetFolder_).
  void SetTarget(platform::Path target);

  // OnSkippingFile, with detail for SkipDetail.
  void Skip(std::int32_t index, TSkipReason reason, const std::string& name, const std::string& detail = "");
  // Reports an entry that cannot be created (skCannotCreate) with its reason.
  void SkipUncreatable(std::int32_t index, const std::string& name, const std::string& reason);
  // The destination with its separator ("" for the current folder).
  const std::string& Base() const { return base_; }
  static std::string BaseOf(const std::string& destDir);

  TUnZip& zip_;
  TArchiveReader& reader_;
  TRunReports& reports_;
  const TUnZipSettings settings_;
  const std::string base_;  // Base()
  TDecodeContext context_;
  TStream* output_ = nullptr;
  std::uint32_t crc_ = 0xFFFFFFFFu;
  std::int64_t totalBytes_ = 0;
  std::int64_t bytesDone_ = 0;
  std::int32_t extracted_ = 0;
  // An entry to try again with the password a handler gave; the skip
  // handlers' Retry, which nothing acts on.
  bool retryEntry_ = false;
  // The working entry's WinZip AES block, when it has one.
  std::optional<WinZipAesField> aes_;
  bool skipRetry_ = false;
  // Where each entry's data must end (next local header or the central
  // directory on its disk), by index in the sorted view.
  static constexpr std::int64_t kNoLimit = -1;
  std::vector<std::int64_t> dataLimits_;
  // The destination, held for the run (none in test mode); before the
  // decoders, whose files it holds.
  std::unique_ptr<platform::OutputTree> tree_;
  // How the working entry's file may take its name.
  platform::Replace replace_ = platform::Replace::None;
  // The working entry's path for the file system: its name in the system
  // code page, or one composed from its UTF-8 name where that code page
  // cannot hold it.
  platform::Path target_;
  platform::Path targetFolder_;  // its folder
  std::vector<PendingLink> links_;
  // The names (hashed) this run wrote into folders it made.
  THashSet written_;
  TMemoryBudget memory_;
  std::uint64_t memoryHeld_ = 0;  // by the calling thread's decoder
  std::unique_ptr<TParallelDecoder> parallel_;
};

}  // namespace quv
