// Methods 2 to 5: bytes coded through per-byte follower sets, then expanded
// with byte 144 introducing (length, distance) pairs.
#include <cstring>

#include "decompress/DecodeContext.h"
#include "decompress/LegacySupport.h"

namespace quv {

namespace {

constexpr std::uint32_t kWindowSize = 16384;
constexpr std::uint32_t kFollowerSlot = 64;
constexpr std::uint32_t kEscape = 144;

// Indexed by the compression factor (1 to 4).
constexpr std::uint32_t kLengthMask[5] = {0, 127, 63, 31, 15};
constexpr int kDistanceShift[5] = {0, 7, 6, 5, 4};
constexpr std::uint32_t kDistanceMask[5] = {0, 1, 3, 7, 15};

// Bits that index a follower set of n bytes: enough to write n - 1, at least 1.
constexpr auto kFollowerBits = [] {
  struct Table {
    std::uint8_t bits[256];
  } t{};
  t.bits[0] = 8;
  for (int n = 1; n < 256; ++n) {
    int b = 1;
    while ((1 << b) < n) ++b;
    t.bits[n] = static_cast<std::uint8_t>(b);
  }
  return t;
}();

class Unreducer {
 public:
  Unreducer(TDecodeContext& ctx, int factor)
      : ctx_(ctx),
        in_(ctx),
        window_(ctx.WorkArea.get()),
        followers_(ctx.WorkArea.get() + kWindowSize),
        lengthMask_(kLengthMask[factor]),
        distanceShift_(kDistanceShift[factor]),
        distanceMask_(kDistanceMask[factor]) {}

  // False when the data ended inside the follower sets.
  bool ReadFollowerSets() {
    // Slots are cleared so that an index past a set's count (damaged data)
    // reads a zero, never a byte of an earlier entry.
    std::memset(followers_, 0, 256 * kFollowerSlot);
    for (int x = 255; x >= 0; --x) {
      if (!in_.Need(6)) return false;
      counts_[x] = static_cast<std::uint8_t>(in_.Take(6));
      std::uint8_t* slot = followers_ + x * kFollowerSlot;
      for (int i = 0; i < counts_[x]; ++i) {
        if (!in_.Need(8)) return false;
        slot[i] = static_cast<std::uint8_t>(in_.Take(8));
      }
    }
    return true;
  }

  // Expands until the uncompressed size is reached or the data ends.
  void Expand() {
    std::int64_t left = ctx_.UnpackedSize;
    std::uint32_t previous = 0;
    int state = 0;
    std::uint32_t v = 0;
    std::uint32_t len = 0;
    while (left > 0) {
      std::uint32_t c;
      const std::uint32_t count = counts_[previous];
      if (count == 0) {
        if (!in_.Need(8)) break;
        c = in_.Take(8);
      } else {
        if (!in_.Need(1)) break;
        if (in_.Take(1)) {
          if (!in_.Need(8)) break;
          c = in_.Take(8);
        } else {
          const int bits = kFollowerBits.bits[count];
          if (!in_.Need(bits)) break;
          c = followers_[previous * kFollowerSlot + in_.Take(bits)];
        }
      }
      switch (state) {
        case 0:
          if (c != kEscape) {
            PutByte(static_cast<std::uint8_t>(c));
            --left;
          } else {
            state = 1;
          }
          break;
        case 1:
          if (c == 0) {
            PutByte(static_cast<std::uint8_t>(kEscape));
            --left;
            state = 0;
          } else {
            v = c;
            len = v & lengthMask_;
            state = len == lengthMask_ ? 2 : 3;
          }
          break;
        case 2:
          len += c;
          state = 3;
          break;
        default: {
          const std::uint32_t n = len + 3;
          const std::uint32_t distance = (((v >> distanceShift_) & distanceMask_) << 8) + c + 1;
          left -= static_cast<std::int32_t>(n);
          legacy::CopyMatch<kWindowSize>(ctx_, window_, w_, (w_ - distance) & 0xFFFF, n, writtenOut_);
          state = 0;
          break;
        }
      }
      previous = c;
    }
  }

  void Finish() { CopyWindowToOutput(ctx_, static_cast<std::int32_t>(w_)); }

 private:
  void PutByte(std::uint8_t b) {
    window_[w_++] = b;
    if (w_ == kWindowSize) {
      CopyWindowToOutput(ctx_, static_cast<std::int32_t>(kWindowSize));
      w_ = 0;
      writtenOut_ = true;
    }
  }

  TDecodeContext& ctx_;
  legacy::BitInput in_;
  std::uint8_t* window_;
  std::uint8_t* followers_;
  std::uint32_t lengthMask_;
  int distanceShift_;
  std::uint32_t distanceMask_;
  std::uint8_t counts_[256] = {};
  std::uint32_t w_ = 0;
  bool writtenOut_ = false;
};

}  // namespace

DecodeResult DecodeReduced(TDecodeContext& ctx, int factor) {
  if (factor >= 1 && factor <= 4) {
    Unreducer r(ctx, factor);
    // Data that ends early ends the entry with what was decoded so far.
    if (r.ReadFollowerSets()) r.Expand();
    r.Finish();
  }
  WriteOutputBuffer(ctx);
  return DecodeResult::Decoded;
}

}  // namespace quv
