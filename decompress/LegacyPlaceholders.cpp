// Stand-ins for the decoders of the older methods until they are built, so
// the engine links. Weak, so the real decoders replace them.
#include "decompress/DecodeContext.h"
#include "zip/Exception.h"

namespace quv {

[[gnu::weak]] void DecodeShrunk(TDecodeContext&) { throw EFatalUnzipError("not built"); }
[[gnu::weak]] void DecodeReduced(TDecodeContext&, int) { throw EFatalUnzipError("not built"); }
[[gnu::weak]] void DecodeImploded(TDecodeContext&, std::uint16_t) { throw EFatalUnzipError("not built"); }

}  // namespace quv
