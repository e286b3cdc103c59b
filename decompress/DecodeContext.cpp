// The decoding state shared by all decoders: buffered input with decryption
// and disk changes, the output buffer with its size guard, CRC and progress,
// the stored method and the choice of decoder.
#include "decompress/DecodeContext.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "zip/Exception.h"

namespace quv {

TDecodeContext::TDecodeContext(DecodeInput& input, DecodeOutput& output)
    : Input(&input),
      Output(&output),
      // Value-initialised (zeroed): a decoder never sees bytes from before
      // the run, whatever distance a damaged entry asks for.
      InBuffer(new std::uint8_t[kInBufferSize + 1]()),
      OutBuffer(new std::uint8_t[kOutBufferSize + 1]()),
      WorkArea(new std::uint8_t[kWorkAreaAllocated]()) {
  InNext = InBuffer.get();
  OutNext = OutBuffer.get();
}

void TDecodeContext::ResetForEntry(std::int64_t packedSize, std::int64_t unpackedSize) {
  EntryBytesOut = 0;
  InAvail = 0;
  InLent = false;
  InHandedBack = 0;
  OutFill = 0;
  InNext = InBuffer.get();
  OutNext = OutBuffer.get();
  Output->Crc() = 0xFFFFFFFFu;
  PackedLeft = packedSize;
  ArchiveLeft = packedSize;
  UnpackedSize = unpackedSize;
}

namespace {

// Fills buffer[0..count) from the archive, going on to the next disks of a
// spanned set when one runs short. Answers the count read (== count).
std::int32_t ReadArchiveBlock(DecodeInput& input, std::uint8_t* buffer, std::int32_t count) {
  switch (ReadSpanning(input, buffer, count)) {
    case SpannedRead::ArchiveEnded: throw EFatalUnzipError("Premature end of file reached");
    case SpannedRead::DiskRefused: throw EUserCanceled("User Aborted Operation");
    case SpannedRead::Complete: break;
  }
  return count;
}

// Takes the next block of up to 32 768 compressed bytes off what is left
// to read of the entry; answers how many to read.
std::int32_t NextBlockSize(TDecodeContext& ctx) {
  ctx.Input->Breathe();
  const auto c = static_cast<std::int32_t>(std::clamp<std::int64_t>(ctx.ArchiveLeft, 0, kInBufferSize));
  ctx.ArchiveLeft -= c;
  return c;
}

// The size of the next block: what was handed back, taken again without
// another breath, or a new block.
std::int32_t RefillSize(TDecodeContext& ctx) {
  const std::int32_t c = ctx.InHandedBack;
  if (c == 0) return NextBlockSize(ctx);
  ctx.InHandedBack = 0;
  ctx.ArchiveLeft -= c;
  return c;
}

// Makes the next block of the entry's compressed bytes the buffered ones:
// where the host lends them when lending is asked for, else read into the
// input buffer, decrypted.
void RefillInput(TDecodeContext& ctx, bool lend = false) {
  const std::int32_t c = RefillSize(ctx);
  const std::uint8_t* lent = lend && c > 0 ? ctx.Input->LendInput(c) : nullptr;
  ctx.InLent = lent != nullptr;
  if (lent != nullptr) {
    ctx.InNext = lent;
    ctx.InAvail = static_cast<std::uint16_t>(c);
    return;
  }
  ctx.InAvail = static_cast<std::uint16_t>(ReadArchiveBlock(*ctx.Input, ctx.InBuffer.get(), c));
  if (c > 0) ctx.Input->Decrypt(ctx.InBuffer.get(), c);
  ctx.InNext = ctx.InBuffer.get();
}

}  // namespace

SpannedRead ReadSpanning(DecodeInput& input, std::uint8_t* buffer, std::int32_t count) {
  std::int32_t got = 0;
  while (got < count) {
    const std::int32_t n = input.ReadInput(buffer + got, count - got);
    if (n > 0) {
      got += n;
    } else if (!input.CanSpan()) {
      return SpannedRead::ArchiveEnded;
    } else if (!input.OpenNextDisk()) {
      return SpannedRead::DiskRefused;
    }
  }
  return SpannedRead::Complete;
}

int GetInputByte(TDecodeContext& ctx, std::uint16_t& b) {
  if (ctx.PackedLeft <= 0) {
    // Keep counting down like the data still being asked for, but never wrap.
    if (ctx.PackedLeft > std::numeric_limits<std::int64_t>::min()) --ctx.PackedLeft;
    return 0;
  }
  --ctx.PackedLeft;
  if (ctx.InAvail == 0) {
    RefillInput(ctx);
    if (ctx.InAvail == 0) return 0;
  }
  b = *ctx.InNext++;
  --ctx.InAvail;
  return 8;
}

std::span<const std::uint8_t> PendingInput(TDecodeContext& ctx) {
  if (ctx.InAvail == 0 && ctx.PackedLeft > 0) RefillInput(ctx);
  return {ctx.InNext, ctx.InAvail};
}

void ConsumeInput(TDecodeContext& ctx, std::size_t n) {
  const auto used = static_cast<std::uint16_t>(std::min<std::size_t>(n, ctx.InAvail));
  ctx.InNext += used;
  ctx.InAvail = static_cast<std::uint16_t>(ctx.InAvail - used);
  ctx.PackedLeft -= used;
}

std::span<const std::uint8_t> TakeInputBlock(TDecodeContext& ctx) {
  if (ctx.InAvail == 0 && ctx.PackedLeft > 0) RefillInput(ctx, true);
  const auto n = static_cast<std::size_t>(std::clamp<std::int64_t>(ctx.PackedLeft, 0, ctx.InAvail));
  const std::span<const std::uint8_t> block(ctx.InNext, n);
  ConsumeInput(ctx, n);
  return block;
}

bool HandBackInput(TDecodeContext& ctx, std::int32_t n) {
  if (!ctx.InLent) return false;
  ctx.InLent = false;
  if (n <= 0) return true;
  ctx.Input->ReturnInput(n);
  ctx.InHandedBack = n;
  ctx.ArchiveLeft += n;
  ctx.PackedLeft += n;
  return true;
}

void PutOutputByte(TDecodeContext& ctx, std::uint8_t b) {
  *ctx.OutNext++ = b;
  if (++ctx.OutFill >= kOutBufferSize) WriteOutputBuffer(ctx);
}

void WriteOutputBlock(TDecodeContext& ctx, const std::uint8_t* data, std::int32_t n) {
  if (n <= 0) return;
  DecodeOutput& output = *ctx.Output;
  if (output.OutputPosition() + n > ctx.UnpackedSize)
    throw EBiggerThanUncompressed("File is larger than uncompressed size!");
  if (output.WriteOutput(data, n) < n) throw ECantWriteUCF("Cant write uncompressed file");
  output.Crc() = UpdateCrc(output.Crc(), data, static_cast<std::size_t>(n));
  ctx.EntryBytesOut += n;
  output.BlockWritten(n, ctx.EntryBytesOut, ctx.UnpackedSize);
}

void WriteOutputBuffer(TDecodeContext& ctx) {
  if (ctx.OutFill == 0) return;
  WriteOutputBlock(ctx, ctx.OutBuffer.get(), ctx.OutFill);
  ctx.OutFill = 0;
  ctx.OutNext = ctx.OutBuffer.get();
}

DecodeResult WholeOutput(const TDecodeContext& ctx) {
  return ctx.EntryBytesOut == ctx.UnpackedSize ? DecodeResult::Decoded : DecodeResult::DamagedData;
}

void CopyWindowToOutput(TDecodeContext& ctx, std::int32_t n) {
  n = std::clamp<std::int32_t>(n, 0, 32768);
  const std::uint8_t* from = ctx.WorkArea.get();
  while (n > 0) {
    const std::int32_t k = std::min<std::int32_t>(n, kOutBufferSize - ctx.OutFill);
    std::memcpy(ctx.OutNext, from, static_cast<std::size_t>(k));
    ctx.OutNext += k;
    ctx.OutFill = static_cast<std::uint16_t>(ctx.OutFill + k);
    from += k;
    if (ctx.OutFill >= kOutBufferSize) WriteOutputBuffer(ctx);
    n -= k;
  }
}

DecodeResult CopyStoredEntry(TDecodeContext& ctx) {
  while (ctx.ArchiveLeft > 0) {
    const std::int32_t c = NextBlockSize(ctx);
    ctx.OutFill = static_cast<std::uint16_t>(c);
    ctx.InAvail = static_cast<std::uint16_t>(ReadArchiveBlock(*ctx.Input, ctx.OutBuffer.get(), c));
    ctx.Input->Decrypt(ctx.OutBuffer.get(), ctx.OutFill);
    WriteOutputBuffer(ctx);
  }
  ctx.OutFill = 0;
  return WholeOutput(ctx);
}

namespace {

DecodeResult RunDecoder(TDecodeContext& ctx, std::uint16_t method, std::uint16_t bitFlag) {
  switch (method) {
    case 0: return CopyStoredEntry(ctx);
    case 1: return DecodeShrunk(ctx);
    case 2: case 3: case 4: case 5: return DecodeReduced(ctx, method - 1);
    case 6: return DecodeImploded(ctx, bitFlag);
    case 8: return DecodeDeflated(ctx);
    case 9: return DecodeDeflated64(ctx);
    case 12: return DecodeBzip2(ctx);
    case 14: return DecodeLzma(ctx);
    case 93: return DecodeZstd(ctx);
    case 95: return DecodeXz(ctx);
    default: return DecodeResult::UnknownMethod;
  }
}

}  // namespace

DecodeResult DecodeEntry(TDecodeContext& ctx, std::uint16_t method, std::uint16_t bitFlag) {
  try {
    const DecodeResult result = RunDecoder(ctx, method, bitFlag);
    return result == DecodeResult::InvalidCode ? DecodeResult::DamagedData : result;
  } catch (const EDataError&) {
    return DecodeResult::DamagedData;
  }
}

}  // namespace quv

namespace quv {

bool MethodDecodable(std::uint16_t method) {
  return method <= 6 || method == 8 || method == 9 || method == 12 || method == 14 || method == 93 || method == 95;
}

std::string MethodName(std::uint16_t method) {
  switch (method) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 2: case 3: case 4: case 5: return "Reduce" + std::to_string(method - 1);
    case 6: return "Implode";
    case 7: return "Tokenize";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    case 10: return "PKImplode";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 18: return "Terse";
    case 19: return "LZ77";
    case 20: return "Zstd";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return "Unk:" + std::to_string(method);
  }
}

}  // namespace quv
