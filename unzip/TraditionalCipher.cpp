#include "unzip/TraditionalCipher.h"

#include <cstring>

#include "zip/Crc32.h"

namespace quv {

std::uint32_t TTraditionalCipher::CrcStep(std::uint32_t crc, std::uint8_t b) {
  return CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

std::uint8_t TTraditionalCipher::CheckByte(const TZipHeaderInfo& entry) {
  if (entry.HasDataDescriptor()) return static_cast<std::uint8_t>(entry.LastModFileDateTime >> 8);
  return static_cast<std::uint8_t>(entry.CRC32 >> 24);
}

void TTraditionalCipher::Init(const std::string& password) {
  keys_ = kStartingKeys;
  for (const char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void TTraditionalCipher::UpdateKeys(std::uint8_t plain) {
  keys_[0] = CrcStep(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = CrcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

std::uint8_t TTraditionalCipher::KeyByte() const {
  const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void TTraditionalCipher::Decrypt(std::uint8_t* buffer, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    const auto plain = static_cast<std::uint8_t>(buffer[i] ^ KeyByte());
    UpdateKeys(plain);
    buffer[i] = plain;
  }
}

std::uint8_t TTraditionalCipher::DecryptHeader(const std::string& password, const std::uint8_t* header) {
  std::uint8_t copy[kHeaderSize];
  std::memcpy(copy, header, kHeaderSize);
  Init(password);
  Decrypt(copy, kHeaderSize);
  return copy[kHeaderSize - 1];
}

}  // namespace quv
