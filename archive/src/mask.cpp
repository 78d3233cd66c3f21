#include "archive/mask.h"

#include <string>
#include <vector>

#include "sys/codepage.h"

namespace za {

// Evaluated bottom-up over (name position, mask position) instead of by
// recursion: a mask with several stars against a long crafted name then
// costs name length x mask length steps, not an exponential search.
bool WildcardMatch(std::u16string_view name, std::u16string_view mask, bool ignoreCase) {
  if (mask == u"*.*" || mask == u"*") return true;
  std::u16string n(name), m(mask);
  if (ignoreCase) {
    sys::WideUpperInPlace(n);
    sys::WideUpperInPlace(m);
  }
  const std::size_t N = n.size(), M = m.size();
  // next[j] = match of (name from j, mask from i+1); cur[j] = from i.
  std::vector<char> next(N + 1), cur(N + 1);
  for (std::size_t j = 0; j <= N; ++j) next[j] = j == N;  // the mask exhausted
  for (std::size_t i = M; i-- > 0;) {
    bool tailStar = i == M - 1 && m[i] == u'*';
    // The rest after a star is matched by a call of its own, and a call whose
    // whole mask is "*.*" matches at once.
    bool restIsStarDotStar = m[i] == u'*' && std::u16string_view(m).substr(i + 1) == u"*.*";
    // OR of next[j .. N-1]: what "*" at i can reach leaving at least one character.
    char reach = 0;
    for (std::size_t j = N + 1; j-- > 0;) {
      char r;
      if (tailStar)
        r = 1;
      else if (j == N)
        r = 0;  // the name exhausted, the mask not
      else if (restIsStarDotStar)
        r = 1;
      else if (m[i] == u'*')
        r = static_cast<char>(reach | next[j]);
      else if (m[i] == u'?' || m[i] == n[j])
        r = next[j + 1];
      else
        r = 0;
      if (j < N) reach = static_cast<char>(reach | next[j]);
      cur[j] = r;
    }
    next.swap(cur);
  }
  return next[0] != 0;
}

bool MatchesMask(std::u16string_view name, std::u16string_view mask) {
  if (mask.empty()) return false;
  std::u16string m(mask);
  std::size_t star = m.find(u"*.*");
  if (star != std::u16string::npos) m.replace(star, 3, u"*");
  bool dotted = mask.back() == u'.';
  if (dotted) m.pop_back();
  std::u16string_view matched = name;
  if (!matched.empty() && matched.back() == u'.') matched.remove_suffix(1);
  if (!WildcardMatch(matched, m, true)) return false;
  if (!dotted) return true;
  std::size_t dot = name.find_last_of(u'.');
  if (dot == std::u16string_view::npos) return true;
  std::u16string_view extension = name.substr(dot);
  if (extension.find_first_of(u"\\:") != std::u16string_view::npos) return true;  // the dot is in a folder
  return extension == u".";
}

}  // namespace za
