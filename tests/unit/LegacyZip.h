// Just enough ZIP reading for the decoder tests: the central directory's
// entries with their compressed bytes, and SHA-256 to compare outputs with
// the corpus manifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quv::test {

struct RawZipEntry {
  std::string name;
  std::uint16_t method = 0;
  std::uint16_t flag = 0;
  std::uint32_t crc = 0;
  std::uint32_t uncompressedSize = 0;
  std::string packed;  // the entry's compressed bytes
};

// The entries of a single-disk archive; throws std::runtime_error when the
// archive is not one this simple reader understands.
std::vector<RawZipEntry> ReadZipEntries(const std::string& archive);

// Lower-case hex SHA-256.
std::string Sha256Hex(const std::string& data);

}  // namespace quv::test
