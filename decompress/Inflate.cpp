// Inflate (RFC 1951): being written.
#include "decompress/DecodeContext.h"
#include "zip/Exception.h"

namespace quv {

void DecodeDeflated(TDecodeContext&) { throw EFatalUnzipError("not built"); }

}  // namespace quv
