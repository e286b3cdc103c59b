// The engine's buffered stream: moves data to and from any TStream in blocks
// of a caller-chosen size, with one byte of put-back for the readers.
// TLFNFileStream is the same bound to a file it opens and owns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "zip/Stream.h"

namespace quv {

using TNotifyEvent = std::function<void(TObject* sender)>;

class TS_BufferStream : public TStream {
 public:
  // State values.
  static constexpr std::uint8_t kEmpty = 0;
  static constexpr std::uint8_t kReading = 1;
  static constexpr std::uint8_t kWriting = 2;

  // stream is not owned; bufSize must be positive.
  TS_BufferStream(TStream* stream, std::int32_t bufSize);
  ~TS_BufferStream() override;
  TS_BufferStream(const TS_BufferStream&) = delete;
  TS_BufferStream& operator=(const TS_BufferStream&) = delete;
  std::string ClassName() const override { return "TS_BufferStream"; }

  std::int32_t Read(void* dest, std::int32_t count) override;
  // Answers the bytes of this call that were written or are still pending;
  // bytes lost with a block the underlying stream refused are not counted.
  std::int32_t Write(const void* src, std::int32_t count) override;
  // Raises Exception "Invalid seek origin (%d)", EStreamError "Stream seek
  // error" for a target before the start and, when pending bytes cannot be
  // written, Exception "Seek error". A target inside the read-ahead moves
  // within it, so short steps back and forth cost no system call.
  std::int64_t Seek(std::int64_t offset, int origin) override;
  // The larger of the logical position and the underlying size.
  std::int64_t Size() override;
  // The most each later refill reads (for a reader that knows how little it
  // needs); 0: a whole buffer.
  void SetReadAhead(std::int32_t bytes);
  // The next count bytes where they lie in the buffer, taken as read. When
  // fewer are there, the unread ones move to the buffer's start and a refill
  // reads the rest. Null, with nothing taken, when count bytes cannot be
  // had that way (the stream's end is nearer, count is more than the buffer
  // holds, or the stream is writing). Valid until the next call on the stream.
  const std::uint8_t* Lend(std::int32_t count);
  // Steps back over the last count bytes Lend answered: they will be read again.
  // Raises EStreamError "Putback overflow" when the buffer does not hold them.
  void Unlend(std::int32_t count);

  virtual bool FillBuffer();
  virtual bool FlushBuffer();
  // Raises EStreamError "Putback overflow" when there is nothing to step back over.
  virtual void PutBack(std::uint8_t b);
  virtual void DoFillBuffer();
  virtual void DoFlushBuffer();

  // Fields, as the engine's readers and writers use them.
  TStream* Stream;                       // underlying stream, not owned
  std::unique_ptr<std::uint8_t[]> Buffer;  // BufSize bytes
  std::uint8_t* BufPtr = nullptr;        // null: not set up since construction or the last seek
  std::uint8_t* BufEnd = nullptr;
  std::int32_t BufSize;
  std::uint8_t State = kEmpty;
  bool FlushOnDestroy = false;
  bool Written = false;
  // Set when the underlying stream accepted fewer bytes than were pending;
  // stays set. Lets a writer notice a lost final block, which the
  // destructor's flush cannot report.
  bool WriteError = false;
  TNotifyEvent OnFillBuffer;
  TNotifyEvent OnFlushBuffer;

 protected:
  // Bytes fetched but not yet handed out (<= 0) or waiting to be written (>= 0).
  std::int32_t Adjustment() const;
  // The destructor's work: final flush and optional commit. Runs once;
  // descendants that own the underlying stream call it before freeing it.
  void Finish();

 private:
  // Lend's refill: the unread bytes move to the buffer's start and at least
  // count - unread more are asked for; true when count bytes are there.
  bool FillKeepingUnread(std::int32_t count);

  bool finished_ = false;
  std::int32_t readAhead_ = 0;
};

class TLFNFileStream : public TS_BufferStream {
 public:
  // mode is a platform::fm* open mode; the file-open error propagates.
  TLFNFileStream(const std::string& fileName, std::int32_t bufSize, bool flushOnClose,
                 std::uint16_t mode);
  ~TLFNFileStream() override;
  std::string ClassName() const override { return "TLFNFileStream"; }

  platform::FileHandle Handle() const { return FileStream->Handle(); }

  std::unique_ptr<TFileStream> FileStream;
};

}  // namespace quv
