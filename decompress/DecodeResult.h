// How a decoder, or a step of one, ends: the one convention inside the
// decoders. Damaged data ends the entry only. A failure that ends the run
// (the output cannot be written, the archive ends early, a disk is missing,
// the user cancels, memory runs out) is an exception of the EFatalUnzipError
// family (zip/Exception.h) that passes through to the engine's caller.
#pragma once

namespace quv {

enum class DecodeResult {
  Decoded,        // the entry's data, or this step, went well
  DamagedData,    // invalid or incomplete codes, a distance before the first
                  // byte, data that ends early, output of another size than declared
  InvalidCode,    // damaged data too, as the table builder and Inflate tell it
                  // apart: a Deflate block type 3, over-subscribed code lengths
  UnknownMethod,  // no decoder for the method
};

}  // namespace quv
