#pragma once
// Method 9: Deflate64, deflate with a 64 KiB window, length code 285 taking
// 16 extra bits (lengths up to 65538) and distance codes 30 and 31. No
// packaged library has it, so it is inflated here: a streaming inflater that
// stops wherever its input does and resumes there, hands on output in
// bounded pieces and never reads past what it was given.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "../codec.h"

namespace za {

// A canonical Huffman code as deflate sends it: a table for codes of up to
// kFastBits bits, and the counts and sorted symbols for the longer ones.
struct TZAHuffman {
  static constexpr unsigned kFastBits = 10;
  static constexpr unsigned kMaxBits = 15;
  static constexpr int kNeedMore = -1;
  static constexpr int kInvalid = -2;

  // False for lengths that over-subscribe the code.
  bool Build(const std::uint8_t* lengths, unsigned count);
  // The symbol at the start of `bits` (`have` of them valid), its length in
  // `used`; kNeedMore when the valid bits end inside the code, kInvalid for
  // a pattern no symbol has.
  int Decode(std::uint64_t bits, unsigned have, unsigned& used) const;

  std::uint16_t fast[1u << kFastBits];  // symbol << 4 | length; 0: a longer code
  std::uint16_t count[kMaxBits + 1];
  std::uint16_t symbol[288];
};

class TZADeflate64Codec final : public TZACodec {
 public:
  bool Begin(std::uint64_t declared, std::uint8_t* output, std::size_t outputSize) override;
  bool Feed(std::uint8_t* data, std::size_t size, TZACodecOutput& out) override;
  const TZACodecFault* Fault() const override { return fault_.Text.empty() ? nullptr : &fault_; }

 private:
  enum class State { Header, StoredLength, Stored, Counts, CodeLengthCodes, CodeLengths, Codes, Distance, Done };
  enum class Run { Starved, Full, Done, Failed };

  // Decodes into the buffer until the input runs out, the buffer has no room
  // for the longest match, the stream ends or the data is damaged.
  Run Decode();
  Run DecodeCodes();
  bool StartDynamic();
  void Refill();
  bool Damaged(const char* what);

  static constexpr std::size_t kWindow = 1u << 16;
  // Output between two slides of the window: one piece of the decoder's,
  // so that an entry decoded ahead and kept is handed on whole.
  static constexpr std::size_t kSpan = 1u << 20;
  static constexpr std::size_t kMaxMatch = 65538;
  static constexpr std::size_t kSlack = 16;  // room for copies that run a little past their end

  std::unique_ptr<std::uint8_t[]> buffer_;  // kWindow of history, then kSpan of output
  std::size_t pos_ = kWindow;               // where the next byte goes
  std::size_t handed_ = kWindow;            // output before this has been handed on
  std::uint64_t total_ = 0;                 // bytes decoded, for distances that reach too far

  const std::uint8_t* in_ = nullptr;
  const std::uint8_t* inEnd_ = nullptr;
  std::uint64_t bits_ = 0;
  unsigned bitCount_ = 0;

  State state_ = State::Header;
  bool last_ = false;
  std::uint32_t stored_ = 0;  // bytes left of a stored block
  unsigned length_ = 0;       // of the match whose distance comes next
  unsigned literals_ = 0, distances_ = 0, codeLengthCodes_ = 0, index_ = 0;
  std::uint8_t lengths_[288 + 32] = {};
  TZAHuffman literal_, distance_, codeLength_;
  const TZAHuffman* lit_ = nullptr;   // the codes of the block: the fixed ones or its own
  const TZAHuffman* dist_ = nullptr;
  TZACodecFault fault_;
};

}  // namespace za
