// Method 14 (LZMA) and method 95 (XZ) through liblzma.
//
// An LZMA entry is the zip form of LZMA1: a 2-byte version of the encoder,
// a 2-byte property size (5), the 5 property bytes, then the raw stream,
// ended by an end marker when flag bit 1 says so. An XZ entry is a whole
// .xz stream.
#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "library_codec.h"
#include "lzma_streams.h"

namespace za {

namespace {

const char* LzmaError(lzma_ret code) {
  switch (code) {
    case LZMA_DATA_ERROR: return "LZMA_DATA_ERROR";
    case LZMA_FORMAT_ERROR: return "LZMA_FORMAT_ERROR: no XZ header";
    case LZMA_OPTIONS_ERROR: return "LZMA_OPTIONS_ERROR: options not supported";
    case LZMA_MEM_ERROR: return "LZMA_MEM_ERROR";
    case LZMA_MEMLIMIT_ERROR: return "LZMA_MEMLIMIT_ERROR";
    case LZMA_BUF_ERROR: return "LZMA_BUF_ERROR: the data is cut short";
    case LZMA_UNSUPPORTED_CHECK: return "LZMA_UNSUPPORTED_CHECK";
    default: return "unknown error";
  }
}

constexpr std::size_t kHeader = 9;  // version, property size, properties

// The dictionary an encoder needs for `size` bytes of input: no larger
// than the preset's, nor than the input rounded up to a power of two (its
// memory grows with the dictionary, and most entries are small).
std::uint32_t DictionaryFor(std::uint32_t preset, std::uint64_t size) {
  std::uint64_t want = LZMA_DICT_SIZE_MIN;
  while (want < size && want < preset) want <<= 1;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(want, preset));
}

class LiblzmaCodec : public TZAStreamCodec {
 public:
  ~LiblzmaCodec() override { lzma_end(&s_); }

 protected:
  explicit LiblzmaCodec(const char* name) : name_(name) {}
  Step Code(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size, std::size_t& have) {
    s_.next_in = in;
    s_.avail_in = left;
    s_.next_out = out;
    s_.avail_out = size;
    lzma_ret rc = lzma_code(&s_, LZMA_RUN);
    have = size - s_.avail_out;
    in = s_.next_in;
    left = s_.avail_in;
    if (rc == LZMA_STREAM_END) return Step::End;
    if (rc == LZMA_OK) return Step::More;
    if (rc == LZMA_MEMLIMIT_ERROR)
      Fail(std::string(name_) + " data needs " + MiB(lzma_memusage(&s_)) + " of memory, over the limit of " +
               MiB(kZAWindowLimit),
           true);
    else
      Fail(std::string(name_) + " data is damaged (" + LzmaError(rc) + ")");
    return Step::Failed;
  }
  bool Started(lzma_ret rc) {
    if (rc == LZMA_OK) return true;
    return Fail(std::string(name_) + " decoder cannot start (" + LzmaError(rc) + ")");
  }

  lzma_stream s_ = LZMA_STREAM_INIT;

 private:
  const char* name_;
};

class LzmaCodec final : public LiblzmaCodec {
 public:
  LzmaCodec() : LiblzmaCodec("LZMA") {}

 protected:
  bool Start(std::uint64_t declared) override {
    declared_ = declared;
    headerHave_ = 0;
    started_ = false;
    return true;
  }
  Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
           std::size_t& have) override {
    if (!started_) {
      std::size_t n = std::min(kHeader - headerHave_, left);
      if (n) std::memcpy(header_ + headerHave_, in, n);
      headerHave_ += n;
      in += n;
      left -= n;
      have = 0;
      if (headerHave_ < kHeader) return Step::More;
      if (!StartStream()) return Step::Failed;
    }
    return Code(in, left, out, size, have);
  }

 private:
  bool StartStream() {
    unsigned propertySize = header_[2] | header_[3] << 8;
    if (propertySize != 5)
      return Fail("LZMA data is damaged (a property size of " + std::to_string(propertySize) + " rather than 5)");
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, header_ + 4, 5) != LZMA_OK)
      return Fail("LZMA data is damaged (its properties are not valid)");
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    struct Free {
      void* p;
      ~Free() { std::free(p); }
    } release{options};
    // Matches reach back no further than the entry's declared size, so no
    // dictionary larger than that is ever needed.
    if (options->dict_size > kZAWindowLimit && declared_ > kZAWindowLimit)
      return Fail("LZMA data needs a dictionary of " + MiB(options->dict_size) + ", over the limit of " +
                      MiB(kZAWindowLimit),
                  true);
    options->dict_size = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(declared_, LZMA_DICT_SIZE_MIN, std::max(options->dict_size, LZMA_DICT_SIZE_MIN)));
    // The stream ends at its end marker or at the declared size, whichever
    // comes first: a size that lies cannot make it run on.
    filters[0].id = LZMA_FILTER_LZMA1EXT;
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options->ext_size_low = static_cast<std::uint32_t>(declared_);
    options->ext_size_high = static_cast<std::uint32_t>(declared_ >> 32);
    if (!Started(lzma_raw_decoder(&s_, filters))) return false;
    started_ = true;
    return true;
  }

  std::uint64_t declared_ = 0;
  std::uint8_t header_[kHeader] = {};
  std::size_t headerHave_ = 0;
  bool started_ = false;
};

class XzCodec final : public LiblzmaCodec {
 public:
  XzCodec() : LiblzmaCodec("XZ") {}

 protected:
  bool Start(std::uint64_t) override {
    // The dictionary, and a little for the rest of the filter chain.
    return Started(lzma_stream_decoder(&s_, kZAWindowLimit + (16u << 20), 0));
  }
  Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
           std::size_t& have) override {
    return Code(in, left, out, size, have);
  }
};

class LiblzmaEncoder : public TZAEncoder {
 public:
  ~LiblzmaEncoder() override { lzma_end(&s_); }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    if (!ok_) return false;
    if (!header_.empty()) {
      sink.Put(header_.data(), header_.size());
      header_.clear();
    }
    std::uint8_t buffer[64 * 1024];
    s_.next_in = data;
    s_.avail_in = size;
    for (;;) {
      s_.next_out = buffer;
      s_.avail_out = sizeof buffer;
      lzma_ret rc = lzma_code(&s_, end ? LZMA_FINISH : LZMA_RUN);
      if (rc != LZMA_OK && rc != LZMA_STREAM_END) return false;
      sink.Put(buffer, sizeof buffer - s_.avail_out);
      if (rc == LZMA_STREAM_END || (!end && s_.avail_in == 0 && s_.avail_out != 0)) return true;
    }
  }

 protected:
  // The preset of `level` with the dictionary cut down to the input.
  static bool Preset(lzma_options_lzma& options, int level, std::uint64_t size) {
    if (lzma_lzma_preset(&options, static_cast<std::uint32_t>(std::clamp(level, 0, 9)))) return false;
    options.dict_size = DictionaryFor(options.dict_size, size);
    return true;
  }

  lzma_stream s_ = LZMA_STREAM_INIT;
  std::vector<std::uint8_t> header_;
  bool ok_ = false;
};

class LzmaEncoder final : public LiblzmaEncoder {
 public:
  LzmaEncoder(int level, std::uint64_t size) {
    lzma_options_lzma options;
    if (!Preset(options, level, size)) return;
    // The raw LZMA1 encoder always ends its stream with an end marker.
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::uint8_t properties[5];
    if (lzma_properties_encode(&filters[0], properties) != LZMA_OK) return;
    // The encoder's version (7-Zip puts its own), the size of the properties.
    header_ = {LZMA_VERSION_MAJOR, LZMA_VERSION_MINOR, 5, 0};
    header_.insert(header_.end(), properties, properties + 5);
    ok_ = lzma_raw_encoder(&s_, filters) == LZMA_OK;
  }
  std::uint16_t Method() const override { return 14; }
  std::uint16_t VersionNeeded() const override { return 63; }
  std::uint16_t Flags() const override { return 2; }
};

class XzEncoder final : public LiblzmaEncoder {
 public:
  XzEncoder(int level, std::uint64_t size) {
    lzma_options_lzma options;
    if (!Preset(options, level, size)) return;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    ok_ = lzma_stream_encoder(&s_, filters, LZMA_CHECK_CRC64) == LZMA_OK;
  }
  std::uint16_t Method() const override { return 95; }
  std::uint16_t VersionNeeded() const override { return 63; }
};

}  // namespace

std::unique_ptr<TZACodec> ZALzmaCodec() { return ZAOwnLzmaCodec(ZALiblzmaLzmaCodec()); }
std::unique_ptr<TZACodec> ZALiblzmaLzmaCodec() { return std::make_unique<LzmaCodec>(); }
std::unique_ptr<TZACodec> ZAXzCodec() { return ZAOwnXzCodec(ZALiblzmaXzCodec()); }
std::unique_ptr<TZACodec> ZALiblzmaXzCodec() { return std::make_unique<XzCodec>(); }
std::unique_ptr<TZAEncoder> ZALzmaEncoder(int level, std::uint64_t size) {
  return std::make_unique<LzmaEncoder>(level, size);
}
std::unique_ptr<TZAEncoder> ZAXzEncoder(int level, std::uint64_t size) {
  return std::make_unique<XzEncoder>(level, size);
}

}  // namespace za
