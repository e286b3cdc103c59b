// The decoders built on outside libraries (bzip2, LZMA, XZ, Zstandard) share
// one loop: the library reads the input buffer in place and writes into the
// output buffer, which goes out through the size guard, CRC and progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "decompress/DecodeContext.h"

namespace quv {

// Memory no library decoder may ask for, whatever the data declares.
inline constexpr std::uint64_t kLibraryMemoryLimit = std::uint64_t{1} << 30;

class LibraryStream {
 public:
  struct Step {
    std::size_t used = 0;  // input bytes taken
    std::size_t made = 0;  // output bytes written
    bool ended = false;    // the library saw the end of its stream
    DecodeResult result = DecodeResult::Decoded;  // DamagedData: the library refused the data
  };

  virtual ~LibraryStream() = default;
  // Decodes what it can of in into out; an empty in is the end of the data.
  virtual Step Decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
  // Gets ready for another stream that follows the one just ended; false
  // when the format has no such thing, so that the bytes left are damaged.
  virtual bool Restart() = 0;
};

// Decodes the working entry through stream. The stream must end exactly at
// the end of the entry's compressed data and give exactly its size; anything
// else is DamagedData.
DecodeResult DecodeLibraryStream(TDecodeContext& ctx, LibraryStream& stream);

// A library could not get its memory: that ends the run.
[[noreturn]] void ThrowOutOfMemory(const std::string& method);

// The memory a library decoder holds, counted against the host's budget
// from the moment it is known (before the library allocates it) until the
// decoder is done.
class DecoderMemory {
 public:
  DecoderMemory(DecodeOutput& host, std::string method) : host_(host), method_(std::move(method)) {}
  ~DecoderMemory() { host_.ReleaseMemory(held_); }
  DecoderMemory(const DecoderMemory&) = delete;
  DecoderMemory& operator=(const DecoderMemory&) = delete;

  // Holds bytes from now on (never less than before); the decoder runs out
  // of memory when they are more than any decoder may have.
  void GrowTo(std::uint64_t bytes);

 private:
  DecodeOutput& host_;
  std::string method_;
  std::uint64_t held_ = 0;
};

}  // namespace quv
