#include "platform/code_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "platform/code_page_tables.h"

namespace dalimor {
namespace {

// One code page: its upper half and, built once, the reverse map sorted by
// code point for binary search.
class Table {
 public:
  explicit Table(const uint16_t (&upper)[128]) : upper_(upper) {
    for (int i = 0; i < 128; ++i)
      reverse_[static_cast<size_t>(i)] = {upper[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(reverse_.begin(), reverse_.end());
  }

  uint32_t Decode(uint8_t byte) const { return byte < 0x80 ? byte : upper_[byte - 0x80]; }

  // The byte of a code point, or -1 when the code page lacks it.
  int Encode(uint32_t code_point) const {
    if (code_point < 0x80) return static_cast<int>(code_point);
    const auto it = std::lower_bound(reverse_.begin(), reverse_.end(),
                                     std::pair<uint16_t, uint8_t>(
                                         static_cast<uint16_t>(std::min<uint32_t>(code_point, 0xFFFF)), 0));
    if (code_point > 0xFFFF || it == reverse_.end() || it->first != code_point) return -1;
    return it->second;
  }

 private:
  const uint16_t (&upper_)[128];
  std::array<std::pair<uint16_t, uint8_t>, 128> reverse_{};
};

const Table& TableFor(CodePage code_page) {
  using namespace code_page_tables;
  static const Table t437(kCp437), t850(kCp850), t852(kCp852), t866(kCp866), t1250(kCp1250),
      t1251(kCp1251), t1252(kCp1252), t1254(kCp1254);
  switch (code_page) {
    case CodePage::k437: return t437;
    case CodePage::k850: return t850;
    case CodePage::k852: return t852;
    case CodePage::k866: return t866;
    case CodePage::k1250: return t1250;
    case CodePage::k1251: return t1251;
    case CodePage::k1252: return t1252;
    case CodePage::k1254: return t1254;
  }
  return t1252;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `pos`; returns the code point or -1 for a
// malformed sequence, and advances `pos` past what it consumed.
int64_t NextCodePoint(std::string_view s, size_t& pos) {
  const auto lead = static_cast<uint8_t>(s[pos++]);
  if (lead < 0x80) return lead;
  int extra;
  uint32_t cp;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    return -1;
  }
  for (int i = 0; i < extra; ++i) {
    if (pos >= s.size() || (static_cast<uint8_t>(s[pos]) & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (static_cast<uint8_t>(s[pos++]) & 0x3F);
  }
  static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return cp;
}

}  // namespace

bool CodePageFromNumber(int number, CodePage& out) {
  switch (number) {
    case 437: case 850: case 852: case 866: case 1250: case 1251: case 1252: case 1254:
      out = static_cast<CodePage>(number);
      return true;
    default:
      return false;
  }
}

std::string ToUtf8(std::string_view bytes, CodePage code_page) {
  const Table& table = TableFor(code_page);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) AppendUtf8(out, table.Decode(static_cast<uint8_t>(c)));
  return out;
}

std::string FromUtf8(std::string_view utf8, CodePage code_page) {
  const Table& table = TableFor(code_page);
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const int64_t cp = NextCodePoint(utf8, pos);
    const int byte = cp < 0 ? -1 : table.Encode(static_cast<uint32_t>(cp));
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  return out;
}

bool DecodeUtf8(std::string_view bytes, std::u32string& out) {
  out.clear();
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    const int64_t cp = NextCodePoint(bytes, pos);
    if (cp < 0) return false;
    out.push_back(static_cast<char32_t>(cp));
  }
  return true;
}

bool IsRepresentable(std::string_view utf8, CodePage code_page) {
  const Table& table = TableFor(code_page);
  size_t pos = 0;
  while (pos < utf8.size()) {
    const int64_t cp = NextCodePoint(utf8, pos);
    if (cp < 0 || table.Encode(static_cast<uint32_t>(cp)) < 0) return false;
  }
  return true;
}

}  // namespace dalimor
