// Method 1: dynamic LZW with codes of 9 to 13 bits, widened and partially
// cleared on request of the compressor (control code 256).
#include <cstring>

#include "decompress/DecodeContext.h"
#include "decompress/LegacySupport.h"

namespace quv {

namespace {

constexpr int kTableSize = 8195;
constexpr int kCodeLimit = 8192;
constexpr int kFirstFree = 257;
constexpr int kControlCode = 256;
constexpr int kMaxWidth = 13;
constexpr std::int16_t kUndefined = -1;

// The decoder's tables, laid over the work area.
struct ShrinkTables {
  std::int16_t* prefix;
  std::uint8_t* suffix;
  std::uint8_t* stack;
};

ShrinkTables TablesIn(TDecodeContext& ctx) {
  std::uint8_t* area = ctx.WorkArea.get();
  static_assert(kTableSize * 4 <= kWorkAreaSize);
  return {reinterpret_cast<std::int16_t*>(area), area + 2 * kTableSize, area + 3 * kTableSize};
}

// Frees every code of [257, nextFree) that is no other code's prefix and
// answers the new next free code.
int PruneLeafCodes(std::int16_t* prefix, int nextFree) {
  for (int c = kFirstFree; c < nextFree; ++c)
    prefix[c] = static_cast<std::int16_t>(static_cast<std::uint16_t>(prefix[c]) | 0x8000u);
  for (int c = kFirstFree; c < nextFree; ++c) {
    int p = static_cast<std::uint16_t>(prefix[c]) & 0x7FFF;
    // Only codes of the range carry the mark; a parent outside it (possible
    // in damaged data, or left undefined by an earlier clear) is not touched,
    // so an undefined prefix can never turn into an out-of-table code.
    if (p >= kFirstFree && p < nextFree)
      prefix[p] = static_cast<std::int16_t>(static_cast<std::uint16_t>(prefix[p]) & 0x7FFFu);
  }
  for (int c = kFirstFree; c < nextFree; ++c)
    if (static_cast<std::uint16_t>(prefix[c]) & 0x8000u) prefix[c] = kUndefined;
  for (int c = kFirstFree; c < kCodeLimit; ++c)
    if (prefix[c] == kUndefined) return c;
  return kCodeLimit;
}

// Appends a decoded string to the output buffer, writing each full buffer out.
void PutString(TDecodeContext& ctx, const std::uint8_t* p, std::int32_t len) {
  if (len <= 16 && ctx.OutFill + len < kOutBufferSize) {
    // Most strings are a few bytes: a call to memcpy would cost more.
    for (std::int32_t i = 0; i < len; ++i) ctx.OutNext[i] = p[i];
    ctx.OutNext += len;
    ctx.OutFill = static_cast<std::uint16_t>(ctx.OutFill + len);
    return;
  }
  while (len > 0) {
    std::int32_t k = std::min<std::int32_t>(len, kOutBufferSize - ctx.OutFill);
    std::memcpy(ctx.OutNext, p, static_cast<std::size_t>(k));
    ctx.OutNext += k;
    ctx.OutFill = static_cast<std::uint16_t>(ctx.OutFill + k);
    p += k;
    len -= k;
    if (ctx.OutFill == kOutBufferSize) WriteOutputBuffer(ctx);
  }
}

// The byte codes stand for themselves; every other code is free.
void ResetCodes(ShrinkTables& t) {
  for (int c = kCodeLimit; c >= kControlCode; --c) t.prefix[c] = kUndefined;
  for (int c = 255; c >= 0; --c) {
    t.prefix[c] = 0;
    t.suffix[c] = static_cast<std::uint8_t>(c);
  }
}

// Puts the string code stands for at the end of the stack (a code not yet
// defined stands for the previous string and its first byte, lead, again);
// answers where the string starts, or -1 when no sound data holds it.
int ExpandCode(ShrinkTables& t, int code, int previous, std::uint8_t lead) {
  int sp = kCodeLimit;
  if (t.prefix[code] == kUndefined) {
    t.stack[--sp] = lead;
    code = previous;
  }
  while (code >= kFirstFree) {
    // A string longer than the table has codes cannot come from sound
    // data: damaged prefixes loop, so the entry ends here.
    if (sp == 0) return -1;
    if (t.prefix[code] == kUndefined) {
      t.stack[--sp] = lead;
      code = previous;
    } else {
      t.stack[--sp] = t.suffix[code];
      code = t.prefix[code];
    }
  }
  if (sp == 0) return -1;
  t.stack[--sp] = static_cast<std::uint8_t>(code);
  return sp;
}

// Decodes codes until the data ends, the caller writes out; DamagedData on a
// code no sound stream holds.
DecodeResult UnshrinkCodes(TDecodeContext& ctx) {
  ShrinkTables t = TablesIn(ctx);
  ResetCodes(t);
  int width = 9;
  int nextFree = kFirstFree;

  legacy::BitInput in(ctx);
  if (!in.Need(width)) return DecodeResult::Decoded;
  int code = static_cast<int>(in.Take(width));
  int previous = code;
  std::uint8_t lead = static_cast<std::uint8_t>(code);
  PutOutputByte(ctx, lead);

  for (;;) {
    if (!in.Need(width)) return DecodeResult::Decoded;
    code = static_cast<int>(in.Take(width));
    while (code == kControlCode) {
      if (!in.Need(width)) return DecodeResult::Decoded;
      std::uint32_t sub = in.Take(width);
      if (sub == 1) {
        // Well-formed data never asks for more than 13 bits.
        if (width == kMaxWidth) return DecodeResult::DamagedData;
        ++width;
      } else if (sub == 2) {
        nextFree = PruneLeafCodes(t.prefix, nextFree);
      }
      if (!in.Need(width)) return DecodeResult::Decoded;
      code = static_cast<int>(in.Take(width));
    }

    const int sp = ExpandCode(t, code, previous, lead);
    if (sp < 0) return DecodeResult::DamagedData;
    lead = t.stack[sp];
    PutString(ctx, t.stack + sp, kCodeLimit - sp);

    if (nextFree < kCodeLimit) {
      t.prefix[nextFree] = static_cast<std::int16_t>(previous);
      t.suffix[nextFree] = lead;
      do {
        ++nextFree;
      } while (nextFree < kCodeLimit && t.prefix[nextFree] != kUndefined);
    }
    previous = code;
  }
}

}  // namespace

DecodeResult DecodeShrunk(TDecodeContext& ctx) {
  const DecodeResult r = UnshrinkCodes(ctx);
  WriteOutputBuffer(ctx);
  return r;
}

}  // namespace quv
