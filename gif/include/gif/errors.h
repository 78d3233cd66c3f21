#pragma once
// Errors of the GIF engine and the texts it reports. The texts are part of the
// engine's behaviour (callers show them to users), so they live in one place.
#include <stdexcept>
#include <string>

namespace gif {

// Base for every failure to understand picture data, whatever the format.
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EGIFError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// Raised by a progress listener to end an operation quietly.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// Memory for pixels could not be had.
class EOutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stream that cannot be opened; with the system's error number.
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  int SystemError = 0;
};

namespace messages {
inline constexpr const char* PrematureEnd = "Premature end of data";
inline constexpr const char* BadSignature = "Invalid GIF signature";
inline constexpr const char* UnknownBlock = "Unknown GIF block type";
inline constexpr const char* BadExtensionIntroducer = "Invalid extension introducer";
inline constexpr const char* UnknownExtension = "Unknown extension type";
inline constexpr const char* ExtensionMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* BadAppBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* BadData = "Invalid GIF data";
inline constexpr const char* ImageExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* BadTrailer = "Invalid Image trailer";
inline constexpr const char* BadColorIndex = "Invalid color index";
inline constexpr const char* EmptyColorTable = "Color table is empty";
inline constexpr const char* ColorTableOverflow = "Color table overflow";
inline constexpr const char* CircularTable = "Circular decoder table entry";
inline constexpr const char* BitBufferUnderrun = "Decoder bit buffer under-run";
// Damaged image data that decoding passes over; reported only when a caller
// asks for them (TGIFPicture::WarnOfDamagedData).
inline constexpr const char* BadCodeSize = "Invalid LZW code size";
inline constexpr const char* NoClearCode = "LZW data does not begin with a clear code";
inline constexpr const char* CodeOutOfRange = "LZW code out of range";
inline constexpr const char* MissingPixels = "Image data ends before the last pixel";
inline constexpr const char* FrameTooLarge =
    "Image too large: a frame may hold at most 268435456 pixels";
// Followed by the limit and " pixels in all".
inline constexpr const char* PictureTooLarge = "Image too large: the frames of a picture may hold at most ";
inline constexpr const char* Loading = "Loading...";
inline constexpr const char* Rendering = "Rendering...";
inline constexpr const char* NoColorTable = "No global or local color table defined";
inline constexpr const char* DibMemory = "Failed to allocate memory for GIF DIB";
}  // namespace messages

}  // namespace gif
