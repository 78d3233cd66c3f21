#include "../../archive/src/extract_fidelity.h"

#include <gtest/gtest.h>

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

}  // namespace
