// The stream classes the engine reads and writes through. Positions and
// sizes are 64-bit (archives and entries pass 4 GiB); a single transfer is
// at most a buffer's worth, so Read and Write counts stay 32-bit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "zip/Persistent.h"

namespace quv {

// Seek origins.
inline constexpr int soFromBeginning = 0;
inline constexpr int soFromCurrent = 1;
inline constexpr int soFromEnd = 2;

class TStream : public TObject {
 public:
  std::string ClassName() const override { return "TStream"; }

  // Answers the number of bytes transferred (0 .. count); never negative.
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  // Answers the new position. A seek that cannot be done (before the start,
  // refused by the system) raises EStreamError "Stream seek error".
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

  // Seek(0, soFromCurrent).
  std::int64_t Position();
  void SetPosition(std::int64_t position);
  // Total size; the base finds it by seeking to the end and back.
  virtual std::int64_t Size();

  // Exact transfers: raise EReadError "Stream read error" /
  // EWriteError "Stream write error" when fewer bytes move.
  void ReadBuffer(void* buffer, std::int32_t count);
  void WriteBuffer(const void* buffer, std::int32_t count);
  // Copies count bytes from source (all of it from its start when count is
  // 0); answers the count copied. Raises like ReadBuffer/WriteBuffer.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over an operating-system file handle it does not own. It keeps
// its own position and transfers at it (positioned reads and writes), so
// moving about the file costs no system call.
class THandleStream : public TStream {
 public:
  explicit THandleStream(platform::FileHandle handle);
  std::string ClassName() const override { return "THandleStream"; }

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override;

  platform::FileHandle Handle() const { return handle_; }

 protected:
  platform::FileHandle handle_;
  std::int64_t position_ = 0;
};

// A handle stream that opens its file (platform::fm* modes) and closes it.
// Failure raises EFCreateError "Cannot create file "<name>". <reason>" for
// fmCreate and EFOpenError "Cannot open file "<name>". <reason>" otherwise.
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& fileName, std::uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::string ClassName() const override { return "TFileStream"; }

  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// A growable stream in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes);
  std::string ClassName() const override { return "TMemoryStream"; }

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  void SetSize(std::int64_t size);
  void Clear();
  std::uint8_t* Memory() { return data_.data(); }
  // The whole contents as a byte string.
  std::string Bytes() const { return std::string(data_.begin(), data_.end()); }
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

}  // namespace quv
