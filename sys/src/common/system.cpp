#include "sys/system.h"

#include <algorithm>

#include "sys/text.h"

namespace sys {

bool System::IsProcessRunning(std::string_view name, bool wholeEntry) {
  ProcessList list;  // built afresh on every call: nothing is cached
  FillProcessList(&list);
  for (const std::string& entry : list) {
    std::string_view candidate = wholeEntry ? std::string_view(entry) : FileNamePart(entry);
    if (EqualsAsciiNoCase(candidate, name)) return true;
  }
  return false;
}

void System::Delay(std::int32_t ms, const MessagePump& pump) {
  const std::uint32_t start = GetTickCount();
  for (;;) {
    const std::uint32_t now = GetTickCount();
    if (pump.processMessages) pump.processMessages();
    // Signed difference, so a wrap of the tick counter is harmless.
    const std::int32_t elapsed = static_cast<std::int32_t>(now - start);
    if (elapsed >= ms) return;
    if (pump.waitForMessages) pump.waitForMessages(static_cast<std::uint32_t>(ms - elapsed));
  }
}

bool System::WaitUntil(const std::function<bool()>& done, std::int32_t ms, const MessagePump& pump) {
  // Programs give no message when they end: look again this often.
  constexpr std::int32_t kPollMs = 50;
  const std::uint32_t start = GetTickCount();
  for (;;) {
    if (pump.processMessages) pump.processMessages();
    if (done()) return true;
    if (pump.ended && pump.ended()) return false;
    const std::int32_t elapsed = static_cast<std::int32_t>(GetTickCount() - start);
    if (elapsed >= ms) return false;
    if (pump.waitForMessages) pump.waitForMessages(static_cast<std::uint32_t>(std::min(ms - elapsed, kPollMs)));
  }
}

}  // namespace sys
