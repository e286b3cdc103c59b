// Traditional ZIP decryption: three 32-bit keys run over the password and
// then over every plaintext byte; a 12-byte encryption header in front of
// the data tells a right password from a wrong one in all but 1 of 256 cases.
#include <cstdint>
#include <cstring>

#include "unzip/UnZip.h"
#include "zip/Crc32.h"

namespace quv {

namespace {

constexpr std::int32_t kHeaderSize = 12;

}  // namespace

std::uint32_t TUnZip::CrcStep(std::uint32_t crc, std::uint8_t b) {
  return CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

void TUnZip::UpdateKeys(std::uint8_t b) {
  keys_[0] = CrcStep(keys_[0], b);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = CrcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

std::uint8_t TUnZip::DecryptByte() const {
  const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void TUnZip::InitKeys(const std::string& Password) {
  keys_ = kStartingKeys;
  for (const char c : Password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void TUnZip::DecryptBuffer(std::uint8_t* buffer, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    const auto p = static_cast<std::uint8_t>(buffer[i] ^ DecryptByte());
    UpdateKeys(p);
    buffer[i] = p;
  }
}

std::uint8_t TUnZip::DecryptHeader(const std::string& Password, const std::uint8_t* header) {
  std::uint8_t copy[kHeaderSize];
  std::memcpy(copy, header, kHeaderSize);
  InitKeys(Password);
  DecryptBuffer(copy, kHeaderSize);
  return copy[kHeaderSize - 1];
}

std::uint8_t TUnZip::CheckByte(const TZipHeaderInfo& entry) {
  if (entry.HasDataDescriptor()) return static_cast<std::uint8_t>(entry.LastModFileDateTime >> 8);
  return static_cast<std::uint8_t>(entry.CRC32 >> 24);
}

std::uint8_t TUnZip::ReadEncryptionHeader(const std::string& Password) {
  std::uint8_t header[kHeaderSize] = {};
  const std::int32_t got = archiveStream_ ? archiveStream_->Read(header, kHeaderSize) : 0;
  currentEntry_->CompressedSize -= kHeaderSize;
  if (got != kHeaderSize) {
    // The archive ends inside the header: no password can pass.
    InitKeys(Password);
    return static_cast<std::uint8_t>(~CheckByte(*currentEntry_));
  }
  return DecryptHeader(Password, header);
}

bool TUnZip::CheckPassword(std::int32_t FileIndex) {
  const std::uint8_t check = CheckByte(*currentEntry_);
  for (;;) {
    const std::int64_t start = archiveStream_ ? archiveStream_->Position() : 0;
    if (ReadEncryptionHeader(password_) == check) return true;
    std::string tried = password_;
    if (OnBadPassword) OnBadPassword(this, FileIndex, tried);
    if (tried == password_) return false;
    password_ = tried;
    if (archiveStream_) archiveStream_->Seek(start, soFromBeginning);
    currentEntry_->CompressedSize += kHeaderSize;
  }
}

}  // namespace quv
