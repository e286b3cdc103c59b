#include "zip/BufferStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zip/Exception.h"

namespace quv {

TS_BufferStream::TS_BufferStream(TStream* stream, std::int32_t bufSize)
    : Stream(stream), BufSize(std::max<std::int32_t>(bufSize, 1)) {
  Buffer.reset(new std::uint8_t[static_cast<std::size_t>(BufSize)]);
  BufEnd = Buffer.get() + BufSize;
}

TS_BufferStream::~TS_BufferStream() {
  try {
    Finish();
  } catch (...) {
    // A destructor cannot report; WriteError already records a lost block.
  }
}

void TS_BufferStream::Finish() {
  if (finished_) return;
  finished_ = true;
  if (State == kWriting) FlushBuffer();
  if (FlushOnDestroy && Written) {
    if (auto* handleStream = dynamic_cast<THandleStream*>(Stream)) platform::FileCommit(handleStream->Handle());
  }
}

std::int32_t TS_BufferStream::Adjustment() const {
  if (BufPtr == nullptr) return 0;
  if (State == kReading) return static_cast<std::int32_t>(BufPtr - BufEnd);
  if (State == kWriting) return static_cast<std::int32_t>(BufPtr - Buffer.get());
  return 0;
}

std::int32_t TS_BufferStream::Read(void* dest, std::int32_t count) {
  if (State == kWriting) FlushBuffer();
  // Anything but read-ahead data (a flushed write block, nothing set up yet)
  // counts as an empty buffer.
  if (State != kReading) {
    BufPtr = Buffer.get();
    BufEnd = BufPtr;
  }
  auto* out = static_cast<std::uint8_t*>(dest);
  std::int32_t total = 0;
  while (count > 0) {
    if (BufPtr >= BufEnd) {
      if (!FillBuffer()) break;
    }
    const auto n = static_cast<std::int32_t>(std::min<std::ptrdiff_t>(count, BufEnd - BufPtr));
    std::memcpy(out + total, BufPtr, static_cast<std::size_t>(n));
    BufPtr += n;
    total += n;
    count -= n;
  }
  return total;
}

std::int32_t TS_BufferStream::Write(const void* src, std::int32_t count) {
  if (State == kReading) {
    // Hand the read-ahead back: the underlying stream goes to the logical position.
    Stream->Seek(Adjustment(), soFromCurrent);
    State = kEmpty;
  }
  if (State != kWriting) {
    BufPtr = Buffer.get();
    BufEnd = BufPtr + BufSize;
  }
  const auto* in = static_cast<const std::uint8_t*>(src);
  std::int32_t accepted = 0;
  std::int32_t inBlock = 0;  // bytes of this call in the current block
  while (count > 0) {
    const auto n = static_cast<std::int32_t>(std::min<std::ptrdiff_t>(count, BufEnd - BufPtr));
    std::memcpy(BufPtr, in + accepted, static_cast<std::size_t>(n));
    BufPtr += n;
    accepted += n;
    inBlock += n;
    count -= n;
    State = kWriting;
    if (BufPtr >= BufEnd) {
      if (!FlushBuffer()) {
        accepted -= inBlock;
        break;
      }
      inBlock = 0;
    }
  }
  State = (BufPtr > Buffer.get()) ? kWriting : kEmpty;
  Written = true;
  return accepted;
}

std::int64_t TS_BufferStream::Seek(std::int64_t offset, int origin) {
  const std::int64_t under = Stream->Seek(0, soFromCurrent);
  const std::int64_t position = under + Adjustment();
  std::int64_t target;
  switch (origin) {
    case soFromBeginning: target = offset; break;
    case soFromCurrent: target = position + offset; break;
    case soFromEnd: target = std::max(position, Stream->Size()) - std::llabs(offset); break;
    default: throw Exception("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if (target < 0) throw EStreamError("Stream seek error");
  if (target == position) return target;
  if (State == kReading && BufPtr != nullptr) {
    const std::int64_t bufferStart = under - (BufEnd - Buffer.get());
    if (target >= bufferStart && target <= under) {
      BufPtr = Buffer.get() + (target - bufferStart);
      return target;
    }
  }
  if (State == kWriting && !FlushBuffer()) throw Exception("Seek error");
  const std::int64_t result = Stream->Seek(target, soFromBeginning);
  BufPtr = nullptr;
  State = kEmpty;
  return result;
}

std::int64_t TS_BufferStream::Size() {
  const std::int64_t position = Stream->Seek(0, soFromCurrent) + Adjustment();
  return std::max(position, Stream->Size());
}

void TS_BufferStream::SetReadAhead(std::int32_t bytes) { readAhead_ = std::clamp(bytes, 0, BufSize); }

const std::uint8_t* TS_BufferStream::Lend(std::int32_t count) {
  if (State == kWriting || count <= 0 || count > BufSize) return nullptr;
  if (State != kReading || BufPtr == nullptr) {
    BufPtr = Buffer.get();
    BufEnd = BufPtr;
  }
  if (BufEnd - BufPtr < count && !FillKeepingUnread(count)) return nullptr;
  const std::uint8_t* lent = BufPtr;
  BufPtr += count;
  return lent;
}

void TS_BufferStream::Unlend(std::int32_t count) {
  if (State != kReading || BufPtr == nullptr || count < 0 || BufPtr - Buffer.get() < count)
    throw EStreamError("Putback overflow");
  BufPtr -= count;
}

bool TS_BufferStream::FillKeepingUnread(std::int32_t count) {
  const auto unread = static_cast<std::int32_t>(BufEnd - BufPtr);
  std::memmove(Buffer.get(), BufPtr, static_cast<std::size_t>(unread));
  const std::int32_t want = std::max(readAhead_ > 0 ? readAhead_ : BufSize, count) - unread;
  const std::int32_t n = std::clamp(Stream->Read(Buffer.get() + unread, want), 0, want);
  BufPtr = Buffer.get();
  BufEnd = BufPtr + unread + n;
  State = BufEnd > BufPtr ? kReading : kEmpty;
  DoFillBuffer();
  return BufEnd - BufPtr >= count;
}

bool TS_BufferStream::FillBuffer() {
  const std::int32_t want = readAhead_ > 0 ? readAhead_ : BufSize;
  const std::int32_t n = std::clamp(Stream->Read(Buffer.get(), want), 0, want);
  BufPtr = Buffer.get();
  BufEnd = BufPtr + n;
  State = n > 0 ? kReading : kEmpty;
  DoFillBuffer();
  return n > 0;
}

bool TS_BufferStream::FlushBuffer() {
  bool ok = true;
  if (State == kWriting && BufPtr != nullptr) {
    const auto pending = static_cast<std::int32_t>(BufPtr - Buffer.get());
    if (pending > 0) ok = Stream->Write(Buffer.get(), pending) == pending;
    if (!ok) WriteError = true;
  } else if (State == kReading && BufPtr != nullptr) {
    // Nothing to write; give the unread bytes back so the position holds.
    Stream->Seek(Adjustment(), soFromCurrent);
  }
  BufPtr = Buffer.get();
  BufEnd = BufPtr + BufSize;
  State = kEmpty;
  DoFlushBuffer();
  return ok;
}

void TS_BufferStream::PutBack(std::uint8_t b) {
  if (State != kReading || BufPtr == nullptr || BufPtr <= Buffer.get()) throw EStreamError("Putback overflow");
  --BufPtr;
  *BufPtr = b;
}

void TS_BufferStream::DoFillBuffer() {
  if (OnFillBuffer) OnFillBuffer(this);
}

void TS_BufferStream::DoFlushBuffer() {
  if (OnFlushBuffer) OnFlushBuffer(this);
}

// ---- TLFNFileStream ------------------------------------------------------------

TLFNFileStream::TLFNFileStream(const std::string& fileName, std::int32_t bufSize, bool flushOnClose,
                               std::uint16_t mode)
    : TS_BufferStream(nullptr, bufSize), FileStream(std::make_unique<TFileStream>(fileName, mode)) {
  Stream = FileStream.get();
  FlushOnDestroy = flushOnClose && (mode & 3) != 0;
}

TLFNFileStream::~TLFNFileStream() {
  try {
    Finish();
  } catch (...) {
    // As in the base: nothing can be reported from here.
  }
  FileStream.reset();
}

}  // namespace quv
