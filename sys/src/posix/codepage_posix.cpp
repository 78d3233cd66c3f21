// POSIX code pages: the OEM and ANSI code pages are settings (defaults 866
// and 1251), converted with iconv. A single-byte code page is turned into
// lookup tables once per setting; any other goes through iconv per call.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "sys/codepage.h"

namespace sys {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

std::string IconvName(unsigned cp) {
  switch (cp) {
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    default: break;
  }
  if (cp >= 28591 && cp <= 28606) return "ISO-8859-" + std::to_string(cp - 28590);
  return "CP" + std::to_string(cp);
}

// One code page as seen from UTF-16.
struct CodePage {
  unsigned number = 0;
  bool singleByte = false;        // every byte stands for itself
  std::array<char16_t, 256> toWide{};   // singleByte: byte -> UTF-16 (U+FFFD: none)
  std::vector<std::uint16_t> fromWide;  // singleByte: UTF-16 -> byte + 1 (0: none)
  std::string iconvName;
};

std::shared_ptr<const CodePage> MakeCodePage(unsigned cp) {
  auto page = std::make_shared<CodePage>();
  page->number = cp;
  page->iconvName = IconvName(cp);
  iconv_t cd = iconv_open("UTF-16LE", page->iconvName.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Unknown to iconv: treat as Latin-1 so that names still come through.
    page->singleByte = true;
    for (int b = 0; b < 256; ++b) page->toWide[b] = static_cast<char16_t>(b);
  } else {
    page->singleByte = true;
    for (int b = 0; b < 256 && page->singleByte; ++b) {
      char in = static_cast<char>(b);
      unsigned char out[8];
      char* ip = &in;
      char* op = reinterpret_cast<char*>(out);
      size_t il = 1, ol = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      size_t r = iconv(cd, &ip, &il, &op, &ol);
      size_t produced = sizeof out - ol;
      if (r == static_cast<size_t>(-1) && errno == EINVAL) {
        page->singleByte = false;  // a lead byte: multi-byte code page
      } else if (r == static_cast<size_t>(-1) || produced != 2) {
        page->toWide[b] = kReplacement;
      } else {
        page->toWide[b] = static_cast<char16_t>(out[0] | (out[1] << 8));
      }
    }
    iconv_close(cd);
  }
  if (page->singleByte) {
    page->fromWide.assign(65536, 0);
    for (int b = 255; b >= 0; --b)
      if (page->toWide[b] != kReplacement || b == 0) page->fromWide[page->toWide[b]] = static_cast<std::uint16_t>(b + 1);
  }
  return page;
}

struct State {
  std::mutex lock;
  unsigned oemNumber = 866, ansiNumber = 1251;
  std::shared_ptr<const CodePage> oem, ansi;
};

State& GetState() {
  static State state;
  return state;
}

std::shared_ptr<const CodePage> Oem() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.oem) s.oem = MakeCodePage(s.oemNumber);
  return s.oem;
}

std::shared_ptr<const CodePage> Ansi() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.ansi) s.ansi = MakeCodePage(s.ansiNumber);
  return s.ansi;
}

// Multi-byte code pages: iconv on the whole text.
void IconvToWide(const CodePage& page, std::string_view bytes, std::u16string& out) {
  out.clear();
  iconv_t cd = iconv_open("UTF-16LE", page.iconvName.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return;
  std::vector<char> buf(bytes.size() * 4 + 8);
  char* ip = const_cast<char*>(bytes.data());
  size_t il = bytes.size();
  while (il > 0) {
    char* op = buf.data();
    size_t ol = buf.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    size_t produced = (buf.size() - ol) / 2;
    for (size_t i = 0; i < produced; ++i)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buf[2 * i]) |
                                          (static_cast<unsigned char>(buf[2 * i + 1]) << 8)));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back(kReplacement);  // skip one undecodable byte
      ++ip;
      --il;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
}

std::string IconvFromWide(const CodePage& page, std::u16string_view text) {
  std::string out;
  iconv_t cd = iconv_open(page.iconvName.c_str(), "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  for (char16_t c : text) {
    char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    char res[16];
    char* ip = in;
    char* op = res;
    size_t il = 2, ol = sizeof res;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1))
      out.push_back('?');
    else
      out.append(res, sizeof res - ol);
  }
  iconv_close(cd);
  return out;
}

// BMP case tables from the C.UTF-8 locale (built once each).
std::vector<char16_t> CaseTable(bool upper) {
  std::vector<char16_t> t(65536);
  locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  for (unsigned c = 0; c < 65536; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) {
      t[c] = static_cast<char16_t>(c);
      continue;
    }
    wint_t w = static_cast<wint_t>(c);
    wint_t m = loc ? (upper ? towupper_l(w, loc) : towlower_l(w, loc)) : (upper ? towupper(w) : towlower(w));
    t[c] = m < 0x10000 ? static_cast<char16_t>(m) : static_cast<char16_t>(c);
  }
  if (loc) freelocale(loc);
  return t;
}

const std::vector<char16_t>& LowerTable() {
  static const std::vector<char16_t> table = CaseTable(false);
  return table;
}

const std::vector<char16_t>& UpperTable() {
  static const std::vector<char16_t> table = CaseTable(true);
  return table;
}

}  // namespace

void SetOemCodePage(unsigned codePage) {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.oemNumber = codePage ? codePage : 866;
  s.oem.reset();
}

void SetAnsiCodePage(unsigned codePage) {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.ansiNumber = codePage ? codePage : 1251;
  s.ansi.reset();
}

unsigned OemCodePage() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.oemNumber;
}

unsigned AnsiCodePage() {
  State& s = GetState();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.ansiNumber;
}

void OemToAnsiInPlace(char* bytes, std::size_t size) {
  auto oem = Oem();
  auto ansi = Ansi();
  for (std::size_t i = 0; i < size && bytes[i] != 0; ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 && oem->singleByte && oem->toWide[b] == b) continue;
    char16_t w;
    if (oem->singleByte) {
      w = oem->toWide[b];
    } else {
      std::u16string tmp;
      IconvToWide(*oem, std::string_view(bytes + i, 1), tmp);
      w = tmp.size() == 1 ? tmp[0] : kReplacement;
    }
    char a = '?';
    if (ansi->singleByte) {
      std::uint16_t v = ansi->fromWide[w];
      if (v != 0) a = static_cast<char>(v - 1);
    } else {
      std::string s = IconvFromWide(*ansi, std::u16string_view(&w, 1));
      if (s.size() == 1) a = s[0];
    }
    if (a == 0) a = '?';
    bytes[i] = a;
  }
}

void AnsiToWide(std::string_view bytes, std::u16string& out) {
  auto ansi = Ansi();
  if (!ansi->singleByte) {
    IconvToWide(*ansi, bytes, out);
    return;
  }
  out.resize(bytes.size());
  const auto& table = ansi->toWide;
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = table[static_cast<unsigned char>(bytes[i])];
}

std::u16string AnsiToWide(std::string_view bytes) {
  std::u16string out;
  AnsiToWide(bytes, out);
  return out;
}

namespace {

std::string FromWide(const CodePage& page, std::u16string_view text) {
  if (!page.singleByte) return IconvFromWide(page, text);
  std::string out(text.size(), '?');
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint16_t v = page.fromWide[text[i]];
    if (v != 0) out[i] = static_cast<char>(v - 1);
  }
  return out;
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) { return FromWide(*Ansi(), text); }
std::string WideToOem(std::u16string_view text) { return FromWide(*Oem(), text); }

void WideLowerInPlace(std::u16string& text) {
  const auto& table = LowerTable();
  for (char16_t& c : text) c = table[c];
}

std::u16string WideLower(std::u16string_view text) {
  std::u16string out(text);
  WideLowerInPlace(out);
  return out;
}

void WideUpperInPlace(std::u16string& text) {
  const auto& table = UpperTable();
  for (char16_t& c : text) c = table[c];
}

}  // namespace sys
