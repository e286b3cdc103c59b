// CRC-32 of the ZIP format (reflected polynomial EDB88320), below every user:
// record checks in zip/, the decoders' output in decompress/, the traditional
// cipher's keys in unzip/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quv {

// The byte-at-a-time table: entry n is the CRC register's change for byte n.
extern const std::uint32_t CrcTable[256];

// Runs the register crc over length bytes. Start with 0xFFFFFFFF and
// complement the end result for the value records store.
std::uint32_t UpdateCrc(std::uint32_t crc, const std::uint8_t* buffer, std::size_t length);

}  // namespace quv
