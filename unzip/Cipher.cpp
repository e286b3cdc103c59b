// The component's side of traditional decryption: the cipher's public
// forwards and the password test of the working entry.
#include <cstdint>

#include "unzip/TraditionalCipher.h"
#include "unzip/UnZip.h"

namespace quv {

namespace {

constexpr std::int32_t kHeaderSize = TTraditionalCipher::kHeaderSize;

}  // namespace

std::uint32_t TUnZip::CrcStep(std::uint32_t crc, std::uint8_t b) { return TTraditionalCipher::CrcStep(crc, b); }
void TUnZip::UpdateKeys(std::uint8_t b) { cipher_.UpdateKeys(b); }
std::uint8_t TUnZip::DecryptByte() const { return cipher_.KeyByte(); }
void TUnZip::InitKeys(const std::string& Password) { cipher_.Init(Password); }
void TUnZip::DecryptBuffer(std::uint8_t* buffer, std::int32_t n) { cipher_.Decrypt(buffer, n); }
std::uint8_t TUnZip::DecryptHeader(const std::string& Password, const std::uint8_t* header) {
  return cipher_.DecryptHeader(Password, header);
}
std::uint8_t TUnZip::CheckByte(const TZipHeaderInfo& entry) { return TTraditionalCipher::CheckByte(entry); }

std::uint8_t TUnZip::ReadEncryptionHeader(const std::string& Password) {
  std::uint8_t header[kHeaderSize] = {};
  const std::int32_t got = ArchiveStream() ? ArchiveStream()->Read(header, kHeaderSize) : 0;
  CurrentEntry().CompressedSize -= kHeaderSize;
  if (got != kHeaderSize) {
    // The archive ends inside the header: no password can pass.
    InitKeys(Password);
    return static_cast<std::uint8_t>(~CheckByte(CurrentEntry()));
  }
  return DecryptHeader(Password, header);
}

bool TUnZip::CheckPassword(std::int32_t FileIndex) {
  const std::uint8_t check = CheckByte(CurrentEntry());
  for (;;) {
    const std::int64_t start = ArchiveStream() ? ArchiveStream()->Position() : 0;
    if (ReadEncryptionHeader(settings_.password) == check) return true;
    std::string tried = settings_.password;
    if (OnBadPassword) OnBadPassword(this, FileIndex, tried);
    if (tried == settings_.password) return false;
    settings_.password = tried;
    if (ArchiveStream()) ArchiveStream()->Seek(start, soFromBeginning);
    CurrentEntry().CompressedSize += kHeaderSize;
  }
}

}  // namespace quv
