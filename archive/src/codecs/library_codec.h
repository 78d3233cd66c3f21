#pragma once
// Codecs and encoders over the compression libraries of the system (bzip2,
// liblzma, libzstd), where it has them: null where it has not, and the
// method then stays unsupported.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "codec.h"
#include "encoder.h"

namespace za {

// The largest dictionary (LZMA, XZ) or window (Zstandard) a stream may ask
// for. Every preset of the tools asks for less; a stream that asks for
// more is refused rather than given that much memory.
inline constexpr std::uint64_t kZAWindowLimit = 512u << 20;

std::unique_ptr<TZACodec> ZALibraryCodec(std::uint16_t method);
std::unique_ptr<TZAEncoder> ZALibraryEncoder(std::uint16_t method, int level, std::uint64_t size);
bool ZALibraryDecodes(std::uint16_t method);

// A codec over a library's streaming decoder, with an output buffer of its
// own that grows to what an entry needs, up to a piece, or the caller's.
class TZAStreamCodec : public TZACodec {
 public:
  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) final;
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) final;
  const TZACodecFault* Fault() const final { return fault_.Text.empty() ? nullptr : &fault_; }

 protected:
  enum class Step { More, End, Failed };
  // Starts the library on an entry of `declared` bytes.
  virtual bool Start(std::uint64_t declared) = 0;
  // One call of the library: input from `in` (`left` bytes, both moved on
  // by what it took), `have` bytes of output into `out`.
  virtual Step Run(const std::uint8_t*& in, std::size_t& left, std::uint8_t* out, std::size_t size,
                   std::size_t& have) = 0;
  // Says what is wrong; false.
  bool Fail(std::string text, bool limit = false);
  static std::string MiB(std::uint64_t bytes);

 private:
  std::unique_ptr<std::uint8_t[]> own_;
  std::size_t ownSize_ = 0, outSize_ = 0;
  std::uint8_t* out_ = nullptr;  // own_, or the caller's buffer
  bool ended_ = false;
  TZACodecFault fault_;
};

}  // namespace za
