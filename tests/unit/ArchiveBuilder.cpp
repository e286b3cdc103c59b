#include "ArchiveBuilder.h"

#include <array>

namespace quv::test {

namespace {

const std::array<std::uint32_t, 256>& Table() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

std::uint32_t CrcByte(std::uint32_t crc, std::uint8_t b) { return Table()[(crc ^ b) & 0xFF] ^ (crc >> 8); }

// The traditional cipher, both ways.
class Cipher {
 public:
  explicit Cipher(const std::string& password) {
    for (char c : password) Update(static_cast<std::uint8_t>(c));
  }
  std::uint8_t Encrypt(std::uint8_t p) {
    const std::uint8_t c = p ^ Stream();
    Update(p);
    return c;
  }
  std::uint8_t Decrypt(std::uint8_t c) {
    const std::uint8_t p = c ^ Stream();
    Update(p);
    return p;
  }

 private:
  std::uint8_t Stream() const {
    const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
    return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
  }
  void Update(std::uint8_t b) {
    keys_[0] = CrcByte(keys_[0], b);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = CrcByte(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
  }
  std::uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
};

void Put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::uint8_t CheckByte(const BuiltEntry& e, std::uint32_t crc) {
  return static_cast<std::uint8_t>((e.flags & 0x0008) ? (e.dosDateTime >> 8) & 0xFF : crc >> 24);
}

std::string EncryptionHeader(const BuiltEntry& e, std::uint32_t crc, const std::string& seed) {
  std::string plain = seed;
  plain.resize(11, '\x5A');
  plain.push_back(static_cast<char>(CheckByte(e, crc)));
  return plain;
}

}  // namespace

std::uint32_t Crc32Of(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : data) crc = CrcByte(crc, static_cast<std::uint8_t>(c));
  return ~crc;
}

std::string BuildArchive(const std::vector<BuiltEntry>& entries) {
  std::string out;
  std::string central;
  for (const BuiltEntry& e : entries) {
    const std::uint32_t crc = e.crc.value_or(Crc32Of(e.data));
    std::string body = e.packed.value_or(e.data);
    std::uint16_t flags = e.flags;
    if (e.password) {
      flags |= 0x0001;
      Cipher cipher(*e.password);
      std::string sealed;
      for (char c : EncryptionHeader(e, Crc32Of(e.data), e.headerSeed) + body)
        sealed.push_back(static_cast<char>(cipher.Encrypt(static_cast<std::uint8_t>(c))));
      body = sealed;
    }
    const auto compressed = static_cast<std::uint32_t>(e.compressedSize.value_or(static_cast<std::int32_t>(body.size())));
    const auto uncompressed =
        static_cast<std::uint32_t>(e.uncompressedSize.value_or(static_cast<std::int32_t>(e.data.size())));
    const auto offset = static_cast<std::uint32_t>(out.size());

    Put32(out, 0x04034B50);
    Put16(out, 20);
    Put16(out, flags);
    Put16(out, e.method);
    Put32(out, e.dosDateTime);
    Put32(out, crc);
    Put32(out, compressed);
    Put32(out, uncompressed);
    Put16(out, static_cast<std::uint32_t>(e.name.size()));
    Put16(out, 0);
    out += e.name;
    out += body;

    Put32(central, 0x02014B50);
    Put16(central, e.versionMadeBy);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, e.method);
    Put32(central, e.dosDateTime);
    Put32(central, crc);
    Put32(central, compressed);
    Put32(central, uncompressed);
    Put16(central, static_cast<std::uint32_t>(e.name.size()));
    Put16(central, static_cast<std::uint32_t>(e.centralExtra.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.externalAttributes);
    Put32(central, offset);
    central += e.name;
    central += e.centralExtra;
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint32_t>(entries.size()));
  Put16(out, static_cast<std::uint32_t>(entries.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

std::string SeedPassingFor(const BuiltEntry& entry, const std::string& wrong) {
  const std::uint32_t crc = Crc32Of(entry.data);
  for (std::uint32_t n = 0;; ++n) {
    std::string seed(11, '\0');
    for (int i = 0; i < 11; ++i) seed[static_cast<std::size_t>(i)] = static_cast<char>((n * 2654435761u) >> (i % 4 * 8));
    seed[0] = static_cast<char>(n);
    seed[1] = static_cast<char>(n >> 8);
    Cipher right(entry.password.value_or(std::string()));
    Cipher other(wrong);
    std::uint8_t last = 0;
    for (char c : EncryptionHeader(entry, crc, seed))
      last = other.Decrypt(right.Encrypt(static_cast<std::uint8_t>(c)));
    if (last == CheckByte(entry, crc)) return seed;
  }
}

BuiltEntry UnixEntry(const std::string& name, const std::string& data, std::uint32_t mode) {
  BuiltEntry e;
  e.name = name;
  e.data = data;
  e.versionMadeBy = (3 << 8) | 30;
  e.externalAttributes = (mode << 16) | ((mode & 0200) ? 0u : 1u);
  return e;
}

}  // namespace quv::test
