// Stand-ins for the decoders of the older methods until they are built, so
// the engine links. Delete this file together with adding the real decoders.
#include "decompress/DecodeContext.h"
#include "zip/Exception.h"

namespace quv {

void DecodeShrunk(TDecodeContext&) { throw EFatalUnzipError("not built"); }
void DecodeReduced(TDecodeContext&, int) { throw EFatalUnzipError("not built"); }
void DecodeImploded(TDecodeContext&, std::uint16_t) { throw EFatalUnzipError("not built"); }

}  // namespace quv
