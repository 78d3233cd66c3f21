#pragma once
// Raw deflate data inflated by zlib, the judge of what an encoder writes.
#include <zlib.h>

#include <string>

namespace za::testing {

// The data, or a note of what zlib made of it where it is not one whole
// stream.
inline std::string Inflated(const std::string& packed) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return "(no inflater)";
  std::string out(1 << 16, '\0'), all;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&z, Z_NO_FLUSH);
    all.append(out.data(), out.size() - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  return rc == Z_STREAM_END && z.avail_in == 0 ? all : "(damaged: " + std::to_string(rc) + ")";
}

}  // namespace za::testing
