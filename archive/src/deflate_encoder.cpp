#include "deflate_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "archive/methods.h"

namespace za {

namespace {

constexpr std::size_t kLargestBuffer = 256 * 1024;

class ZlibDeflateEncoder final : public TZAEncoder {
 public:
  ZlibDeflateEncoder(int level, std::uint64_t size)
      // As much room as the source takes, up to a chunk.
      : room_(static_cast<std::size_t>(std::clamp<std::uint64_t>(size + 1, 4096, kLargestBuffer))) {
    std::memset(&z_, 0, sizeof z_);
    if (deflateInit2(&z_, std::clamp(level, 1, 9), Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::bad_alloc();
  }
  ~ZlibDeflateEncoder() override { deflateEnd(&z_); }
  ZlibDeflateEncoder(const ZlibDeflateEncoder&) = delete;
  ZlibDeflateEncoder& operator=(const ZlibDeflateEncoder&) = delete;

  std::uint16_t Method() const override { return 8; }
  std::uint16_t VersionNeeded() const override { return 20; }
  bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) override {
    // The output is handed on before Encode returns, so the encoders of a
    // thread share one buffer: a tree's files are each compressed by an
    // encoder of their own, and a buffer apiece was made and cleared for
    // every one of them.
    thread_local std::unique_ptr<std::uint8_t[]> packed;
    thread_local std::size_t packedSize = 0;
    if (packedSize < room_) {
      packed.reset(new std::uint8_t[room_]);
      packedSize = room_;
    }
    z_.next_in = const_cast<std::uint8_t*>(data);
    z_.avail_in = static_cast<uInt>(size);
    do {
      z_.next_out = packed.get();
      z_.avail_out = static_cast<uInt>(room_);
      if (deflate(&z_, end ? Z_FINISH : Z_NO_FLUSH) == Z_STREAM_ERROR) return false;
      sink.Put(packed.get(), room_ - z_.avail_out);
    } while (z_.avail_out == 0);
    return true;
  }

 private:
  z_stream z_;
  std::size_t room_;
};

}  // namespace

std::unique_ptr<TZAEncoder> ZAZlibDeflateEncoder(int level, std::uint64_t size) {
  return std::make_unique<ZlibDeflateEncoder>(level, size);
}

std::unique_ptr<TZAEncoder> ZADeflateEncoder(int level, bool fast, std::uint64_t size) {
  if (fast)
    if (std::unique_ptr<TZAEncoder> faster = ZAFastDeflateEncoder(level, size)) return faster;
  return ZAZlibDeflateEncoder(level, size);
}

std::unique_ptr<TZAEncoder> ZAEncoderFor(std::uint16_t method, int level, std::uint64_t size,
                                         const TZAMethods* methods, bool fast) {
  if (level <= 0) return nullptr;
  if (method != 8 && methods && methods->MakeEncoder)
    if (std::unique_ptr<TZAEncoder> other = methods->MakeEncoder(method, level, size)) return other;
  return ZADeflateEncoder(level, fast, size);
}

}  // namespace za
