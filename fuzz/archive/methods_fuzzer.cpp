// Decodes one stream of a compression method beyond stored and deflate, as
// the decoder of an entry does. The first byte picks the method, the next
// four the declared size (bounded, so that a run stays short); the rest is
// the entry's data. Deflate64 data is also fed to its codec in pieces, cut
// where the first byte says, and must reach the same verdict and output;
// so is BZip2 data to the codec that decodes its blocks apart, and every
// block our own block decoder takes must be one that libbz2 decodes alone
// to the same bytes. LZMA and XZ data must get liblzma's verdict, and
// wherever our own decoder, fed in pieces, comes to a clean end, liblzma
// must decode the same bytes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "../../archive/src/codecs/deflate64_codec.h"
#include "../../archive/src/codecs/posix/bzip2_block_decoder.h"
#include "../../archive/src/codecs/posix/bzip2_blocks.h"
#include "../../archive/src/codecs/posix/lzma_streams.h"
#include "../../archive/src/decoder.h"

namespace {

class Count final : public za::TZADecodeSink {
 public:
  bool Write(const std::uint8_t*, std::size_t) override { return true; }
  bool Progress(std::uint64_t) override { return false; }
};

constexpr std::uint16_t kMethods[] = {9, 12, 14, 93, 95, 20};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint16_t method = kMethods[data[0] % (sizeof kMethods / sizeof kMethods[0])];
  std::uint64_t declared = (data[1] | data[2] << 8 | data[3] << 16 | std::uint64_t{data[4]} << 24) % (8u << 20);
  std::vector<std::uint8_t> stream(data + 5, data + size);

  za::TZADecoder decoder;
  decoder.SetMethods(&za::ZAExtraMethods());
  za::TZAEntryCoding coding;
  coding.Method = method;
  coding.Declared = declared;
  coding.Checked = false;  // the size alone: data that decodes, decodes
  Count sink;
  std::vector<std::uint8_t> whole = stream;
  za::TZADecodeVerdict verdict = decoder.DecodeBuffer(whole.data(), whole.size(), coding, sink, nullptr, 0);
  if (verdict.Produced > declared) std::abort();

  // Whether `codec` fed `piece` bytes at a time decodes to the declared
  // size, and the CRC-32 of what it gave.
  auto feed = [&](za::TZACodec& codec, std::size_t piece) {
    za::TZACodecOutput out(sink, declared);
    bool ok = codec.Begin(declared, nullptr, 0);
    codec.Expect(stream.size());
    for (std::size_t at = 0; ok && at < stream.size(); at += piece)
      ok = codec.Feed(stream.data() + at, std::min(piece, stream.size() - at), out);
    return std::make_pair(ok && out.Produced() == declared, out.Crc32());
  };
  const std::size_t piece = 1 + data[0] / 6;
  std::pair<bool, std::uint32_t> expected{verdict.Passed(), verdict.Crc32}, got = expected;
  if (method == 9) {
    za::TZADeflate64Codec codec;
    got = feed(codec, piece);
  } else if (method == 14 || method == 95) {
    expected = feed(method == 14 ? *za::ZALiblzmaLzmaCodec() : *za::ZALiblzmaXzCodec(), stream.size() + 1);
    std::unique_ptr<za::TZACodec> own = method == 14 ? za::ZALzmaCodec() : za::ZAXzCodec();
    std::pair<bool, std::uint32_t> mine = feed(*own, piece);
    if (mine.first && own->Conclusive() && mine != expected) std::abort();
  } else if (method == 12) {
    expected = feed(*za::ZABZip2CodecAs(false), stream.size() + 1);
    got = feed(*za::ZABZip2CodecAs(true), piece);
    if (stream.size() >= 4) {
      za::TZABZip2Bits bits(stream.data(), stream.size());
      std::vector<std::uint64_t> magics;
      bits.FindMagics(32, magics);
      za::TZABZip2BlockDecoder mine;
      za::TZABZip2PieceDecoder theirs;
      std::vector<std::uint8_t> one, buffer(1u << 16), out;
      for (std::size_t k = 0; k + 1 < magics.size() && k < 4; ++k) {
        if (!mine.Decode(bits, magics[k], magics[k + 1], stream[3], declared)) continue;
        bits.OneBlockStream(magics[k], magics[k + 1], stream[3], one);
        out.clear();
        za::TZABZip2Piece verdict = theirs.Decode(one, magics[k + 1] - magics[k], buffer.data(), buffer.size(),
                                                  [&](const std::uint8_t* d, std::size_t n) {
                                                    out.insert(out.end(), d, d + n);
                                                    return true;
                                                  });
        if (verdict != za::TZABZip2Piece::Done || out.size() != mine.OutputSize() ||
            !std::equal(out.begin(), out.end(), mine.Output()))
          std::abort();
      }
    }
  }
  // An entry of no bytes gives no output either way, and then only when
  // damage is met differs: the serial decoder meets it in a block whose end
  // never comes, which the decoder of blocks, waiting for that end, has not
  // looked at.
  if (declared == 0) return 0;
  if (got.first != expected.first || (got.first && got.second != expected.second)) std::abort();
  return 0;
}
