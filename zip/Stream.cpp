#include "zip/Stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "zip/Exception.h"

namespace quv {

namespace {

// A whole-file transfer into or out of memory moves one buffer in one call.
std::int32_t ToCount32(std::int64_t value) {
  if (value < 0 || value > std::numeric_limits<std::int32_t>::max()) throw EStreamError("Stream too large for memory");
  return static_cast<std::int32_t>(value);
}

}  // namespace

// ---- TStream -----------------------------------------------------------------

std::int64_t TStream::Position() { return Seek(0, soFromCurrent); }

void TStream::SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, soFromCurrent);
  const std::int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const std::int64_t result = count;
  constexpr std::int32_t kChunk = 61440;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kChunk]);
  while (count > 0) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kChunk));
    source.ReadBuffer(buffer.get(), n);
    WriteBuffer(buffer.get(), n);
    count -= n;
  }
  return result;
}

// ---- THandleStream -------------------------------------------------------------

THandleStream::THandleStream(platform::FileHandle handle) : handle_(handle) {
  // A handle from elsewhere goes on from where it stands.
  const std::int64_t at = handle == platform::kInvalidHandle ? 0 : platform::FileSeek(handle, 0, soFromCurrent);
  position_ = at < 0 ? 0 : at;
}

std::int32_t THandleStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t n = platform::FileReadAt(handle_, buffer, count, position_);
  if (n <= 0) return 0;
  position_ += n;
  return n;
}

std::int32_t THandleStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t n = platform::FileWriteAt(handle_, buffer, count, position_);
  if (n <= 0) return 0;
  position_ += n;
  return n;
}

std::int64_t THandleStream::Seek(std::int64_t offset, int origin) {
  std::int64_t target = offset;
  if (origin == soFromCurrent) target += position_;
  if (origin == soFromEnd) target += Size();
  if (target < 0) throw EStreamError("Stream seek error");
  position_ = target;
  return position_;
}

std::int64_t THandleStream::Size() {
  const std::int64_t size = platform::FileSize(handle_);
  return size < 0 ? 0 : size;
}

// ---- TFileStream ---------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode)
    : THandleStream(platform::kInvalidHandle), fileName_(fileName) {
  std::string reason;
  handle_ = platform::FileOpen(fileName, mode, &reason);
  if (handle_ == platform::kInvalidHandle) {
    if (mode == platform::fmCreate)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
  }
}

TFileStream::~TFileStream() { platform::FileClose(handle_); }

// ---- TMemoryStream -------------------------------------------------------------

TMemoryStream::TMemoryStream(std::string bytes) : data_(bytes.begin(), bytes.end()) {}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  const auto size = static_cast<std::int64_t>(data_.size());
  if (count <= 0 || position_ < 0 || position_ >= size) return 0;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - position_));
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0 || position_ < 0) return 0;
  const std::int64_t end = position_ + count;
  if (end > static_cast<std::int64_t>(data_.size())) data_.resize(static_cast<std::size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  std::int64_t target = position_;
  switch (origin) {
    case soFromBeginning: target = offset; break;
    case soFromCurrent: target += offset; break;
    case soFromEnd: target = static_cast<std::int64_t>(data_.size()) + offset; break;
    default: break;
  }
  if (target < 0) throw EStreamError("Stream seek error");
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, platform::fmOpenRead | platform::fmShareDenyWrite);
  const std::int64_t size = file.Size();
  data_.assign(static_cast<std::size_t>(size), 0);
  position_ = 0;
  if (size > 0) file.ReadBuffer(data_.data(), ToCount32(size));
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, platform::fmCreate);
  if (!data_.empty()) file.WriteBuffer(data_.data(), ToCount32(static_cast<std::int64_t>(data_.size())));
}

}  // namespace quv
