#include "sys/codepage.h"

#include <gtest/gtest.h>

namespace {

// Restores the engine's code pages after a test that changes them.
struct CodePages {
  ~CodePages() {
    sys::SetOemCodePage(866);
    sys::SetAnsiCodePage(1251);
  }
};

TEST(CodePageTest, DefaultsAreRussianWindows) {
  EXPECT_EQ(sys::OemCodePage(), 866u);
  EXPECT_EQ(sys::AnsiCodePage(), 1251u);
  char bytes[] = "\x8E\xA0\xA9\xAB-ok\0\x8E";
  sys::OemToAnsiInPlace(bytes, sizeof bytes - 1);
  EXPECT_EQ(std::string(bytes, 9), std::string("\xCE\xE0\xE9\xEB-ok\0\x8E", 9));  // stops at the zero
  EXPECT_EQ(sys::AnsiToWide("\xCE\xE0\xE9\xEB"), u"Оайл");
  EXPECT_EQ(sys::WideToAnsi(u"Оайл€中"), "\xCE\xE0\xE9\xEB\x88?");
}

TEST(CodePageTest, LowerCaseMapsCyrillicAndLatin) {
  EXPECT_EQ(sys::WideLower(u"ÀBCЁЖЯ.TXT"), u"àbcёжя.txt");
}

TEST(CodePageTest, Utf8RoundTripAndReplacement) {
  std::u16string text = u"Ж€𝄞a";
  EXPECT_EQ(sys::Utf8ToWide(sys::WideToUtf8(text)), text);
  EXPECT_EQ(sys::Utf8ToWide("\xC0\x80x\xE2\x82"), u"\xFFFD\xFFFDx\xFFFD");
  EXPECT_EQ(sys::WideToUtf8(u"\xD800"), "\xEF\xBF\xBD");
}

TEST(CodePageTest, OtherCodePagesIncludingMultiByte) {
  CodePages restore;
  sys::SetAnsiCodePage(65001);
  EXPECT_EQ(sys::AnsiToWide("\xD0\x96\xE2\x82\xAC"), u"Ж€");
  sys::SetAnsiCodePage(1252);
  EXPECT_EQ(sys::AnsiToWide("\xE9"), u"é");
  sys::SetOemCodePage(437);
  char bytes[] = "\x82";
  sys::OemToAnsiInPlace(bytes, 1);
  EXPECT_EQ(bytes[0], '\xE9');
}

}  // namespace
