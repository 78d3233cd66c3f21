#pragma once
#include <string>

#include "render.h"

namespace gifx {

// Writes the canvas as an 8-bit RGBA PNG; answers an error text or "".
std::string WritePng(const std::string& path, const TCanvas& canvas);

}  // namespace gifx
