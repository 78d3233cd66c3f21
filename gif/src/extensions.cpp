#include "gif/extensions.h"

#include <algorithm>
#include <cstring>

#include "gif/errors.h"
#include "gif/picture.h"
#include "reader.h"

namespace gif {

using detail::ReadByte;
using detail::ReadExact;

namespace {

constexpr uint8_t kIntroducer = 0x21;

template <class T>
std::unique_ptr<TGIFExtension> Make(TGIFFrame& frame) {
  return std::make_unique<T>(frame);
}

const TGIFExtensionClass* Itself(const TGIFExtensionClass& self, TStream&) { return &self; }

// Sub-blocks up to the zero-size terminator, one line each, each line's text
// taken up to its first NUL.
TGIFTextLines ReadTextLines(TStream& stream) {
  TGIFTextLines lines;
  uint8_t size;
  if (!ReadByte(stream, size)) return lines;
  uint8_t bytes[255];
  while (size != 0) {
    ReadExact(stream, {bytes, size});
    const auto* nul = static_cast<const uint8_t*>(std::memchr(bytes, 0, size));
    lines.emplace_back(reinterpret_cast<const char*>(bytes), nul ? static_cast<size_t>(nul - bytes) : size);
    if (!ReadByte(stream, size)) break;
  }
  return lines;
}

// The application classes look past the label at the block size and the
// identifier. Only the generic class refines itself: the concrete classes
// answer themselves, so identification never walks on through the data.
const TGIFExtensionClass* ResolveApplication(const TGIFExtensionClass& self, TStream& stream) {
  uint8_t size;
  if (!ReadByte(stream, size)) return &self;
  TGIFAppIdentifier identifier{};
  if (size == 10) {
    if (stream.Read(identifier.data(), 10) != 10) return &self;
    return &TGIFUnknownAppExtension::StaticClass();
  }
  if (size == 11 && stream.Read(identifier.data(), 11) == 11) {
    const TGIFExtensionClass* cls = TAppExtensionList::Instance().Find(identifier);
    return cls ? cls : &TGIFUnknownAppExtension::StaticClass();
  }
  return &self;
}

}  // namespace

TGIFExtension::TGIFExtension(TGIFFrame& frame) : TGIFItem(frame.Image()), frame_(&frame) {}

void TGIFExtension::LoadFromStream(TStream& stream) {
  uint8_t head[2];
  ReadExact(stream, head);
  if (head[0] != kIntroducer) throw EGIFError(messages::BadExtensionIntroducer);
  if (head[1] != ExtensionType()) throw EGIFError(messages::ExtensionMismatch);
  LoadBody(stream);
}

// --- graphic control -------------------------------------------------------

const TGIFExtensionClass& TGIFGraphicControlExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFGraphicControlExtension", Make<TGIFGraphicControlExtension>,
                                      Itself};
  return cls;
}

void TGIFGraphicControlExtension::LoadBody(TStream& stream) {
  // Exactly six bytes whatever the block size says; a short body keeps what
  // it has.
  uint8_t body[6] = {Data.BlockSize, Data.PackedFields, 0, 0, Data.TransparentColorIndex, Data.Terminator};
  body[2] = static_cast<uint8_t>(Data.DelayTime);
  body[3] = static_cast<uint8_t>(Data.DelayTime >> 8);
  const size_t got = stream.Read(body, sizeof body);
  Data = {body[0], body[1], detail::GetU16(body + 2), body[4], body[5]};
  if (got < sizeof body)
    ReportWarning(WarningSeverity, messages::PrematureEnd);
  else if (Transparent())
    Frame().Transparent = true;
  if (!Frame().GraphicControlExtension) Frame().GraphicControlExtension = this;
}

// --- plain text and comment ------------------------------------------------

const TGIFExtensionClass& TGIFTextExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFTextExtension", Make<TGIFTextExtension>, Itself};
  return cls;
}

void TGIFTextExtension::LoadBody(TStream& stream) {
  uint8_t body[13];
  ReadExact(stream, body);
  Data = {body[0],        detail::GetU16(body + 1), detail::GetU16(body + 3), detail::GetU16(body + 5),
          detail::GetU16(body + 7), body[9], body[10], body[11], body[12]};
  Text = ReadTextLines(stream);
}

const TGIFExtensionClass& TGIFCommentExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFCommentExtension", Make<TGIFCommentExtension>, Itself};
  return cls;
}

void TGIFCommentExtension::LoadBody(TStream& stream) { Text = ReadTextLines(stream); }

// --- application -----------------------------------------------------------

const TGIFExtensionClass& TGIFApplicationExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFApplicationExtension", Make<TGIFApplicationExtension>,
                                      ResolveApplication};
  return cls;
}

std::string TGIFApplicationExtension::IdentifierText() const {
  return {Identifier.begin(), Identifier.end()};
}

void TGIFApplicationExtension::LoadBody(TStream& stream) {
  uint8_t size;
  ReadExact(stream, {&size, 1});
  Identifier = {};
  if (size == 10) {
    ReadExact(stream, {Identifier.data(), 10});
  } else if (size < 11) {
    throw EGIFError(messages::BadAppBlockSize);
  } else {
    ReadExact(stream, Identifier);
    detail::Skip(stream, size - 11);
  }
  LoadData(stream);
}

void TGIFApplicationExtension::LoadData(TStream&) {
  // Only a block size above 11 leaves this class chosen with its identifier
  // read: its data cannot be told apart from what follows it.
  throw EGIFError(messages::BadAppBlockSize);
}

const TGIFExtensionClass& TGIFLoopExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFLoopExtension", Make<TGIFLoopExtension>, Itself};
  return cls;
}

TGIFLoopExtension::TGIFLoopExtension(TGIFFrame& frame) : TGIFApplicationExtension(frame) {
  std::memcpy(Identifier.data(), "NETSCAPE2.0", Identifier.size());
}

void TGIFLoopExtension::LoadData(TStream& stream) {
  for (;;) {
    uint8_t size, id;
    if (!ReadByte(stream, size) || size == 0 || !ReadByte(stream, id)) return;
    int used = 1;
    uint8_t value[4];
    switch (id & 0x07) {
      case 1:
        if (size < 3) throw EGIFError(messages::BadData);
        ReadExact(stream, {value, 2});
        Loops = detail::GetU16(value);
        used += 2;
        break;
      case 2:
        if (size < 5) throw EGIFError(messages::BadData);
        ReadExact(stream, {value, 4});
        BufferSize = detail::GetU32(value);
        used += 4;
        break;
      default:
        break;
    }
    detail::Skip(stream, size - used);
  }
}

const TGIFExtensionClass& TGIFUnknownAppExtension::StaticClass() {
  static const TGIFExtensionClass cls{"TGIFUnknownAppExtension", Make<TGIFUnknownAppExtension>, Itself};
  return cls;
}

void TGIFUnknownAppExtension::LoadData(TStream& stream) {
  Blocks.clear();
  uint8_t size;
  while (ReadByte(stream, size) && size != 0) {
    TGIFBlock block;
    block.Data.resize(size);
    ReadExact(stream, block.Data);
    Blocks.push_back(std::move(block));
  }
}

// --- registries ------------------------------------------------------------

TExtensionList::TExtensionList() {
  Add(TGIFTextExtension::Label, TGIFTextExtension::StaticClass());
  Add(TGIFGraphicControlExtension::Label, TGIFGraphicControlExtension::StaticClass());
  Add(TGIFCommentExtension::Label, TGIFCommentExtension::StaticClass());
  Add(TGIFApplicationExtension::Label, TGIFApplicationExtension::StaticClass());
}

TExtensionList& TExtensionList::Instance() {
  static TExtensionList list;
  return list;
}

void TExtensionList::Add(uint8_t label, const TGIFExtensionClass& cls) { entries_.emplace_back(label, &cls); }

const TGIFExtensionClass* TExtensionList::Find(uint8_t label) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->first == label) return it->second;
  return nullptr;
}

TAppExtensionList::TAppExtensionList() {
  Add("NETSCAPE2.0", TGIFLoopExtension::StaticClass());
  Add("ANIMEXTS1.0", TGIFLoopExtension::StaticClass());
}

TAppExtensionList& TAppExtensionList::Instance() {
  static TAppExtensionList list;
  return list;
}

void TAppExtensionList::Add(const TGIFAppIdentifier& identifier, const TGIFExtensionClass& cls) {
  entries_.emplace_back(identifier, &cls);
}

void TAppExtensionList::Add(const char (&identifier)[12], const TGIFExtensionClass& cls) {
  TGIFAppIdentifier id;
  std::memcpy(id.data(), identifier, id.size());
  Add(id, cls);
}

const TGIFExtensionClass* TAppExtensionList::Find(const TGIFAppIdentifier& identifier) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->first == identifier) return it->second;
  return nullptr;
}

const TGIFExtensionClass* FindExtensionClass(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t label;
  const TGIFExtensionClass* cls = ReadByte(stream, label) ? TExtensionList::Instance().Find(label) : nullptr;
  while (cls) {
    const TGIFExtensionClass* refined = cls->ResolveSubclass(*cls, stream);
    if (!refined || refined == cls) break;
    cls = refined;
  }
  stream.SetPosition(start);
  return cls;
}

}  // namespace gif
