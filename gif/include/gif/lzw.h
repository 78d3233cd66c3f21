#pragma once
#include "gif/picture.h"

namespace gif {

// Decodes the frame's image data, from its initial code size byte, into the
// frame's pixel buffer and leaves the stream after the data's terminator.
// Short or damaged data ends decoding with a warning; the pixels not reached
// keep the frame's transparent index (or 0).
void DecodeRaster(TGIFFrame& frame, TStream& stream);

}  // namespace gif
