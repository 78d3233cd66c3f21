// The stand-in for the resources of the program's own module: a table that
// generated sources fill at start-up.
#include "resources_posix.h"

#include <mutex>
#include <vector>

#include "sys/system.h"
#include "sys/text.h"

namespace sys {
namespace {

struct Resource {
  std::string type, name;
  std::span<const std::uint8_t> data;
};

struct Table {
  std::mutex lock;
  std::vector<Resource> resources;
};

Table& Resources() {
  static Table table;
  return table;
}

}  // namespace

void RegisterModuleResource(const std::string& type, const std::string& name, std::span<const std::uint8_t> data) {
  Table& t = Resources();
  std::lock_guard guard(t.lock);
  for (Resource& r : t.resources) {
    if (EqualsAsciiNoCase(r.type, type) && EqualsAsciiNoCase(r.name, name)) {
      r.data = data;
      return;
    }
  }
  t.resources.push_back({type, name, data});
}

namespace posix {

std::optional<std::span<const std::uint8_t>> FindRegisteredResource(const std::string& type, const std::string& name) {
  Table& t = Resources();
  std::lock_guard guard(t.lock);
  for (const Resource& r : t.resources)
    if (EqualsAsciiNoCase(r.type, type) && EqualsAsciiNoCase(r.name, name)) return r.data;
  return std::nullopt;
}

}  // namespace posix
}  // namespace sys
