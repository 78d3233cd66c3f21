#pragma once
// LZMA and XZ entries (methods 14 and 95) decoded by our own LZMA decoder,
// which is faster than liblzma's on entries of the sizes archives hold,
// with liblzma's codec as the reference: an entry ours does not bring to a
// clean end is decoded again by liblzma, whose output and verdict stand.
#include <memory>

#include "../../codec.h"
#include "../../encoder.h"

namespace za {

std::unique_ptr<TZACodec> ZAOwnLzmaCodec(std::unique_ptr<TZACodec> reference);
std::unique_ptr<TZACodec> ZAOwnXzCodec(std::unique_ptr<TZACodec> reference);

// Method 14 as the component decodes it (ours, then liblzma), and through
// liblzma alone.
std::unique_ptr<TZACodec> ZALzmaCodec();
std::unique_ptr<TZACodec> ZALiblzmaLzmaCodec();
std::unique_ptr<TZAEncoder> ZALzmaEncoder(int level, std::uint64_t size);
// Method 95 the same way.
std::unique_ptr<TZACodec> ZAXzCodec();
std::unique_ptr<TZACodec> ZALiblzmaXzCodec();
std::unique_ptr<TZAEncoder> ZAXzEncoder(int level, std::uint64_t size);

}  // namespace za
