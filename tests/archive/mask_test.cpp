#include "archive/mask.h"

#include <gtest/gtest.h>

using za::MatchesMask;
using za::WildcardMatch;

namespace {

TEST(WildcardMatchTest, StarsQuestionMarksAndCase) {
  EXPECT_TRUE(WildcardMatch(u"anything at all", u"*.*", false));
  EXPECT_TRUE(WildcardMatch(u"", u"*", false));
  EXPECT_TRUE(WildcardMatch(u"report.txt", u"r?port.*", false));
  EXPECT_FALSE(WildcardMatch(u"report.txt", u"R?PORT.*", false));
  EXPECT_TRUE(WildcardMatch(u"report.txt", u"R?PORT.*", true));
  EXPECT_TRUE(WildcardMatch(u"Файл.TXT", u"файл.txt", true));
  EXPECT_FALSE(WildcardMatch(u"abc", u"ab", false));  // the mask ends before the name
  EXPECT_FALSE(WildcardMatch(u"ab", u"abc", false));
  EXPECT_TRUE(WildcardMatch(u"a.b.c", u"*.c", false));
}

TEST(WildcardMatchTest, OneFinalStarMatchesAnEmptyRestTwoDoNot) {
  EXPECT_TRUE(WildcardMatch(u"ab", u"ab*", false));
  EXPECT_FALSE(WildcardMatch(u"ab", u"ab**", false));
  EXPECT_TRUE(WildcardMatch(u"abc", u"ab**", false));
  EXPECT_TRUE(WildcardMatch(u"ab", u"*b", false));   // a star may stand for nothing
  EXPECT_FALSE(WildcardMatch(u"a", u"a*?", false));  // the rest after a star needs a character
  EXPECT_TRUE(WildcardMatch(u"ab", u"a*?", false));
  EXPECT_TRUE(WildcardMatch(u"abc", u"a**.*", false));  // the rest "*.*" after a star matches at once
}

TEST(WildcardMatchTest, ManyStarsAgainstALongNameStayFast) {
  std::u16string name(60000, u'a');
  EXPECT_FALSE(WildcardMatch(name, u"*a*a*a*a*a*a*a*a*b", false));
  EXPECT_TRUE(WildcardMatch(name + u"b", u"*a*a*a*a*a*a*a*a*b", false));
}

TEST(MatchesMaskTest, MaskRules) {
  EXPECT_FALSE(MatchesMask(u"x", u""));
  EXPECT_TRUE(MatchesMask(u"noext", u"*.*"));
  EXPECT_TRUE(MatchesMask(u"dir/sub/file.txt", u"*.*"));
  EXPECT_TRUE(MatchesMask(u"README", u"*."));       // no extension
  EXPECT_TRUE(MatchesMask(u"README.", u"*."));      // ends with a dot: matched without it
  EXPECT_FALSE(MatchesMask(u"read.me", u"*."));
  EXPECT_TRUE(MatchesMask(u"dir.d\\file", u"*."));  // the dot belongs to a folder
  EXPECT_TRUE(MatchesMask(u"DATA.BIN", u"data.*"));
}

}  // namespace
