#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "gif/item.h"

namespace gif {

struct TGIFColor {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  bool operator==(const TGIFColor&) const = default;
};

// A colour table of at most 256 entries, as stored in the stream.
class TGIFColorMap : public TPersistent {
 public:
  static constexpr int MaxColors = 256;

  explicit TGIFColorMap(TGIFPicture& image) : image_(&image) {}
  TGIFColorMap(const TGIFColorMap&) = delete;
  TGIFColorMap& operator=(const TGIFColorMap&) = delete;

  int Count() const { return count_; }
  int Capacity() const { return static_cast<int>(entries_.size()); }
  bool Empty() const { return count_ == 0; }
  const TGIFColor* Data() const { return entries_.data(); }
  // Entries sorted by frequency (stored as the sorted bit).
  bool Optimized = false;

  // An index outside the map warns "Invalid color index" and answers entry 0;
  // an empty map raises "Color table is empty".
  TGIFColor Color(int index) const;
  // The entry as a system colour value: red | green << 8 | blue << 16.
  uint32_t SysColor(int index) const;
  static uint32_t ToSysColor(TGIFColor color) {
    return color.Red | static_cast<uint32_t>(color.Green) << 8 | static_cast<uint32_t>(color.Blue) << 16;
  }

  // Raises "Color table overflow" on a full map; answers the new index.
  int Add(TGIFColor color);
  // Raises "Invalid color index" for an index outside the map.
  void Delete(int index);
  void Clear();
  // Smallest b >= 1 with 2^b >= Count (0 for an empty map).
  int BitsPerPixel() const;

  // Replaces the entries with count entries read from the stream.
  void LoadFromStream(TStream& stream, int count);
  void ReportWarning(int severity, const std::string& message) const;

 private:
  void Grow(int count);

  TGIFPicture* image_;
  std::vector<TGIFColor> entries_;
  int count_ = 0;
};

class TGIFGlobalColorMap final : public TGIFColorMap {
 public:
  using TGIFColorMap::TGIFColorMap;
};

class TGIFLocalColorMap final : public TGIFColorMap {
 public:
  using TGIFColorMap::TGIFColorMap;
};

}  // namespace gif
