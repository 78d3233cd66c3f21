#include "huffman.h"

#include <algorithm>
#include <array>

namespace za {

namespace {

constexpr std::size_t kMost = 288;
constexpr unsigned kDeepest = 2 * kMost;  // no tree of kMost leaves is deeper

}  // namespace

void ZAHuffmanLengths(const std::uint32_t* freq, std::size_t count, unsigned limit, std::uint8_t* lengths) {
  std::array<std::uint16_t, kMost> order;
  std::size_t used = 0;
  for (std::size_t s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (freq[s]) order[used++] = static_cast<std::uint16_t>(s);
  }
  if (used < 2) {
    // One or no symbol: two codes of one bit, the second one unused.
    for (std::size_t s = 0; s < count && used < 2; ++s)
      if (!freq[s] && (used == 0 || order[0] != s)) order[used++] = static_cast<std::uint16_t>(s);
    for (std::size_t i = 0; i < used; ++i) lengths[order[i]] = 1;
    return;
  }
  std::sort(order.begin(), order.begin() + used, [&](std::uint16_t a, std::uint16_t b) {
    return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
  });

  // Two queues: the leaves in order of count, and the inner nodes, which
  // are made in order of weight too; each step joins the two lightest.
  std::array<std::uint64_t, 2 * kMost> weight;
  std::array<std::uint16_t, 2 * kMost> parent;
  for (std::size_t i = 0; i < used; ++i) weight[i] = freq[order[i]];
  std::size_t leaf = 0, inner = used, made = used;
  auto lightest = [&]() -> std::size_t {
    if (leaf < used && (inner == made || weight[leaf] <= weight[inner])) return leaf++;
    return inner++;
  };
  while (made < 2 * used - 1) {
    const std::size_t a = lightest();
    const std::size_t b = lightest();
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<std::uint16_t>(made);
    ++made;
  }
  // Depths from the root down: a parent is always made after its children.
  std::array<std::uint16_t, 2 * kMost> depth;
  depth[made - 1] = 0;
  std::array<std::uint32_t, kDeepest + 1> atLength{};
  for (std::size_t n = made - 1; n-- > 0;) {
    depth[n] = static_cast<std::uint16_t>(depth[parent[n]] + 1);
    if (n < used) ++atLength[depth[n]];
  }

  // Too deep: every code below the limit moves up to it, and the code
  // space so overspent is paid back by lengthening the deepest codes that
  // can still grow, one at a time.
  unsigned deepest = 0;
  for (unsigned l = 1; l <= kDeepest; ++l)
    if (atLength[l]) deepest = l;
  if (deepest > limit) {
    for (unsigned l = limit + 1; l <= deepest; ++l) {
      atLength[limit] += atLength[l];
      atLength[l] = 0;
    }
    std::uint64_t space = 0;
    for (unsigned l = 1; l <= limit; ++l) space += static_cast<std::uint64_t>(atLength[l]) << (limit - l);
    while (space > (std::uint64_t{1} << limit)) {
      --atLength[limit];
      for (unsigned l = limit - 1; l > 0; --l)
        if (atLength[l]) {
          --atLength[l];
          atLength[l + 1] += 2;
          break;
        }
      --space;
    }
    deepest = limit;
  }
  // The rarest symbols take the longest codes.
  std::size_t next = 0;
  for (unsigned l = deepest; l > 0; --l)
    for (std::uint32_t k = 0; k < atLength[l]; ++k) lengths[order[next++]] = static_cast<std::uint8_t>(l);
}

void ZAHuffmanCodes(const std::uint8_t* lengths, std::size_t count, std::uint16_t* codes) {
  std::array<std::uint16_t, 17> atLength{}, next{};
  for (std::size_t s = 0; s < count; ++s) ++atLength[lengths[s]];
  atLength[0] = 0;
  std::uint16_t code = 0;
  for (unsigned l = 1; l <= 16; ++l) {
    code = static_cast<std::uint16_t>((code + atLength[l - 1]) << 1);
    next[l] = code;
  }
  for (std::size_t s = 0; s < count; ++s) {
    const unsigned l = lengths[s];
    if (!l) {
      codes[s] = 0;
      continue;
    }
    std::uint16_t c = next[l]++, reversed = 0;
    for (unsigned i = 0; i < l; ++i, c >>= 1) reversed = static_cast<std::uint16_t>((reversed << 1) | (c & 1));
    codes[s] = reversed;
  }
}

}  // namespace za
