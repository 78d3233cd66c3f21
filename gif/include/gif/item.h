#pragma once
// Common bases of the picture's object model. Everything that can meet a
// tolerable defect reports it through its owning picture.
#include <string>

namespace gif {

class TGIFPicture;
class TStream;

// Every warning the parser and the decoder give has this severity.
inline constexpr int WarningSeverity = 1;

class TPersistent {
 public:
  virtual ~TPersistent() = default;
};

// Base of header, frame, extension and trailer.
class TGIFItem : public TPersistent {
 public:
  explicit TGIFItem(TGIFPicture& image) : image_(&image) {}
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;

  TGIFPicture& Image() const { return *image_; }
  // 1 for what 87a already had, 2 for what needs 89a.
  virtual int Version() const { return 1; }
  virtual void ReportWarning(int severity, const std::string& message) const;
  virtual void LoadFromStream(TStream& stream) = 0;

 private:
  TGIFPicture* image_;
};

}  // namespace gif
