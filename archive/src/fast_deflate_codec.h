#pragma once
// Method 8 through a faster inflater than zlib's, where the build has one
// (ISA-L's, on x86-64). Its output is only ever taken where zlib would
// have given the same: the decoder decodes again with zlib what it does
// not pass, and it refuses at least what zlib refuses.
#include <memory>

#include "codec.h"
#include "deflate_codec.h"

namespace za {

class TZAFastDeflateCodec final : public TZACodec {
 public:
  TZAFastDeflateCodec();
  ~TZAFastDeflateCodec() override;
  TZAFastDeflateCodec(const TZAFastDeflateCodec&) = delete;
  TZAFastDeflateCodec& operator=(const TZAFastDeflateCodec&) = delete;

  // Whether this build has the faster inflater; without it Begin fails.
  static bool Available();

  // The same input as zlib's codec, so that either can decode what was
  // read for the other.
  std::span<const std::uint8_t> Prefix() const override { return kZlibHeader; }
  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override;
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override;
  // Whether a pass of this inflater stands for zlib's: the last block came
  // to its end (zlib judges a block header as its bits come, this inflater
  // once it is whole, so of a stream cut within one only zlib can tell),
  // and the first block's codes are ones zlib takes (this inflater takes
  // incomplete ones).
  bool Conclusive() const override;
  void Release();

 private:
  struct State;
  std::unique_ptr<State> state_;
  TZAInflateOutput output_;
  std::size_t prefixLeft_ = 0;  // bytes of the prefix not skipped yet
  static constexpr std::size_t kTrailer = 4;
  std::size_t trailer_ = 0;  // bytes after the last block taken as zlib takes them
  bool finished_ = false;
  bool headerSound_ = false;
};

}  // namespace za
