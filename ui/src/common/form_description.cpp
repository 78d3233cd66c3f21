#include "ui/form_description.h"

#include <cctype>

namespace ui {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  ObjectDescription Document() {
    ObjectDescription root = Object();
    SkipBlank();
    if (pos_ < text_.size()) Fail("text after the last end");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw DescriptionError("Window description, line " + std::to_string(line_) + ": " + what);
  }

  void SkipBlank() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  static bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
  }

  std::string Word() {
    SkipBlank();
    size_t start = pos_;
    while (pos_ < text_.size() && IsWordChar(text_[pos_])) ++pos_;
    if (start == pos_) Fail("a name was expected");
    return std::string(text_.substr(start, pos_ - start));
  }

  bool PeekWord(std::string_view word) {
    SkipBlank();
    if (text_.substr(pos_, word.size()) != word) return false;
    size_t after = pos_ + word.size();
    return after >= text_.size() || !IsWordChar(text_[after]);
  }

  void Expect(char c) {
    SkipBlank();
    if (pos_ >= text_.size() || text_[pos_] != c) Fail(std::string("'") + c + "' was expected");
    ++pos_;
  }

  ObjectDescription Object() {
    if (!PeekWord("object")) Fail("'object' was expected");
    Word();
    ObjectDescription object;
    object.line = line_;
    object.name = Word();
    Expect(':');
    object.className = Word();
    for (;;) {
      if (PeekWord("end")) {
        Word();
        return object;
      }
      if (PeekWord("object")) {
        object.children.push_back(Object());
        continue;
      }
      if (pos_ >= text_.size()) Fail("'end' is missing");
      std::string property = Word();
      Expect('=');
      object.properties.emplace_back(std::move(property), Value());
    }
  }

  std::string QuotedString() {
    Expect('\'');
    std::string out;
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') Fail("unterminated string");
      char c = text_[pos_++];
      if (c == '\'') {
        if (pos_ < text_.size() && text_[pos_] == '\'') {
          out += '\'';
          ++pos_;
          continue;
        }
        return out;
      }
      out += c;
    }
  }

  PropertyValue Value() {
    SkipBlank();
    if (pos_ >= text_.size()) Fail("a value was expected");
    PropertyValue value;
    char c = text_[pos_];
    if (c == '\'') {
      value.kind = PropertyValue::Kind::String;
      value.text = QuotedString();
      for (;;) {
        SkipBlank();
        if (pos_ < text_.size() && text_[pos_] == '+') {
          ++pos_;
          SkipBlank();
          value.text += QuotedString();
        } else {
          break;
        }
      }
    } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      value.kind = PropertyValue::Kind::Integer;
      bool negative = c == '-';
      if (negative) ++pos_;
      if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) Fail("bad number");
      std::int64_t n = 0;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
        if (n > (INT64_MAX - 9) / 10) Fail("number out of range");
        n = n * 10 + (text_[pos_++] - '0');
      }
      value.integer = negative ? -n : n;
    } else if (c == '[') {
      value.kind = PropertyValue::Kind::Set;
      ++pos_;
      SkipBlank();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return value;
      }
      for (;;) {
        value.items.push_back(Word());
        SkipBlank();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        Expect(']');
        break;
      }
    } else if (c == '{') {
      value.kind = PropertyValue::Kind::Binary;
      ++pos_;
      int pending = -1;
      for (;;) {
        SkipBlank();
        if (pos_ >= text_.size()) Fail("unterminated binary data");
        char h = text_[pos_++];
        if (h == '}') break;
        int digit = std::isdigit(static_cast<unsigned char>(h)) ? h - '0'
                    : (h >= 'A' && h <= 'F')                    ? h - 'A' + 10
                    : (h >= 'a' && h <= 'f')                    ? h - 'a' + 10
                                                                : -1;
        if (digit < 0) Fail("bad hexadecimal digit");
        if (pending < 0) {
          pending = digit;
        } else {
          value.binary.push_back(static_cast<std::uint8_t>(pending * 16 + digit));
          pending = -1;
        }
      }
      if (pending >= 0) Fail("odd number of hexadecimal digits");
    } else {
      value.kind = PropertyValue::Kind::Identifier;
      value.text = Word();
    }
    return value;
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

const PropertyValue* ObjectDescription::Find(std::string_view property) const {
  for (const auto& [name, value] : properties)
    if (name == property) return &value;
  return nullptr;
}

ObjectDescription ParseDescription(std::string_view text) {
  // A byte order mark may lead a UTF-8 file.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return Parser(text).Document();
}

}  // namespace ui
