#pragma once
// LZMA decoded by our own code: the range decoder and the model in one
// loop over input that is known to hold a whole symbol, the literal after
// a match without branches, matches copied in whole words straight into
// the window, which is the entry's output itself where it fits. liblzma's
// resumable decoder pays for being able to stop at any byte, and copies
// from its dictionary into the output; this one stops only between
// symbols, and its window is handed on as it is.
//
// It is not the judge of a stream. Its users take its output only where it
// came to a clean end, and it gives up (Failed) on anything it does not
// expect, including what a decoder may read in more than one way; the
// library then decodes the stream again and gives the verdict.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace za {

// lc, lp and pb, as the properties byte gives them.
struct TZALzmaModel {
  unsigned Lc = 3, Lp = 0, Pb = 2;
};

// False for a properties byte out of range, or for a model that takes more
// literal contexts (lc + lp over 4) than any encoder's preset.
bool ZALzmaModel(std::uint8_t properties, TZALzmaModel& model);

class TZALzmaDecoder {
 public:
  // The most input one symbol can take, the end of the range coder's work
  // included: a symbol may start wherever this much input follows.
  static constexpr std::size_t kSymbolInput = 64;

  enum class Stop {
    Input,   // fewer than kSymbolInput bytes are left before the input limit
    Output,  // the output limit is reached
    Marker,  // the end marker was read
    Failed,  // a distance past the start of the data, or a model out of range
  };

  TZALzmaDecoder();
  ~TZALzmaDecoder();
  TZALzmaDecoder(const TZALzmaDecoder&) = delete;
  TZALzmaDecoder& operator=(const TZALzmaDecoder&) = delete;

  // The window, empty: `capacity` bytes at `buffer` (the caller's, `size`
  // bytes, kept by it), or of its own when that is null or smaller;
  // matches reach back at most `dictionary` bytes. False when it cannot be
  // had. ResetState follows.
  bool SetWindow(std::uint8_t* buffer, std::size_t size, std::size_t capacity, std::uint32_t dictionary);
  // Matches reach back no further than here, and at most `dictionary`
  // bytes: LZMA2's reset of the dictionary, which keeps the window.
  void ResetDictionary(std::uint32_t dictionary) {
    dictionary_ = dictionary;
    total_ = 0;
    pending_ = 0;
  }
  // Bytes stored as they are, into the window at Position(): no more than
  // it holds before its capacity.
  void Put(const std::uint8_t* data, std::size_t size);
  // New probabilities and state for `model`.
  void ResetState(const TZALzmaModel& model);
  // Starts the range decoder on its first 5 bytes; false where the first
  // is not 0 or the code is out of range.
  bool StartRange(const std::uint8_t* data);

  // Decodes from `in` (moved on past what was taken) while at least
  // kSymbolInput bytes lie before `inEnd` and the window position is below
  // `outLimit` (at most the capacity). A match that goes past `outLimit`
  // is cut there and goes on at the next call.
  Stop Decode(const std::uint8_t*& in, const std::uint8_t* inEnd, std::size_t outLimit);
  // The range decoder's last normalisation; true when it then holds no
  // more: the encoder ended where the data ends.
  bool FinishRange(const std::uint8_t*& in);
  // Whether a match is still to be copied on.
  bool Pending() const { return pending_ != 0; }

  std::uint8_t* Window() const { return window_; }
  std::size_t Capacity() const { return capacity_; }
  // Where in the window the next byte goes; Wrap() moves it back to 0 once
  // the window is full and handed on.
  std::size_t Position() const { return pos_; }
  void Wrap() {
    pos_ = 0;
    wrapped_ = true;
  }

 private:
  struct Probabilities;

  std::unique_ptr<Probabilities> probs_;
  std::unique_ptr<std::uint8_t[]> own_;
  std::size_t ownSize_ = 0;
  std::uint8_t* window_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t physical_ = 0;  // the buffer's size, from window_
  bool wrapped_ = false;      // past the position lies data a match may still reach
  std::size_t pos_ = 0;
  std::uint32_t dictionary_ = 0;
  std::uint64_t total_ = 0;  // bytes decoded, for the position bits and the reach of matches
  TZALzmaModel model_;
  std::uint32_t range_ = 0, code_ = 0;
  std::uint32_t state_ = 0;
  std::uint32_t rep_[4] = {};
  std::uint32_t pending_ = 0;  // bytes of a cut match still to copy
};

}  // namespace za
