#include "archive/items.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>

#include "archive/byte_reader.h"
#include "archive/errors.h"
#include "archive/stream.h"
#include "paths.h"
#include "sys/codepage.h"

namespace za {

// ---- TZAExtraFields

TZAExtraFields::TZAExtraFields(const TZAExtraFields& o) { *this = o; }

TZAExtraFields& TZAExtraFields::operator=(const TZAExtraFields& o) {
  if (this == &o) return *this;
  if (o.Bytes() == 0) {
    Clear();
    return *this;
  }
  std::size_t n = o.Bytes();
  auto copy = std::make_unique<std::uint8_t[]>(kHead + n);
  PutU32(copy.get(), static_cast<std::uint32_t>(n));
  PutU32(copy.get() + 4, static_cast<std::uint32_t>(n));
  std::memcpy(copy.get() + kHead, o.Blocks(), n);
  data_ = std::move(copy);
  return *this;
}

std::size_t TZAExtraFields::Count() const {
  std::size_t n = 0;
  for (auto it = begin(); it != end(); ++it) ++n;
  return n;
}

ExtraBlock TZAExtraFields::operator[](std::size_t index) const {
  auto it = begin();
  for (std::size_t i = 0; i < index && it != end(); ++i) ++it;
  if (!(it != end())) return ExtraBlock{};
  return *it;
}

ExtraBlock TZAExtraFields::Find(std::uint16_t tag, bool* found) const {
  for (ExtraBlock b : *this)
    if (b.Tag == tag) {
      if (found) *found = true;
      return b;
    }
  if (found) *found = false;
  return ExtraBlock{};
}

void TZAExtraFields::Reserve(std::size_t bytes) {
  if (bytes <= Capacity()) return;
  if (bytes > std::numeric_limits<std::uint32_t>::max() - kHead) throw std::bad_alloc();
  auto grown = std::make_unique<std::uint8_t[]>(kHead + bytes);
  std::size_t used = Bytes();
  if (used) std::memcpy(grown.get() + kHead, Blocks(), used);
  PutU32(grown.get(), static_cast<std::uint32_t>(used));
  PutU32(grown.get() + 4, static_cast<std::uint32_t>(bytes));
  data_ = std::move(grown);
}

void TZAExtraFields::Add(std::uint16_t tag, const std::uint8_t* data, std::uint16_t size) {
  std::size_t used = Bytes();
  std::size_t need = used + 4 + size;
  if (need > Capacity()) Reserve(std::max<std::size_t>(need, Capacity() * 2));
  std::uint8_t* p = data_.get() + kHead + used;
  PutU16(p, tag);
  PutU16(p + 2, size);
  if (size) std::memcpy(p + 4, data, size);
  PutU32(data_.get(), static_cast<std::uint32_t>(need));
}

void TZAExtraFields::Clear() { data_.reset(); }

// ---- TUnicodeExtendedInfo

bool TUnicodeExtendedInfo::ParseBlock(const std::uint8_t* data, std::size_t size) {
  Name.clear();
  ByteReader r(data, size);
  Signature = r.U32();
  if (!r.Ok() || Signature != kUnicodeNameSignature) return false;
  std::int32_t length = static_cast<std::int32_t>(r.U32());
  if (!r.Ok() || length < 0 || static_cast<std::uint64_t>(length) * 2 > r.Remaining()) return false;
  Name.resize(static_cast<std::size_t>(length));
  for (char16_t& c : Name) c = static_cast<char16_t>(r.U16());
  return true;
}

// ---- TZAStringHash

namespace {
std::uint64_t ProcessSeed() {
  static const std::uint64_t seed = [] {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ 0x9E3779B97F4A7C15ull;
  }();
  return seed;
}
}  // namespace

TZAStringHash::TZAStringHash(std::uint32_t buckets, const std::vector<char16_t>* sharedKeys)
    : shared_(sharedKeys), buckets_(std::max<std::uint32_t>(buckets, 1), -1), seed_(ProcessSeed()) {}

std::u16string_view TZAStringHash::KeyOf(const Node& node) const {
  if (node.keyLength & kShared) return std::u16string_view(shared_->data() + node.keyOffset, node.keyLength & ~kShared);
  return std::u16string_view(keys_.data() + node.keyOffset, node.keyLength);
}

std::uint32_t TZAStringHash::KeyHash(std::u16string_view key) {
  std::uint32_t h = 0;
  for (char16_t c : key) h = ((h << 2) | (h >> 30)) ^ c;
  return h;
}

// Chains are placed by a seeded hash of the key rather than by KeyHash, so
// that names made to collide under KeyHash cannot turn lookups quadratic.
// Lookup results are the same either way.
std::uint32_t TZAStringHash::Placement(std::u16string_view key) const {
  std::uint64_t h = seed_ ^ (key.size() * 0x9E3779B97F4A7C15ull);
  for (char16_t c : key) h = (h ^ c) * 0x100000001B3ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

void TZAStringHash::Link(Node node) {
  std::int32_t index;
  if (free_ >= 0) {
    index = free_;
    free_ = nodes_[static_cast<std::size_t>(index)].next;
    nodes_[static_cast<std::size_t>(index)] = node;
  } else {
    if (nodes_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) throw std::bad_alloc();
    index = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(node);
  }
  std::int32_t& head = buckets_[node.hash % buckets_.size()];
  nodes_[static_cast<std::size_t>(index)].next = head;
  head = index;
}

void TZAStringHash::Insert(std::u16string_view key, std::int32_t value) {
  if (key.size() >= kShared || keys_.size() + key.size() > std::numeric_limits<std::uint32_t>::max())
    throw std::bad_alloc();
  Node node{-1, value, static_cast<std::uint32_t>(keys_.size()), static_cast<std::uint32_t>(key.size()), Placement(key)};
  keys_.insert(keys_.end(), key.begin(), key.end());
  Link(node);
}

void TZAStringHash::InsertShared(std::uint32_t offset, std::uint32_t length, std::int32_t value) {
  if (!shared_ || length >= kShared) throw std::logic_error("no shared keys");
  std::u16string_view key(shared_->data() + offset, length);
  Link(Node{-1, value, offset, length | kShared, Placement(key)});
}

std::int32_t TZAStringHash::Lookup(std::u16string_view key) const {
  std::uint32_t h = Placement(key);
  for (std::int32_t n = buckets_[h % buckets_.size()]; n >= 0;) {
    const Node& node = nodes_[static_cast<std::size_t>(n)];
    if (node.hash == h && KeyOf(node) == key) return node.value;
    n = node.next;
  }
  return -1;
}

void TZAStringHash::Erase(std::u16string_view key) {
  std::uint32_t h = Placement(key);
  std::int32_t* link = &buckets_[h % buckets_.size()];
  while (*link >= 0) {
    Node& node = nodes_[static_cast<std::size_t>(*link)];
    if (node.hash == h && KeyOf(node) == key) {
      std::int32_t gone = *link;
      *link = node.next;
      node.next = free_;
      free_ = gone;
      return;
    }
    link = &node.next;
  }
}

void TZAStringHash::Reset() {
  std::fill(buckets_.begin(), buckets_.end(), -1);
  nodes_.clear();
  keys_.clear();
  free_ = -1;
}

// ---- TZAHashedStringList

std::u16string_view TZAHashedStringList::operator[](std::int32_t index) const {
  const Span& s = strings_.at(static_cast<std::size_t>(index));
  return std::u16string_view(chars_.data() + s.offset, s.length);
}

std::u16string_view TZAHashedStringList::Key(std::u16string_view s) {
  if (caseSensitive_) return s;
  keyScratch_.assign(s);
  sys::WideLowerInPlace(keyScratch_);
  return keyScratch_;
}

std::int32_t TZAHashedStringList::Add(std::u16string_view s) {
  std::u16string alias;
  if (!chars_.empty() && s.data() >= chars_.data() && s.data() < chars_.data() + chars_.size()) {
    alias.assign(s);
    s = alias;
  }
  if (chars_.size() + s.size() > std::numeric_limits<std::uint32_t>::max() ||
      strings_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw std::bad_alloc();
  Span span{static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(s.size())};
  chars_.insert(chars_.end(), s.begin(), s.end());
  strings_.push_back(span);
  std::int32_t index = Count() - 1;
  if (hash_ && hashValid_) {
    HashString(index);
    if (static_cast<std::uint64_t>(Count()) > 5ull * hash_->BucketCount()) {
      hash_.reset();
      hashValid_ = false;
    }
  }
  return index;
}

// A key equal to its stored string (always so for a case-sensitive list, and
// for the lower-cased names of the name index) is not copied: the hash
// refers to the list's own characters, which are only ever appended to.
void TZAHashedStringList::HashString(std::int32_t index) {
  const Span& span = strings_[static_cast<std::size_t>(index)];
  std::u16string_view s = (*this)[index];
  std::u16string_view key = Key(s);
  if (key == s)
    hash_->InsertShared(span.offset, span.length, index);
  else
    hash_->Insert(key, index);
}

void TZAHashedStringList::Reserve(std::size_t strings, std::size_t chars) {
  strings_.reserve(strings);
  chars_.reserve(chars);
}

std::int32_t TZAHashedStringList::IndexOf(std::u16string_view s) {
  if (!hash_) {
    hash_ = std::make_unique<TZAStringHash>(static_cast<std::uint32_t>(std::max<std::int32_t>(Count(), 1000)), &chars_);
    hashValid_ = false;
  }
  if (!hashValid_) {
    hash_->Reset();
    for (std::int32_t i = 0; i < Count(); ++i) HashString(i);
    hashValid_ = true;
  }
  return hash_->Lookup(Key(s));
}

void TZAHashedStringList::Replace(std::int32_t index, std::u16string_view s) {
  if (index < 0 || index >= Count()) throw EZAException(neItemIndex, nullptr);
  std::u16string alias;
  if (!chars_.empty() && s.data() >= chars_.data() && s.data() < chars_.data() + chars_.size()) {
    alias.assign(s);
    s = alias;
  }
  if (hash_) hash_->Erase(Key((*this)[index]));
  if (chars_.size() + s.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  Span span{static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(s.size())};
  chars_.insert(chars_.end(), s.begin(), s.end());
  strings_[static_cast<std::size_t>(index)] = span;
  if (hash_) HashString(index);
}

void TZAHashedStringList::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) throw EZAException(neItemIndex, nullptr);
  strings_.erase(strings_.begin() + index);
  hashValid_ = false;
}

void TZAHashedStringList::DeleteLast() {
  if (strings_.empty()) throw EZAException(neItemIndex, nullptr);
  const Span last = strings_.back();
  if (hash_ && hashValid_) hash_->Erase(Key((*this)[Count() - 1]));
  strings_.pop_back();
  // Its characters go too when nothing was appended behind them.
  if (last.offset + last.length == chars_.size()) chars_.resize(last.offset);
}

void TZAHashedStringList::Clear() {
  strings_.clear();
  chars_.clear();
  chars_.shrink_to_fit();
  strings_.shrink_to_fit();
  if (hash_) hash_->Reset();
}

// ---- TZADirArray

TZADirArray::~TZADirArray() {
  for (std::int32_t i = 0; i < capacity_; ++i) FreeEntry(entries_[static_cast<std::size_t>(i)]);
}

void TZADirArray::FreeEntry(TDirItem& item) {
  item.ExtraFields.Clear();
  item.SourceStream.reset();
}

void TZADirArray::SetCount(std::int32_t n) {
  if (n < 0) throw EZAException(neItemIndex, nullptr);
  if (n > capacity_) {
    growStep_ = std::min(2 * growStep_, MaxGrowStep);
    std::int64_t cap = static_cast<std::int64_t>(capacity_) + growStep_;
    if (cap <= n) cap = n;
    auto grown = std::make_unique<TDirItem[]>(static_cast<std::size_t>(cap));
    for (std::int32_t i = 0; i < capacity_; ++i) grown[static_cast<std::size_t>(i)] = std::move(entries_[static_cast<std::size_t>(i)]);
    entries_ = std::move(grown);
    capacity_ = static_cast<std::int32_t>(cap);
  } else if (n == 0) {
    for (std::int32_t i = 0; i < capacity_; ++i) FreeEntry(entries_[static_cast<std::size_t>(i)]);
    entries_.reset();
    capacity_ = 0;
  }
  count_ = n;
}

const TDirItem& TZADirArray::GetItem(std::int32_t i) const {
  if (i < 0 || i >= count_) throw EZAException(neItemIndexRead, nullptr);
  return entries_[static_cast<std::size_t>(i)];
}

TDirItem& TZADirArray::ItemAt(std::int32_t i) {
  if (i < 0 || i >= count_) throw EZAException(neItemIndexWrite, nullptr);
  return entries_[static_cast<std::size_t>(i)];
}

void TZADirArray::SetItem(std::int32_t i, const TDirItem& item) {
  if (i < 0 || i >= count_) throw EZAException(neItemIndex, nullptr);
  TDirItem& slot = entries_[static_cast<std::size_t>(i)];
  if (&slot != &item) {
    FreeEntry(slot);
    slot = item;  // deep copy: new buffers for the extra blocks
  }
  lower_.assign(slot.EntryName);
  sys::WideLowerInPlace(lower_);
  if (nameIndex_.Count() > i)
    nameIndex_.Replace(i, lower_);
  else if (nameIndex_.Count() == i)
    nameIndex_.Add(lower_);
  else
    throw EZAException(neNameListInsert, nullptr);
}

void TZADirArray::SetName(std::int32_t i, std::u16string_view name) {
  TDirItem& item = ItemAt(i);
  lower_.assign(item.EntryName);
  sys::WideLowerInPlace(lower_);
  std::int32_t j = nameIndex_.IndexOf(lower_);
  lower_.assign(name);
  sys::WideLowerInPlace(lower_);
  if (j < 0)
    nameIndex_.Add(lower_);
  else if (j == i)
    nameIndex_.Replace(i, lower_);
  else
    throw EZAException(neNameListRename, nullptr);
  item.EntryName.assign(name);
}

std::int32_t TZADirArray::IndexOfName(std::u16string_view name) {
  lower_.assign(name);
  sys::WideLowerInPlace(lower_);
  return nameIndex_.IndexOf(lower_);
}

void TZADirArray::Delete(std::int32_t i) {
  if (i < 0 || i >= count_) throw EZAException(neItemIndexDelete, nullptr);
  TDirItem& item = entries_[static_cast<std::size_t>(i)];
  FreeEntry(item);
  std::int32_t k = IndexOfName(item.EntryName);
  if (k >= 0) nameIndex_.Delete(k);
  for (std::int32_t j = i; j + 1 < count_; ++j)
    entries_[static_cast<std::size_t>(j)] = std::move(entries_[static_cast<std::size_t>(j + 1)]);
  entries_[static_cast<std::size_t>(count_ - 1)] = TDirItem{};
  --count_;
}

void TZADirArray::DropLast() {
  if (count_ <= 0) throw EZAException(neItemIndexDelete, nullptr);
  TDirItem& item = entries_[static_cast<std::size_t>(count_ - 1)];
  if (nameIndex_.Count() == count_) nameIndex_.DeleteLast();
  FreeEntry(item);
  item = TDirItem{};
  --count_;
}

void TZADirArray::Assign(const TZADirArray& other) {
  if (&other == this) return;
  Clear();
  SetCount(other.Count());
  for (std::int32_t i = 0; i < other.Count(); ++i) SetItem(i, other.GetItem(i));
}

void TZADirArray::Clear() {
  for (std::int32_t i = 0; i < count_; ++i) entries_[static_cast<std::size_t>(i)].ExtraFields.Clear();
  count_ = 0;
  nameIndex_.Clear();
}

void TZADirArray::ClearSelection() {
  for (std::int32_t i = 0; i < count_; ++i) entries_[static_cast<std::size_t>(i)].Selected = false;
}

// ---- TZAArchiveItem

void FillArchiveItem(const TDirItem& item, TZAArchiveItem& out) {
  std::u16string name = paths::Backslashed(item.EntryName);
  // Plain ASCII comes back from the ANSI code page as it went in: a search
  // over a million entries need not convert each name twice.
  if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) {
    if (!name.empty() && name.back() == u'\\') name.pop_back();
  } else {
    std::string ansi = sys::WideToAnsi(name);
    if (!ansi.empty() && ansi.back() == '\\') ansi.pop_back();
    name = sys::AnsiToWide(ansi);
  }
  out.ItemName.assign(paths::NamePart(name, paths::kEventCuts));
  out.ItemPath.assign(paths::FolderPart(name, paths::kEventCuts));
  out.PackedSize = item.PackedSize();
  out.UnpackedSize = item.UnpackedSize();
  if (out.UnpackedSize > 0) {
    out.Ratio = (1.0 - static_cast<double>(out.PackedSize) / static_cast<double>(out.UnpackedSize)) * 100.0;
    if (out.Ratio < 0) out.Ratio = 0;
  } else {
    out.Ratio = 100;
  }
  out.IsEncrypted = (item.Header.Flags & 1) != 0;
  out.DosDate = item.Header.ModDate;
  out.DosTime = item.Header.ModTime;
  out.Checksum = item.Header.Crc32;
  out.Attributes = item.Header.ExternalAttributes;
  out.ItemComment.assign(item.Comment.view());
}

}  // namespace za
