#include "decompress/LibraryStream.h"

#include "zip/Exception.h"

namespace quv {

DecodeResult DecodeLibraryStream(TDecodeContext& ctx, LibraryStream& stream) {
  const std::span<std::uint8_t> out(ctx.OutBuffer.get(), kOutBufferSize);
  for (;;) {
    const std::span<const std::uint8_t> in = PendingInput(ctx);
    const LibraryStream::Step step = stream.Decode(in, out);
    if (step.result != DecodeResult::Decoded) return step.result;
    ConsumeInput(ctx, step.used);
    WriteOutputBlock(ctx, out.data(), static_cast<std::int32_t>(step.made));
    if (step.ended) {
      if (PendingInput(ctx).empty()) break;
      if (!stream.Restart()) return DecodeResult::DamagedData;  // data after the end of the stream
    } else if (step.used == 0 && step.made == 0) {
      return DecodeResult::DamagedData;  // the data ends early
    }
  }
  return WholeOutput(ctx);
}

void DecoderMemory::GrowTo(std::uint64_t bytes) {
  if (bytes <= held_) return;
  if (bytes > kLibraryMemoryLimit || !host_.ReserveMemory(bytes - held_)) ThrowOutOfMemory(method_);
  held_ = bytes;
}

void ThrowOutOfMemory(const std::string& method) {
  throw EFatalUnzipError("Not enough memory to decode " + method + " data");
}

}  // namespace quv
