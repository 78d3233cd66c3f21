#include "archive/time_blocks.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "archive/records.h"

namespace {

za::TZAExtraFields Blocks(std::initializer_list<std::pair<std::uint16_t, std::vector<std::uint8_t>>> blocks) {
  za::TZAExtraFields f;
  for (const auto& [tag, data] : blocks) f.Add(tag, data.data(), static_cast<std::uint16_t>(data.size()));
  return f;
}

// 2024-03-01 12:00:00 UTC
constexpr std::uint8_t kWhen[] = {0x40, 0xC3, 0xE1, 0x65};
constexpr std::int64_t kWhenSeconds = 1709294400;

TEST(TimeBlocksTest, ExtendedTimeStampLocalAndCentral) {
  // Local: both times; central: the flags as in the local one, modification only.
  auto local = Blocks({{za::kExtendedTimeExtraTag, {3, kWhen[0], kWhen[1], kWhen[2], kWhen[3], 1, 0, 0, 0}}});
  za::TZAEntryTimes t = za::ZAReadEntryTimes(local);
  ASSERT_TRUE(t.Modified && t.Accessed);
  EXPECT_EQ(t.Modified->Seconds, kWhenSeconds);
  EXPECT_EQ(t.Accessed->Seconds, 1);
  EXPECT_EQ(t.ResolutionNs, 1000000000u);
  auto central = Blocks({{za::kExtendedTimeExtraTag, {3, kWhen[0], kWhen[1], kWhen[2], kWhen[3]}}});
  t = za::ZAReadEntryTimes(central);
  ASSERT_TRUE(t.Modified);
  EXPECT_FALSE(t.Accessed);
  // What the writer makes reads back, and its central copy is cut as zip cuts it.
  std::vector<std::uint8_t> written = za::ZAExtendedTimeBlock({kWhenSeconds, 5}, nullptr);
  EXPECT_EQ(written, std::vector<std::uint8_t>({1, kWhen[0], kWhen[1], kWhen[2], kWhen[3]}));
  std::vector<std::uint8_t> both = za::ZAExtendedTimeBlock({kWhenSeconds, 0}, &*t.Modified);
  EXPECT_EQ(za::ZACentralExtendedTimeBlock(both.data(), both.size()),
            std::vector<std::uint8_t>({3, kWhen[0], kWhen[1], kWhen[2], kWhen[3]}));
}

TEST(TimeBlocksTest, AccessTimeOfTheLocalHeader) {
  // The central copy flags an access time it does not hold.
  auto central = Blocks({{za::kExtendedTimeExtraTag, {3, kWhen[0], kWhen[1], kWhen[2], kWhen[3]}}});
  EXPECT_TRUE(za::ZAAccessTimeIsLocal(central));
  EXPECT_FALSE(za::ZAAccessTimeIsLocal(Blocks({{za::kExtendedTimeExtraTag, {1, kWhen[0], kWhen[1], kWhen[2], kWhen[3]}}})));
  // Another block that gives one already: nothing to look for.
  std::vector<std::uint8_t> ntfs = za::ZANtfsTimeBlock({kWhenSeconds, 0}, {kWhenSeconds, 0});
  EXPECT_FALSE(za::ZAAccessTimeIsLocal(Blocks({{za::kExtendedTimeExtraTag, {3, 0, 0, 0, 0}}, {za::kNtfsExtraTag, ntfs}})));
  // The local field as it stands: after another block; cut short, nothing.
  const std::uint8_t local[] = {0x99, 0x99, 1, 0, 7, 0x55, 0x54, 9, 0, 3, 0, 0, 0, 0,
                                kWhen[0], kWhen[1], kWhen[2], kWhen[3]};
  std::optional<sys::FileTime> accessed = za::ZALocalAccessTime(local, sizeof local);
  ASSERT_TRUE(accessed);
  EXPECT_EQ(accessed->Seconds, kWhenSeconds);
  EXPECT_FALSE(za::ZALocalAccessTime(local, sizeof local - 1));
  EXPECT_FALSE(za::ZALocalAccessTime(local, 12));
}

TEST(TimeBlocksTest, MostPreciseWins) {
  // NTFS: 2024-03-01 12:00:00.1234567 UTC after an extended time stamp a
  // day off; the NTFS block is taken whatever the order.
  std::vector<std::uint8_t> ntfs = za::ZANtfsTimeBlock({kWhenSeconds, 123456700}, {kWhenSeconds, 0});
  auto f = Blocks({{za::kExtendedTimeExtraTag, {1, 0x80, 0x71, 0xE0, 0x65}}, {za::kNtfsExtraTag, ntfs}});
  za::TZAEntryTimes t = za::ZAReadEntryTimes(f);
  ASSERT_TRUE(t.Modified);
  EXPECT_EQ(*t.Modified, (sys::FileTime{kWhenSeconds, 123456700}));
  EXPECT_EQ(t.ResolutionNs, 100u);
  // The old Unix block: access, then modification.
  auto old = Blocks({{za::kInfoZipUnixExtraTag, {0, 0, 0, 0, kWhen[0], kWhen[1], kWhen[2], kWhen[3], 0xE8, 3, 0x2E, 0x16}}});
  t = za::ZAReadEntryTimes(old);
  ASSERT_TRUE(t.Modified);
  EXPECT_EQ(t.Modified->Seconds, kWhenSeconds);
  auto owner = za::ZAReadEntryOwner(old);
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->User, 1000u);
  EXPECT_EQ(owner->Group, 5678u);
}

TEST(TimeBlocksTest, CutOrOddBlocksGiveNothing) {
  for (const auto& f : {Blocks({{za::kExtendedTimeExtraTag, {1, 1, 2}}}), Blocks({{za::kExtendedTimeExtraTag, {}}}),
                        Blocks({{za::kInfoZipUnixExtraTag, {1, 2, 3, 4, 5}}}),
                        // NTFS: an attribute whose size runs past the block, then tag 1 too short.
                        Blocks({{za::kNtfsExtraTag, {0, 0, 0, 0, 1, 0, 24, 0, 1, 2}}}),
                        Blocks({{za::kNtfsExtraTag, {0, 0, 0, 0, 1, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8}}})})
    EXPECT_FALSE(za::ZAReadEntryTimes(f).Modified);
  // Owner ids wider than this system's, or an unknown version.
  EXPECT_FALSE(za::ZAReadEntryOwner(Blocks({{za::kUnixOwnerExtraTag, {1, 8, 1, 0, 0, 0, 0, 0, 0, 1, 4, 0, 0, 0, 0}}})));
  EXPECT_FALSE(za::ZAReadEntryOwner(Blocks({{za::kUnixOwnerExtraTag, {2, 4, 1, 0, 0, 0, 4, 1, 0, 0, 0}}})));
  auto owner = za::ZAReadEntryOwner(Blocks({{za::kUnixOwnerExtraTag, za::ZAUnixOwnerBlock({70000, 2})}}));
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->User, 70000u);
}

TEST(TimeBlocksTest, LaterAtTheEntrysPrecision) {
  // A file with a fraction of a second is not newer than an entry of whole
  // seconds that stands for it; a second more is.
  EXPECT_FALSE(za::ZALaterAt({10, 700000000}, {10, 0}, 1000000000u));
  EXPECT_TRUE(za::ZALaterAt({11, 0}, {10, 999999999}, 1000000000u));
  EXPECT_TRUE(za::ZALaterAt({10, 200}, {10, 100}, 100u));
  EXPECT_FALSE(za::ZALaterAt({10, 150}, {10, 100}, 100u));
}

}  // namespace
