// Feeds every input to zlib's inflater and to the faster one, cut the same
// way, and traps where they part: for a stream the faster one takes to its
// end it must hand on zlib's output, and, given the stream whole, in
// exactly zlib's pieces and reports (given it in parts, it may hold back
// the last symbols of a part until more input comes, where zlib decodes
// them at once: the same bytes, cut elsewhere); a stream zlib refuses it
// may not take; where it stops early it must not
// have made more than zlib. The decoder around them, with the faster
// inflater on, must then reach zlib's verdict with zlib's output.
//
// One difference is known and let through: ISA-L takes a block whose
// Huffman code is incomplete (of its code lengths, literals and lengths or
// distances), which zlib refuses ("invalid code lengths set", "invalid
// literal/lengths set", "invalid distances set"), and decodes it as far as
// it goes. The decoder's second decoding then gives zlib's verdict and
// output, after reports zlib would not have made; only such a block that
// decodes to the declared size and CRC-32 would pass where zlib fails it,
// and only after the first block, whose header the decoder checks itself.
//
// Data of stored blocks alone, which the decoder may take from where the
// archive shows it without an inflater, must be data zlib takes to its end
// with the same content.
//
// The first byte chooses the output buffer, the second where the input is
// cut; the third chooses the declared size, which is either the size zlib
// made (with its CRC-32) or an arbitrary one. The rest is raw deflate data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "../../archive/src/decoder.h"
#include "../../archive/src/deflate_header.h"
#include "../../archive/src/stored_blocks.h"

namespace {

struct Events final : za::TZADecodeSink {
  bool Write(const std::uint8_t* data, std::size_t size) override {
    log.push_back('w');
    log.append(std::to_string(size));
    out.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Progress(std::uint64_t produced) override {
    log.push_back('r');
    log.append(std::to_string(produced));
    reports.push_back(produced);
    return false;
  }
  bool Truncate(std::uint64_t produced) override {
    if (produced > out.size()) return false;
    out.resize(static_cast<std::size_t>(produced));
    return true;
  }
  std::string log, out;
  std::vector<std::uint64_t> reports;
};

struct Run {
  Events events;
  bool fed = true;  // every Feed succeeded
};

void Decode(za::TZACodec& codec, const std::vector<std::uint8_t>& data, std::size_t cut, std::size_t outSize,
            std::uint64_t limit, Run& run) {
  std::vector<std::uint8_t> output(outSize);
  if (!codec.Begin(limit, output.data(), output.size())) std::abort();
  za::TZACodecOutput out(run.events, limit);
  std::vector<std::uint8_t> input(data);
  for (std::size_t at = 0; at < input.size() && run.fed;) {
    std::size_t n = input.size() - at < cut ? input.size() - at : cut;
    run.fed = codec.Feed(input.data() + at, n, out);
    at += n;
  }
}

// How raw zlib ends on the whole of `input` (behind its two-byte prefix):
// its result, and its message.
int ZlibEnd(const std::vector<std::uint8_t>& input, std::string& why) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  std::vector<std::uint8_t> in(input.begin() + 2, input.end()), out(1 << 16);
  z.next_in = in.data();
  z.avail_in = static_cast<uInt>(in.size());
  int result;
  do {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
  } while (result == Z_OK && z.avail_in > 0);
  why = z.msg ? z.msg : "";
  inflateEnd(&z);
  return result;
}

void Trap(const char* what) {
  std::fprintf(stderr, "inflaters part: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || !za::TZAFastDeflateCodec::Available()) return 0;
  std::size_t outSize = 1 + data[0] * 97u;
  std::size_t cut = 1 + data[1] * 13u;
  std::uint8_t declaredChoice = data[2];
  std::vector<std::uint8_t> input(za::kZlibHeader, za::kZlibHeader + sizeof za::kZlibHeader);
  input.insert(input.end(), data + 3, data + size);
  // Output is bounded as the decoder bounds it, by a declared size.
  const std::uint64_t limit = 1u << 20;

  za::TZADeflateCodec zlib;
  za::TZAFastDeflateCodec fast;
  Run slow, quick;
  Decode(zlib, input, cut, outSize, limit, slow);
  Decode(fast, input, cut, outSize, limit, quick);
  // A stream the faster one takes to its end zlib takes the same way; it
  // may only stop early, or wait for the rest of a block header, and then
  // it has made no more than zlib.
  std::string why;
  const int end = ZlibEnd(input, why);
  // zlib refuses a block's incomplete code.
  const bool known = !slow.fed && end == Z_DATA_ERROR &&
                     (why == "invalid code lengths set" || why == "invalid literal/lengths set" ||
                      why == "invalid distances set");
  bool accepted = quick.fed && fast.Conclusive() && !known;
  if (accepted && !slow.fed) Trap("the faster inflater accepts what zlib refuses");
  // A header zlib takes must pass the decoder's own check, or every sound
  // entry would be decoded twice.
  if (end == Z_STREAM_END && za::ZACheckFirstDeflateHeader(input.data() + 2, input.size() - 2) == za::TZADeflateHeader::Refused)
    Trap("the header check refuses what zlib takes");
  const bool whole = cut >= input.size();
  if (accepted && whole && quick.events.log != slow.events.log) {
    std::fprintf(stderr, "zlib: %s\nfast: %s\n", slow.events.log.c_str(), quick.events.log.c_str());
    Trap("different pieces or reports");
  }
  if (accepted && quick.events.out != slow.events.out) Trap("different output");
  if (!known && slow.events.out.compare(0, quick.events.out.size(), quick.events.out) != 0)
    Trap("output zlib does not make");

  if (const std::int64_t stored = za::ZAStoredBlocksContent(input.data() + 2, input.size() - 2); stored >= 0) {
    std::string walked;
    za::ZAForEachStoredBlock(input.data() + 2, [&](const std::uint8_t* p, std::size_t n) {
      walked.append(reinterpret_cast<const char*>(p), n);
      return true;
    });
    if (end != Z_STREAM_END || static_cast<std::size_t>(stored) != walked.size() ||
        (walked.size() <= limit && walked != slow.events.out))
      Trap("stored blocks walked are not what zlib inflates");
  }

  za::TZAEntryCoding coding;
  coding.Method = 8;
  coding.Declared = declaredChoice & 1 ? declaredChoice : slow.events.out.size();
  coding.Crc32 = za::ZACrc32(0, reinterpret_cast<const std::uint8_t*>(slow.events.out.data()), slow.events.out.size());
  std::size_t piece = coding.Declared >= za::kZACodecPiece ? za::kZACodecPiece
                                                          : static_cast<std::size_t>(coding.Declared) + 1;
  Events verdicts[2];
  za::TZADecodeVerdict v[2];
  for (int on = 0; on < 2; ++on) {
    za::TZADecoder decoder;
    decoder.SetFastInflate(on == 1);
    std::vector<std::uint8_t> in(input), out(piece);
    v[on] = decoder.DecodeBuffer(in.data(), in.size(), coding, verdicts[on], out.data(), out.size());
  }
  if (v[0].NativeError != v[1].NativeError || v[0].Produced != v[1].Produced || v[0].Crc32 != v[1].Crc32 ||
      verdicts[0].out != verdicts[1].out)
    Trap("the decoder's verdict is not zlib's");
  // Writes the second decoding takes back are between the decoder and its
  // sink; what the caller sees is the reports and what stays written.
  if (!known && verdicts[0].reports != verdicts[1].reports) Trap("the decoder's reports are not zlib's");
  return 0;
}
