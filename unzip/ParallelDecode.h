// Decoding ahead on worker threads for a parallel extraction run. Workers
// decode whole entries into temporary files (or, testing, nowhere) and keep
// the result; the run's calling thread takes each result when the entry's
// turn comes and does everything the user sees (events, folders, renames)
// itself, in entry order. A worker that cannot finish an entry cleanly
// (damaged data, a bad header, a full disk) drops it, and the calling
// thread does that entry the ordinary way, so what it reports is exactly
// what a run on one thread reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Threads.h"
#include "unzip/OutputFile.h"

namespace quv {

// What a worker needs of an entry, copied on the calling thread so that
// workers never touch the directory.
struct TDecodeJob {
  std::int32_t index = 0;  // in the sorted view
  std::int64_t headerOffset = 0;
  std::int64_t compressedSize = 0;
  std::int64_t uncompressedSize = 0;
  std::int64_t dataLimit = -1;  // where the data must end; -1: not known
  std::int32_t headerGuess = 0;  // the local header's likely length
  std::uint16_t method = 0;
  std::uint16_t bitFlag = 0;
  std::uint32_t crc = 0;
  platform::FileStamp stamp;
  // The file the entry would replace, when that is not done without asking;
  // an existing one leaves the entry to the calling thread.
  std::string target;
};

// An entry decoded ahead, its CRC checked out.
struct TPreparedEntry {
  std::unique_ptr<TOutputFile> file;  // null in test mode
  std::uint32_t crc = 0;
  // The sizes of the blocks as they were written, for the progress events.
  std::vector<std::int32_t> blocks;
};

// The memory a run's decoders may hold at once beyond their decoding
// states, over all its threads. Workers take only what is free and leave an
// entry that needs more to the calling thread; the calling thread waits for
// the workers to give memory back, and while it waits they take none, so it
// never waits on memory that only it could free.
class TMemoryBudget {
 public:
  explicit TMemoryBudget(std::uint64_t limit) : limit_(limit) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  // A worker's request: false when bytes more are not free now.
  bool TryReserve(std::uint64_t bytes);
  // The calling thread's request, which holds held already: waits until
  // bytes more are free; false when the limit can never hold them.
  bool Reserve(std::uint64_t bytes, std::uint64_t held);
  void Release(std::uint64_t bytes);
  // The most that was held at once.
  std::uint64_t Peak() const { return peak_; }

 private:
  void Take(std::uint64_t bytes);

  const std::uint64_t limit_;
  std::uint64_t used_ = 0;
  std::uint64_t peak_ = 0;
  bool callerWaits_ = false;
  platform::Mutex mutex_;
  platform::Signal released_;
};

struct TParallelSettings {
  std::string archive;
  platform::OutputTree* tree = nullptr;  // the destination, unless testing
  std::string tempFolder;  // where the files are decoded to, before their folders exist
  std::int32_t archiveBufferSize = 0;
  bool testMode = false;
  bool commitToDisk = false;
  bool recordBlocks = false;
  unsigned threads = 2;
  TMemoryBudget* memory = nullptr;  // the run's; not owned
  // Raised from outside to end the run: workers stop at their next block.
  const std::atomic<bool>* cancel = nullptr;
};

class TParallelDecoder {
 public:
  // Starts the workers on jobs, largest first.
  TParallelDecoder(TParallelSettings settings, std::vector<TDecodeJob> jobs);
  // Stops the workers (each after its current block) and drops what was
  // not taken.
  ~TParallelDecoder();
  TParallelDecoder(const TParallelDecoder&) = delete;
  TParallelDecoder& operator=(const TParallelDecoder&) = delete;

  // Waits for entry index and hands over its result; null when it was not
  // a job or its worker dropped it.
  std::unique_ptr<TPreparedEntry> Take(std::int32_t index);

 private:
  struct Slot {
    bool done = false;
    std::unique_ptr<TPreparedEntry> result;
  };
  void Work();

  TParallelSettings settings_;
  std::vector<TDecodeJob> jobs_;
  // By entry index: the entry's place in jobs_, kNone when it is not a job.
  std::vector<std::size_t> jobOf_;
  std::vector<Slot> slots_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  platform::Mutex mutex_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The job the calling thread waits for (guarded by mutex_).
  std::size_t awaited_ = kNone;
  platform::Signal finished_;
  std::vector<std::unique_ptr<platform::Thread>> workers_;
};

}  // namespace quv
