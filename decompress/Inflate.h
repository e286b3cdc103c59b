// Inflate: the decoder for compression methods 8 (RFC 1951 deflate) and 9
// (Deflate64).
#pragma once

#include "decompress/DecodeContext.h"

namespace quv {

// Block results.
inline constexpr int kInflateOk = 0;
inline constexpr int kInflateBadData = 1;
inline constexpr int kInflateBadCode = 2;   // block type 3 or an over-subscribed code

enum class InflateFormat { Deflate, Deflate64 };

// DecodeDeflated (DecodeDeflated64) with its verdict: kInflateOk when the last block ended and
// everything was written, otherwise the result of the block that stopped the
// decoding (nothing more is then written). Exceptions as for DecodeDeflated;
// tables that cannot be allocated raise EDecoderOutOfMemory.
int InflateEntry(TDecodeContext& ctx, InflateFormat format = InflateFormat::Deflate);

}  // namespace quv
