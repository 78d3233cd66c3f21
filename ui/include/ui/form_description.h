#pragma once
// Window descriptions: a readable text of nested objects and their stored
// property values, from which a form and its components are made.
//
//   object Form1: TForm1
//     Caption = 'Ровенд настройка'
//     ClientWidth = 354
//     Font.Style = [fsBold]
//     OnActivate = FormActivate
//     object Image1: TImage
//       Picture.Data = {0554496336F6E...}
//     end
//   end
//
// Values are integers, strings in single quotes ('' for a quote, joined
// with +), identifiers, sets in brackets, and binary data in hexadecimal
// between braces. Strings are UTF-8.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ui/controls.h"

namespace ui {

class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PropertyValue {
  enum class Kind { Integer, String, Identifier, Set, Binary };
  Kind kind = Kind::Integer;
  std::int64_t integer = 0;
  std::string text;                  // String and Identifier
  std::vector<std::string> items;    // Set
  std::vector<std::uint8_t> binary;  // Binary
};

struct ObjectDescription {
  std::string name;
  std::string className;
  std::vector<std::pair<std::string, PropertyValue>> properties;  // in stored order
  std::vector<ObjectDescription> children;
  int line = 0;

  const PropertyValue* Find(std::string_view property) const;
};

// Throws DescriptionError with the line number on malformed text.
ObjectDescription ParseDescription(std::string_view text);

// Makes the form's extra component classes (non-visual components of the
// program) from their description.
using ComponentFactory =
    std::function<std::unique_ptr<Component>(const ObjectDescription& description)>;

struct FormBindings {
  // Handlers by the names the description gives them (OnClick = Button1Click).
  std::map<std::string, std::function<void()>> handlers;
  std::map<std::string, ComponentFactory> componentClasses;
};

// Makes the form and all its components. Unknown classes, properties and
// handlers are errors, so a description cannot silently drift from the code.
std::unique_ptr<Form> BuildForm(const ObjectDescription& description, const FormBindings& bindings);

}  // namespace ui
