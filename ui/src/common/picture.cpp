#include "ui/picture.h"

#include <map>
#include <mutex>

#include "ui/icon.h"

namespace ui {
namespace {

struct Registry {
  std::mutex lock;
  std::map<std::string, PictureFactory> classes;
  std::map<std::string, PictureFormat> formats;
  Registry() {
    classes["TIcon"] = [](std::span<const std::uint8_t> data) {
      return std::make_unique<IconPicture>(data);
    };
  }
};

Registry& Classes() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterPictureClass(const std::string& className, PictureFactory factory, PictureFormat format) {
  Registry& r = Classes();
  std::lock_guard guard(r.lock);
  r.classes[className] = std::move(factory);
  r.formats[className] = std::move(format);
}

void UnregisterPictureClass(const std::string& className) {
  Registry& r = Classes();
  std::lock_guard guard(r.lock);
  r.classes.erase(className);
  r.formats.erase(className);
}

PictureFormat PictureClassFormat(const std::string& className) {
  Registry& r = Classes();
  std::lock_guard guard(r.lock);
  auto it = r.formats.find(className);
  return it == r.formats.end() ? PictureFormat{} : it->second;
}

bool IsPictureClassRegistered(const std::string& className) {
  Registry& r = Classes();
  std::lock_guard guard(r.lock);
  return r.classes.count(className) != 0;
}

std::unique_ptr<Picture> ReadPictureData(std::span<const std::uint8_t> stored) {
  if (stored.empty()) return nullptr;
  const size_t n = stored[0];
  if (n > stored.size() - 1) throw PictureError("Picture data is truncated");
  std::string className(reinterpret_cast<const char*>(stored.data() + 1), n);
  PictureFactory factory;
  {
    Registry& r = Classes();
    std::lock_guard guard(r.lock);
    auto it = r.classes.find(className);
    if (it == r.classes.end()) return nullptr;
    factory = it->second;
  }
  return factory(stored.subspan(1 + n));
}

}  // namespace ui
