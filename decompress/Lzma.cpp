// Methods 14 (LZMA) and 95 (XZ) through liblzma.
#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <utility>

#include "decompress/LibraryStream.h"
#include "zip/Exception.h"

namespace quv {

namespace {

class LzmaStream final : public LibraryStream {
 public:
  explicit LzmaStream(std::string method) : method_(std::move(method)) {}
  ~LzmaStream() override { lzma_end(&stream_); }
  LzmaStream(const LzmaStream&) = delete;
  LzmaStream& operator=(const LzmaStream&) = delete;

  lzma_stream& Raw() { return stream_; }

  // What a lzma_*_decoder or lzma_code answer means; memory that cannot be
  // had raises.
  DecodeResult Check(lzma_ret rc) const {
    if (rc == LZMA_OK || rc == LZMA_STREAM_END) return DecodeResult::Decoded;
    if (rc == LZMA_MEM_ERROR || rc == LZMA_MEMLIMIT_ERROR) ThrowOutOfMemory(method_);
    return DecodeResult::DamagedData;
  }

  // An .xz stream names its filters block by block: the library stops at
  // each block that needs more than it may have, and memory counted first
  // lets it go on.
  void GrowOnDemand(DecoderMemory& memory) { memory_ = &memory; }

  Step Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override {
    stream_.next_in = in.data();
    stream_.avail_in = in.size();
    stream_.next_out = out.data();
    stream_.avail_out = out.size();
    lzma_ret rc = LZMA_OK;
    while ((rc = lzma_code(&stream_, in.empty() ? LZMA_FINISH : LZMA_RUN)) == LZMA_MEMLIMIT_ERROR && memory_) {
      const std::uint64_t need = lzma_memusage(&stream_);
      if (need <= lzma_memlimit_get(&stream_)) break;
      memory_->GrowTo(need);
      if (lzma_memlimit_set(&stream_, need) != LZMA_OK) break;
    }
    return {in.size() - stream_.avail_in, out.size() - stream_.avail_out, rc == LZMA_STREAM_END, Check(rc)};
  }

  // Concatenated .xz streams are the library's business; an LZMA stream has
  // nothing after it.
  bool Restart() override { return false; }

 private:
  std::string method_;
  DecoderMemory* memory_ = nullptr;
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

// The ZIP method's header: the encoder's version (2 bytes), the size of the
// properties (2 bytes, little-endian, 5 for LZMA) and the properties.
constexpr std::size_t kPropertiesSize = 5;
using LzmaHeader = std::array<std::uint8_t, 4 + kPropertiesSize>;

// Reads the header; false when it is cut short or names other properties.
bool ReadLzmaHeader(TDecodeContext& ctx, LzmaHeader& header) {
  for (auto& byte : header) {
    std::uint16_t b = 0;
    if (GetInputByte(ctx, b) != 8) return false;
    byte = static_cast<std::uint8_t>(b);
  }
  return (header[2] | header[3] << 8) == kPropertiesSize;
}

struct FreeOptions {
  void operator()(lzma_options_lzma* o) const { std::free(o); }
};

}  // namespace

DecodeResult DecodeLzma(TDecodeContext& ctx) {
  LzmaHeader header{};
  if (!ReadLzmaHeader(ctx, header)) return DecodeResult::DamagedData;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, header.data() + 4, kPropertiesSize) != LZMA_OK)
    return DecodeResult::DamagedData;
  std::unique_ptr<lzma_options_lzma, FreeOptions> options(static_cast<lzma_options_lzma*>(filters[0].options));

  // The entry's size ends the stream; an end marker right there is allowed
  // too, whatever general-purpose bit 1 says, and anywhere else is damage.
  const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(ctx.UnpackedSize, 0));
  filters[0].id = LZMA_FILTER_LZMA1EXT;
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(*options, size);
  // No match reaches further back than the entry's own size, so a larger
  // dictionary is memory for nothing.
  options->dict_size = static_cast<std::uint32_t>(
      std::max<std::uint64_t>(LZMA_DICT_SIZE_MIN, std::min<std::uint64_t>(size, options->dict_size)));
  DecoderMemory memory(*ctx.Output, "LZMA");
  memory.GrowTo(lzma_raw_decoder_memusage(filters));

  LzmaStream stream("LZMA");
  if (stream.Check(lzma_raw_decoder(&stream.Raw(), filters)) != DecodeResult::Decoded) return DecodeResult::DamagedData;
  return DecodeLibraryStream(ctx, stream);
}

DecodeResult DecodeXz(TDecodeContext& ctx) {
  DecoderMemory memory(*ctx.Output, "XZ");
  LzmaStream stream("XZ");
  stream.GrowOnDemand(memory);
  // The lowest limit: every block's need goes through the memory above.
  if (stream.Check(lzma_stream_decoder(&stream.Raw(), 1, LZMA_CONCATENATED)) != DecodeResult::Decoded)
    return DecodeResult::DamagedData;
  return DecodeLibraryStream(ctx, stream);
}

}  // namespace quv
