// Fuzz target for the Shrink, Reduce and Implode decoders. Input layout:
//   byte 0      method, taken modulo 6 plus 1 (1 shrink, 2..5 reduce, 6 implode)
//   byte 1      general-purpose flags (bits 1 and 2 choose the implode variant)
//   bytes 2..4  declared uncompressed size, little-endian, 24 bits
//   the rest    the compressed data
// Any of the engine's exceptions is an accepted outcome; what must never
// happen is a crash, an out-of-bounds access, a hang, or output beyond the
// declared size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MemoryDecodeHost.h"
#include "zip/Exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint16_t method = static_cast<std::uint16_t>(data[0] % 6 + 1);
  const std::uint16_t flag = data[1];
  const std::int32_t declared = data[2] | data[3] << 8 | data[4] << 16;
  quv::test::MemoryDecodeHost host(std::string(reinterpret_cast<const char*>(data + 5), size - 5));
  quv::TDecodeContext ctx(host, host);
  ctx.ResetForEntry(host.compressedSize, declared);
  try {
    quv::DecodeEntry(ctx, method, flag);
  } catch (const quv::Exception&) {
  }
  if (host.output.size() > static_cast<std::size_t>(declared)) std::abort();
  return 0;
}
