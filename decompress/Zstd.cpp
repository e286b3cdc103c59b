// Method 93 through libzstd: one or more frames (skippable ones included).
// The memory estimates are in the library's stable-in-practice section.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <memory>

#include "decompress/LibraryStream.h"

namespace quv {

namespace {

struct FreeDCtx {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

class ZstdStream final : public LibraryStream {
 public:
  ZstdStream() : dctx_(ZSTD_createDCtx()) {
    if (!dctx_) ThrowOutOfMemory("Zstd");
  }

  Step Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override {
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    const std::size_t rc = ZSTD_decompressStream(dctx_.get(), &output, &input);
    if (ZSTD_isError(rc)) {
      // The library's default window limit (128 MiB) bounds its memory;
      // zstd --long=31 writes frames beyond it.
      const ZSTD_ErrorCode code = ZSTD_getErrorCode(rc);
      if (code == ZSTD_error_memory_allocation || code == ZSTD_error_frameParameter_windowTooLarge)
        ThrowOutOfMemory("Zstd");
      return {.result = DecodeResult::DamagedData};
    }
    // 0: a frame ended and all of it is out.
    return {input.pos, output.pos, rc == 0};
  }

  // The next frame starts by itself.
  bool Restart() override { return true; }

 private:
  std::unique_ptr<ZSTD_DCtx, FreeDCtx> dctx_;
};

// The decoder's memory for the first frame, from its header's window; a
// header that cannot be read (a skippable frame first, damage) is counted at
// the largest window the library accepts.
std::uint64_t ZstdMemoryNeed(std::span<const std::uint8_t> head) {
  const std::size_t need = ZSTD_estimateDStreamSize_fromFrame(head.data(), head.size());
  return ZSTD_isError(need) ? ZSTD_estimateDStreamSize(std::size_t{1} << ZSTD_WINDOWLOG_LIMIT_DEFAULT) : need;
}

}  // namespace

DecodeResult DecodeZstd(TDecodeContext& ctx) {
  DecoderMemory memory(*ctx.Output, "Zstd");
  memory.GrowTo(ZstdMemoryNeed(PendingInput(ctx)));
  ZstdStream stream;
  return DecodeLibraryStream(ctx, stream);
}

}  // namespace quv
