#include "../../archive/src/extract_fidelity.h"

#include <gtest/gtest.h>

#include "archive/time_blocks.h"

namespace {

TEST(ExtractFidelityTest, LinksThatStayInside) {
  const std::set<std::u16string> none;
  for (const char16_t* ok : {u"b", u"../a", u"./x/../y", u"sub/deeper/../.."})
    EXPECT_TRUE(za::ZALinkStaysInside(u"d\\l", ok, u"/nonexistent/", none)) << std::u16string(ok).size();
  for (const char16_t* out : {u"/etc", u"\\etc", u"c:x", u"../../a", u"..\\..\\a", u"x/../../..", u"", u"... /../.."})
    EXPECT_FALSE(za::ZALinkStaysInside(u"d\\l", out, u"/nonexistent/", none)) << std::u16string(out).size();
  // Through another link of the batch, a ".." after it may lead anywhere.
  const std::set<std::u16string> links{u"q\\p"};
  EXPECT_FALSE(za::ZALinkStaysInside(u"via", u"q/p/../x", u"/nonexistent/", links));
  EXPECT_TRUE(za::ZALinkStaysInside(u"via", u"q/p/x", u"/nonexistent/", links));
}

TEST(ExtractFidelityTest, EmptyComponentsDropped) {
  EXPECT_EQ(za::ZADropEmptyComponents(u"a\\\\b.txt"), u"a\\b.txt");
  EXPECT_EQ(za::ZADropEmptyComponents(u"a\\\\\\b\\\\c\\"), u"a\\b\\c\\");
}

// A time that does not reach the file says why: the system's reason for
// the time the entry gives, and 0 for an MS-DOS date that is no moment at
// all, which is judged before the system is asked.
TEST(ExtractFidelityTest, TimesNotSetSayWhy) {
  sys::WideFile refusing;  // no file: every system refuses to set its time
  za::TDirItem item;
  item.Header.ModDate = 0x5A21;  // 2025-01-01
  item.Header.ModTime = 0x6000;  // 12:00:00
  std::optional<int> dos = za::ZASetOutputTimes(refusing, item, false);
  ASSERT_TRUE(dos);
  EXPECT_NE(*dos, 0);
  const std::uint8_t when[] = {3, 0x40, 0xC3, 0xE1, 0x65, 0x40, 0xC3, 0xE1, 0x65};
  item.ExtraFields.Add(za::kExtendedTimeExtraTag, when, sizeof when);
  std::optional<int> exact = za::ZASetOutputTimes(refusing, item, true);
  ASSERT_TRUE(exact);
  EXPECT_NE(*exact, 0);
  item.ExtraFields = {};
  const std::pair<std::uint16_t, std::uint16_t> invalid[] = {
      {0, 0}, {0x5A01, 0x6000} /* month 0 */, {0x5BA1, 0x6000} /* month 13 */, {0x5A20, 0x6000} /* day 0 */,
      {0x5A21, 0xC000} /* 24:00 */, {0x5A21, 0x6780} /* minute 60 */, {0x5A21, 0x601E} /* second 60 */};
  for (auto [date, time] : invalid) {
    item.Header.ModDate = date;
    item.Header.ModTime = time;
    EXPECT_EQ(za::ZASetOutputTimes(refusing, item, true), std::optional<int>(0)) << date << " " << time;
  }
}

}  // namespace
