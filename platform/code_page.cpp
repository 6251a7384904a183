#include "platform/code_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

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

// Every code page we know, by number; the CodePage enumerators name exactly
// these.
struct KnownCodePage {
  CodePage code_page;
  const uint16_t (&upper)[128];
};

constexpr KnownCodePage kKnown[] = {
    {CodePage::k437, code_page_tables::kCp437},   {CodePage::k737, code_page_tables::kCp737},
    {CodePage::k850, code_page_tables::kCp850},   {CodePage::k852, code_page_tables::kCp852},
    {CodePage::k857, code_page_tables::kCp857},   {CodePage::k860, code_page_tables::kCp860},
    {CodePage::k861, code_page_tables::kCp861},   {CodePage::k862, code_page_tables::kCp862},
    {CodePage::k863, code_page_tables::kCp863},   {CodePage::k865, code_page_tables::kCp865},
    {CodePage::k866, code_page_tables::kCp866},   {CodePage::k869, code_page_tables::kCp869},
    {CodePage::k874, code_page_tables::kCp874},   {CodePage::k1250, code_page_tables::kCp1250},
    {CodePage::k1251, code_page_tables::kCp1251}, {CodePage::k1252, code_page_tables::kCp1252},
    {CodePage::k1253, code_page_tables::kCp1253}, {CodePage::k1254, code_page_tables::kCp1254},
    {CodePage::k1255, code_page_tables::kCp1255}, {CodePage::k1256, code_page_tables::kCp1256},
    {CodePage::k1257, code_page_tables::kCp1257},
};
constexpr size_t kKnownCount = std::size(kKnown);

// The position of a code page number in kKnown, or kKnownCount.
size_t KnownIndex(int number) {
  for (size_t i = 0; i < kKnownCount; ++i)
    if (static_cast<int>(kKnown[i].code_page) == number) return i;
  return kKnownCount;
}

const Table& TableFor(CodePage code_page) {
  // Built once, on first use.
  static const std::vector<Table> tables = [] {
    std::vector<Table> all;
    all.reserve(kKnownCount);
    for (const KnownCodePage& known : kKnown) all.emplace_back(known.upper);
    return all;
  }();
  const size_t i = KnownIndex(static_cast<int>(code_page));
  return tables[i < kKnownCount ? i : KnownIndex(1252)];
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

bool CodePageFromNumber(int number, CodePage& out) {
  const size_t i = KnownIndex(number);
  if (i == kKnownCount) return false;
  out = kKnown[i].code_page;
  return true;
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
