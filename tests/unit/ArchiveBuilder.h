// Builds small ZIP archives in memory for the extraction tests: any stored
// name, sizes and CRC that may lie, attributes, the host system, traditional
// encryption, and entries of any method with bytes given by the test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quv::test {

struct BuiltEntry {
  std::string name;  // as stored ("/" between folders; a trailing "/" for a folder)
  std::string data;  // the uncompressed content
  // The bytes stored for the entry; when not set, data itself (method 0).
  std::optional<std::string> packed;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint32_t dosDateTime = 0x5A8C6B20;  // 2025-04-12 13:25:00
  std::uint32_t externalAttributes = 0x20;
  std::uint16_t versionMadeBy = 20;  // high byte: host (0 FAT, 3 Unix)
  std::optional<std::uint32_t> crc;  // stored CRC instead of the real one
  std::optional<std::int32_t> uncompressedSize;
  std::optional<std::int32_t> compressedSize;
  // Encrypted with the traditional cipher under this password when set.
  std::optional<std::string> password;
  // The central header's extra field.
  std::string centralExtra;
  // The 11 leading bytes of the encryption header (before its check byte).
  std::string headerSeed = "seed-bytes!";
  // Where the local header goes, when past the end of the entry before (the
  // gap is zeros, or a hole in WriteSparseArchive). Offsets from 4 GiB on
  // take Zip64 records.
  std::optional<std::int64_t> at;
  // The disk number the central header states.
  std::uint16_t disk = 0;
};

std::uint32_t Crc32Of(const std::string& data);

// The archive: local headers with data, central directory, end record.
std::string BuildArchive(const std::vector<BuiltEntry>& entries);

// The same archive written to a file, the gaps left as holes: an archive
// whose records lie gigabytes apart takes a few kilobytes of disk.
void WriteSparseArchive(const std::string& path, const std::vector<BuiltEntry>& entries);

// A header seed with which the entry's encryption header, made with its own
// password, also passes the check under `wrong` (about one seed in 256).
std::string SeedPassingFor(const BuiltEntry& entry, const std::string& wrong);

// A Unix entry (host 3) with the given mode (type and permission bits).
BuiltEntry UnixEntry(const std::string& name, const std::string& data, std::uint32_t mode);

}  // namespace quv::test
