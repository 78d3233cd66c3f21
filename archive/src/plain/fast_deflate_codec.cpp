// Builds without a faster inflater: zlib decodes everything.
#include "fast_deflate_codec.h"

namespace za {

struct TZAFastDeflateCodec::State {};

TZAFastDeflateCodec::TZAFastDeflateCodec() = default;
TZAFastDeflateCodec::~TZAFastDeflateCodec() = default;
bool TZAFastDeflateCodec::Available() { return false; }
bool TZAFastDeflateCodec::Begin(std::uint64_t, std::uint8_t*, std::size_t) { return false; }
bool TZAFastDeflateCodec::Feed(std::uint8_t*, std::size_t, TZACodecOutput&) { return false; }
bool TZAFastDeflateCodec::Conclusive() const { return false; }
void TZAFastDeflateCodec::Release() {}

}  // namespace za
