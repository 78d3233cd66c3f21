#pragma once
// Deflate as one encoder among the others, so that the writer has one loop
// for every method: zlib's, or where the component asks for speed and the
// build has it, a faster compressor at the levels where it gives no larger
// output than zlib would.
#include <cstdint>
#include <memory>

#include "encoder.h"

namespace za {

struct TZAMethods;

// zlib at `level` (1 to 9), raw deflate, memory level 8 as zlib's default
// and Info-ZIP's; `size` (about the source's) picks the buffer.
std::unique_ptr<TZAEncoder> ZAZlibDeflateEncoder(int level, std::uint64_t size);
// The faster compressor standing for zlib's `level`, or null where there
// is none (no library, or a level it does not win at).
std::unique_ptr<TZAEncoder> ZAFastDeflateEncoder(int level, std::uint64_t size);
// Deflate at `level`; `fast`: the faster compressor where it stands for it.
std::unique_ptr<TZAEncoder> ZADeflateEncoder(int level, bool fast, std::uint64_t size);

// The encoder of new data in `method` at `level` for a source of about
// `size` bytes: null stores (level 0); a method other than deflate comes
// from `methods`, and where they have none, deflate stands in.
std::unique_ptr<TZAEncoder> ZAEncoderFor(std::uint16_t method, int level, std::uint64_t size,
                                         const TZAMethods* methods, bool fast);

}  // namespace za
