#pragma once
// Painting options, the timing constants of animation, and the clock and
// wake event a painter waits with. The clock is an interface so that tests
// can play an animation in virtual time.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace gif {

// Bit numbers of the painting options.
enum TGIFPaintOption : uint8_t {
  ptThreaded = 0,      // the painter runs on its own thread, drawing through the UI thread
  ptTransparent = 1,   // frames are drawn through their masks
  ptAnimate = 2,       // all frames are played; off: only the first
  ptLoop = 3,          // repeat as the loop count allows
  ptLoopForever = 4,   // repeat whatever the loop count
  ptCheckCanvas = 5,   // end when the target canvas is gone
  ptDirect = 6,        // paint straight onto the target; off: into the picture's own bitmap
  ptClearOnLoop = 7,   // restore the first frame's area before each repetition
  ptTile = 8,          // tile the picture over the destination
  ptDither = 9,        // dither frames to the 216-colour palette
  ptAutoDither = 10,   // with ptDither: only on a low-colour display
};

class TGIFPaintOptions {
 public:
  static constexpr uint16_t Default = 0x068F;
  constexpr TGIFPaintOptions() = default;
  constexpr explicit TGIFPaintOptions(uint16_t bits) : bits_(bits) {}
  constexpr bool Has(TGIFPaintOption option) const { return (bits_ >> option) & 1; }
  constexpr TGIFPaintOptions With(TGIFPaintOption option) const {
    return TGIFPaintOptions(static_cast<uint16_t>(bits_ | 1u << option));
  }
  constexpr TGIFPaintOptions Without(TGIFPaintOption option) const {
    return TGIFPaintOptions(static_cast<uint16_t>(bits_ & ~(1u << option)));
  }
  constexpr uint16_t Bits() const { return bits_; }
  constexpr bool operator==(const TGIFPaintOptions&) const = default;

 private:
  uint16_t bits_ = Default;
};

// Timing, in GIF delay units of 1/100 s except the first.
inline constexpr int DelayUnitMs = 12;  // deliberately 12, not the format's 10
inline constexpr int DefaultDelay = 10;
inline constexpr int MinimumDelay = 3;
inline constexpr int MaximumDelay = 1000;

// A wait without limit. Only ever passed as itself: a computed interval can
// come out as -1 too.
inline constexpr int64_t kInfinite = -1;

// Auto-reset: a wait that sees the signal consumes it.
class TWakeEvent {
 public:
  void Set();
  // Waits up to `ms` milliseconds (kInfinite: no limit); true when signalled.
  bool Wait(int64_t ms);
  // Consumes a pending signal without waiting.
  bool TryWait();

 private:
  std::mutex lock_;
  std::condition_variable signalled_;
  bool set_ = false;
};

class TAnimationClock {
 public:
  virtual ~TAnimationClock() = default;
  // Milliseconds since some fixed moment.
  virtual int64_t Now() = 0;
  // Waits `ms` milliseconds (kInfinite: no limit) or, when `wake` is given,
  // until it is signalled; true when woken by the event.
  virtual bool Wait(TWakeEvent* wake, int64_t ms) = 0;
  // The steady clock of the system.
  static TAnimationClock& System();
};

}  // namespace gif
