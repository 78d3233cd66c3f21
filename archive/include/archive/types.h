#pragma once
// Enumerations of the archive engine, values in order.
#include <cstdint>

namespace za {

enum TZAProcessOperation : std::uint8_t {
  poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment, poMakeSFX
};
enum TZAProgressPhase : std::uint8_t { ppStart, ppProcess, ppEnd };
enum TZAAction : std::uint8_t { fxaRetry, fxaIgnore, fxaAbort };
enum TZAOverwriteMode : std::uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZAStorePathMode : std::uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZACryptoAlgorithm : std::uint8_t { caPkzipClassic, caAES_128, caAES_192, caAES_256 };
enum TZASpanningMode : std::uint8_t { smNone, smSpanning, smSplitting };
enum TZACompressionLevel : std::uint8_t { clNone, clFastest, clNormal, clMax };
enum TZAFileShareMode : std::uint8_t {
  smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone
};
enum TZAVolumeSize : std::uint8_t {
  vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB, vs4700MB
};
enum TZip64Mode : std::uint8_t { zmDisabled, zmAuto, zmAlways };

}  // namespace za
