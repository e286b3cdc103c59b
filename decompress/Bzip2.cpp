// Method 12 through libbz2. Several streams one after another (as parallel
// compressors write them) decode as one.
#include <bzlib.h>

#include "decompress/LibraryStream.h"

namespace quv {

namespace {

class Bzip2Stream final : public LibraryStream {
 public:
  Bzip2Stream() { Start(); }
  ~Bzip2Stream() override { BZ2_bzDecompressEnd(&stream_); }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;

  Step Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override {
    // libbz2 never writes through next_in.
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    stream_.avail_in = static_cast<unsigned>(in.size());
    stream_.next_out = reinterpret_cast<char*>(out.data());
    stream_.avail_out = static_cast<unsigned>(out.size());
    const int rc = BZ2_bzDecompress(&stream_);
    if (rc == BZ_MEM_ERROR) ThrowOutOfMemory("BZip2");
    if (rc != BZ_OK && rc != BZ_STREAM_END) return {.result = DecodeResult::DamagedData};
    return {in.size() - stream_.avail_in, out.size() - stream_.avail_out, rc == BZ_STREAM_END};
  }

  bool Restart() override {
    BZ2_bzDecompressEnd(&stream_);
    Start();
    return true;
  }

 private:
  void Start() {
    stream_ = bz_stream{};
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) ThrowOutOfMemory("BZip2");
  }

  bz_stream stream_{};
};

// libbz2's memory for a stream ("BZh" and the block size in 100 kB, '1' to
// '9'): 100 kB and 4 bytes for each byte of a block. A damaged header is
// counted as the largest; the library refuses it anyway.
std::uint64_t Bzip2MemoryNeed(std::span<const std::uint8_t> head) {
  const bool known = head.size() >= 4 && head[0] == 'B' && head[1] == 'Z' && head[2] == 'h' && head[3] >= '1' &&
                     head[3] <= '9';
  const std::uint64_t blockSize = 100000u * (known ? head[3] - '0' : 9u);
  return 100000u + 4 * blockSize;
}

}  // namespace

DecodeResult DecodeBzip2(TDecodeContext& ctx) {
  // Streams after the first are most often alike (parallel compressors).
  DecoderMemory memory(*ctx.Output, "BZip2");
  memory.GrowTo(Bzip2MemoryNeed(PendingInput(ctx)));
  Bzip2Stream stream;
  return DecodeLibraryStream(ctx, stream);
}

}  // namespace quv
