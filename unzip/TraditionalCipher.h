// The traditional ZIP cipher: three 32-bit keys run over the password and
// then over every plaintext byte. A 12-byte encryption header in front of
// an entry's data tells a right password from a wrong one in all but 1 of
// 256 cases. A plain value: copies go on decrypting independently.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "zip/Records.h"

namespace quv {

class TTraditionalCipher {
 public:
  static constexpr std::int32_t kHeaderSize = 12;
  static constexpr std::array<std::uint32_t, 3> kStartingKeys{0x12345678, 0x23456789, 0x34567890};

  // One step of CRC-32 (the keys' mixing function).
  static std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t b);
  // The byte the decrypted header must end with: the time's high byte for
  // an entry with a data descriptor, otherwise the CRC's high byte.
  static std::uint8_t CheckByte(const TZipHeaderInfo& entry);

  // The keys from the starting values run over password.
  void Init(const std::string& password);
  void UpdateKeys(std::uint8_t plain);
  // The next key-stream byte.
  std::uint8_t KeyByte() const;
  void Decrypt(std::uint8_t* buffer, std::int32_t n);
  // Init(password), then decrypts a copy of the 12-byte header and answers
  // its last byte; the keys are then ready for the data.
  std::uint8_t DecryptHeader(const std::string& password, const std::uint8_t* header);
  std::uint32_t Key(int n) const { return keys_[static_cast<std::size_t>(n)]; }

 private:
  std::array<std::uint32_t, 3> keys_ = kStartingKeys;
};

}  // namespace quv
