#include "reader.h"

#include <algorithm>

#include "gif/errors.h"

namespace gif::detail {

void ReadExact(TStream& stream, std::span<uint8_t> buffer) {
  if (buffer.empty()) return;
  const int64_t start = stream.Position();
  if (static_cast<int64_t>(buffer.size()) > Remaining(stream) ||
      stream.Read(buffer.data(), buffer.size()) != buffer.size()) {
    stream.SetPosition(start);
    throw EGIFError(messages::PrematureEnd);
  }
}

bool ReadByte(TStream& stream, uint8_t& value) { return stream.Read(&value, 1) == 1; }

int PeekByte(TStream& stream) {
  uint8_t value;
  if (!ReadByte(stream, value)) return -1;
  StepBack(stream);
  return value;
}

void StepBack(TStream& stream) { stream.SetPosition(stream.Position() - 1); }

void Skip(TStream& stream, int64_t count) {
  stream.SetPosition(stream.Position() + std::clamp<int64_t>(count, 0, Remaining(stream)));
}

int64_t Remaining(const TStream& stream) {
  return std::max<int64_t>(stream.Size() - stream.Position(), 0);
}

}  // namespace gif::detail
