// Our own deflate must give back every input exactly through zlib's
// inflate, and never write more than the input stored would take. The
// first byte chooses the matcher's effort and whether the input goes
// whole to the matcher or through the tools' encoder at level 6 (the
// probes for data that does not compress, then the matcher), in pieces
// whose size the second byte chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "../../archive/src/deflate/lazy_matcher.h"
#include "../../archive/src/deflate_encoder.h"

namespace {

const za::TZAMatchEffort kEfforts[] = {
    {8, 16, 128, 32, 16}, {4, 4, 8, 1, 1}, {258, 258, 258, 4096, 4096}, {3, 3, 3, 2, 0}};

class Collect final : public za::TZAEncodeSink {
 public:
  void Put(std::uint8_t* data, std::size_t size) override { out.insert(out.end(), data, data + size); }
  std::vector<std::uint8_t> out;
};

void ExpectInflatesTo(const std::vector<std::uint8_t>& packed, const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> back(size + 1);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) std::abort();
  z.next_in = const_cast<std::uint8_t*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = back.data();
  z.avail_out = static_cast<uInt>(back.size());
  const int rc = inflate(&z, Z_FINISH);
  const std::size_t made = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || z.avail_in != 0 || made != size || (size && std::memcmp(back.data(), data, size) != 0))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t how = input[0];
  const std::size_t piece = (static_cast<std::size_t>(input[1]) + 1) * 97;
  const std::uint8_t* data = input + 2;
  size -= 2;
  std::vector<std::uint8_t> packed;
  if (how & 4) {
    std::unique_ptr<za::TZAEncoder> encoder = za::ZADeflateEncoder(6, true, size);
    Collect sink;
    for (std::size_t at = 0; at < size; at += piece)
      if (!encoder->Encode(data + at, std::min(piece, size - at), false, sink)) std::abort();
    if (!encoder->Encode(data, 0, true, sink)) std::abort();
    packed = std::move(sink.out);
  } else {
    za::ZADeflateWhole(data, size, kEfforts[how & 3], packed);
    if (packed.size() > size + 5 * (size / 65535 + 1)) std::abort();
  }
  ExpectInflatesTo(packed, data, size);
  return 0;
}
