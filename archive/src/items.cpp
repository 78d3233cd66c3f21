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

// ---- TZAEntryName

// Every unit is looked at, without a branch for each: a loader asks this of
// a million names, which nearly all fit.
bool TZAEntryName::FitsBytes(View v) {
  unsigned high = 0;
  for (char16_t c : v) high |= c;
  return high < 0x100;
}

void TZAEntryName::Fill(std::uint32_t* block, View v, bool narrow) {
  block[0] = static_cast<std::uint32_t>(v.size()) | (narrow ? kNarrow : 0);
  // The last word's unused bytes are set: blocks are compared and copied whole.
  block[BlockWords(v.size(), narrow) - 1] = 0;
  if (narrow) {
    auto* bytes = reinterpret_cast<unsigned char*>(block + 1);
    for (std::size_t i = 0; i < v.size(); ++i) bytes[i] = static_cast<unsigned char>(v[i]);
  } else {
    std::memcpy(block + 1, v.data(), v.size() * sizeof(char16_t));
  }
}

void TZAEntryName::FillNarrow(std::uint32_t* block, std::string_view units) {
  block[0] = static_cast<std::uint32_t>(units.size()) | kNarrow;
  block[BlockWords(units.size(), true) - 1] = 0;
  std::memcpy(block + 1, units.data(), units.size());
}

void TZAEntryName::CopyBackslashedTo(std::u16string& out) const {
  const std::size_t n = size();
  out.resize(n);
  // One pass that widens and turns the separators, without a branch.
  char16_t* to = out.data();
  if (Narrow()) {
    const unsigned char* b = Bytes();
    for (std::size_t i = 0; i < n; ++i) to[i] = b[i] == '/' ? u'\\' : char16_t{b[i]};
  } else {
    const char16_t* w = n ? Wide() : nullptr;
    for (std::size_t i = 0; i < n; ++i) to[i] = w[i] == u'/' ? u'\\' : w[i];
  }
}

TZAEntryName& TZAEntryName::assign(View v) {
  if (v.empty()) {
    Release();
    return *this;
  }
  // `v` may lie in this name's own block.
  std::uintptr_t old = p_;
  p_ = 0;
  Own(v);
  if (old & kOwned) delete[] reinterpret_cast<std::uint32_t*>(old & ~kOwned);
  return *this;
}

TZAEntryName& TZAEntryName::operator=(const TZAEntryName& o) {
  if (this == &o) return *this;
  std::uintptr_t old = p_;
  p_ = 0;
  Copy(o);
  if (old & kOwned) delete[] reinterpret_cast<std::uint32_t*>(old & ~kOwned);
  return *this;
}

void TZAEntryName::Own(View v) {
  if (v.empty()) return;
  if (v.size() > kMaxUnits) throw std::length_error("entry name");
  bool narrow = FitsBytes(v);
  auto* block = new std::uint32_t[BlockWords(v.size(), narrow)];
  Fill(block, v, narrow);
  p_ = reinterpret_cast<std::uintptr_t>(block) | kOwned;
}

void TZAEntryName::Copy(const TZAEntryName& o) {
  if (o.empty()) return;
  std::size_t words = o.Words();
  auto* block = new std::uint32_t[words];
  std::memcpy(block, o.Block(), words * sizeof(std::uint32_t));
  p_ = reinterpret_cast<std::uintptr_t>(block) | kOwned;
}

bool TZAEntryName::operator==(View v) const {
  if (v.size() != size()) return false;
  if (!Narrow()) return v.empty() || View(Wide(), Count()) == v;
  const unsigned char* b = Bytes();
  for (std::size_t i = 0; i < v.size(); ++i)
    if (b[i] != v[i]) return false;
  return true;
}

bool TZAEntryName::operator==(const TZAEntryName& o) const {
  if (size() != o.size()) return false;
  if (empty()) return true;
  // Every block is filled by Fill, which keeps in bytes whatever fits them:
  // equal names are kept alike.
  if (Narrow() != o.Narrow()) return false;
  return std::memcmp(Block() + 1, o.Block() + 1, Narrow() ? Count() : Count() * sizeof(char16_t)) == 0;
}

// ---- TZANameArena

void TZANameArena::Place(TZAEntryName& name, std::u16string_view v) {
  if (v.empty()) {
    name.Release();
    return;
  }
  if (v.size() > TZAEntryName::kMaxUnits) throw std::length_error("entry name");
  bool narrow = TZAEntryName::FitsBytes(v);
  std::uint32_t* block = Room(TZAEntryName::BlockWords(v.size(), narrow));
  TZAEntryName::Fill(block, v, narrow);
  name.Release();
  name.p_ = reinterpret_cast<std::uintptr_t>(block);
}

void TZANameArena::PlaceNarrow(TZAEntryName& name, std::string_view units) {
  if (units.empty()) {
    name.Release();
    return;
  }
  if (units.size() > TZAEntryName::kMaxUnits) throw std::length_error("entry name");
  std::uint32_t* block = Room(TZAEntryName::BlockWords(units.size(), true));
  TZAEntryName::FillNarrow(block, units);
  name.Release();
  name.p_ = reinterpret_cast<std::uintptr_t>(block);
}

std::uint32_t* TZANameArena::Room(std::size_t words) {
  if (chunks_.empty() || room_ - used_ < words) {
    std::size_t size = std::max(words, kChunkWords);
    chunks_.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(size));
    used_ = 0;
    room_ = size;
  }
  std::uint32_t* block = chunks_.back().get() + used_;
  used_ += words;
  return block;
}

void TZANameArena::TakeBack(const TZAEntryName& name) {
  if (!name.InArena() || chunks_.empty()) return;
  const std::uint32_t* block = name.Block();
  std::size_t words = name.Words();
  if (used_ >= words && block == chunks_.back().get() + used_ - words) used_ -= words;
}

// ---- TDirItem

// A directory holds one per entry: the record, its flags and three pointers.
static_assert(sizeof(void*) != 8 || sizeof(TDirItem) == 72);

const TZAEntrySource& TZAEntrySource::None() {
  static const TZAEntrySource none;
  return none;
}

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

// ---- TZANameIndex

namespace {

bool HasSurrogate(std::u16string_view s) {
  return std::any_of(s.begin(), s.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
}

std::uint32_t Mix(std::uint64_t h) {
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

// Seeded, so that names made to collide cannot turn lookups quadratic.
std::uint32_t LowerHash(std::u16string_view name) {
  std::uint64_t h = ProcessSeed() ^ (name.size() * 0x9E3779B97F4A7C15ull);
  if (HasSurrogate(name)) {
    for (char16_t c : sys::WideLower(name)) h = (h ^ c) * 0x100000001B3ull;
  } else {
    const char16_t* lower = sys::WideLowerUnits();
    for (char16_t c : name) h = (h ^ lower[c]) * 0x100000001B3ull;
  }
  return Mix(h);
}

bool LowerEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  if (HasSurrogate(a) || HasSurrogate(b)) return sys::WideLower(a) == sys::WideLower(b);
  const char16_t* lower = sys::WideLowerUnits();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && lower[a[i]] != lower[b[i]]) return false;
  return true;
}

}  // namespace

const TZAEntryName& TZANameIndex::EntryNameOf(std::int32_t i) const {
  return entries_.entries_[static_cast<std::size_t>(i)].EntryName;
}

std::u16string_view TZANameIndex::NameOf(std::int32_t i, std::u16string& scratch) const {
  return EntryNameOf(i).ViewIn(scratch);
}

std::u16string TZANameIndex::operator[](std::int32_t i) const {
  if (i < 0 || i >= named_) throw EZAException(neItemIndex, nullptr);
  return sys::WideLower(EntryNameOf(i).str());
}

void TZANameIndex::Build() {
  std::size_t size = 16;
  while (size < 2 * static_cast<std::size_t>(named_) + 2) size *= 2;
  slots_.assign(size, Slot{});
  used_ = 0;
  for (std::int32_t i = 0; i < named_; ++i) Insert(i);
}

void TZANameIndex::Insert(std::int32_t i) {
  if (slots_.empty()) return;
  if (2 * (used_ + 1) > slots_.size()) {
    // Doubled, and made again with every entry in the index (`i` among them).
    std::size_t size = slots_.size() * 2;
    slots_.assign(size, Slot{});
    used_ = 0;
    for (std::int32_t k = 0; k < named_; ++k)
      if (k != i) Insert(k);
  }
  std::size_t mask = slots_.size() - 1;
  std::uint32_t h = LowerHash(NameOf(i, scratch_));
  std::size_t p = h & mask;
  while (slots_[p].entry >= 0) p = (p + 1) & mask;
  slots_[p] = Slot{i, h};
  ++used_;
}

void TZANameIndex::Remove(std::int32_t i) {
  if (slots_.empty()) return;
  std::size_t mask = slots_.size() - 1;
  std::size_t p = LowerHash(NameOf(i, scratch_)) & mask;
  while (slots_[p].entry >= 0 && slots_[p].entry != i) p = (p + 1) & mask;
  if (slots_[p].entry < 0) return;
  // Later slots of the run move back into the gap unless their own place
  // lies between the gap and them: linear probing without tombstones.
  for (std::size_t q = (p + 1) & mask; slots_[q].entry >= 0; q = (q + 1) & mask) {
    std::size_t home = slots_[q].hash & mask;
    bool stays = p <= q ? (home > p && home <= q) : (home > p || home <= q);
    if (stays) continue;
    slots_[p] = slots_[q];
    p = q;
  }
  slots_[p] = Slot{};
  --used_;
}

std::int32_t TZANameIndex::Find(std::u16string_view name) {
  if (named_ == 0) return -1;
  if (slots_.empty()) Build();
  std::size_t mask = slots_.size() - 1;
  std::uint32_t h = LowerHash(name);
  std::int32_t last = -1;
  for (std::size_t p = h & mask; slots_[p].entry >= 0; p = (p + 1) & mask)
    if (slots_[p].hash == h && slots_[p].entry > last && LowerEqual(NameOf(slots_[p].entry, scratch_), name))
      last = slots_[p].entry;
  return last;
}

// ---- TZADirArray

// Each entry gives back what it owns as it goes: a walk over a million
// entries to free them first would only be a second walk.
TZADirArray::~TZADirArray() = default;

void TZADirArray::FreeEntry(TDirItem& item) {
  item.ExtraFields.Clear();
  item.DropSource();
}

void TZADirArray::SetCount(std::int32_t n) {
  if (n < 0) throw EZAException(neItemIndex, nullptr);
  ++changes_;
  if (n < nameIndex_.Count()) {
    // Names of entries past the count are no more looked up.
    nameIndex_.Reset();
    for (std::int32_t i = 0; i < n; ++i) nameIndex_.Append();
  }
  if (n > capacity_) {
    growStep_ = std::min(2 * growStep_, MaxGrowStep);
    std::int64_t cap = static_cast<std::int64_t>(capacity_) + growStep_;
    if (cap <= n) cap = n;
    auto grown = std::make_unique<TDirItem[]>(static_cast<std::size_t>(cap));
    for (std::int32_t i = 0; i < capacity_; ++i) grown[static_cast<std::size_t>(i)] = std::move(entries_[static_cast<std::size_t>(i)]);
    entries_ = std::move(grown);
    capacity_ = static_cast<std::int32_t>(cap);
  } else if (n == 0) {
    entries_.reset();
    names_.Clear();
    capacity_ = 0;
  }
  count_ = n;
}

void TZADirArray::RefuseIndex(bool write) {
  throw EZAException(write ? neItemIndexWrite : neItemIndexRead, nullptr);
}

void TZADirArray::SetItem(std::int32_t i, const TDirItem& item) {
  if (i < 0 || i >= count_) throw EZAException(neItemIndex, nullptr);
  ++changes_;
  TDirItem& slot = entries_[static_cast<std::size_t>(i)];
  const bool indexed = i < nameIndex_.Count();
  if (indexed) {
    nameIndex_.Remove(i);
    nameIndex_.Tally(slot.EntryName, -1);
  }
  if (&slot != &item) {
    FreeEntry(slot);
    slot = item;  // deep copy: new buffers for the extra blocks
  }
  if (indexed) {
    nameIndex_.Insert(i);
    nameIndex_.Tally(slot.EntryName, +1);
  } else if (nameIndex_.Count() == i) {
    nameIndex_.Append();
  } else {
    throw EZAException(neNameListInsert, nullptr);
  }
}

void TZADirArray::SetName(std::int32_t i, std::u16string_view name) {
  TDirItem& item = ItemAt(i);
  // Where the entry's present name is found: at the entry itself, at
  // another (the names are out of step), or nowhere (a new entry). A
  // loader names fresh entries and renames the last one it named; neither
  // makes the table.
  std::int32_t j;
  std::u16string present;
  if (nameIndex_.Built())
    j = nameIndex_.Find(item.EntryName.ViewIn(present));
  else if (i >= nameIndex_.Count() && item.EntryName.empty())
    j = nameIndex_.emptyNames_ > 0 ? i + 1 : -1;  // another entry's, or none
  else if (i == nameIndex_.Count() - 1)
    j = i;  // no later entry may have it
  else
    j = nameIndex_.Find(item.EntryName.ViewIn(present));
  std::u16string copy;
  if (item.EntryName.Holds(name)) name = copy.assign(name);
  if (j < 0) {
    // A fresh entry's name is placed in the arena; a renamed one owns its
    // block, so that renaming leaves nothing behind.
    if (item.EntryName.empty())
      names_.Place(item.EntryName, name);
    else
      item.EntryName.assign(name);
    if (i == nameIndex_.Count()) nameIndex_.Append();
    return;
  }
  if (j != i) throw EZAException(neNameListRename, nullptr);
  nameIndex_.Remove(i);
  nameIndex_.Tally(item.EntryName, -1);
  item.EntryName.assign(name);
  nameIndex_.Insert(i);
  nameIndex_.Tally(item.EntryName, +1);
}

void TZADirArray::SetNarrowName(std::int32_t i, std::string_view units) {
  TDirItem& item = ItemAt(i);
  // A loader naming a fresh entry, as SetName finds it: placed as it is.
  if (!units.empty() && !nameIndex_.Built() && i >= nameIndex_.Count() && item.EntryName.empty() &&
      nameIndex_.emptyNames_ == 0) {
    names_.PlaceNarrow(item.EntryName, units);
    if (i == nameIndex_.Count()) nameIndex_.Append();
    return;
  }
  SetName(i, std::u16string(units.begin(), units.end()));
}

std::int32_t TZADirArray::IndexOfName(std::u16string_view name) { return nameIndex_.Find(name); }

void TZADirArray::Delete(std::int32_t i) {
  if (i < 0 || i >= count_) throw EZAException(neItemIndexDelete, nullptr);
  ++changes_;
  TDirItem& item = entries_[static_cast<std::size_t>(i)];
  FreeEntry(item);
  // Every later entry moves down one place: the table is made again when
  // next asked.
  if (i < nameIndex_.Count()) {
    nameIndex_.Drop();
    nameIndex_.Tally(item.EntryName, -1);
    --nameIndex_.named_;
  }
  for (std::int32_t j = i; j + 1 < count_; ++j)
    entries_[static_cast<std::size_t>(j)] = std::move(entries_[static_cast<std::size_t>(j + 1)]);
  entries_[static_cast<std::size_t>(count_ - 1)] = TDirItem{};
  --count_;
}

void TZADirArray::DropLast() {
  if (count_ <= 0) throw EZAException(neItemIndexDelete, nullptr);
  ++changes_;
  TDirItem& item = entries_[static_cast<std::size_t>(count_ - 1)];
  if (nameIndex_.Count() == count_) {
    nameIndex_.Remove(count_ - 1);
    nameIndex_.Tally(item.EntryName, -1);
    --nameIndex_.named_;
  }
  names_.TakeBack(item.EntryName);
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
  ++changes_;
  for (std::int32_t i = 0; i < count_; ++i) entries_[static_cast<std::size_t>(i)].ExtraFields.Clear();
  count_ = 0;
  nameIndex_.Reset();
}

void TZADirArray::ClearSelection() {
  for (std::int32_t i = 0; i < count_; ++i) entries_[static_cast<std::size_t>(i)].Selected = false;
}

// ---- TZAArchiveItem

void FillArchiveItem(const TDirItem& item, TZAArchiveItem& out) {
  std::u16string name = paths::Backslashed(item.EntryName.str());
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
