// Parses a window description and builds a form from it, with the program's
// handler names bound, so that the builder's checks and the picture data of
// images are reached as well as the parser.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/form_description.h"
#include "ui/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ui::FormBindings bindings = [] {
    ui::FormBindings b;
    for (const char* name : {"FormActivate", "FormClose", "Button1Click", "Timer1Timer"}) b.handlers[name] = [] {};
    b.componentClasses["TZipArchiver"] = [](const ui::ObjectDescription& d) {
      return std::make_unique<ui::Component>(d.name);
    };
    return b;
  }();
  try {
    ui::ObjectDescription description =
        ui::ParseDescription(std::string_view(reinterpret_cast<const char*>(data), size));
    ui::BuildForm(description, bindings);
  } catch (const ui::DescriptionError&) {
  } catch (const ui::PictureError&) {
  }
  return 0;
}
