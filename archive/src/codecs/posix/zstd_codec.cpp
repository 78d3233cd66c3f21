// Method 93 (and 20, which early writers used): Zstandard through libzstd.
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

#include "library_codec.h"

namespace za {

namespace {

class ZstdCodec final : public TZAStreamCodec {
 public:
  ~ZstdCodec() override { ZSTD_freeDStream(d_); }

 protected:
  bool Start(std::uint64_t) override {
    if (!d_) d_ = ZSTD_createDStream();
    if (!d_) return Fail("Zstd decoder cannot start (out of memory)");
    ZSTD_DCtx_reset(d_, ZSTD_reset_session_and_parameters);
    int log = 10;
    while ((std::uint64_t{1} << (log + 1)) <= kZAWindowLimit) ++log;
    ZSTD_DCtx_setParameter(d_, ZSTD_d_windowLogMax, log);
    return true;
  }
  Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
           std::size_t& have) override {
    ZSTD_inBuffer input{in, left, 0};
    ZSTD_outBuffer output{out, size, 0};
    std::size_t rc = ZSTD_decompressStream(d_, &output, &input);
    have = output.pos;
    in += input.pos;
    left -= input.pos;
    if (ZSTD_isError(rc)) {
      if (ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge)
        Fail("Zstd data needs a window over the limit of " + MiB(kZAWindowLimit), true);
      else
        Fail(std::string("Zstd data is damaged (") + ZSTD_getErrorName(rc) + ")");
      return Step::Failed;
    }
    // A frame ended; a next one, as zstd writes for concatenated input,
    // goes on into the same entry.
    return rc == 0 && left == 0 ? Step::End : Step::More;
  }

 private:
  ZSTD_DStream* d_ = nullptr;
};

class ZstdEncoder final : public TZAEncoder {
 public:
  explicit ZstdEncoder(int level) {
    c_ = ZSTD_createCCtx();
    // Levels 1 to 9 spread over zstd's 1 to 19, the default 6 at zstd's
    // own default, 3.
    static constexpr int kLevels[10] = {1, 1, 1, 2, 2, 3, 3, 7, 12, 19};
    if (c_) ZSTD_CCtx_setParameter(c_, ZSTD_c_compressionLevel, kLevels[std::clamp(level, 0, 9)]);
    if (c_) ZSTD_CCtx_setParameter(c_, ZSTD_c_checksumFlag, 0);
  }
  ~ZstdEncoder() override { ZSTD_freeCCtx(c_); }
  std::uint16_t Method() const override { return 93; }
  std::uint16_t VersionNeeded() const override { return 63; }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    if (!c_) return false;
    std::uint8_t buffer[64 * 1024];
    ZSTD_inBuffer input{data, size, 0};
    for (;;) {
      ZSTD_outBuffer output{buffer, sizeof buffer, 0};
      std::size_t rc = ZSTD_compressStream2(c_, &output, &input, end ? ZSTD_e_end : ZSTD_e_continue);
      if (ZSTD_isError(rc)) return false;
      sink.Put(buffer, output.pos);
      if (end ? rc == 0 : input.pos == input.size) return true;
    }
  }

 private:
  ZSTD_CCtx* c_ = nullptr;
};

}  // namespace

std::unique_ptr<TZACodec> ZAZstdCodec() { return std::make_unique<ZstdCodec>(); }
std::unique_ptr<TZAEncoder> ZAZstdEncoder(int level) { return std::make_unique<ZstdEncoder>(level); }

}  // namespace za
