// WinZip AES: the 0x9901 block, the keys, counter-mode decryption with the
// running authentication code, and the component's password test and
// authentication of an AES entry.
#include "unzip/WinZipAes.h"

#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/memxor.h>
#include <nettle/nettle-meta.h>
#include <nettle/pbkdf2.h>

#include <algorithm>
#include <array>

#include "unzip/UnZip.h"

namespace quv {

namespace {

constexpr unsigned kPbkdf2Rounds = 1000;
constexpr std::size_t kBlockSize = AES_BLOCK_SIZE;
// Counter blocks encrypted in one call: fewer calls, and the block cipher's
// own loop runs over many blocks.
constexpr std::size_t kKeystreamBlocks = 64;
constexpr std::size_t kKeystreamSize = kBlockSize * kKeystreamBlocks;

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

const nettle_cipher& CipherFor(std::size_t keyLength) {
  if (keyLength == AES128_KEY_SIZE) return nettle_aes128;
  if (keyLength == AES192_KEY_SIZE) return nettle_aes192;
  return nettle_aes256;
}

}  // namespace

std::optional<WinZipAesField> WinZipAesOf(const TZipHeaderInfo& entry) {
  const std::string& block = entry.AesExtra();
  if (entry.CompressionMethod != kWinZipAesMethod || !entry.IsEncrypted() || block.size() < 7) return std::nullopt;
  const std::uint8_t* p = Bytes(block);
  WinZipAesField field;
  field.VendorVersion = static_cast<std::uint16_t>(p[0] | p[1] << 8);
  field.Strength = p[4];
  field.Method = static_cast<std::uint16_t>(p[5] | p[6] << 8);
  const bool known = (field.VendorVersion == 1 || field.VendorVersion == 2) && p[2] == 'A' && p[3] == 'E' &&
                     field.Strength >= 1 && field.Strength <= 3 && field.Method != kWinZipAesMethod;
  if (!known) return std::nullopt;
  return field;
}

std::uint16_t RealMethod(const TZipHeaderInfo& entry) {
  const std::optional<WinZipAesField> aes = WinZipAesOf(entry);
  return aes ? aes->Method : entry.CompressionMethod;
}

WinZipAesKeys DeriveWinZipAesKeys(const std::string& password, const std::string& salt, std::int32_t keyLength) {
  const auto n = static_cast<std::size_t>(keyLength);
  std::string derived(2 * n + kAesVerifierSize, '\0');
  pbkdf2_hmac_sha1(password.size(), Bytes(password), kPbkdf2Rounds, salt.size(), Bytes(salt), derived.size(),
                   reinterpret_cast<std::uint8_t*>(derived.data()));
  return {derived.substr(0, n), derived.substr(n, n), derived.substr(2 * n)};
}

struct WinZipAesDecryptor::State {
  const nettle_cipher* cipher = nullptr;
  union {
    aes128_ctx aes128;
    aes192_ctx aes192;
    aes256_ctx aes256;
  } key;
  hmac_sha1_ctx mac;
  // The little-endian 128-bit block counter, starting at 1.
  std::array<std::uint8_t, kBlockSize> counter{1};
  std::array<std::uint8_t, kKeystreamSize> counters;
  std::array<std::uint8_t, kKeystreamSize> keystream;
  std::size_t keystreamUsed = kKeystreamSize;

  void NextKeystream() {
    for (std::size_t b = 0; b < kKeystreamBlocks; ++b) {
      std::copy(counter.begin(), counter.end(), counters.begin() + static_cast<std::ptrdiff_t>(b * kBlockSize));
      for (std::uint8_t& byte : counter) {
        if (++byte != 0) break;
      }
    }
    cipher->encrypt(&key, kKeystreamSize, keystream.data(), counters.data());
    keystreamUsed = 0;
  }
};

WinZipAesDecryptor::WinZipAesDecryptor(const WinZipAesKeys& keys) : state_(std::make_unique<State>()) {
  state_->cipher = &CipherFor(keys.AesKey.size());
  state_->cipher->set_encrypt_key(&state_->key, Bytes(keys.AesKey));
  hmac_sha1_set_key(&state_->mac, keys.MacKey.size(), Bytes(keys.MacKey));
}

WinZipAesDecryptor::~WinZipAesDecryptor() = default;

void WinZipAesDecryptor::Decrypt(std::uint8_t* buffer, std::size_t n) {
  Authenticate(buffer, n);
  State& s = *state_;
  while (n > 0) {
    if (s.keystreamUsed == kKeystreamSize) s.NextKeystream();
    const std::size_t k = std::min(n, kKeystreamSize - s.keystreamUsed);
    memxor(buffer, s.keystream.data() + s.keystreamUsed, k);
    s.keystreamUsed += k;
    buffer += k;
    n -= k;
  }
}

void WinZipAesDecryptor::Authenticate(const std::uint8_t* buffer, std::size_t n) {
  hmac_sha1_update(&state_->mac, n, buffer);
}

bool WinZipAesDecryptor::CodeMatches(const std::uint8_t* code) {
  std::uint8_t digest[kAesCodeSize];
  hmac_sha1_digest(&state_->mac, kAesCodeSize, digest);
  return std::equal(digest, digest + kAesCodeSize, code);
}

// ---- the component's side ------------------------------------------------------------

bool TUnZip::CheckAesPassword(std::int32_t FileIndex, const WinZipAesField& field) {
  // Salt and verifier are read once; only the password changes between tries.
  std::string header(static_cast<std::size_t>(field.SaltLength() + kAesVerifierSize), '\0');
  const bool whole = CurrentEntry().CompressedSize >= field.Overhead() &&
                     ReadSpanning(*this, reinterpret_cast<std::uint8_t*>(header.data()),
                                   static_cast<std::int32_t>(header.size())) == SpannedRead::Complete;
  const std::string salt = header.substr(0, static_cast<std::size_t>(field.SaltLength()));
  const std::string verifier = header.substr(salt.size());
  for (;;) {
    // Data too short for salt, verifier and code: no password can pass.
    if (whole) {
      const WinZipAesKeys keys = DeriveWinZipAesKeys(settings_.password, salt, field.KeyLength());
      if (keys.Verifier == verifier) {
        aesDecryptor_ = std::make_unique<WinZipAesDecryptor>(keys);
        CurrentEntry().CompressedSize -= field.Overhead();
        return true;
      }
    }
    std::string tried = settings_.password;
    if (OnBadPassword) OnBadPassword(this, FileIndex, tried);
    if (tried == settings_.password) return false;
    settings_.password = tried;
  }
}

bool TUnZip::AesEntryAuthentic(std::int64_t unread) {
  // A decoder may stop before the end of the data (a deflate stream's last
  // block); the code covers all of it.
  std::int64_t remaining = unread;
  std::array<std::uint8_t, 4096> buffer;
  while (remaining > 0) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, buffer.size()));
    if (ReadSpanning(*this, buffer.data(), n) != SpannedRead::Complete) return false;
    aesDecryptor_->Authenticate(buffer.data(), static_cast<std::size_t>(n));
    remaining -= n;
  }
  std::uint8_t code[kAesCodeSize];
  return ReadSpanning(*this, code, kAesCodeSize) == SpannedRead::Complete && aesDecryptor_->CodeMatches(code);
}

}  // namespace quv
