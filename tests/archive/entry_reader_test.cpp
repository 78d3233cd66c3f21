#include "../../archive/src/entry_reader.h"

#include <gtest/gtest.h>

#include "archive/errors.h"
#include "zip_builder.h"

using za::testing::Archive;
using za::testing::Entry;

namespace {

struct Loaded {
  explicit Loaded(std::string b) : bytes(std::move(b)), stream(bytes.data(), bytes.size()), dir(&stream, {}, false, true) {
    dir.LoadDirectory();
  }
  za::TZAEntrySpan Find(int i, std::vector<std::uint8_t>* nameAndExtra = nullptr) {
    return reader.Find(stream, dir, dir.Items.GetItem(i), nameAndExtra);
  }
  std::string bytes;
  za::TZABufferStream stream;
  za::TZADirManager dir;
  za::TZAEntryReader reader;
};

// The three central headers of an archive, each with a name of `nameLength`
// bytes, listed in reverse.
std::string ThreeHeadersReversed(std::string bytes, std::size_t nameLength) {
  std::size_t first = bytes.find("PK\x01\x02"), size = 46 + nameLength;
  std::string head = bytes.substr(first, size), last = bytes.substr(first + 2 * size, size);
  bytes.replace(first, size, last);
  bytes.replace(first + 2 * size, size, head);
  return bytes;
}

TEST(EntryReaderTest, SpanStartsBehindTheLocalNameAndExtraField) {
  Archive a;
  a.entries.push_back(Entry{"a.txt", "alpha"});
  a.entries.push_back(Entry{"b.txt", "beta"});
  a.entries[1].localExtra = za::testing::Block(0xCAFE, "xyz");
  Loaded l(a.Build());
  za::TZAEntrySpan first = l.Find(0);
  EXPECT_EQ(first.Start, 30 + 5);
  EXPECT_EQ(first.Packed, 5u);
  EXPECT_TRUE(first.HasSignature());
  EXPECT_FALSE(first.Overlaps);
  EXPECT_EQ(l.stream.Position(), first.Start);
  std::vector<std::uint8_t> nameAndExtra;
  za::TZAEntrySpan second = l.Find(1, &nameAndExtra);
  EXPECT_EQ(std::string(nameAndExtra.begin(), nameAndExtra.end()), "b.txt" + a.entries[1].localExtra);
  EXPECT_EQ(l.bytes.substr(static_cast<std::size_t>(second.Start), second.Packed), "beta");
}

TEST(EntryReaderTest, DataIsCutAtTheDirectoryAndOverlapsAreFlagged) {
  // A declared size that runs into the central directory is cut there.
  Archive a;
  a.entries.push_back(Entry{"big", "12345"});
  a.entries[0].packedOverride = 5000;
  Loaded cut(a.Build());
  za::TZAEntrySpan span = cut.Find(0);
  EXPECT_EQ(span.Declared, 5000u);
  EXPECT_EQ(span.Packed, 5u);
  EXPECT_TRUE(span.Clamped());
  EXPECT_FALSE(span.Overlaps);

  // One that runs into the next entry's local header overlaps it.
  Archive b;
  b.entries.push_back(Entry{"one", "1111"});
  b.entries.push_back(Entry{"two", "2222"});
  b.entries[0].packedOverride = 10;
  Loaded overlap(b.Build());
  EXPECT_TRUE(overlap.Find(0).Overlaps);
  EXPECT_FALSE(overlap.Find(1).Overlaps);
}

TEST(EntryReaderTest, ADirectoryOutOfHeaderOrderStillBoundsEachEntryByTheNextHeader) {
  Archive a;
  a.entries.push_back(Entry{"one", "1111"});
  a.entries.push_back(Entry{"two", "2222"});
  a.entries.push_back(Entry{"six", "6666"});
  a.entries[0].packedOverride = 10;  // runs into the header of "two"
  std::string bytes = ThreeHeadersReversed(a.Build(), 3);
  Loaded l(bytes);
  ASSERT_EQ(l.dir.Items.GetItem(2).EntryName, u"one");
  EXPECT_TRUE(l.Find(2).Overlaps);
  EXPECT_FALSE(l.Find(1).Overlaps);
  EXPECT_FALSE(l.Find(0).Overlaps);
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(1)), static_cast<std::int64_t>(bytes.rfind("PK\x03\x04", bytes.find("PK\x01\x02"))));
}

TEST(EntryReaderTest, EntriesInHeaderOrderAreBoundByTheNextEntryWithData) {
  // Folders between them hold no data and bound nothing; a copy of an
  // entry is bound as the entry is.
  Archive a;
  a.entries.push_back(Entry{"one", "1111"});
  a.entries.push_back(Entry{"dir/", ""});
  a.entries.push_back(Entry{"sub/", ""});
  a.entries.push_back(Entry{"two", "2222"});
  a.entries.push_back(Entry{"end", "3333"});
  a.entries[0].packedOverride = 80;  // past the folders, into "two"
  std::string bytes = a.Build();
  Loaded l(bytes);
  // Each name first follows its 30-byte local header.
  std::int64_t two = static_cast<std::int64_t>(bytes.find("two")) - 30;
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(0)), two);
  EXPECT_TRUE(l.Find(0).Overlaps);
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(1)), -1);
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(4)), -1);
  EXPECT_FALSE(l.Find(3).Overlaps);
  za::TDirItem copy = l.dir.Items.GetItem(0);
  EXPECT_EQ(l.reader.DataLimit(l.dir, copy), two);
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(3)),
            static_cast<std::int64_t>(bytes.find("end")) - 30);
}

TEST(EntryReaderTest, TheLoadersOrderHoldsOnlyForTheEntriesItWasFoundFor) {
  Archive a;
  a.entries.push_back(Entry{"x", "data"});
  a.entries.push_back(Entry{"y", "more"});
  a.entries.push_back(Entry{"z", "last"});
  Loaded l(a.Build());
  EXPECT_TRUE(l.dir.HeaderOrder.Known);
  EXPECT_TRUE(l.dir.HeaderOrder.ByOffset);
  // An entry set afterwards with the local header of another: the two
  // share it, which the loader's order cannot tell.
  za::TDirItem again = l.dir.Items.GetItem(0);
  l.dir.Items.SetItem(2, again);
  EXPECT_EQ(l.reader.DataLimit(l.dir, l.dir.Items.GetItem(2)), 0);
  EXPECT_TRUE(l.Find(0).Overlaps);

  // Headers out of the directory's order are found so by the loader.
  std::string bytes = ThreeHeadersReversed(a.Build(), 1);
  Loaded swapped(bytes);
  EXPECT_FALSE(swapped.dir.HeaderOrder.ByOffset);
  EXPECT_EQ(swapped.reader.DataLimit(swapped.dir, swapped.dir.Items.GetItem(2)),
            static_cast<std::int64_t>(bytes.find("y")) - 30);
}

TEST(EntryReaderTest, SharedLocalHeaderAndUnreadableHeader) {
  Archive a;
  a.entries.push_back(Entry{"x", "data"});
  a.entries.push_back(Entry{"y", "data"});
  std::string bytes = a.Build();
  // The second central header points at the first local header.
  std::size_t second = bytes.rfind("PK\x01\x02");
  bytes.replace(second + 42, 4, std::string(4, '\0'));
  Loaded shared(bytes);
  EXPECT_EQ(shared.reader.DataLimit(shared.dir, shared.dir.Items.GetItem(1)), 0);
  EXPECT_TRUE(shared.Find(1).Overlaps);

  // A local header beyond the end of the archive cannot be read.
  Archive b;
  b.entries.push_back(Entry{"z", "zz"});
  std::string far = b.Build();
  far.replace(far.rfind("PK\x01\x02") + 42, 4, za::testing::Le32(0x7FFFFFF0));
  Loaded beyond(far);
  EXPECT_THROW(beyond.Find(0), za::EReadError);
}

}  // namespace
