#pragma once
// Extension blocks and the process-wide registries that tell which class reads
// a block. A block is identified by its label and, for application blocks, by
// the 11-byte identifier after it; the stream is left where it was.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gif/item.h"

namespace gif {

class TGIFFrame;
class TGIFExtension;

using TGIFAppIdentifier = std::array<uint8_t, 11>;
using TGIFTextLines = std::vector<std::string>;

// What C++ lacks as class references: one descriptor per extension class.
struct TGIFExtensionClass {
  const char* Name;
  std::unique_ptr<TGIFExtension> (*Create)(TGIFFrame& frame);
  // Given the stream just after the label, answers a more specific class, this
  // class itself, or none. May move the stream; the caller puts it back.
  const TGIFExtensionClass* (*ResolveSubclass)(const TGIFExtensionClass& self, TStream& stream);
};

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFFrame& frame);

  TGIFFrame& Frame() const { return *frame_; }
  virtual uint8_t ExtensionType() const = 0;
  virtual const TGIFExtensionClass& Class() const = 0;
  int Version() const override { return 2; }
  // Checks the introducer and the label, then reads the body.
  void LoadFromStream(TStream& stream) final;

 protected:
  virtual void LoadBody(TStream& stream) = 0;

 private:
  TGIFFrame* frame_;
};

// Disposal values of a graphic control extension; 4 to 7 have no meaning.
enum TDisposalMethod : uint8_t {
  dispUnspecified = 0,
  dispKeep = 1,
  dispBackground = 2,
  dispPrevious = 3,
};

struct GraphicControlExtension {
  uint8_t BlockSize = 4;
  uint8_t PackedFields = 0;  // bit 0 transparent, bit 1 user input, bits 2-4 disposal
  uint16_t DelayTime = 0;    // hundredths of a second
  uint8_t TransparentColorIndex = 0;
  uint8_t Terminator = 0;
};

class TGIFGraphicControlExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t Label = 0xF9;
  static const TGIFExtensionClass& StaticClass();
  using TGIFExtension::TGIFExtension;

  uint8_t ExtensionType() const override { return Label; }
  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  bool Transparent() const { return (Data.PackedFields & 0x01) != 0; }
  bool UserInput() const { return (Data.PackedFields & 0x02) != 0; }
  uint8_t Disposal() const { return (Data.PackedFields >> 2) & 0x07; }
  uint16_t Delay() const { return Data.DelayTime; }
  uint8_t TransparentColorIndex() const { return Data.TransparentColorIndex; }

  GraphicControlExtension Data;

 protected:
  void LoadBody(TStream& stream) override;
};

struct PlainTextExtension {
  uint8_t BlockSize = 12;
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t CellWidth = 0, CellHeight = 0;
  uint8_t TextColorIndex = 0, BackgroundColorIndex = 0;
};

class TGIFTextExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t Label = 0x01;
  static const TGIFExtensionClass& StaticClass();
  using TGIFExtension::TGIFExtension;

  uint8_t ExtensionType() const override { return Label; }
  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  PlainTextExtension Data;
  TGIFTextLines Text;

 protected:
  void LoadBody(TStream& stream) override;
};

class TGIFCommentExtension final : public TGIFExtension {
 public:
  static constexpr uint8_t Label = 0xFE;
  static const TGIFExtensionClass& StaticClass();
  using TGIFExtension::TGIFExtension;

  uint8_t ExtensionType() const override { return Label; }
  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  TGIFTextLines Text;

 protected:
  void LoadBody(TStream& stream) override;
};

// The generic application class. It has no reader of its own for the data
// sub-blocks: identification only leaves it chosen for blocks it cannot read.
class TGIFApplicationExtension : public TGIFExtension {
 public:
  static constexpr uint8_t Label = 0xFF;
  static const TGIFExtensionClass& StaticClass();
  using TGIFExtension::TGIFExtension;

  uint8_t ExtensionType() const override { return Label; }
  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  // 8 bytes of application name, 3 bytes of authentication code.
  TGIFAppIdentifier Identifier{};
  // The identifier as text, for display.
  std::string IdentifierText() const;

 protected:
  void LoadBody(TStream& stream) final;
  virtual void LoadData(TStream& stream);
};

// The looping block of animations ("NETSCAPE2.0", "ANIMEXTS1.0").
class TGIFLoopExtension final : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass& StaticClass();
  explicit TGIFLoopExtension(TGIFFrame& frame);

  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  uint16_t Loops = 0;  // 0: forever
  uint32_t BufferSize = 0;

 protected:
  void LoadData(TStream& stream) override;
};

// One raw data sub-block as stored (its size is Data.size()).
struct TGIFBlock {
  std::vector<uint8_t> Data;
};

class TGIFUnknownAppExtension final : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass& StaticClass();
  using TGIFApplicationExtension::TGIFApplicationExtension;

  const TGIFExtensionClass& Class() const override { return StaticClass(); }

  std::vector<TGIFBlock> Blocks;

 protected:
  void LoadData(TStream& stream) override;
};

// Label -> class. Searched from the last registered entry to the first, so a
// later registration overrides an earlier one. Register before loading.
class TExtensionList {
 public:
  static TExtensionList& Instance();
  void Add(uint8_t label, const TGIFExtensionClass& cls);
  const TGIFExtensionClass* Find(uint8_t label) const;

 private:
  TExtensionList();
  std::vector<std::pair<uint8_t, const TGIFExtensionClass*>> entries_;
};

// Application identifier (all 11 bytes) -> class, searched like TExtensionList.
class TAppExtensionList {
 public:
  static TAppExtensionList& Instance();
  void Add(const TGIFAppIdentifier& identifier, const TGIFExtensionClass& cls);
  void Add(const char (&identifier)[12], const TGIFExtensionClass& cls);
  const TGIFExtensionClass* Find(const TGIFAppIdentifier& identifier) const;

 private:
  TAppExtensionList();
  std::vector<std::pair<TGIFAppIdentifier, const TGIFExtensionClass*>> entries_;
};

// Identifies the class of the extension whose label follows; the stream stands
// just after the 0x21 and is put back there. None for an unregistered label.
const TGIFExtensionClass* FindExtensionClass(TStream& stream);

}  // namespace gif
