// The per-entry decoding state every decoder works on: buffered input of the
// entry's compressed bytes (with decryption and disk changes), the output
// buffer with its size guard, CRC-32 and progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "decompress/DecodeResult.h"
#include "zip/Crc32.h"
#include "zip/Exception.h"

namespace quv {

// Where a decoder's compressed bytes come from: the archive, across the
// disks of a set, with the entry's decryption. The unzip component
// implements it; tests implement it over memory.
class DecodeInput {
 public:
  virtual ~DecodeInput() = default;

  // Reads from the archive's current disk; answers the count read (0 at its end).
  virtual std::int32_t ReadInput(void* buffer, std::int32_t count) = 0;
  // A spanned archive whose next disk can be asked for.
  virtual bool CanSpan() const = 0;
  // The next disk of the set becomes the input; false when none was obtained.
  virtual bool OpenNextDisk() = 0;
  // Decrypts a block of the entry's data in place; leaves a plain entry's as it is.
  virtual void Decrypt(std::uint8_t* buffer, std::int32_t length) = 0;
  // Lends the current disk's next count bytes where they lie in the host's
  // own buffer, taken as read, when they need no decryption and all of them
  // can be had that way; null otherwise, and nothing is read (ReadInput then
  // reads them). The bytes stay valid until the next call to the host,
  // input or output: its handlers may move or close the archive.
  virtual const std::uint8_t* LendInput(std::int32_t /*count*/) { return nullptr; }
  // Takes back the last count bytes of the lend just made, unread: the
  // next read or lend starts with them.
  virtual void ReturnInput(std::int32_t /*count*/) {}
  // Called before each block is read: lets the host's user interface breathe.
  virtual void Breathe() {}
};

// Where a decoder's output goes: the entry's file (or nowhere, testing),
// the CRC register over it, the progress events and the memory budget of
// the run's thread that decodes. The extraction run implements it.
class DecodeOutput {
 public:
  virtual ~DecodeOutput() = default;

  virtual std::int64_t OutputPosition() = 0;
  virtual std::int32_t WriteOutput(const void* buffer, std::int32_t count) = 0;
  // The running CRC register over what was written.
  virtual std::uint32_t& Crc() = 0;
  // After a block of n bytes was written: the entry's and the run's progress.
  virtual void BlockWritten(std::int32_t n, std::int64_t entryBytesOut, std::int64_t unpackedSize) = 0;
  // Before a decoder takes memory beyond the decoding state (a library's
  // dictionary or window): counts bytes more against the run's memory
  // budget. False when the budget can never hold them; a host may also wait
  // until they fit, or raise to give the entry up. It lives with the output
  // because both are the decoding thread's share of the run.
  virtual bool ReserveMemory(std::uint64_t /*bytes*/) { return true; }
  // Gives back what ReserveMemory counted.
  virtual void ReleaseMemory(std::uint64_t /*bytes*/) {}
};

inline constexpr std::int32_t kInBufferSize = 32768;
inline constexpr std::int32_t kOutBufferSize = 32768;
inline constexpr std::int32_t kWorkAreaSize = 32780;
// What the context really allocates for WorkArea: Inflate decodes into it
// as one long window (Deflate: 32 KB of history and 192 KB of fresh output;
// Deflate64: 64 KB, 96 KB and room for its longest match; both with a
// margin for word-wide copies) so that it rarely has to move bytes around.
// Every decoder may rely on the first kWorkAreaSize bytes.
inline constexpr std::int32_t kWorkAreaAllocated = 65536 + 3 * 32768 + 65536 + 512;

// Inflate's decoding tables (decompress/Inflate.cpp).
struct InflateTables;
struct InflateTablesFree {
  void operator()(InflateTables* tables) const;
};

struct TDecodeContext {
  TDecodeContext(DecodeInput& input, DecodeOutput& output);

  DecodeInput* Input;
  DecodeOutput* Output;

  std::unique_ptr<std::uint8_t[]> InBuffer;  // kInBufferSize + 1 bytes
  const std::uint8_t* InNext = nullptr;
  std::uint16_t InAvail = 0;
  // InNext points into bytes the host lent rather than into InBuffer.
  bool InLent = false;
  // Bytes handed back to the host (HandBackInput) that the next refill takes again.
  std::int32_t InHandedBack = 0;
  // Compressed bytes not yet delivered to the decoder.
  std::int64_t PackedLeft = 0;
  // Compressed bytes not yet read from the archive; what is left after
  // decoding (a stream that ended early) is still the entry's.
  std::int64_t ArchiveLeft = 0;
  std::int64_t UnpackedSize = 0;

  // The last compressed byte delivered; decoders feed it again past the end.
  std::uint16_t ByteHold = 0;

  std::unique_ptr<std::uint8_t[]> OutBuffer;  // kOutBufferSize + 1 bytes
  std::uint8_t* OutNext = nullptr;
  std::uint16_t OutFill = 0;

  // Decoder-owned memory; zeroed when a run starts so that nothing from
  // before the run can leak into an entry.
  std::unique_ptr<std::uint8_t[]> WorkArea;  // kWorkAreaAllocated bytes
  std::uint16_t TableEntryCount = 0;
  std::int64_t EntryBytesOut = 0;
  // Made by Inflate's first entry and kept for the next ones: a run's
  // contexts (one per thread) would otherwise allocate 30 KB per entry.
  std::unique_ptr<InflateTables, InflateTablesFree> InflateState;

  // Per-entry reset: buffers, counters, the CRC register;
  // packedSize is the compressed byte count (without an encryption header).
  void ResetForEntry(std::int64_t packedSize, std::int64_t unpackedSize);
};

// How reading an entry's data through the disks of a spanned set ended.
enum class SpannedRead { Complete, ArchiveEnded, DiskRefused };
// Reads count bytes of the entry's data, going on to the next disk of a
// spanned set when one ends.
SpannedRead ReadSpanning(DecodeInput& input, std::uint8_t* buffer, std::int32_t count);

// Answers 8 when a byte was delivered into b, 0 when the data is exhausted.
int GetInputByte(TDecodeContext& ctx, std::uint16_t& b);
// The buffered compressed bytes, read in place by the library decoders; refilled
// from the archive once all are used, empty at the end of the entry's data.
std::span<const std::uint8_t> PendingInput(TDecodeContext& ctx);
// Marks the first n bytes PendingInput answered as used.
void ConsumeInput(TDecodeContext& ctx, std::size_t n);
// For a decoder that reads the entry's bytes where they lie: the buffered
// bytes, refilled (lent by the host where it can, else read into InBuffer)
// once all are used, all marked as used; empty at the end of the entry's data.
std::span<const std::uint8_t> TakeInputBlock(TDecodeContext& ctx);
// Before the decoder writes output (the host's handlers may then run): the
// last n bytes TakeInputBlock answered go back unused when the host lent
// them, and the next TakeInputBlock answers them again. False when they
// were not lent: they stay where they are, valid.
bool HandBackInput(TDecodeContext& ctx, std::int32_t n);
void PutOutputByte(TDecodeContext& ctx, std::uint8_t b);
void WriteOutputBuffer(TDecodeContext& ctx);
// Writes n bytes straight from data exactly as WriteOutputBuffer writes the
// output buffer (size guard, write, CRC, progress), so a decoder holding a
// full block elsewhere need not copy it into OutBuffer first. OutBuffer must
// be empty.
void WriteOutputBlock(TDecodeContext& ctx, const std::uint8_t* data, std::int32_t n);
// At the end of an entry's data: DamagedData when the output fell short of
// the entry's declared size (bytes left out pass any CRC that was computed
// over what is there), else Decoded.
DecodeResult WholeOutput(const TDecodeContext& ctx);
// Moves n bytes from the start of the work area into the output buffer.
void CopyWindowToOutput(TDecodeContext& ctx, std::int32_t n);

// The decoders, one per compression method; each answers as DecodeResult.h
// says. Shrink and Reduce have no way to tell damage from the end of their
// data but a code no sound stream holds: what they decoded meets the CRC.
DecodeResult CopyStoredEntry(TDecodeContext& ctx);   // 0
DecodeResult DecodeShrunk(TDecodeContext& ctx);      // 1
DecodeResult DecodeReduced(TDecodeContext& ctx, int factor);  // 2..5 (factor 1..4)
DecodeResult DecodeImploded(TDecodeContext& ctx, std::uint16_t bitFlag);  // 6
DecodeResult DecodeDeflated(TDecodeContext& ctx);    // 8
DecodeResult DecodeDeflated64(TDecodeContext& ctx);  // 9
DecodeResult DecodeBzip2(TDecodeContext& ctx);       // 12
DecodeResult DecodeLzma(TDecodeContext& ctx);        // 14
DecodeResult DecodeZstd(TDecodeContext& ctx);        // 93
DecodeResult DecodeXz(TDecodeContext& ctx);          // 95

// A decoder's own tables could not be allocated: that ends the run. Decoders
// only raise it (they may run on a worker thread, where no window lives);
// the component's calling thread tells the user.
class EDecoderOutOfMemory : public EFatalUnzipError {
 public:
  using EFatalUnzipError::EFatalUnzipError;
};

// Decodes the working entry with the decoder for method: Decoded,
// DamagedData (the entry fails its check; InvalidCode is answered as
// DamagedData here) or UnknownMethod when no decoder exists for it (the
// caller reports "Unknown Compression Method"). The output guard below every
// decoder (more output than the entry declares) raises EDataError from
// wherever the output is written; this is where it becomes DamagedData.
DecodeResult DecodeEntry(TDecodeContext& ctx, std::uint16_t method, std::uint16_t bitFlag);
// Whether DecodeEntry has a decoder for method.
bool MethodDecodable(std::uint16_t method);
// The usual name of a compression method ("Deflate64" for 9), "Unk:N" for
// a number with none.
std::string MethodName(std::uint16_t method);

}  // namespace quv
