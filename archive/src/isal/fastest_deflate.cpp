// ISA-L's level 1: one hash probe per position and dynamic codes, some ten
// times libdeflate's level 1 on data that does not compress.
#include <isa-l/igzip_lib.h>

#include <memory>

#include "fastest_deflate.h"

namespace za {

namespace {

// Its state and level buffer (the hash table) are made once per thread:
// together they are larger than many of the files they serve.
struct Compressor {
  isal_zstream stream;
  std::uint8_t level[ISAL_DEF_LVL1_DEFAULT];
};

}  // namespace

bool ZAFastestDeflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  if (size > UINT32_MAX) return false;
  thread_local std::unique_ptr<Compressor> c;
  if (!c) c.reset(new Compressor);
  isal_zstream& s = c->stream;
  isal_deflate_init(&s);
  s.level = 1;
  s.level_buf = c->level;
  s.level_buf_size = sizeof c->level;
  s.end_of_stream = 1;
  s.flush = NO_FLUSH;
  s.next_in = const_cast<std::uint8_t*>(data);
  s.avail_in = static_cast<std::uint32_t>(size);
  // Stored blocks are the most it writes; the loop is for a library that
  // would write more.
  out.resize(size + size / 64 + 1024);
  std::size_t made = 0;
  for (;;) {
    s.next_out = out.data() + made;
    s.avail_out = static_cast<std::uint32_t>(out.size() - made);
    if (isal_deflate(&s) != COMP_OK) return false;
    made = out.size() - s.avail_out;
    if (s.internal_state.state == ZSTATE_END) break;
    if (s.avail_out != 0) return false;
    out.resize(out.size() * 2);
  }
  out.resize(made);
  return true;
}

}  // namespace za
