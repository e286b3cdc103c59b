// Helpers shared by the Shrink, Reduce and Implode decoders: a bit reader that
// keeps the bits in locals for the hot loops, and the sliding-window match copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "decompress/DecodeContext.h"

namespace quv::legacy {

// Reads the entry's compressed bits least-significant first. Bytes already in
// the input buffer are taken directly; only a refill goes through
// GetInputByte, so refills, message processing and disk changes happen at the
// same points as with the context's own readers.
class BitInput {
 public:
  explicit BitInput(TDecodeContext& ctx) : ctx_(ctx) {}

  // True when n (at most 32) bits are held; false when the entry's data ended
  // before that many bits could be had. The bits held stay untouched then.
  bool Need(int n) {
    if (count_ >= n) return true;
    Fill(n);
    return count_ >= n;
  }

  // For readers that look a full table index ahead of the code they decode:
  // past the end of the data the holder is padded with zero bits so the
  // lookup can proceed. Overrun() tells when a padding bit was consumed, which
  // means the data really ended inside a code.
  void Ensure(int n) {
    if (count_ < n) FillPadded(n);
  }
  bool Overrun() const { return padBits_ > count_; }

  std::uint32_t Peek() const { return static_cast<std::uint32_t>(hold_); }
  void Drop(int n) {
    hold_ >>= n;
    count_ -= n;
  }
  std::uint32_t Take(int n) {
    std::uint32_t v = static_cast<std::uint32_t>(hold_) & ((1u << n) - 1u);
    Drop(n);
    return v;
  }

 private:
  void TakeBuffered() {
    while (count_ <= 56 && ctx_.InAvail > 0 && ctx_.PackedLeft > 0) {
      hold_ |= static_cast<std::uint64_t>(*ctx_.InNext++) << count_;
      count_ += 8;
      --ctx_.InAvail;
      --ctx_.PackedLeft;
    }
  }

  void Fill(int n) {
    TakeBuffered();
    while (count_ < n) {
      std::uint16_t b = 0;
      if (GetInputByte(ctx_, b) == 0) return;
      ctx_.ByteHold = b;
      hold_ |= static_cast<std::uint64_t>(b & 0xFF) << count_;
      count_ += 8;
      TakeBuffered();
    }
  }

  void FillPadded(int n) {
    if (padBits_ == 0) Fill(n);
    while (count_ < n) {  // zero bits past the end
      count_ += 8;
      padBits_ += 8;
    }
  }

  TDecodeContext& ctx_;
  std::uint64_t hold_ = 0;
  int count_ = 0;
  int padBits_ = 0;
};

// Moves e bytes forward eight at a time. Safe when the source lies ahead of
// the destination or at least eight bytes behind it: every load then reads
// bytes that are final. Short matches are the common case; a call to memmove
// for each would cost more than the copy.
inline void CopyForward(std::uint8_t* out, const std::uint8_t* in, std::uint32_t e) {
  while (e >= 8) {
    std::uint64_t v;
    std::memcpy(&v, in, 8);
    std::memcpy(out, &v, 8);
    in += 8;
    out += 8;
    e -= 8;
  }
  while (e-- > 0) *out++ = *in++;
}

// Moves the window to the output; a full window goes out in one block
// without passing through the output buffer when that is empty.
template <std::uint32_t kSize>
inline void FlushWindow(TDecodeContext& ctx, const std::uint8_t* window) {
  if (kSize == static_cast<std::uint32_t>(kOutBufferSize) && ctx.OutFill == 0)
    WriteOutputBlock(ctx, window, static_cast<std::int32_t>(kSize));
  else
    CopyWindowToOutput(ctx, static_cast<std::int32_t>(kSize));
}

// Copies a match of n bytes from src to the window position w in a window of
// kSize bytes, moving each full window to the output. Before the window was
// first written out, a source at or past w lies before the entry's first byte
// and yields zeros rather than whatever the work area held.
template <std::uint32_t kSize>
inline void CopyMatch(TDecodeContext& ctx, std::uint8_t* window, std::uint32_t& w, std::uint32_t src,
                      std::uint32_t n, bool& writtenOut) {
  while (n > 0) {
    src &= kSize - 1;
    std::uint32_t e = std::min(kSize - std::max(src, w), n);
    n -= e;
    std::uint8_t* out = window + w;
    const std::uint8_t* in = window + src;
    if (!writtenOut && src >= w) {
      std::memset(out, 0, e);
    } else if (src < w && w - src < e) {
      // The source overlaps the bytes being written: its period repeats,
      // as a copy one byte at a time would make it.
      const std::uint32_t period = w - src;
      if (period == 1) {
        std::memset(out, *in, e);
      } else if (period < 8) {
        for (std::uint32_t i = 0; i < e; ++i) out[i] = in[i];
      } else {
        CopyForward(out, in, e);
      }
    } else if (e <= 64) {
      CopyForward(out, in, e);
    } else {
      // Disjoint, or the source lies ahead of the destination: a forward
      // move gives the same bytes as a copy one at a time.
      std::memmove(out, in, e);
    }
    w += e;
    src += e;
    if (w == kSize) {
      FlushWindow<kSize>(ctx, window);
      w = 0;
      writtenOut = true;
    }
  }
}

}  // namespace quv::legacy
