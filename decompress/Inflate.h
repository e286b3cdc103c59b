// Inflate: the decoder for compression methods 8 (RFC 1951 deflate) and 9
// (Deflate64).
#pragma once

#include "decompress/DecodeContext.h"

namespace quv {

enum class InflateFormat { Deflate, Deflate64 };

// DecodeDeflated (DecodeDeflated64) with its verdict: Decoded when the last block ended and
// everything was written, otherwise the result of the block that stopped the
// decoding (DamagedData or InvalidCode; nothing more is then written).
// Exceptions as for DecodeDeflated; tables that cannot be allocated raise
// EDecoderOutOfMemory.
DecodeResult InflateEntry(TDecodeContext& ctx, InflateFormat format = InflateFormat::Deflate);

// Inflate's fast loop is built twice on x86: for any processor and for those
// with BMI2, and the processor's best runs. For tests: true makes every
// thread run the one for any processor from now on.
void UsePortableInflateLoop(bool portable);
// The entry's last input bytes are decoded by the fast loop, over a copy of
// them followed by what the careful path feeds past their end. For tests:
// true has every thread decode them the careful way from now on.
void UseCarefulInflateTail(bool careful);

}  // namespace quv
