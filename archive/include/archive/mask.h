#pragma once
// File masks as the entry search applies them.
#include <string_view>

namespace za {

// "*" and "?" over UTF-16 code units. "*" tries the shortest rest first and
// must leave at least one character to the rest of the mask, unless that
// rest is a final "*"; the whole mask "*.*" matches anything.
bool WildcardMatch(std::u16string_view name, std::u16string_view mask, bool ignoreCase);

// The mask rules around WildcardMatch: an empty mask matches nothing, the
// first "*.*" stands for "*", and a mask ending in "." matches only names
// without an extension. Always ignores case.
bool MatchesMask(std::u16string_view name, std::u16string_view mask);

}  // namespace za
