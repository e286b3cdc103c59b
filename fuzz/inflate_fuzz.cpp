// Arbitrary bytes as a deflated entry. The first byte chooses the declared
// uncompressed size (small, or what zlib makes of the data), whether the
// input arrives over two disks, whether it is Deflate64 and whether the host
// lends its bytes rather than copying them; the rest is the
// stream. Whenever zlib inflates a Deflate stream completely, our decoder
// must give the very same bytes; Deflate64 streams must stay within bounds
// and their CRC must match what was written.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MemoryDecodeHost.h"
#include "decompress/Inflate.h"
#include "zip/Exception.h"

namespace {

constexpr std::size_t kZlibCap = 1 << 20;

// Inflates with zlib; answers true with the output when the stream ended.
bool ZlibInflate(const std::string& in, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.resize(kZlibCap);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const bool deflate64 = (mode & 4) != 0;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);

  // Kept between runs: fresh large blocks for every run would dominate the time.
  static std::string expected;
  const bool zlibDone = !deflate64 && ZlibInflate(stream, expected);
  const std::int32_t declared =
      zlibDone && (mode & 1) == 0 ? static_cast<std::int32_t>(expected.size()) : static_cast<std::int32_t>(mode) << 10;

  quv::test::MemoryDecodeHost host = (mode & 2) != 0 && stream.size() > 1
                                         ? quv::test::MemoryDecodeHost(std::vector<std::string>{
                                               stream.substr(0, stream.size() / 2), stream.substr(stream.size() / 2)})
                                         : quv::test::MemoryDecodeHost(stream);
  host.lend = (mode & 8) != 0;
  static quv::TDecodeContext ctx(host, host);
  ctx.Input = &host;
  ctx.Output = &host;
  std::fill(ctx.WorkArea.get(), ctx.WorkArea.get() + quv::kWorkAreaAllocated, 0);  // as a fresh run
  ctx.ByteHold = 0;
  ctx.ResetForEntry(host.compressedSize, declared);
  quv::DecodeResult status = quv::DecodeResult::UnknownMethod;  // none yet
  try {
    status = quv::InflateEntry(ctx, deflate64 ? quv::InflateFormat::Deflate64 : quv::InflateFormat::Deflate);
  } catch (const quv::EBiggerThanUncompressed&) {
  }
  if (host.output.size() > static_cast<std::size_t>(declared)) std::abort();
  if (host.FinalCrc() != quv::test::Crc32Of(host.output)) std::abort();
  if (zlibDone && (mode & 1) == 0 && (status != quv::DecodeResult::Decoded || host.output != expected)) std::abort();
  return 0;
}
