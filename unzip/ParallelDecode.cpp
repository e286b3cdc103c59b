#include "unzip/ParallelDecode.h"

#include <algorithm>
#include <utility>

#include "decompress/DecodeContext.h"
#include "zip/BufferStream.h"
#include "zip/Exception.h"
#include "zip/Records.h"

namespace quv {

bool TMemoryBudget::TryReserve(std::uint64_t bytes) {
  const platform::MutexLock lock(mutex_);
  if (callerWaits_ || bytes > limit_ - used_) return false;
  Take(bytes);
  return true;
}

bool TMemoryBudget::Reserve(std::uint64_t bytes, std::uint64_t held) {
  if (held > limit_ || bytes > limit_ - held) return false;
  for (;;) {
    {
      const platform::MutexLock lock(mutex_);
      // What is held beyond the caller's own is the workers', and they give
      // it back as their entries end.
      if (bytes <= limit_ - used_) {
        callerWaits_ = false;
        Take(bytes);
        return true;
      }
      callerWaits_ = true;
    }
    released_.Wait();
  }
}

void TMemoryBudget::Release(std::uint64_t bytes) {
  bool wake = false;
  {
    const platform::MutexLock lock(mutex_);
    used_ -= std::min(bytes, used_);
    wake = callerWaits_;
  }
  if (wake) released_.Raise();
}

void TMemoryBudget::Take(std::uint64_t bytes) {
  used_ += bytes;
  peak_ = std::max(peak_, used_);
}

namespace {

// A worker's entry that needs more memory than is free now: the calling
// thread decodes it when its turn comes.
class ENoMemoryNow : public Exception {
 public:
  using Exception::Exception;
};

// One worker's own input and output for the decoders: its own archive
// handle, CRC register and output.
class TWorkerHost final : public DecodeInput, public DecodeOutput {
 public:
  TWorkerHost(const TParallelSettings& settings, const std::atomic<bool>& stop)
      : settings_(settings),
        stop_(stop),
        archive_(settings.archive, settings.archiveBufferSize, false, platform::fmOpenRead | platform::fmShareDenyWrite),
        context_(*this, *this) {}

  // The entry decoded, its CRC checked; null when anything went wrong.
  std::unique_ptr<TPreparedEntry> Decode(const TDecodeJob& job) {
    try {
      auto prepared = std::make_unique<TPreparedEntry>();
      if (!job.target.empty() && platform::NameTaken(job.target)) return nullptr;
      if (!SeekData(job)) return nullptr;
      TNullStream nowhere;
      if (!settings_.testMode)
        prepared->file = std::make_unique<TOutputFile>("", *settings_.tree, settings_.tempFolder, job.uncompressedSize,
                                                       job.stamp.CreationPermissions());
      output_ = prepared->file ? static_cast<TStream*>(prepared->file.get()) : &nowhere;
      blocks_ = settings_.recordBlocks ? &prepared->blocks : nullptr;
      context_.ResetForEntry(job.compressedSize, job.uncompressedSize);
      const DecodeResult result = DecodeEntry(context_, job.method, job.bitFlag);
      output_ = nullptr;
      prepared->crc = ~crc_;
      if (result != DecodeResult::Decoded || prepared->crc != job.crc) return nullptr;
      if (prepared->file) prepared->file->Finish(settings_.commitToDisk, job.stamp);
      return prepared;
    } catch (...) {
      output_ = nullptr;
      return nullptr;
    }
  }

  // Workers take no encrypted entry and no set of disks.
  std::int32_t ReadInput(void* buffer, std::int32_t count) override { return archive_.Read(buffer, count); }
  bool CanSpan() const override { return false; }
  bool OpenNextDisk() override { return false; }
  void Decrypt(std::uint8_t* /*buffer*/, std::int32_t /*length*/) override {}
  const std::uint8_t* LendInput(std::int32_t count) override { return archive_.Lend(count); }
  void ReturnInput(std::int32_t count) override { archive_.Unlend(count); }
  std::int64_t OutputPosition() override { return output_->Position(); }
  std::int32_t WriteOutput(const void* buffer, std::int32_t count) override { return output_->Write(buffer, count); }
  std::uint32_t& Crc() override { return crc_; }
  void BlockWritten(std::int32_t n, std::int64_t /*entryBytesOut*/, std::int64_t /*unpackedSize*/) override {
    if (stop_.load(std::memory_order_relaxed) || (settings_.cancel && settings_.cancel->load(std::memory_order_relaxed)))
      throw EUserCanceled("The run ended");
    if (blocks_) blocks_->push_back(n);
  }
  bool ReserveMemory(std::uint64_t bytes) override {
    if (!settings_.memory || settings_.memory->TryReserve(bytes)) return true;
    throw ENoMemoryNow("Not enough memory free for the entry");
  }
  void ReleaseMemory(std::uint64_t bytes) override {
    if (settings_.memory) settings_.memory->Release(bytes);
  }

 private:
  // Reads the local header and moves to the entry's data; false when the
  // header is cut short or the data would run into what follows.
  bool SeekData(const TDecodeJob& job) {
    const std::int64_t wanted = job.headerGuess + job.compressedSize;
    archive_.SetReadAhead(static_cast<std::int32_t>(std::min<std::int64_t>(wanted, settings_.archiveBufferSize)));
    archive_.Seek(job.headerOffset, soFromBeginning);
    std::uint8_t fixed[LocalFileHeader::kSize];
    if (archive_.Read(fixed, LocalFileHeader::kSize) != LocalFileHeader::kSize) return false;
    const LocalFileHeader header = LocalFileHeader::FromBytes(fixed);
    const std::int64_t dataStart = job.headerOffset + LocalFileHeader::kSize + header.FileNameLength + header.ExtraFieldLength;
    if (job.dataLimit >= 0 && dataStart + job.compressedSize > job.dataLimit) return false;
    archive_.Seek(dataStart, soFromBeginning);
    return true;
  }

  const TParallelSettings& settings_;
  const std::atomic<bool>& stop_;
  TLFNFileStream archive_;
  TDecodeContext context_;
  std::uint32_t crc_ = 0xFFFFFFFFu;
  TStream* output_ = nullptr;
  std::vector<std::int32_t>* blocks_ = nullptr;
};

}  // namespace

TParallelDecoder::TParallelDecoder(TParallelSettings settings, std::vector<TDecodeJob> jobs)
    : settings_(std::move(settings)), jobs_(std::move(jobs)), slots_(jobs_.size()) {
  std::stable_sort(jobs_.begin(), jobs_.end(),
                   [](const TDecodeJob& a, const TDecodeJob& b) { return a.uncompressedSize > b.uncompressedSize; });
  std::int32_t lastIndex = -1;
  for (const TDecodeJob& job : jobs_) lastIndex = std::max(lastIndex, job.index);
  jobOf_.assign(static_cast<std::size_t>(lastIndex + 1), kNone);
  for (std::size_t i = 0; i < jobs_.size(); ++i) jobOf_[static_cast<std::size_t>(jobs_[i].index)] = i;
  const unsigned count = std::min<unsigned>(settings_.threads, static_cast<unsigned>(jobs_.size()));
  for (unsigned i = 0; i < count; ++i) {
    try {
      workers_.push_back(std::make_unique<platform::Thread>([this] { Work(); }));
    } catch (...) {
      break;  // the system gives no more threads: the ones there do the work
    }
  }
  // None at all: the calling thread does every entry itself.
  if (workers_.empty()) {
    for (Slot& slot : slots_) slot.done = true;
  }
}

TParallelDecoder::~TParallelDecoder() {
  stop_ = true;
  for (auto& worker : workers_) worker->Join();
}

void TParallelDecoder::Work() {
  std::unique_ptr<TWorkerHost> host;
  try {
    host = std::make_unique<TWorkerHost>(settings_, stop_);
  } catch (...) {
    // Without its own archive handle the worker takes no job; the calling
    // thread does the ones nobody took.
  }
  for (;;) {
    if (stop_) return;
    const std::size_t job = next_++;
    if (job >= jobs_.size()) return;
    // A cancelled run still gets every job answered, so that the calling
    // thread never waits for one nobody takes.
    const bool cancelled = settings_.cancel && settings_.cancel->load(std::memory_order_relaxed);
    std::unique_ptr<TPreparedEntry> result = host && !cancelled ? host->Decode(jobs_[job]) : nullptr;
    bool awaited = false;
    {
      const platform::MutexLock lock(mutex_);
      slots_[job].result = std::move(result);
      slots_[job].done = true;
      awaited = awaited_ == job;
    }
    // Only a result the calling thread waits for wakes it (a system call).
    if (awaited) finished_.Raise();
  }
}

std::unique_ptr<TPreparedEntry> TParallelDecoder::Take(std::int32_t index) {
  if (index < 0 || std::cmp_greater_equal(index, jobOf_.size())) return nullptr;
  const std::size_t job = jobOf_[static_cast<std::size_t>(index)];
  if (job == kNone) return nullptr;
  Slot& slot = slots_[job];
  for (;;) {
    {
      const platform::MutexLock lock(mutex_);
      if (slot.done) {
        awaited_ = kNone;
        return std::move(slot.result);
      }
      awaited_ = job;
    }
    finished_.Wait();
  }
}

}  // namespace quv
