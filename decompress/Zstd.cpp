// Method 93 through libzstd: one or more frames (skippable ones included).
#include <zstd.h>
#include <zstd_errors.h>

#include <memory>

#include "decompress/LibraryStream.h"
#include "zip/Exception.h"

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
      throw EDataError("Invalid Zstd data");
    }
    // 0: a frame ended and all of it is out.
    return {input.pos, output.pos, rc == 0};
  }

  // The next frame starts by itself.
  bool Restart() override { return true; }

 private:
  std::unique_ptr<ZSTD_DCtx, FreeDCtx> dctx_;
};

}  // namespace

void DecodeZstd(TDecodeContext& ctx) {
  ZstdStream stream;
  DecodeLibraryStream(ctx, stream);
}

}  // namespace quv
