#include "archive/errors.h"

#include <gtest/gtest.h>

#include "archive/archiver.h"

using za::EZAException;

namespace {

std::u16string Message(std::int32_t native, const std::u16string& component) {
  za::TZipArchiver zip;
  zip.SetName(component);
  return EZAException(native, &zip).Message();
}

TEST(ErrorsTest, ComposesNamePrefixAndZeroPaddedNumber) {
  EXPECT_EQ(Message(13, u"Z"), u"Z: Archive is not open - Native error: 00013");
  EXPECT_EQ(Message(13, u""), u"Archive is not open - Native error: 00013");
  EXPECT_EQ(EZAException(55, nullptr).Message(), u"Deflate64 compression method is not supported - Native error: 00055");
  EXPECT_STREQ(EZAException(55, nullptr).what(), "Deflate64 compression method is not supported - Native error: 00055");
}

TEST(ErrorsTest, NumbersOutsideTheTableAreUnknownButKeepTheirDigits) {
  EZAException high(63, nullptr);
  EXPECT_EQ(high.ErrorCode, 0);
  EXPECT_EQ(high.NativeError, 63);
  EXPECT_EQ(high.Message(), u"Unknown error - Native error: 00063");
  EXPECT_EQ(EZAException(-1, nullptr).Message(), u"Unknown error - Native error: 000-1");
  EXPECT_EQ(EZAException(123456, nullptr).Message(), u"Unknown error - Native error: 123456");
}

TEST(ErrorsTest, FormatsArgumentsBeforeThePrefix) {
  za::TZipArchiver zip;
  zip.SetName(u"ZipArchiver1");
  EZAException e(20, &zip, {std::u16string(u"C:\\work\\папка\\")});
  EXPECT_EQ(e.ErrorCode, 10);
  EXPECT_EQ(e.Message(), u"ZipArchiver1: Cannot create directory \"C:\\work\\папка\\\" - Native error: 00020");
  EXPECT_EQ(EZAException(61, nullptr, {std::u16string(u"x")}).Message(),
            u"File name is too long: \r\n\"x\" - Native error: 00061");
  EXPECT_EQ(EZAException(34, nullptr, {std::int64_t{7}, std::int64_t{-2}}).Message(),
            u"Invalid compressed size, rfs.size = 7, count = -2 - Native error: 00034");
}

TEST(ErrorsTest, MappingCoversEveryNativeErrorOnce) {
  const std::pair<int, int> samples[] = {{0, 0},   {1, 1},   {7, 1},   {16, 1},  {24, 1},  {5, 2},   {8, 4},
                                         {29, 5},  {11, 6},  {54, 6},  {14, 7},  {17, 8},  {23, 9},  {25, 11},
                                         {33, 12}, {26, 13}, {27, 14}, {35, 18}, {40, 22}, {43, 23}, {45, 24},
                                         {57, 27}, {55, 32}, {59, 34}, {60, 35}, {61, 36}, {62, 37}};
  for (auto [native, code] : samples) EXPECT_EQ(za::ZAErrorCodeOf(native), code) << native;
  for (int native = 0; native < za::kZANativeErrorCount; ++native) {
    int code = za::ZAErrorCodeOf(native);
    EXPECT_GE(code, 0);
    EXPECT_LT(code, za::kZAMessageCount);
  }
  EXPECT_EQ(za::ZAMessageText(18), "Invalid archive file.");
  EXPECT_EQ(za::ZAMessageText(20), "Archive is open. You should close it beore performing this operation.");
}

TEST(ErrorsTest, FormatLeavesPlaceholdersWithoutArguments) {
  EXPECT_EQ(za::ZAFormat(u"a %s b %d %% c", {}), u"a %s b %d % c");
  EXPECT_EQ(za::ZAFormat(u"%d%s", {std::u16string(u"x")}), u"%dx");
}

}  // namespace
