// The methods beyond stored and deflate: Deflate64 of our own, the rest
// from the libraries of the system.
#include "codecs/deflate64_codec.h"
#include "codecs/library_codec.h"

namespace za {

namespace {

std::unique_ptr<TZACodec> MakeCodec(std::uint16_t method) {
  if (method == 9) return std::make_unique<TZADeflate64Codec>();
  return ZALibraryCodec(method);
}

}  // namespace

const TZAMethods& ZAExtraMethods() {
  static const TZAMethods methods{MakeCodec, ZALibraryEncoder};
  return methods;
}

bool ZAExtraMethodDecodes(std::uint16_t method) { return method == 9 || ZALibraryDecodes(method); }

}  // namespace za
