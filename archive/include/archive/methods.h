#pragma once
// Compression methods beyond stored and deflate (Deflate64, BZip2, LZMA,
// Zstandard, XZ): what a component may be given to read and write them.
// The component has none of its own. They come from the library
// rovend_archive_methods, which the tools link and the setup program does
// not: its archives are stored or deflated, and it refuses the rest.
#include <cstdint>
#include <memory>
#include <string>

namespace za {

class TZACodec;    // archive/src/codec.h
class TZAEncoder;  // archive/src/encoder.h

struct TZAMethods {
  // The codec of `method`, or null for a method it does not decode.
  std::unique_ptr<TZACodec> (*MakeCodec)(std::uint16_t method) = nullptr;
  // The encoder of `method` at `level` (1 to 9) for a source of about
  // `size` bytes, or null.
  std::unique_ptr<TZAEncoder> (*MakeEncoder)(std::uint16_t method, int level, std::uint64_t size) = nullptr;
};

// What a codec found wrong with the data of the last entry that did not
// decode: "BZip2 data is damaged (BZ_DATA_ERROR)". `Limit` when the data
// may be sound but asks for more memory than the codec allows.
struct TZACodecFault {
  std::string Text;
  bool Limit = false;
};

// Every method of rovend_archive_methods; defined there.
const TZAMethods& ZAExtraMethods();
// Whether this build of rovend_archive_methods decodes `method` (the
// libraries of some exist on one system only); defined there.
bool ZAExtraMethodDecodes(std::uint16_t method);

}  // namespace za
