// The methods whose libraries the system has: none. Of bzip2, liblzma and
// libzstd there is no build for the Windows tools, whose archives of these
// methods stay unsupported.
#include "library_codec.h"

namespace za {

std::unique_ptr<TZACodec> ZALibraryCodec(std::uint16_t) { return nullptr; }
std::unique_ptr<TZAEncoder> ZALibraryEncoder(std::uint16_t, int, std::uint64_t) { return nullptr; }
bool ZALibraryDecodes(std::uint16_t) { return false; }

}  // namespace za
