#include "ArchiveBuilder.h"

#include <algorithm>
#include <array>

#include "platform/Platform.h"
#include "zip/Stream.h"

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

namespace {

// One stretch of the archive's bytes and where it goes.
struct Piece {
  std::int64_t at;
  std::string bytes;
};

void Put64(std::string& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

constexpr std::int64_t kSaturated = 0xFFFFFFFF;

// The Zip64 end record and its locator before the end record, for a
// directory that starts past 4 GiB.
void PutZip64End(std::string& out, std::int64_t recordAt, std::uint64_t entries, std::uint64_t size,
                 std::uint64_t offset) {
  Put32(out, 0x06064B50);
  Put64(out, 44);
  Put16(out, 45);
  Put16(out, 45);
  Put32(out, 0);
  Put32(out, 0);
  Put64(out, entries);
  Put64(out, entries);
  Put64(out, size);
  Put64(out, offset);
  Put32(out, 0x07064B50);
  Put32(out, 0);
  Put64(out, static_cast<std::uint64_t>(recordAt));
  Put32(out, 1);
}

std::vector<Piece> Layout(const std::vector<BuiltEntry>& entries) {
  std::vector<Piece> pieces;
  std::string central;
  std::int64_t end = 0;
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
    const std::int64_t offset = std::max(end, e.at.value_or(0));

    std::string local;
    Put32(local, 0x04034B50);
    Put16(local, 20);
    Put16(local, flags);
    Put16(local, e.method);
    Put32(local, e.dosDateTime);
    Put32(local, crc);
    Put32(local, compressed);
    Put32(local, uncompressed);
    Put16(local, static_cast<std::uint32_t>(e.name.size()));
    Put16(local, 0);
    local += e.name;
    local += body;
    end = offset + static_cast<std::int64_t>(local.size());
    pieces.push_back({offset, local});

    std::string extra = e.centralExtra;
    if (offset >= kSaturated) {
      std::string zip64;
      Put16(zip64, 0x0001);
      Put16(zip64, 8);
      Put64(zip64, static_cast<std::uint64_t>(offset));
      extra = zip64 + extra;
    }
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
    Put16(central, static_cast<std::uint32_t>(extra.size()));
    Put16(central, 0);
    Put16(central, e.disk);
    Put16(central, 0);
    Put32(central, e.externalAttributes);
    Put32(central, static_cast<std::uint32_t>(std::min(offset, kSaturated)));
    central += e.name;
    central += extra;
  }
  const std::int64_t centralOffset = end;
  std::string tail = central;
  if (centralOffset >= kSaturated) {
    PutZip64End(tail, centralOffset + static_cast<std::int64_t>(central.size()), entries.size(), central.size(),
                static_cast<std::uint64_t>(centralOffset));
  }
  Put32(tail, 0x06054B50);
  Put16(tail, 0);
  Put16(tail, 0);
  Put16(tail, static_cast<std::uint32_t>(entries.size()));
  Put16(tail, static_cast<std::uint32_t>(entries.size()));
  Put32(tail, static_cast<std::uint32_t>(central.size()));
  Put32(tail, static_cast<std::uint32_t>(std::min(centralOffset, kSaturated)));
  Put16(tail, 0);
  pieces.push_back({centralOffset, tail});
  return pieces;
}

}  // namespace

std::string BuildArchive(const std::vector<BuiltEntry>& entries) {
  std::string out;
  for (const Piece& piece : Layout(entries)) {
    out.resize(static_cast<std::size_t>(piece.at), '\0');
    out += piece.bytes;
  }
  return out;
}

void WriteSparseArchive(const std::string& path, const std::vector<BuiltEntry>& entries) {
  TFileStream file(path, platform::fmCreate);
  for (const Piece& piece : Layout(entries)) {
    file.Seek(piece.at, soFromBeginning);
    file.WriteBuffer(piece.bytes.data(), static_cast<std::int32_t>(piece.bytes.size()));
  }
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
