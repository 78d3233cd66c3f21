#pragma once
// The header of a stream's first deflate block, judged as zlib judges it:
// the codes a dynamic block defines must be complete (a code of one
// length-1 symbol aside, for literals and lengths or distances), and its
// code lengths must not repeat what is not there or run past the count.
// ISA-L decodes blocks whose codes zlib refuses; for a stream of one
// block this check gives zlib's word on it.
#include <cstddef>
#include <cstdint>

namespace za {

enum class TZADeflateHeader { Sound, Refused, Short };

TZADeflateHeader ZACheckFirstDeflateHeader(const std::uint8_t* data, std::size_t size);

}  // namespace za
