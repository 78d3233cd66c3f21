#pragma once
// Archive items: TDirItem, its extra blocks, the item array
// TZADirArray with its lower-case name index, and the public search record.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "archive/records.h"
#include "archive/types.h"

namespace za {

class TZAStream;

// A string that costs one pointer while empty (writing-path members that
// reading leaves empty). Copies are deep.
template <class Ch>
class TZALazyString {
 public:
  using String = std::basic_string<Ch>;
  using View = std::basic_string_view<Ch>;
  TZALazyString() = default;
  TZALazyString(View v) { Assign(v); }
  TZALazyString(const TZALazyString& o) { Assign(o.view()); }
  TZALazyString(TZALazyString&&) noexcept = default;
  TZALazyString& operator=(const TZALazyString& o) {
    if (this != &o) Assign(o.view());
    return *this;
  }
  TZALazyString& operator=(TZALazyString&&) noexcept = default;
  TZALazyString& operator=(View v) {
    Assign(v);
    return *this;
  }
  View view() const { return p_ ? View(*p_) : View(); }
  String str() const { return String(view()); }
  operator View() const { return view(); }
  bool empty() const { return !p_ || p_->empty(); }
  std::size_t size() const { return p_ ? p_->size() : 0; }
  bool operator==(View v) const { return view() == v; }

 private:
  void Assign(View v) {
    if (v.empty())
      p_.reset();
    else
      p_ = std::make_unique<String>(v);
  }
  std::unique_ptr<String> p_;
};

// An entry's name: its count of UTF-16 code units, then the units, in one
// block reached by one pointer. A name whose units all lie below 0x100 (a
// plain ASCII or Latin-1 name: nearly every name there is) keeps one byte
// for each; the block's count says which. A directory keeps the names it
// loads in blocks of its own (`TZANameArena`), so that a million names cost
// no million heap allocations; any other name, and every copy, owns its
// block. A name taken from a directory by a move still lies in that
// directory's arena.
//
// There is no UTF-16 view of a name kept in bytes: `ViewIn` hands one out,
// widened into a buffer of the caller's where the name needs it.
class TZAEntryName {
 public:
  using View = std::u16string_view;
  TZAEntryName() = default;
  explicit TZAEntryName(View v) { Own(v); }
  explicit TZAEntryName(const char16_t* s) { Own(View(s)); }
  explicit TZAEntryName(const std::u16string& s) { Own(s); }
  TZAEntryName(const TZAEntryName& o) { Copy(o); }
  TZAEntryName(TZAEntryName&& o) noexcept : p_(o.p_) { o.p_ = 0; }
  ~TZAEntryName() { Release(); }
  TZAEntryName& operator=(const TZAEntryName& o);
  TZAEntryName& operator=(TZAEntryName&& o) noexcept {
    if (this != &o) {
      Release();
      p_ = o.p_;
      o.p_ = 0;
    }
    return *this;
  }
  TZAEntryName& operator=(View v) { return assign(v); }
  TZAEntryName& operator=(const char16_t* s) { return assign(View(s)); }
  TZAEntryName& operator=(const std::u16string& s) { return assign(s); }
  TZAEntryName& assign(View v);

  // The units as UTF-16: the name's own when it keeps them so, else
  // widened into `scratch` (valid while both are unchanged).
  View ViewIn(std::u16string& scratch) const {
    if (!p_) return View();
    if (!Narrow()) return View(Wide(), Count());
    Widen(scratch);
    return scratch;
  }
  // Sets `out` to the name's units with each '/' made a '\\', as events
  // name an entry.
  void CopyBackslashedTo(std::u16string& out) const;
  // Sets `out` to the name's units.
  void CopyTo(std::u16string& out) const {
    if (Narrow())
      Widen(out);
    else
      out.assign(p_ ? Wide() : u"", size());
  }
  std::u16string str() const {
    std::u16string s;
    if (!p_) return s;
    if (Narrow()) return std::u16string(Bytes(), Bytes() + Count());
    return std::u16string(Wide(), Count());
  }
  operator std::u16string() const { return str(); }
  // The name in bytes, one for each unit, when it is kept so.
  bool Narrow() const { return p_ && (Block()[0] & kNarrow); }
  std::string_view NarrowView() const {
    return Narrow() ? std::string_view(reinterpret_cast<const char*>(Bytes()), Count()) : std::string_view();
  }

  bool empty() const { return size() == 0; }
  std::size_t size() const { return p_ ? Count() : 0; }
  std::size_t length() const { return size(); }
  char16_t operator[](std::size_t i) const { return Narrow() ? Bytes()[i] : Wide()[i]; }
  char16_t back() const { return (*this)[size() - 1]; }
  char16_t front() const { return (*this)[0]; }
  bool operator==(View v) const;
  bool operator==(const char16_t* s) const { return *this == View(s); }
  bool operator==(const std::u16string& s) const { return *this == View(s); }
  bool operator==(const TZAEntryName& o) const;
  friend std::u16string operator+(View a, const TZAEntryName& b) { return std::u16string(a) += b.str(); }
  friend std::u16string operator+(const TZAEntryName& a, View b) { return a.str() += b; }
  // Whether `v` begins within the name's own units.
  bool Holds(View v) const { return p_ && !Narrow() && v.data() >= Wide() && v.data() <= Wide() + Count(); }
  // Whether the name's block lies in a directory's arena.
  bool InArena() const { return p_ && !(p_ & kOwned); }

  // The block layout: the count of code units (kNarrow set when they are
  // bytes), then the units, in 32-bit words.
  static bool FitsBytes(View v);
  static constexpr std::size_t BlockWords(std::size_t units, bool narrow) {
    return 1 + (narrow ? (units + 3) / 4 : (units + 1) / 2);
  }
  static constexpr std::uint32_t kNarrow = 0x80000000u;
  static constexpr std::size_t kMaxUnits = 0x7FFFFFFF;
  // Fills a block of BlockWords(v.size(), narrow) words.
  static void Fill(std::uint32_t* block, View v, bool narrow);
  // Fills a block of BlockWords(units.size(), true) words with units that
  // are all below 0x80.
  static void FillNarrow(std::uint32_t* block, std::string_view units);

 private:
  friend class TZANameArena;
  static constexpr std::uintptr_t kOwned = 1;
  const std::uint32_t* Block() const { return reinterpret_cast<const std::uint32_t*>(p_ & ~kOwned); }
  std::size_t Count() const { return Block()[0] & ~kNarrow; }
  std::size_t Words() const { return BlockWords(Count(), Narrow()); }
  const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(Block() + 1); }
  const char16_t* Wide() const { return reinterpret_cast<const char16_t*>(Block() + 1); }
  // Unit by unit into the string's own room: assigning the range of bytes
  // would make a temporary string of it first.
  void Widen(std::u16string& out) const {
    const std::size_t n = Count();
    out.resize(n);
    const unsigned char* b = Bytes();
    for (std::size_t i = 0; i < n; ++i) out[i] = b[i];
  }
  void Own(View v);
  void Copy(const TZAEntryName& o);
  void Release() {
    if (p_ & kOwned) delete[] reinterpret_cast<std::uint32_t*>(p_ & ~kOwned);
    p_ = 0;
  }
  std::uintptr_t p_ = 0;  // the block; kOwned when it is this name's own
};

// The blocks of the names a directory loads: chunks that only grow, given
// back whole when the directory's entries go. The last name placed can be
// taken back, for a loader that drops the entry it has just named.
class TZANameArena {
 public:
  // Sets `name` (empty before) to `v`, placed in the arena.
  void Place(TZAEntryName& name, std::u16string_view v);
  // The same for units that are all below 0x80, given as bytes.
  void PlaceNarrow(TZAEntryName& name, std::string_view units);
  // Gives back the bytes of `name` when it is the last one placed.
  void TakeBack(const TZAEntryName& name);
  void Clear() {
    chunks_.clear();
    used_ = room_ = 0;
  }

 private:
  static constexpr std::size_t kChunkWords = 64 * 1024;
  std::uint32_t* Room(std::size_t words);
  std::vector<std::unique_ptr<std::uint32_t[]>> chunks_;
  std::size_t used_ = 0, room_ = 0;  // words of the last chunk
};

// One extra-field block: tag, the number of data bytes stored, the data
// (none when Size is 0). The data belongs to the entry that holds it.
struct ExtraBlock {
  std::uint16_t Tag = 0;
  std::uint16_t Size = 0;
  const std::uint8_t* Data = nullptr;
};

// The extra-field blocks of one entry, in file order, in one allocation
// owned by the entry (tag, size and data of each block, sizes as cut).
class TZAExtraFields {
 public:
  TZAExtraFields() = default;
  TZAExtraFields(const TZAExtraFields& o);
  TZAExtraFields& operator=(const TZAExtraFields& o);
  TZAExtraFields(TZAExtraFields&&) noexcept = default;
  TZAExtraFields& operator=(TZAExtraFields&&) noexcept = default;

  class Iterator {
   public:
    Iterator(const std::uint8_t* p) : p_(p) {}
    ExtraBlock operator*() const {
      ExtraBlock b;
      b.Tag = GetU16(p_);
      b.Size = GetU16(p_ + 2);
      b.Data = b.Size ? p_ + 4 : nullptr;
      return b;
    }
    Iterator& operator++() {
      p_ += 4 + GetU16(p_ + 2);
      return *this;
    }
    bool operator!=(const Iterator& o) const { return p_ != o.p_; }

   private:
    const std::uint8_t* p_;
  };
  Iterator begin() const { return Iterator(Blocks()); }
  Iterator end() const { return Iterator(Blocks() + Bytes()); }

  std::size_t Count() const;
  bool Empty() const { return Bytes() == 0; }
  ExtraBlock operator[](std::size_t index) const;  // index < Count()
  // The first block with the tag; Tag 0 and no data when there is none.
  ExtraBlock Find(std::uint16_t tag, bool* found = nullptr) const;
  void Add(std::uint16_t tag, const std::uint8_t* data, std::uint16_t size);
  void Clear();
  // Reserves room for blocks of `bytes` in total (tags, sizes, data).
  void Reserve(std::size_t bytes);
  std::size_t Bytes() const { return data_ ? GetU32(data_.get()) : 0; }

 private:
  // One allocation: used bytes (4), capacity (4), then the blocks.
  static constexpr std::size_t kHead = 8;
  const std::uint8_t* Blocks() const { return data_ ? data_.get() + kHead : nullptr; }
  std::size_t Capacity() const { return data_ ? GetU32(data_.get() + 4) : 0; }
  std::unique_ptr<std::uint8_t[]> data_;
};

// Where a new entry's data comes from, and its password: only the writing
// path gives an entry these, so a directory read from an archive keeps one
// empty pointer per entry for them.
struct TZAEntrySource {
  TZALazyString<char> EntryPassword;
  // The source when it is a stream; copies of the entry share it.
  std::shared_ptr<TZAStream> SourceStream;
  TZALazyString<char16_t> SourceFileName;
  static const TZAEntrySource& None();
};

// What an entry read from an archive seldom has: the Zip64 values, a
// comment, a new entry's sources. They share one block that is made at the
// first value other than the default, so a directory of a million plain
// entries keeps one empty pointer per entry for all of them.
struct TZAEntryRare {
  std::uint64_t Zip64UncompressedSize = 0;
  std::uint64_t Zip64CompressedSize = 0;
  std::uint64_t Zip64LocalHeaderOffset = 0;
  std::uint32_t Zip64DiskStart = 0;
  TZALazyString<char> Comment;
  TZAEntrySource Source;
};

// A member of the rare block seen as a member of the entry: it reads the
// default while there is no block and makes the block when it is given
// anything else. Every view holds only the block's pointer, so all of them
// overlay one another in the entry (see TZAEntryRareMembers).
template <auto Field>
struct TZARareValue {
  TZAEntryRare* p_;
  using Value = std::remove_cvref_t<decltype(std::declval<TZAEntryRare&>().*Field)>;
  operator Value() const { return p_ ? p_->*Field : Value{}; }
  TZARareValue& operator=(Value v) {
    if (p_ || v != Value{}) Make()->*Field = v;
    return *this;
  }
  TZARareValue& operator=(const TZARareValue& o) { return *this = static_cast<Value>(o); }
  TZARareValue& operator+=(Value v) { return *this = static_cast<Value>(*this) + v; }
  TZAEntryRare* Make() { return p_ ? p_ : (p_ = new TZAEntryRare); }
};

// The comment, with the operations of TZALazyString<char>.
struct TZARareComment {
  TZAEntryRare* p_;
  using View = std::string_view;
  View view() const { return p_ ? p_->Comment.view() : View(); }
  std::string str() const { return std::string(view()); }
  operator View() const { return view(); }
  bool empty() const { return view().empty(); }
  std::size_t size() const { return view().size(); }
  bool operator==(View v) const { return view() == v; }
  TZARareComment& operator=(View v) {
    if (p_ || !v.empty()) (p_ ? p_ : (p_ = new TZAEntryRare))->Comment = v;
    return *this;
  }
  TZARareComment& operator=(const TZARareComment& o) { return *this = o.view(); }
};

// The rare block's owner. The views of its members are members of one
// anonymous union, so that `item.Zip64CompressedSize` reads as a plain
// member does while the entry pays for one pointer; each view begins with
// the same pointer, which any of them may read.
class TZAEntryRareMembers {
 public:
  TZAEntryRareMembers() : rare_(nullptr) {}
  TZAEntryRareMembers(const TZAEntryRareMembers& o) : rare_(o.rare_ ? new TZAEntryRare(*o.rare_) : nullptr) {}
  TZAEntryRareMembers(TZAEntryRareMembers&& o) noexcept : rare_(o.rare_) { o.rare_ = nullptr; }
  TZAEntryRareMembers& operator=(const TZAEntryRareMembers& o) {
    if (this != &o) {
      TZAEntryRare* copy = o.rare_ ? new TZAEntryRare(*o.rare_) : nullptr;
      delete rare_;
      rare_ = copy;
    }
    return *this;
  }
  TZAEntryRareMembers& operator=(TZAEntryRareMembers&& o) noexcept {
    if (this != &o) {
      delete rare_;
      rare_ = o.rare_;
      o.rare_ = nullptr;
    }
    return *this;
  }
  ~TZAEntryRareMembers() { delete rare_; }

  union {
    TZARareValue<&TZAEntryRare::Zip64UncompressedSize> Zip64UncompressedSize;
    TZARareValue<&TZAEntryRare::Zip64CompressedSize> Zip64CompressedSize;
    TZARareValue<&TZAEntryRare::Zip64LocalHeaderOffset> Zip64LocalHeaderOffset;
    TZARareValue<&TZAEntryRare::Zip64DiskStart> Zip64DiskStart;
    TZARareComment Comment;
    TZAEntryRare* rare_;
  };

  // The new entry's sources; an entry read from an archive has none (and
  // gets an empty one here).
  const TZAEntrySource& Source() const { return rare_ ? rare_->Source : TZAEntrySource::None(); }
  // The sources, made when the entry has none yet: for the writing path.
  TZAEntrySource& SetSource() {
    if (!rare_) rare_ = new TZAEntryRare;
    return rare_->Source;
  }
  void DropSource() {
    if (rare_) rare_->Source = TZAEntrySource{};
  }
};

// One archive entry. Members are grouped to keep the record small: a
// directory of many entries holds one of these per entry.
// The small members fill the word behind the header, in front of the
// pointers.
struct TDirItem : TZAEntryRareMembers {
  CentralDirectoryHeader Header;
  std::uint16_t ActualMethod = 0;
  std::uint8_t CompressionSetting = 0;
  // The flags share one byte: a million entries are 8 MB smaller for it.
  TZACryptoAlgorithm CryptoAlgorithm : 2 = caPkzipClassic;
  bool HasZip64Info : 1 = false;
  bool IsNew : 1 = false;
  bool Selected : 1 = false;  // the selected flag
  std::uint8_t PendingFlags : 3 = 0;  // marks of a running update; unused by reading
  TZAEntryName EntryName;
  TZAExtraFields ExtraFields;

  // Sizes and offset with their Zip64 values where the header holds all ones.
  std::uint64_t PackedSize() const {
    return Header.CompressedSize == 0xFFFFFFFF ? std::uint64_t{Zip64CompressedSize} : Header.CompressedSize;
  }
  std::uint64_t UnpackedSize() const {
    return Header.UncompressedSize == 0xFFFFFFFF ? std::uint64_t{Zip64UncompressedSize} : Header.UncompressedSize;
  }
  std::uint64_t LocalOffset() const {
    return Header.LocalHeaderOffset == 0xFFFFFFFF ? std::uint64_t{Zip64LocalHeaderOffset} : Header.LocalHeaderOffset;
  }
  // A folder by its directory attribute or by the "/" that ends its name.
  bool IsFolder() const {
    return (Header.ExternalAttributes & 0x10) || (!EntryName.empty() && EntryName.back() == u'/');
  }
};

// Parses one Unicode name block ("NUCX").
class TUnicodeExtendedInfo {
 public:
  // True when the block is a complete Unicode name block; Name then holds it.
  bool ParseBlock(const std::uint8_t* data, std::size_t size);
  std::u16string Name;
  std::uint32_t Signature = 0;
};

// Chained hash from UTF-16 keys to signed 32-bit values; new nodes go to the
// head of their chain, so the latest of equal keys is found first. Keys are
// copied into the hash's own storage.
class TZAStringHash {
 public:
  // `sharedKeys`, when given, is an append-only store of characters that
  // InsertShared may refer to instead of copying a key.
  explicit TZAStringHash(std::uint32_t buckets, const std::vector<char16_t>* sharedKeys = nullptr);
  void Insert(std::u16string_view key, std::int32_t value);
  void InsertShared(std::uint32_t offset, std::uint32_t length, std::int32_t value);
  std::int32_t Lookup(std::u16string_view key) const;  // -1 when absent
  void Erase(std::u16string_view key);
  void Reset();
  std::uint32_t BucketCount() const { return static_cast<std::uint32_t>(buckets_.size()); }
  // The key hash: h := rotl(h, 2) xor c for every code unit.
  static std::uint32_t KeyHash(std::u16string_view key);

 private:
  struct Node {
    std::int32_t next;
    std::int32_t value;
    std::uint32_t keyOffset;
    std::uint32_t keyLength;
    std::uint32_t hash;
  };
  static constexpr std::uint32_t kShared = 0x80000000u;  // in keyLength: the key is in sharedKeys
  std::uint32_t Placement(std::u16string_view key) const;
  std::u16string_view KeyOf(const Node& node) const;
  void Link(Node node);
  const std::vector<char16_t>* shared_;
  std::vector<std::int32_t> buckets_;
  std::vector<Node> nodes_;
  std::vector<char16_t> keys_;
  std::int32_t free_ = -1;
  std::uint64_t seed_;
};

// A list of UTF-16 strings with a lazily built value hash.
class TZAHashedStringList {
 public:
  explicit TZAHashedStringList(bool caseSensitive = false) : caseSensitive_(caseSensitive) {}
  std::int32_t Count() const { return static_cast<std::int32_t>(strings_.size()); }
  std::u16string_view operator[](std::int32_t index) const;
  std::int32_t Add(std::u16string_view s);
  std::int32_t IndexOf(std::u16string_view s);
  void Replace(std::int32_t index, std::u16string_view s);
  void Delete(std::int32_t index);
  // Deletes the last string; the hash stays valid.
  void DeleteLast();
  void Clear();
  bool CaseSensitive() const { return caseSensitive_; }
  void Reserve(std::size_t strings, std::size_t chars);
  bool HashValid() const { return hash_ && hashValid_; }
  const TZAStringHash* Hash() const { return hash_.get(); }

 private:
  struct Span {
    std::uint32_t offset, length;
  };
  std::u16string_view Key(std::u16string_view s);  // in keyScratch_
  void HashString(std::int32_t index);
  bool caseSensitive_;
  std::vector<char16_t> chars_;
  std::vector<Span> strings_;
  std::unique_ptr<TZAStringHash> hash_;
  bool hashValid_ = false;
  std::u16string keyScratch_;
};

class TZADirArray;

// The name index of a directory: entry numbers in an open-addressed table,
// hashed and compared on the entries' own names folded to lower case, so
// that no name is kept twice. The table is made at the first lookup and
// kept up to date from then on: listing, testing or extracting a million
// entries never looks a name up and never pays for it.
class TZANameIndex {
 public:
  // The first Count() entries have their names in the index.
  std::int32_t Count() const { return named_; }
  // The key of entry `i`: its name in lower case.
  std::u16string operator[](std::int32_t i) const;
  // Whether the table is made.
  bool Built() const { return !slots_.empty(); }

 private:
  friend class TZADirArray;
  struct Slot {
    std::int32_t entry = -1;  // -1: free
    std::uint32_t hash = 0;
  };
  explicit TZANameIndex(const TZADirArray& entries) : entries_(entries) {}
  // Entry `i`'s name as UTF-16; a name kept in bytes is widened into
  // `scratch`.
  std::u16string_view NameOf(std::int32_t i, std::u16string& scratch) const;
  const TZAEntryName& EntryNameOf(std::int32_t i) const;
  // Of the entries in the index whose names equal `name` in lower case, the
  // last one; -1 when there is none. Makes the table.
  std::int32_t Find(std::u16string_view name);
  // Entry `i` takes its place in the table (when made) under its name as
  // it is now; Remove takes it out under the same.
  void Insert(std::int32_t i);
  void Remove(std::int32_t i);
  void Append() {
    Insert(named_++);
    Tally(EntryNameOf(named_ - 1), +1);
  }
  void Build();
  void Drop() { std::vector<Slot>().swap(slots_); }
  void Reset() {
    Drop();
    named_ = 0;
    emptyNames_ = 0;
  }
  void Tally(const TZAEntryName& name, int step) {
    if (name.empty()) emptyNames_ += step;
  }

  const TZADirArray& entries_;
  std::int32_t named_ = 0;
  // Entries in the index with an empty name: a fresh entry's name is empty,
  // and whether another has it is asked of every entry a loader names,
  // which must not make the table.
  std::int32_t emptyNames_ = 0;
  std::vector<Slot> slots_;
  std::size_t used_ = 0;
  mutable std::u16string scratch_;  // for NameOf
};

// The entries of one directory.
class TZADirArray {
 public:
  static constexpr std::int32_t kInitialGrowStep = 500;
  static constexpr std::int32_t MaxGrowStep = 10000;

  TZADirArray() = default;
  ~TZADirArray();
  TZADirArray(const TZADirArray&) = delete;
  TZADirArray& operator=(const TZADirArray&) = delete;

  std::int32_t Count() const { return count_; }
  void SetCount(std::int32_t n);
  // Asked for several times for each of a million entries: the check is
  // inline, the error not.
  const TDirItem& GetItem(std::int32_t i) const {  // native error 2
    if (i < 0 || i >= count_) RefuseIndex(false);
    return entries_[static_cast<std::size_t>(i)];
  }
  TDirItem& ItemAt(std::int32_t i) {  // native error 3
    if (i < 0 || i >= count_) RefuseIndex(true);
    return entries_[static_cast<std::size_t>(i)];
  }
  void SetItem(std::int32_t i, const TDirItem& item);  // native errors 1, 58
  void SetName(std::int32_t i, std::u16string_view name);  // native error 59
  // SetName of a name whose units are all below 0x80, given as bytes.
  void SetNarrowName(std::int32_t i, std::string_view units);
  void Delete(std::int32_t i);  // native error 4
  // Takes the last entry out as if it had never been set.
  void DropLast();
  void Assign(const TZADirArray& other);
  void Clear();
  void ClearSelection();

  const TZANameIndex& NameIndex() const { return nameIndex_; }
  // Counts the changes of which entries the array holds (counts, entries
  // set, deleted, cleared); what is changed in place through ItemAt is not
  // counted.
  std::uint64_t Changes() const { return changes_; }
  std::int32_t GrowStep() const { return growStep_; }
  std::int32_t Capacity() const { return capacity_; }
  // Index of the entry whose lower-case name equals lower(name), -1 if none
  // (of several, the last).
  std::int32_t IndexOfName(std::u16string_view name);

 private:
  friend class TZANameIndex;
  [[noreturn]] static void RefuseIndex(bool write);
  void FreeEntry(TDirItem& item);
  std::unique_ptr<TDirItem[]> entries_;
  TZANameArena names_;  // the names the entries were given while fresh
  std::int32_t capacity_ = 0, count_ = 0, growStep_ = kInitialGrowStep;
  std::uint64_t changes_ = 0;
  TZANameIndex nameIndex_{*this};
};

// The search state of FindFirst/FindNext.
struct TInternalSearchRec {
  static constexpr std::size_t kMaxMask = 260;
  std::int32_t Index = -1;  // where the next step starts; after a hit, the entry found
  std::u16string FileMask;  // normalised, at most kMaxMask code units
  std::uint32_t SearchAttr = 0;
  std::u16string ExclusionMask;
};

// The public item record that the entry search fills.
struct TZAArchiveItem {
  std::u16string ItemName;
  std::u16string ItemPath;
  std::uint64_t PackedSize = 0;
  std::uint64_t UnpackedSize = 0;
  double Ratio = 0;
  bool IsEncrypted = false;
  std::uint16_t DosDate = 0;
  std::uint16_t DosTime = 0;
  std::uint32_t Checksum = 0;
  std::uint32_t Attributes = 0;
  std::string ItemComment;
  TInternalSearchRec SearchState;
};

// Fills the public fields of `out` from an entry; SearchState stays.
void FillArchiveItem(const TDirItem& item, TZAArchiveItem& out);

}  // namespace za
