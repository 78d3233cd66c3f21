#include "archive/errors.h"

#include <cstdio>

#include "archive/archiver.h"
#include "sys/codepage.h"

namespace za {

namespace {

const char* const kMessages[kZAMessageCount] = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    "Invalid compressed size, rfs.size = %d, count = %d",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find Zip64 directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times",
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    "Hashed list of file names is invalid",
    "Cannot delete folder \"%s\"",
    "File name is too long: \r\n\"%s\"",
    "Multiple transactions are not supported for multi-volume archives",
};

// (native error, error code) for the native errors 0 to 62, in order.
const std::int32_t kMapping[kZANativeErrorCount][2] = {
    {0, 0},   {1, 1},   {2, 1},   {3, 1},   {4, 1},   {5, 2},   {6, 3},   {7, 1},   {8, 4},   {9, 5},
    {10, 5},  {11, 6},  {12, 6},  {13, 7},  {14, 7},  {15, 6},  {16, 1},  {17, 8},  {18, 6},  {19, 9},
    {20, 10}, {21, 1},  {22, 11}, {23, 9},  {24, 1},  {25, 11}, {26, 13}, {27, 14}, {28, 15}, {29, 5},
    {30, 6},  {31, 6},  {32, 16}, {33, 12}, {34, 17}, {35, 18}, {36, 19}, {37, 20}, {38, 6},  {39, 21},
    {40, 22}, {41, 23}, {42, 6},  {43, 23}, {44, 24}, {45, 24}, {46, 25}, {47, 26}, {48, 27}, {49, 28},
    {50, 29}, {51, 30}, {52, 31}, {53, 6},  {54, 6},  {55, 32}, {56, 33}, {57, 27}, {58, 34}, {59, 34},
    {60, 35}, {61, 36}, {62, 37},
};

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

Exception::Exception(std::u16string message) { SetMessage(std::move(message)); }

void Exception::SetMessage(std::u16string message) {
  message_ = std::move(message);
  utf8_ = sys::WideToUtf8(message_);
}

std::string_view ZAMessageText(std::int32_t errorCode) {
  if (errorCode < 0 || errorCode >= kZAMessageCount) return kMessages[0];
  return kMessages[errorCode];
}

std::int32_t ZAErrorCodeOf(std::int32_t nativeError) {
  for (const auto& pair : kMapping)
    if (pair[0] == nativeError) return pair[1];
  return 0;
}

std::u16string ZAFormat(std::u16string_view text, const std::vector<TZAFormatArg>& args) {
  std::u16string out;
  out.reserve(text.size() + 32);
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c != u'%' || i + 1 >= text.size()) {
      out.push_back(c);
      continue;
    }
    char16_t kind = text[i + 1];
    if (kind == u'%') {
      out.push_back(u'%');
      ++i;
    } else if (kind == u's' && next < args.size() && std::holds_alternative<std::u16string>(args[next])) {
      out += std::get<std::u16string>(args[next++]);
      ++i;
    } else if (kind == u'd' && next < args.size() && std::holds_alternative<std::int64_t>(args[next])) {
      out += Ascii(std::to_string(std::get<std::int64_t>(args[next++])));
      ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

EZAException::EZAException(std::int32_t nativeError, const TZABaseArchiver* archiver) : NativeError(nativeError) {
  Compose(archiver, nullptr);
}

EZAException::EZAException(std::int32_t nativeError, const TZABaseArchiver* archiver,
                           std::vector<TZAFormatArg> args)
    : NativeError(nativeError) {
  Compose(archiver, &args);
}

void EZAException::Compose(const TZABaseArchiver* archiver, const std::vector<TZAFormatArg>* args) {
  ErrorCode = ZAErrorCodeOf(NativeError);
  std::u16string text = Ascii(ZAMessageText(ErrorCode));
  if (args) text = ZAFormat(text, *args);
  if (archiver && !archiver->Name().empty()) text = archiver->Name() + u": " + text;
  char number[16];
  std::snprintf(number, sizeof number, "%5d", static_cast<int>(NativeError));
  std::u16string digits = Ascii(number);
  for (char16_t& c : digits)
    if (c == u' ') c = u'0';
  SetMessage(text + u" - Native error: " + digits);
}

}  // namespace za
