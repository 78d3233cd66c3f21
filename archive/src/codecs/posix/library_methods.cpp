// The methods whose libraries the system has: all of them.
#include "library_codec.h"

namespace za {

std::unique_ptr<TZACodec> ZABZip2Codec();
std::unique_ptr<TZACodec> ZALzmaCodec();
std::unique_ptr<TZACodec> ZAXzCodec();
std::unique_ptr<TZACodec> ZAZstdCodec();
std::unique_ptr<TZAEncoder> ZABZip2Encoder(int level);
std::unique_ptr<TZAEncoder> ZALzmaEncoder(int level, std::uint64_t size);
std::unique_ptr<TZAEncoder> ZAXzEncoder(int level, std::uint64_t size);
std::unique_ptr<TZAEncoder> ZAZstdEncoder(int level);

std::unique_ptr<TZACodec> ZALibraryCodec(std::uint16_t method) {
  switch (method) {
    case 12: return ZABZip2Codec();
    case 14: return ZALzmaCodec();
    case 20:
    case 93: return ZAZstdCodec();
    case 95: return ZAXzCodec();
    default: return nullptr;
  }
}

std::unique_ptr<TZAEncoder> ZALibraryEncoder(std::uint16_t method, int level, std::uint64_t size) {
  switch (method) {
    case 12: return ZABZip2Encoder(level);
    case 14: return ZALzmaEncoder(level, size);
    case 93: return ZAZstdEncoder(level);
    case 95: return ZAXzEncoder(level, size);
    default: return nullptr;
  }
}

bool ZALibraryDecodes(std::uint16_t method) {
  return method == 12 || method == 14 || method == 20 || method == 93 || method == 95;
}

}  // namespace za
