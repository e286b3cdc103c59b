// Reading an archive's directory: the end record and its plausibility, the
// configuration file that can stand in for a lost directory, the central
// entries (with the retry for a lying extra-field length and the recovery
// from duplicate entries), and the scan that rebuilds the directory from the
// local headers when the central directory is missing or damaged.
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/Ui.h"
#include "unzip/FileNames.h"
#include "unzip/UnZip.h"
#include "zip/Exception.h"

namespace quv {

namespace {

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kScanMessageInterval = 10240;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr std::int32_t kDataDescriptorSize = 16;

[[noreturn]] void ThrowBadZip() { throw EBadZipFile("Not a valid zip file!"); }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Moves the stream forward by n bytes from where it stands.
void Skip(TStream& stream, std::int64_t n) {
  if (n <= 0) return;
  const std::int64_t target = stream.Position() + n;
  stream.Seek(static_cast<std::int32_t>(target > kMaxPosition ? kMaxPosition : target), soFromBeginning);
}

// For a local entry whose sizes follow its data: finds the signed data
// descriptor whose compressed size equals its distance from dataStart, fills
// the entry's CRC and sizes from it and leaves the stream after it.
bool FindDataDescriptor(TStream& stream, std::int64_t dataStart, TZipHeaderInfo& entry) {
  constexpr std::int32_t kChunk = 32768;
  constexpr std::int32_t kKeep = kDataDescriptorSize - 1;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunk + kKeep]);
  std::int32_t held = 0;       // bytes in buffer
  std::int64_t base = dataStart;  // file position of buffer[0]
  stream.Seek(static_cast<std::int32_t>(dataStart), soFromBeginning);
  for (;;) {
    const std::int32_t got = stream.Read(buffer.get() + held, kChunk);
    if (got <= 0) return false;
    held += got;
    for (std::int32_t i = 0; i + kDataDescriptorSize <= held; ++i) {
      const std::uint8_t* p = buffer.get() + i;
      if (Le32(p) != kDataDescriptorSignature) continue;
      const std::int64_t at = base + i;
      if (static_cast<std::int64_t>(Le32(p + 8)) != at - dataStart) continue;
      entry.CRC32 = Le32(p + 4);
      entry.CompressedSize = static_cast<std::int32_t>(Le32(p + 8));
      entry.UncompressedSize = static_cast<std::int32_t>(Le32(p + 12));
      stream.Seek(static_cast<std::int32_t>(at + kDataDescriptorSize), soFromBeginning);
      return true;
    }
    const std::int32_t keep = held < kKeep ? held : kKeep;
    std::memmove(buffer.get(), buffer.get() + held - keep, static_cast<std::size_t>(keep));
    base += held - keep;
    held = keep;
    if (base + held > kMaxPosition) return false;
  }
}

}  // namespace

bool TUnZip::EndRecordPlausible() const {
  const TEndCentral& end = *endCentral_;
  return end.ThisDisk <= 999 && end.CentralDisk <= 999 && end.ThisDisk >= end.CentralDisk &&
         end.CentralDirOffset < 0x80000000u;
}

void TUnZip::LoadDirectory() {
  // A handler that keeps answering "another disk may come" while the archive
  // stays incomplete is asked again once, not forever; then the load fails.
  constexpr int kIncompleteAttempts = 2;
  for (int attempt = 1;; ++attempt) {
    platform::BusyCursor busy;
    try {
      OpenArchive();
      break;
    } catch (const EIncompleteZip&) {
      ReleaseArchiveStream();
      if (!OnInCompleteZip) return;
      if (attempt >= kIncompleteAttempts) throw;
      continue;
    } catch (...) {
      ClearArchive();
      throw;
    }
  }
  CloseArchive();
}

void TUnZip::ReadDirectory() {
  OpenArchiveStream();
  archiveDate_ = platform::FileGetDate(archiveStream_->Handle());
  ReleaseDirectory();
  centralInArchive_ = false;
  try {
    bool configMode = false;
    std::unique_ptr<TLFNFileStream> config;

    endCentral_->Clear();
    bool found = endCentral_->FindEndCentral(*archiveStream_) && EndRecordPlausible();
    if (!found) {
      endCentral_->Clear();
      const std::string configName = names::ChangeFileExt(zipName_, ".zfc");
      if (platform::FileExists(configName)) {
        config = std::make_unique<TLFNFileStream>(configName, streamBufferSize_, false, platform::fmOpenRead);
        // An empty file would count as an empty archive; it holds no directory.
        if (config->Size() > 0 && endCentral_->FindEndCentral(*config) && EndRecordPlausible()) {
          found = true;
          configMode = true;
        } else {
          endCentral_->Clear();
          config.reset();
        }
      }
    }

    if (found) {
      currentDisk_ = configMode ? 0 : endCentral_->ThisDisk;
      centralInArchive_ = !configMode;
      DetectMultiDiskMode();
      if (!configMode && endCentral_->ThisDisk != 0) setLastDiskName_ = zipName_;
      if (endCentral_->TotalEntries > 0) {
        if (!configMode && MultiDiskMode() != mdNone && endCentral_->CentralDisk != currentDisk_) {
          OpenDisk(endCentral_->CentralDisk + 1);
        }
        TStream& stream = configMode ? static_cast<TStream&>(*config) : *archiveStream_;
        stream.Seek(configMode ? 0 : static_cast<std::int32_t>(endCentral_->CentralDirOffset), soFromBeginning);
      }
    } else {
      // Whatever an earlier archive was, this one is read as a single file.
      SetMultiDiskMode(mdNone);
      if (OnInCompleteZip) OnInCompleteZip(this, incompleteZipMode_);
      switch (incompleteZipMode_) {
        case izAssumeNotAZip:
          throw ENotAZipFile("Not a valid zip file!");
        case izAssumeBad:
          if (!ScanLocalHeaders()) {
            ClearArchive();
            ThrowBadZip();
          }
          break;
        default:
          throw EIncompleteZip("Incomplete Zip File");
      }
    }

    if (!directory_ || directory_->Count() == 0) NewDirectory();

    TStream* stream = configMode ? static_cast<TStream*>(config.get()) : archiveStream_.get();
    ReadCentralEntries(stream, configMode);

    if (endCentral_->HasComment()) {
      if (configMode) {
        // The comment's offset is one in the configuration file, which is
        // gone after this read: take the comment now.
        LoadArchiveComment(*config);
      } else if (endCentral_->ThisDisk != 0) {
        if (currentDisk_ != endCentral_->ThisDisk) OpenDisk(endCentral_->ThisDisk + 1);
        LoadArchiveComment(*archiveStream_);
      }
    }
    // The current disk is the one the archive stream is on: OpenDisk keeps
    // it, and a single file is disk 0.
    ApplySortMode(sortMode_);
  } catch (...) {
    // A half-read directory must not be taken for the archive's next time.
    ReleaseDirectory();
    throw;
  }
}

void TUnZip::ReadCentralEntries(TStream*& stream, bool configMode) {
  const TNextVolume nextVolume = [this](void*, TZipHeaderInfo&, TStream*& volume) {
    // Past the disk of the end record there is no disk to ask for: the
    // header is simply not there.
    if (currentDisk_ < endCentral_->ThisDisk) volume = OpenDisk(currentDisk_ + 2);
  };
  const TNextVolume noVolume;
  const bool eagerComments = configMode || endCentral_->ThisDisk != 0;

  std::uint16_t previousExtra = 0;
  TZipHeaderInfo* previous = nullptr;
  // Starts the loop again after a scan rebuilt the directory: the central
  // headers now only refresh the entries found.
  auto restart = [&](std::int32_t& i) {
    i = 0;
    previousExtra = 0;
    previous = nullptr;
    if (configMode) stream->Seek(0, soFromBeginning);
  };

  for (std::int32_t i = 0; i < endCentral_->TotalEntries;) {
    const bool spanning = !localScan_ && !configMode && MultiDiskMode() != mdNone;
    std::unique_ptr<TZipHeaderInfo> entry = NewEntry();
    bool read = entry->ReadCentralFromStream(stream, spanning ? nextVolume : noVolume, this);
    if (!read && previousExtra > 0 && stream->Position() >= previousExtra) {
      // The previous entry's extra field was not there: read it as absent.
      previous->CentralExtraFieldLength = 0;
      stream->Seek(-static_cast<std::int32_t>(previousExtra), soFromCurrent);
      if (previous->FileCommentLoaded() && stream->Position() >= previous->FileCommentLength) {
        // Its comment, read at once, was taken from the wrong place.
        const std::int64_t back = stream->Position();
        stream->Seek(static_cast<std::int32_t>(back - previous->FileCommentLength), soFromBeginning);
        std::string text(previous->FileCommentLength, '\0');
        stream->Read(text.data(), previous->FileCommentLength);
        previous->SetFileComment(std::move(text));
        stream->Seek(static_cast<std::int32_t>(back), soFromBeginning);
      }
      read = entry->ReadCentralFromStream(stream, spanning ? nextVolume : noVolume, this);
    }
    previousExtra = 0;
    previous = nullptr;

    if (!read) {
      if (localScan_) break;
      if (MultiDiskMode() != mdNone || !ScanLocalHeaders()) {
        ClearArchive();
        ThrowBadZip();
      }
      restart(i);
      continue;
    }

    if (localScan_) {
      const std::int32_t at = directory_->IndexOf(entry.get());
      if (at >= 0) {
        TZipHeaderInfo* listed = directory_->Items(at);
        const std::uint32_t offset = listed->RelativeOffsetOfLocalHeader;
        listed->Assign(entry.get());
        listed->RelativeOffsetOfLocalHeader = offset;
      }
      // Step over the rest of this header also when no entry matched, so
      // that the next header is read from its start.
      Skip(*stream, static_cast<std::int64_t>(entry->CentralExtraFieldLength) + entry->FileCommentLength);
      ++i;
      continue;
    }

    TZipHeaderInfo* added = entry.get();
    try {
      directory_->Add(added);
      entry.release();
    } catch (const EListError&) {
      // Two entries claim the same local header: the directory is damaged.
      // The local headers of a multi-disk set are on other disks, so no
      // scan of this file can stand in for it.
      if (MultiDiskMode() == mdNone && ScanLocalHeaders()) {
        restart(i);
        continue;
      }
      entry.reset();
      ClearArchive();
      ThrowBadZip();
    }

    if (eagerComments && added->HasComment()) {
      // Read while this disk (or the configuration file) is at hand.
      Skip(*stream, added->CentralExtraFieldLength);
      std::string text(added->FileCommentLength, '\0');
      const std::int32_t got = stream->Read(text.data(), added->FileCommentLength);
      text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
      added->SetFileComment(std::move(text));
    } else {
      Skip(*stream, static_cast<std::int64_t>(added->CentralExtraFieldLength) + added->FileCommentLength);
    }
    if (added->CentralExtraFieldLength > 0) {
      previousExtra = added->CentralExtraFieldLength;
      previous = added;
    }
    ++i;
  }
}

bool TUnZip::ScanLocalHeaders() {
  if (localScan_ || !archiveStream_) return false;
  localScan_ = true;
  ReleaseDirectory();
  TS_BufferStream& stream = *archiveStream_;

  const std::int32_t start = names::SameText(names::ExtractFileExt(zipName_), ".EXE") ? kSfxScanStart : 0;
  stream.Seek(start, soFromBeginning);

  // Find the first local header signature followed by a plausible version.
  const auto& signature = ZipSignatures().LocalBytes;
  int matched = 0;
  std::int32_t passed = 0;
  for (;;) {
    std::uint8_t b = 0;
    if (stream.Read(&b, 1) != 1) return false;
    if (++passed == kScanMessageInterval) {
      passed = 0;
      if (doProcessMessages_) platform::Ui().ProcessMessages();
    }
    if (matched < 4) {
      if (b == signature[matched]) {
        ++matched;
      } else {
        matched = b == signature[0] ? 1 : 0;
      }
    } else if (matched == 4) {
      matched = 5;  // low byte of the version needed
    } else {
      if (b < 10) break;
      matched = 0;
    }
  }
  stream.Seek(-6, soFromCurrent);
  NewDirectory();

  for (;;) {
    std::unique_ptr<TZipHeaderInfo> entry = NewEntry();
    if (!entry->ReadLocalFromStream(stream)) break;
    const std::int64_t dataStart = stream.Position() + entry->LocalExtraFieldLength;
    bool sizesKnown = true;
    if (entry->HasDataDescriptor() && entry->CompressedSize == 0) {
      // The sizes follow the data; take them from the descriptor.
      sizesKnown = FindDataDescriptor(stream, dataStart, *entry);
    } else {
      const std::int64_t next = dataStart + entry->CompressedSize +
                                (entry->HasDataDescriptor() ? kDataDescriptorSize : 0);
      if (entry->CompressedSize < 0 || next > kMaxPosition) {
        sizesKnown = false;
      } else {
        stream.Seek(static_cast<std::int32_t>(next), soFromBeginning);
      }
    }
    directory_->Add(entry.release());
    // Without its size the entry's end, and so the next header, is unknown.
    if (!sizesKnown) break;
  }

  endCentral_->ThisDisk = 0;
  endCentral_->TotalEntries = static_cast<std::uint16_t>(Count());
  endCentral_->CentralDirOffset = static_cast<std::uint32_t>(stream.Position());
  currentDisk_ = 0;
  SetMultiDiskMode(mdNone);
  return true;
}

}  // namespace quv
