// The lower case of every code unit, from the platform's own mapping.
#include <string>

#include "sys/codepage.h"

namespace sys {

const char16_t* WideLowerUnits() {
  static const std::u16string table = [] {
    std::u16string all(0x10000, u' ');
    for (std::size_t c = 0; c < all.size(); ++c)
      if (c < 0xD800 || c > 0xDFFF) all[c] = static_cast<char16_t>(c);
    WideLowerInPlace(all);
    for (std::size_t c = 0xD800; c <= 0xDFFF; ++c) all[c] = static_cast<char16_t>(c);
    return all;
  }();
  return table.data();
}

}  // namespace sys
