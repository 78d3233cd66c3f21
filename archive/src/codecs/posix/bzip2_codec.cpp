// Method 12: BZip2 through libbz2.
#include <bzlib.h>

#include <cstring>

#include "library_codec.h"

namespace za {

namespace {

const char* BZip2Error(int code) {
  switch (code) {
    case BZ_DATA_ERROR: return "BZ_DATA_ERROR";
    case BZ_DATA_ERROR_MAGIC: return "BZ_DATA_ERROR_MAGIC: no BZip2 header";
    case BZ_MEM_ERROR: return "BZ_MEM_ERROR";
    case BZ_PARAM_ERROR: return "BZ_PARAM_ERROR";
    case BZ_SEQUENCE_ERROR: return "BZ_SEQUENCE_ERROR";
    default: return "unknown error";
  }
}

class BZip2Codec final : public TZAStreamCodec {
 public:
  ~BZip2Codec() override { End(); }

 protected:
  bool Start(std::uint64_t) override {
    End();
    std::memset(&bz_, 0, sizeof bz_);
    int rc = BZ2_bzDecompressInit(&bz_, 0, 0);
    if (rc != BZ_OK) return Fail(std::string("BZip2 decoder cannot start (") + BZip2Error(rc) + ")");
    open_ = true;
    return true;
  }
  Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
           std::size_t& have) override {
    // The library's counts are 32 bits wide; the decoder's pieces are less.
    bz_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    bz_.avail_in = static_cast<unsigned>(left);
    bz_.next_out = reinterpret_cast<char*>(out);
    bz_.avail_out = static_cast<unsigned>(size);
    int rc = BZ2_bzDecompress(&bz_);
    have = size - bz_.avail_out;
    in += left - bz_.avail_in;
    left = bz_.avail_in;
    if (rc == BZ_STREAM_END) return Step::End;
    if (rc != BZ_OK) {
      Fail(std::string("BZip2 data is damaged (") + BZip2Error(rc) + ")");
      return Step::Failed;
    }
    return Step::More;
  }

 private:
  void End() {
    if (open_) BZ2_bzDecompressEnd(&bz_);
    open_ = false;
  }
  bz_stream bz_{};
  bool open_ = false;
};

class BZip2Encoder final : public TZAEncoder {
 public:
  explicit BZip2Encoder(int level) {
    // The level is the block size in 100 kB, as bzip2 -1 to -9 take it.
    ok_ = BZ2_bzCompressInit(&bz_, level < 1 ? 1 : level > 9 ? 9 : level, 0, 0) == BZ_OK;
  }
  ~BZip2Encoder() override {
    if (ok_) BZ2_bzCompressEnd(&bz_);
  }
  std::uint16_t Method() const override { return 12; }
  std::uint16_t VersionNeeded() const override { return 46; }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    if (!ok_) return false;
    char buffer[64 * 1024];
    bz_.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
    bz_.avail_in = static_cast<unsigned>(size);
    for (;;) {
      bz_.next_out = buffer;
      bz_.avail_out = sizeof buffer;
      int rc = BZ2_bzCompress(&bz_, end ? BZ_FINISH : BZ_RUN);
      if (rc < 0) return false;
      sink.Put(reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer - bz_.avail_out);
      if (end ? rc == BZ_STREAM_END : bz_.avail_in == 0) return true;
    }
  }

 private:
  bz_stream bz_{};
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<TZACodec> ZABZip2Codec() { return std::make_unique<BZip2Codec>(); }
std::unique_ptr<TZAEncoder> ZABZip2Encoder(int level) { return std::make_unique<BZip2Encoder>(level); }

}  // namespace za
