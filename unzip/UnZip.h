// TUnZip: the unzip component, a facade over its parts: the settings
// (unzip/Settings.h), the directory reader (unzip/ArchiveReader.h: the
// archive file, the directory with its recovery, multi-disk sets and the
// working entry), the traditional cipher (unzip/TraditionalCipher.h) and,
// while UnZipFiles goes on, the extraction run (unzip/ExtractionRun.h). It
// is the decoders' input (the working entry's data, decrypted, across disks).
//
// Use: set ZipName (and DestDir, DoAll or FilesList, the overwrite rule),
// assign the events you need, call LoadDirectory to list or UnZipFiles to
// extract. The caller owns the component; the component owns the archive
// file, the directory and every entry in it (references from Entry() live
// until the directory is read again or ClearArchive). An archive that cannot
// be read raises an Exception subclass (EBadZipFile, ENotAZipFile,
// EIncompleteZip, EUserCanceled, EStreamError and its EReadError and
// EWriteError); a single entry's trouble is reported through the events.
// Events run on the calling thread, in the middle of the run; a handler may
// read the component but must not start another run on it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "decompress/DecodeContext.h"
#include "decompress/LibraryStream.h"
#include "platform/Ui.h"
#include "unzip/ArchiveReader.h"
#include "unzip/RunReports.h"
#include "unzip/Settings.h"
#include "unzip/TraditionalCipher.h"
#include "unzip/WinZipAes.h"
#include "zip/BufferStream.h"
#include "zip/Records.h"
#include "zip/SortedZip.h"
#include "zip/StringList.h"

namespace quv {


class TUnZip;

using TStartUnzipInfo =
    std::function<void(TObject* Sender, std::int32_t NumFiles, std::int64_t TotalBytes, bool& StopNow)>;
using TFilePercentDone = std::function<void(TObject* Sender, std::int32_t Percent)>;
using TTotalPercentDone = std::function<void(TObject* Sender, std::int32_t Percent)>;
using TStartUnZipEvent =
    std::function<void(TObject* Sender, std::int32_t FileIndex, std::string& FName, bool& Skip)>;
using TEndUnZipEvent = std::function<void(TObject* Sender, std::int32_t FileIndex, const std::string& FName)>;
using TPromptForOverwrite =
    std::function<void(TObject* Sender, bool& OverWriteIt, std::int32_t FileIndex, std::string& FName)>;
using TSkippingFile = std::function<void(TObject* Sender, TSkipReason Reason, const std::string& FName,
                                         std::int32_t FileIndex, bool& Retry)>;
using TBadPassword = std::function<void(TObject* Sender, std::int32_t FileIndex, std::string& NewPassword)>;
using TBadCRC =
    std::function<void(TObject* Sender, std::int32_t CalcCRC, std::int32_t StoredCRC, std::int32_t FileIndex)>;
using TIncompleteZip = std::function<void(TObject* Sender, TIncompleteZipMode& IncompleteMode)>;
using TGetNextDisk = std::function<void(TObject* Sender, std::int32_t NextDisk, std::string& FName)>;
using TUnZipComplete = std::function<void(TObject* Sender, std::int32_t FileCount)>;
using TGetNextBuffer = std::function<void(TObject* Sender, char*& Buffer, const std::string& FName,
                                          std::int32_t AmountUsed, std::int32_t BufferNum, bool& Quit)>;
using TDecryptEvent =
    std::function<void(TObject* Sender, std::uint8_t* buffer, std::int32_t length, const std::string& Password)>;

class TUnZip : public TPersistent, public DecodeInput, private TArchiveOwner, private TRunReports {
 public:
  static constexpr std::int32_t kThisVersion = 223;
  // Where a self-extracting archive's data is searched from when its
  // directory is lost (the stub before it is at least this long).
  static constexpr std::int32_t kSfxScanStart = TArchiveReader::kSfxScanStart;

  // designing: the component is being edited, not run: setters only store
  // and OnGetNextDisk stays unassigned.
  explicit TUnZip(TObject* Owner = nullptr, bool designing = false);
  ~TUnZip() override;
  TUnZip(const TUnZip&) = delete;
  TUnZip& operator=(const TUnZip&) = delete;
  std::string ClassName() const override { return "TUnZip"; }

  // Copies the settings and events (not the archive state, the password,
  // OnDecrypt, FlushFilesOnClose or OEMConvert) of another TUnZip.
  void Assign(const TPersistent* source) override;
  // After the stored properties were assigned.
  virtual void Loaded();

  // ---- published properties ------------------------------------------------
  std::int32_t ThisVersion() const { return thisVersion_; }
  void SetThisVersion(std::int32_t) { thisVersion_ = kThisVersion; }

  const std::string& ZipName() const;
  // A name ending in "?" asks for the file with the file-open dialog.
  virtual void SetZipName(const std::string& Value);

  const std::string& DestDir() const { return settings_.destDir; }
  // "?" asks for the folder with the folder dialog.
  void SetDestDir(const std::string& Value);

  const std::string& RootDir() const { return settings_.rootDir; }
  void SetRootDir(const std::string& Value);

  // Takes effect at the next directory read.
  TZipSortMode SortMode() const { return settings_.sortMode; }
  void SetSortMode(TZipSortMode Value) { settings_.sortMode = Value; }

  bool RecreateDirs() const { return settings_.recreateDirs; }
  void SetRecreateDirs(bool Value) { settings_.recreateDirs = Value; }

  TUZOverwriteMode OverwriteMode() const { return settings_.overwriteMode; }
  void SetOverwriteMode(TUZOverwriteMode Value) { settings_.overwriteMode = Value; }

  TStringList& FilesList() { return settings_.filesList; }
  const TStringList& FilesList() const { return settings_.filesList; }
  void SetFilesList(const TStringList& Value) { settings_.filesList.Assign(&Value); }

  // Patterns of entries left out of the run even when DoAll or FilesList
  // takes them.
  TStringList& ExcludeList() { return settings_.excludeList; }
  const TStringList& ExcludeList() const { return settings_.excludeList; }

  bool DoAll() const { return settings_.doAll; }
  void SetDoAll(bool Value) { settings_.doAll = Value; }

  TIncompleteZipMode IncompleteZipMode() const { return settings_.incompleteZipMode; }
  void SetIncompleteZipMode(TIncompleteZipMode Value) { settings_.incompleteZipMode = Value; }

  bool KeepZipOpen() const { return settings_.keepZipOpen; }
  void SetKeepZipOpen(bool Value) { settings_.keepZipOpen = Value; }

  bool DoProcessMessages() const { return settings_.doProcessMessages; }
  void SetDoProcessMessages(bool Value) { settings_.doProcessMessages = Value; }

  // The user interface this component asks, shows and lets breathe through
  // (message boxes, pickers, cursor, window messages); not owned, it must
  // outlive the component. platform::Ui() unless the caller sets another.
  platform::UserInterface& Ui() const { return *settings_.ui; }
  void SetUserInterface(platform::UserInterface& ui) { settings_.ui = &ui; }

  bool RetainAttributes() const { return settings_.retainAttributes; }
  void SetRetainAttributes(bool Value) { settings_.retainAttributes = Value; }

  bool ReplaceReadOnly() const { return settings_.replaceReadOnly; }
  void SetReplaceReadOnly(bool Value) { settings_.replaceReadOnly = Value; }
  // Whether symbolic links whose target is absolute or climbs out of the
  // destination are restored (POSIX; Windows writes every link as a file
  // holding its target).
  bool AbsoluteLinks() const { return settings_.absoluteLinks; }
  void SetAbsoluteLinks(bool Value) { settings_.absoluteLinks = Value; }

  bool FlushFilesOnClose() const { return settings_.flushFilesOnClose; }
  void SetFlushFilesOnClose(bool Value) { settings_.flushFilesOnClose = Value; }

  bool OEMConvert() const { return settings_.oemConvert; }
  void SetOEMConvert(bool Value) { settings_.oemConvert = Value; }

  // Threads that decode entries at once (1: the run's own thread alone).
  // Workers decode ahead, each with its own archive handle, into temporary
  // files; the events still come on the calling thread, in the order and
  // with the arguments of a run on one thread, and names, folders, overwrite
  // questions and renames are dealt with there, entry by entry. Encrypted
  // entries, sets of disks and a TestOutput stay on the calling thread.
  std::int32_t Threads() const { return settings_.threads; }
  void SetThreads(std::int32_t Value) { settings_.threads = Value < 1 ? 1 : Value; }

  // The memory the decoders of a run may hold at once beyond their fixed
  // decoding state (a dictionary, a window), over all its threads. A
  // worker's entry that needs more than is free is decoded on the calling
  // thread, which waits for the workers to give memory back; one that needs
  // more than the whole budget ends the run ("Not enough memory to decode
  // ... data").
  std::uint64_t MemoryBudget() const { return settings_.memoryBudget; }
  void SetMemoryBudget(std::uint64_t Value) { settings_.memoryBudget = Value; }
  // The most the last run's decoders held at once.
  std::uint64_t PeakDecoderMemory() const { return peakDecoderMemory_; }

  // Raise it (from any thread, or a signal handler: it is a lock-free
  // atomic) to end the run: the run and its workers stop at their next
  // block, unfinished files are removed and UnZipFiles raises EUserCanceled.
  // A run that ends so lowers it again; raised before a run, it ends that
  // run before its first entry.
  std::atomic<bool>& CancelRequest() { return cancelRequest_; }

  // The character set of names that lack the UTF-8 flag ("cp936", "gbk",
  // "cp437", ...), whatever system made them; empty: MS-DOS names are taken
  // as OEM code page (OEMConvert) and others as they are. Takes effect at
  // the next directory read. platform::CharsetKnown tells a usable name.
  const std::string& NameCharset() const { return settings_.nameCharset; }
  void SetNameCharset(const std::string& Value) { settings_.nameCharset = Value; }

  // ---- events (fire only when set; the constructor sets OnGetNextDisk) -----
  // FileIndex is always a position in the sorted view (Entry(FileIndex)).
  // Before the first entry: how many entries and bytes the run will take;
  // StopNow ends the run before anything is written.
  TStartUnzipInfo OnStartUnZipInfo;
  // Progress of the current entry and of the whole run, 0 to 100.
  TFilePercentDone OnFilePercentDone;
  TTotalPercentDone OnTotalPercentDone;
  // Before an entry: FName is the output path, which the handler may change;
  // Skip leaves the entry out without a report.
  TStartUnZipEvent OnStartUnZip;
  // After an entry was written and its CRC checked out.
  TEndUnZipEvent OnEndUnZip;
  // With OverwriteMode Prompt, for an existing file: set OverWriteIt to
  // replace it (without a handler the UI seam asks).
  TPromptForOverwrite OnPromptForOverwrite;
  // An entry was left out (bad password, kept file, name or file that cannot
  // be created, undecodable method); Retry is part of the interface and not
  // acted on.
  TSkippingFile OnSkippingFile;
  // While an event reports an entry given up, what more there is to say,
  // or "": for OnSkippingFile with skCannotCreate why the entry cannot be
  // created (no name, an unsafe or reserved name, the system's reason); with
  // skUnsupportedMethod what is unsupported when it is not the compression
  // method ("strong encryption"); for OnBadCRC why the data failed besides
  // its CRC (damaged compressed data, a failed AES authentication code).
  const std::string& SkipDetail() const { return skipDetail_; }
  // An encrypted entry failed with the current password: a different
  // NewPassword is tried at once and kept; the same one skips the entry.
  // An AES entry whose password passed its verifier but whose data then
  // fails goes to OnBadCRC instead.
  TBadPassword OnBadPassword;
  // An entry decoded to a different CRC, or its data proved damaged
  // (SkipDetail says how); nothing of it is left on disk.
  TBadCRC OnBadCRC;
  // The archive's end record is missing: choose whether it is a multi-disk
  // set, a damaged archive to recover from its local headers, or no archive.
  TIncompleteZip OnInCompleteZip;
  // Disk NextDisk (1-based) of a set is needed: set FName to its file, or
  // leave it empty to cancel (EUserCanceled).
  TGetNextDisk OnGetNextDisk;
  // After the run, with the number of entries extracted.
  TUnZipComplete OnUnZipComplete;
  // Part of the component's interface; this engine never fires it.
  TGetNextBuffer OnGetNextBuffer;
  // Replaces the traditional decryption of a buffer in place (the caller's
  // own cipher); Password is the component's current one.
  TDecryptEvent OnDecrypt;

  // ---- public, not published ------------------------------------------------
  const std::string& Password() const { return settings_.password; }
  void SetPassword(const std::string& Value) { settings_.password = Value; }

  bool VerifyDiskLabels() const override { return settings_.verifyDiskLabels; }
  virtual void SetVerifyDiskLabels(bool Value) { settings_.verifyDiskLabels = Value; }
  TMultiDiskMode MultiDiskMode() const override { return settings_.multiDiskMode; }
  void SetMultiDiskMode(TMultiDiskMode Value) override { settings_.multiDiskMode = Value; }

  // Entries in the directory; 0 before a directory was read.
  std::int32_t Count() const;
  // Index addresses the sorted view; outside 0 .. Count-1 raises EListError
  // "Index %d is out of range".
  std::string EntryFileName(std::int32_t Index) const;
  // The whole entry Index of the sorted view (checked like EntryFileName).
  const TZipHeaderInfo& Entry(std::int32_t Index) const { return *CheckedEntry(Index); }
  // Read lazily from the archive and cached in the entry.
  std::string EntryComment(std::int32_t Index);
  // Changes the cached comment only; nothing is written to the archive.
  void SetEntryComment(std::int32_t Index, const std::string& Value);
  std::string ArchiveComment();
  void SetArchiveComment(const std::string& Value);

  // ---- archive file and directory --------------------------------------------
  // Opens ZipName when it is not open and reads the directory when there is
  // none or the file's date changed since it was read.
  void OpenArchive();
  // Closes the archive file unless KeepZipOpen is set.
  void CloseArchive();
  // Back to the state after construction with an empty ZipName; the other
  // settings and the events stay.
  void ClearArchive();
  // Rebuilds the sorted view in Mode and makes it the SortMode.
  void ApplySortMode(TZipSortMode Mode);
  // The first step of an extraction run: OpenArchive with the busy cursor,
  // asking OnInCompleteZip again while it keeps answering an incomplete
  // archive; every other failure clears the archive first.
  void LoadDirectory();
  // Reads the directory from the archive stream (called by OpenArchive;
  // opens the file when it is not open).
  void ReadDirectory();
  // Rebuilds the directory from the local headers of the open archive
  // stream; false when none is found, a scan already ran for this archive
  // or the archive is not open.
  bool ScanLocalHeaders();

  // ---- extraction (Extract.cpp) ------------------------------------------------
  // Extracts the entries chosen by DoAll or FilesList from ZipName into
  // DestDir; answers how many were extracted. Failures to read the archive
  // and fatal decoding errors propagate; single entries are reported through
  // the events.
  std::int32_t UnZipFiles();
  // Test mode: every selected entry is decoded and its CRC checked with the
  // same events, but the output goes nowhere and no file or folder is made.
  bool TestMode() const { return settings_.testMode; }
  void SetTestMode(bool Value) { settings_.testMode = Value; }
  // In test mode, the decoded bytes of every entry are also written here
  // (not owned; nullptr: nowhere). Bytes of an entry that then fails its
  // CRC check have been written all the same.
  TStream* TestOutput() const { return settings_.testOutput; }
  void SetTestOutput(TStream* Value) { settings_.testOutput = Value; }

  // ---- multi-disk sets -------------------------------------------------------
  // Makes the archive stream the file of disk N (1-based), asking
  // OnGetNextDisk for it; raises EUserCanceled "User canceled loading new
  // disk." when no disk is given.
  TS_BufferStream* OpenDisk(std::int32_t N);
  // The component's own OnGetNextDisk: the insert-disk box on removable
  // disks, otherwise the name of the set's file for that disk.
  void DefaultGetNextDisk(TObject* Sender, std::int32_t NextDisk, std::string& FName);

  // ---- traditional decryption --------------------------------------------------
  // The component's own cipher (TTraditionalCipher), by its old names.
  static constexpr std::array<std::uint32_t, 3> kStartingKeys = TTraditionalCipher::kStartingKeys;
  static std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t b);
  void UpdateKeys(std::uint8_t b);
  std::uint8_t DecryptByte() const;
  void InitKeys(const std::string& Password);
  void DecryptBuffer(std::uint8_t* buffer, std::int32_t n);
  // Initialises the keys from Password and answers the last byte of the
  // decrypted 12-byte header.
  std::uint8_t DecryptHeader(const std::string& Password, const std::uint8_t* header);
  // Reads the 12-byte header at the archive stream's position, takes 12 off
  // the current entry's CompressedSize and answers DecryptHeader. A header
  // cut short by the end of the archive answers the complement of the check
  // byte, so it never passes.
  std::uint8_t ReadEncryptionHeader(const std::string& Password);
  // The byte the decrypted header must end with: the time's high byte for
  // an entry with a data descriptor, otherwise the CRC's high byte.
  static std::uint8_t CheckByte(const TZipHeaderInfo& entry);
  // The password test for the current entry, with the archive stream right
  // after its local header: true when accepted (keys ready for the data);
  // a refusal asks OnBadPassword, and a new answer becomes Password and is
  // tried. False when no other password came: the entry is to be skipped.
  bool CheckPassword(std::int32_t FileIndex);
  std::uint32_t Key(int n) const { return cipher_.Key(n); }

  // ---- WinZip AES (WinZipAes.cpp) -------------------------------------------------
  // The password test of an AES entry, with the archive stream right after
  // its local header: the verifier derived from Password and the salt must
  // match the stored one. Refusals go through OnBadPassword as in
  // CheckPassword. When accepted the entry's data is decrypted and
  // authenticated as it is read, and CompressedSize counts the encrypted
  // bytes alone.
  bool CheckAesPassword(std::int32_t FileIndex, const WinZipAesField& field);
  // After decoding an AES entry: takes in the unread bytes of the encrypted
  // data the decoder left and answers whether the stored authentication
  // code matches.
  bool AesEntryAuthentic(std::int64_t unread);

  // ---- the working entry ---------------------------------------------------------
  // Copies entry Index of the sorted view into the current entry and, for a
  // file entry, moves the archive stream (changing disks when needed) to the
  // first byte after its local header. The archive must be open.
  void LocateEntry(std::int32_t Index);
  const TZipHeaderInfo& CurrentEntry() const;
  TZipHeaderInfo& CurrentEntry();
  // The end record of the loaded archive.
  const TEndCentral& EndCentral() const;
  // The archive stream, or null when the file is closed.
  TS_BufferStream* ArchiveStream() const;
  std::int32_t CurrentDisk() const;
  bool LocalScanDone() const;
  // The directory in use was rebuilt from the local headers: the central
  // directory is missing or damaged, and the entries may differ from what
  // other tools list. RebuildReason says why in a few words ("no end
  // record", "a central header is missing or damaged", "two central headers
  // name the same local header").
  bool DirectoryRebuilt() const;
  const std::string& RebuildReason() const;
  // The central directory holds more headers (within its stated size) than
  // the end record counts; every one was read. Says so in a few words, or
  // is empty.
  const std::string& CountMismatch() const;
  std::int32_t ArchiveDate() const;

  // ---- DecodeInput: the working entry's data for the decoders ---------------
  std::int32_t ReadInput(void* buffer, std::int32_t count) override;
  bool CanSpan() const override;
  bool OpenNextDisk() override;
  // AES, OnDecrypt when assigned, or the traditional cipher; nothing for a
  // plain entry.
  void Decrypt(std::uint8_t* buffer, std::int32_t length) override;
  // From the archive stream's buffer; nothing for an encrypted entry.
  const std::uint8_t* LendInput(std::int32_t count) override;
  void ReturnInput(std::int32_t count) override;
  void Breathe() override;

 protected:
  // The entry Index of the sorted view (checked like EntryFileName).
  TZipHeaderInfo* CheckedEntry(std::int32_t Index) const;

 private:
  // TArchiveOwner: the events and virtual settings the reader asks for.
  bool HandlesIncompleteZip() const override { return static_cast<bool>(OnInCompleteZip); }
  void AskIncompleteZip() override;
  bool AskNextDisk(std::int32_t disk, std::string& name) override;
  // TRunReports: the events an extraction run reports with detail.
  void ReportSkip(TSkipReason reason, const std::string& name, std::int32_t index, bool& retry,
                  const std::string& detail) override;
  void ReportBadCrc(std::int32_t calcCrc, std::int32_t storedCrc, std::int32_t index,
                    const std::string& detail) override;
  void NotePeakMemory(std::uint64_t bytes) override { peakDecoderMemory_ = bytes; }

  bool designing_;
  TObject* owner_;
  std::int32_t thisVersion_ = kThisVersion;
  TUnZipSettings settings_;
  std::unique_ptr<TArchiveReader> reader_;
  TTraditionalCipher cipher_;
  // The working entry's AES decryption; null unless it is an AES entry.
  std::unique_ptr<WinZipAesDecryptor> aesDecryptor_;
  std::string skipDetail_;
  std::uint64_t peakDecoderMemory_ = 0;
  std::atomic<bool> cancelRequest_{false};
};

}  // namespace quv
