// The browser task: Trusted sites zone policies and one zone entry per host
// of the host list, in the current user's registry.
#include <cstdint>
#include <utility>

#include "app/form1.h"
#include "sys/codepage.h"
#include "sys/registry.h"
#include "sys/system.h"
#include "ui/dialogs.h"

namespace app {
namespace {

constexpr char kZoneKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";
constexpr char kDomainsKey[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";

// URL actions of the zone: 0 enables, 3 disables.
constexpr std::pair<const char*, std::int32_t> kZonePolicies[] = {
    {"1001", 0}, {"1004", 0}, {"1200", 0}, {"1201", 0}, {"1208", 0}, {"1209", 0},
    {"120A", 0}, {"120B", 3}, {"1405", 0}, {"2000", 0}, {"2201", 0},
};

constexpr std::int32_t kTrustedSitesZone = 2;
constexpr std::size_t kMaxHostLength = 80;
// Room for a byte-order mark and blanks around a host of the longest kind.
constexpr std::size_t kMaxLineLength = 256;

// A backslash names a sub-domain, a key below the host's ("example.com\www"),
// as the zone map nests them. An empty line would aim the values at the
// Domains key itself, an empty name between backslashes at a key nobody
// named, and a line longer than the limit would put a cut host name into the
// zone: such lines write nothing.
bool UsableHost(const std::string& line, bool longer) {
  return !line.empty() && !longer && line.front() != '\\' && line.back() != '\\' &&
         line.find("\\\\") == std::string::npos;
}

// Editors save the list with a UTF-8 byte-order mark, and people type blanks
// around a name; neither belongs to the host, whose key would then be one
// that no browser looks up.
std::string HostOf(const std::string& line, bool first) {
  std::string_view host = line;
  if (first && host.starts_with("\xEF\xBB\xBF")) host.remove_prefix(3);
  const std::size_t begin = host.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const std::size_t end = host.find_last_not_of(" \t");
  return std::string(host.substr(begin, end - begin + 1));
}

}  // namespace

void TForm1::Write(sys::Registry& registry, const std::string& name, std::int32_t data) {
  registry.WriteInteger(name, data);
  Note("HKCU\\" + registry.CurrentPath() + ": " + name + " = " + std::to_string(data));
}

void TForm1::BrowserTask() {
  {
    sys::Registry registry(system_);
    registry.OpenKey(kZoneKey, true);
    for (const auto& [name, data] : kZonePolicies) Write(registry, name, data);
  }

  const std::string hostList = WorkingFolder() + "url.txt";
  // Held while it is read; a list that is not the one unpacked is not used.
  const std::unique_ptr<sys::HeldFile> held = HoldUnpacked("url.txt");
  int error = 0;
  // Released, and so closed, on every way out, a raised registry error too.
  std::unique_ptr<sys::TextFile> file = system_.OpenTextFile(hostList, error);
  if (!file || error != 0) {
    const std::string text = "Ошибка доступа к файлу " + hostList;
    if (quiet_) return Note(text);
    ui::ShowMessageBox(text, "Error", {ui::DialogIcon::Error, ui::DialogButtons::Ok, true});
    return;
  }
  if (!held) return Note("not read: " + hostList + " is not the file unpacked");
  std::string line;
  bool longer = false;
  for (bool first = true; file->ReadLine(line, kMaxLineLength, longer); first = false) {
    const std::string host = HostOf(line, first);
    if (!UsableHost(host, longer || host.size() > kMaxHostLength)) {
      if (!host.empty()) Note("skipped: " + sys::WideToUtf8(sys::AnsiToWide(host)) + " (not a host name the zone map can hold)");
      continue;
    }
    sys::Registry registry(system_);
    // The list is 8-bit text in the ANSI code page; key names go to the
    // registry in UTF-16, like every other name.
    const bool opened = registry.OpenKey(kDomainsKey + sys::WideToUtf8(sys::AnsiToWide(host)), true);
    Write(registry, "http", kTrustedSitesZone);
    Write(registry, "https", kTrustedSitesZone);
    registry.CloseKey();
    if (opened) Image3->Show();
  }
}

}  // namespace app
