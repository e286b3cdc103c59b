// WinZip AES encryption (method 99 with extra block 0x9901): AE-1 and AE-2
// with 128, 192 or 256-bit keys. The entry's data is a salt, a 2-byte
// password verifier, the encrypted data (AES in counter mode) and a 10-byte
// authentication code (HMAC-SHA1 of the encrypted data). The keys come from
// the password and the salt through PBKDF2-HMAC-SHA1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "zip/Records.h"

namespace quv {

inline constexpr std::uint16_t kWinZipAesMethod = 99;
inline constexpr std::int32_t kAesVerifierSize = 2;
inline constexpr std::int32_t kAesCodeSize = 10;

// What the 0x9901 block says.
struct WinZipAesField {
  std::uint16_t VendorVersion = 2;  // 1: AE-1, 2: AE-2 (stores CRC 0)
  std::uint8_t Strength = 3;        // 1, 2, 3: 128, 192, 256-bit keys
  std::uint16_t Method = 0;         // the compression method under the encryption

  std::int32_t KeyLength() const { return 8 + 8 * Strength; }
  std::int32_t SaltLength() const { return 4 + 4 * Strength; }
  // Salt, verifier and code: what the entry's data holds besides the encrypted data.
  std::int32_t Overhead() const { return SaltLength() + kAesVerifierSize + kAesCodeSize; }
  // AE-2 leaves the CRC out (0) so that it tells nothing of the plaintext.
  bool ChecksCrc() const { return VendorVersion == 1; }
};

// The field of an entry of method 99 with a well-formed 0x9901 block
// (vendor "AE", version 1 or 2, strength 1 to 3); none for any other entry.
std::optional<WinZipAesField> WinZipAesOf(const TZipHeaderInfo& entry);
// The method the entry's data is compressed with: under the encryption for
// an AES entry, CompressionMethod otherwise.
std::uint16_t RealMethod(const TZipHeaderInfo& entry);

// The three values PBKDF2-HMAC-SHA1 (1000 rounds) derives from a password
// and salt: AES key, HMAC key (keyLength bytes each) and the verifier.
struct WinZipAesKeys {
  std::string AesKey;
  std::string MacKey;
  std::string Verifier;
};
WinZipAesKeys DeriveWinZipAesKeys(const std::string& password, const std::string& salt, std::int32_t keyLength);

// Decrypts one entry's data in order, block by block of any length, and
// authenticates the encrypted bytes it was given.
class WinZipAesDecryptor {
 public:
  explicit WinZipAesDecryptor(const WinZipAesKeys& keys);
  ~WinZipAesDecryptor();
  WinZipAesDecryptor(const WinZipAesDecryptor&) = delete;
  WinZipAesDecryptor& operator=(const WinZipAesDecryptor&) = delete;

  // Authenticates n encrypted bytes and decrypts them in place.
  void Decrypt(std::uint8_t* buffer, std::size_t n);
  // Authenticates n encrypted bytes the decoder did not need.
  void Authenticate(const std::uint8_t* buffer, std::size_t n);
  // Whether the stored 10-byte code matches the bytes authenticated so far.
  bool CodeMatches(const std::uint8_t* code);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quv
