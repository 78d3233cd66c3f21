#pragma once
// Encoders: what compresses new entries, deflate (deflate_encoder.h) as
// the other methods.
// The writer reads the source, keeps its CRC-32 and sizes, and stores what
// does not shrink; an encoder only turns input into the method's data.
#include <cstddef>
#include <cstdint>

namespace za {

// Where an encoder's output goes: the archive, through the cipher, which
// changes the bytes in place.
class TZAEncodeSink {
 public:
  virtual ~TZAEncodeSink() = default;
  virtual void Put(std::uint8_t* data, std::size_t size) = 0;
};

class TZAEncoder {
 public:
  virtual ~TZAEncoder() = default;
  virtual std::uint16_t Method() const = 0;
  // The version needed to extract that the zip format gives the method.
  virtual std::uint16_t VersionNeeded() const = 0;
  // General-purpose flag bits the method's data sets (LZMA: bit 1, the
  // end marker is written).
  virtual std::uint16_t Flags() const { return 0; }
  // Takes the next `size` bytes of input (`end`: the last of it) and puts
  // what comes out; false when the library fails.
  virtual bool Encode(const std::uint8_t* data, std::size_t size, bool end, TZAEncodeSink& sink) = 0;
};

}  // namespace za
