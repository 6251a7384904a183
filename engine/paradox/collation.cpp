#include "engine/paradox/collation.h"

// How the sort orders are built and where each rule comes from is described
// in docs/collation.md.
//
// Every national driver of the Borland engine orders text the same way: each
// byte (or, for the Czech "CH", a pair of bytes) is one collation element with
// a primary weight (the letter) and a secondary weight (accent and case,
// merged into one level, lower case first).  Two values compare by their
// primary weights element by element; the first element whose secondary
// weight differs breaks a tie; a value that is a prefix of the other sorts
// first.  A few letters (German umlauts, sharp s, thorn) stand for two
// elements.  The orders below are written per alphabet, independent of the
// code page, and turned into a 256-entry table per code page on first use.

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <span>
#include <string>

#include "platform/code_page.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

std::string_view TrimNul(std::string_view s) {
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  return s;
}

class ByteCollation final : public Collation {
 public:
  explicit ByteCollation(std::string_view name) : name_(name) {}
  int Compare(std::string_view a, std::string_view b) const override {
    a = TrimNul(a);
    b = TrimNul(b);
    const size_t n = std::min(a.size(), b.size());
    if (const int c = n ? std::memcmp(a.data(), b.data(), n) : 0; c != 0) return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
  void AppendSortKey(std::string_view value, std::string& out) const override {
    out.append(value.substr(0, value.find('\0')));
    out.push_back('\0');
  }
  bool IsByteOrder() const override { return true; }
  std::string_view Name() const override { return name_; }

 private:
  std::string_view name_;
};

// ---------------------------------------------------------------------------
// Sort-order descriptions.

// One primary position of a sort order: a letter, or a run of code-page bytes
// that are no letters of the alphabet and sort by their byte value.
//
// A letter lists its forms from first to last at the tie-break level, the
// forms separated by spaces; "=" joins forms that share one tie-break weight
// (they then differ only through their expansion).  A form of two letters,
// such as "ch", is a digraph: the pair counts as one element.
struct OrderItem {
  const char* letter;  // UTF-8; nullptr for a byte run
  uint8_t run_first;
  uint8_t run_last;
};

constexpr OrderItem L(const char* forms) { return {forms, 0, 0}; }
constexpr OrderItem Run(uint8_t first, uint8_t last) { return {nullptr, first, last}; }

// A letter that stands for two elements: itself, then `second`.
struct Expansion {
  char32_t letter;
  char32_t second;
};

struct SortOrderRules {
  std::span<const OrderItem> items;
  std::span<const Expansion> expansions;
};

// Czech: č ř š ž are letters of their own after c r s z; the accents of the
// other letters (á é í ó ú ů ý ď ť ň ě and the foreign ones) only break ties.
// The "CH" variants add the digraph ch as a letter after h.
#define DALIMOR_CZECH_LETTERS_A_TO_H                                                   \
  L("a A á Á â Â ă Ă ą Ą ä Ä"), L("b B"), L("c C ć Ć ç Ç"), L("č Č"),                \
      L("d D đ Đ ď Ď"), L("e E é É ě Ě ę Ę ë Ë"), L("f F"), L("g G"), L("h H")
#define DALIMOR_CZECH_LETTERS_I_TO_Z                                                   \
  L("i I í Í î Î"), L("j J"), L("k K"), L("l L ł Ł ĺ Ĺ ľ Ľ"), L("m M"),               \
      L("n N ń Ń ň Ň"), L("o O ó Ó ô Ô ö Ö ő Ő"), L("p P"), L("q Q"), L("r R ŕ Ŕ"),  \
      L("ř Ř"), L("s S ś Ś ş Ş ß"), L("š Š"), L("t T ť Ť ţ Ţ"),                        \
      L("u U ú Ú ů Ů ü Ü ű Ű"), L("v V"), L("w W"), L("x X"), L("y Y ý Ý"),           \
      L("z Z ż Ż ź Ź"), L("ž Ž")

constexpr OrderItem kCzechItems[] = {Run(0x00, 0x40), DALIMOR_CZECH_LETTERS_A_TO_H,
                                     DALIMOR_CZECH_LETTERS_I_TO_Z, Run(0x41, 0xFF)};
constexpr OrderItem kCzechChItems[] = {Run(0x00, 0x40), DALIMOR_CZECH_LETTERS_A_TO_H,
                                       L("ch Ch cH CH"), DALIMOR_CZECH_LETTERS_I_TO_Z,
                                       Run(0x41, 0xFF)};
#undef DALIMOR_CZECH_LETTERS_A_TO_H
#undef DALIMOR_CZECH_LETTERS_I_TO_Z
constexpr Expansion kCzechExpansions[] = {{U'ß', U's'}};

// Paradox "intl": all lower-case forms of a letter before the upper-case
// ones; å and Å are letters of their own after z, æ and Æ sort after the
// ASCII punctuation; umlauts, ß and þ expand to two letters.
#define DALIMOR_INTL_LETTERS(a_forms, o_forms)                                           \
  L(a_forms), L("b B"), L("c ç C Ç"), L("d ð D Ð"), L("e ë é è ê E Ë É È Ê"), L("f F"), \
      L("g G"), L("h H"), L("i ï í ì î I Ï Í Ì Î"), L("j J"), L("k K"), L("l L"),       \
      L("m M"), L("n ñ N Ñ"), L(o_forms), L("p P"), L("q Q"), L("r R"), L("s S ß"),      \
      L("t T þ=Þ"), L("u ú ù û U Ú Ù Û ü=Ü"), L("v V"), L("w W"), L("x X"),             \
      L("y ÿ ý Y Ý"), L("z Z")

constexpr OrderItem kIntlItems[] = {
    Run(0x00, 0x40),
    DALIMOR_INTL_LETTERS("a á à â ã A Á À Â Ã ä=Ä", "o ó ò ô õ ø O Ó Ò Ô Õ Ø ö=Ö"),
    L("å"), L("Å"), Run(0x41, 0x7F), L("æ"), L("Æ"), Run(0x80, 0xFF)};
// "ANSI Intl 850": the intl order, but with å æ ª and º among the forms of
// a and o, as on the DOS code page 850 the driver imitates.
constexpr OrderItem kIntl850Items[] = {
    Run(0x00, 0x40),
    DALIMOR_INTL_LETTERS("a ª æ á à â å ã A Æ Á À Â Å Ã ä=Ä",
                         "o º ó ò ô õ ø O Ó Ò Ô Õ Ø ö=Ö"),
    Run(0x41, 0xFF)};
#undef DALIMOR_INTL_LETTERS
constexpr Expansion kIntlExpansions[] = {{U'ä', U'e'}, {U'Ä', U'E'}, {U'ö', U'e'}, {U'Ö', U'E'},
                                         {U'ü', U'e'}, {U'Ü', U'E'}, {U'ß', U's'}, {U'þ', U'h'},
                                         {U'Þ', U'H'}};

// Paradox Cyrillic: the Latin letters, then а..я with ё after е, lower case
// first; the box-drawing characters keep an order of their own among the
// punctuation.
constexpr OrderItem kCyrillicItems[] = {
    Run(0x00, 0x40), L("a A"), L("b B"), L("c C"), L("d D"), L("e E"), L("f F"), L("g G"),
    L("h H"), L("i I"), L("j J"), L("k K"), L("l L"), L("m M"), L("n N"), L("o O"),
    L("p P"), L("q Q"), L("r R"), L("s S"), L("t T"), L("u U"), L("v V"), L("w W"),
    L("x X"), L("y Y"), L("z Z"), L("а А"), L("б Б"), L("в В"), L("г Г"), L("д Д"), L("е Е"), L("ё Ё"),
    L("ж Ж"), L("з З"), L("и И"), L("й Й"), L("к К"), L("л Л"), L("м М"), L("н Н"),
    L("о О"), L("п П"), L("р Р"), L("с С"), L("т Т"), L("у У"), L("ф Ф"), L("х Х"),
    L("ц Ц"), L("ч Ч"), L("ш Ш"), L("щ Щ"), L("ъ Ъ"), L("ы Ы"), L("ь Ь"), L("э Э"),
    L("ю Ю"), L("я Я"), Run(0xB7, 0xDF), Run(0x41, 0x7F), Run(0xB0, 0xB6), Run(0x80, 0xFF)};

constexpr SortOrderRules kCzech{kCzechItems, kCzechExpansions};
constexpr SortOrderRules kCzechCh{kCzechChItems, kCzechExpansions};
constexpr SortOrderRules kIntl{kIntlItems, kIntlExpansions};
constexpr SortOrderRules kIntl850{kIntl850Items, kIntlExpansions};
constexpr SortOrderRules kCyrillic{kCyrillicItems, {}};

// ---------------------------------------------------------------------------
// Weight tables.

enum ByteKind : uint8_t {
  kSimple = 0,
  kExpands = 1,       // the element is followed by the one of `expansion`
  kDigraphStart = 2,  // may pair with the next byte
};

struct ByteWeight {
  uint16_t primary = 0;
  uint8_t secondary = 0;
  uint8_t kind = kSimple;
  uint8_t expansion = 0;  // byte whose weight is the second element
};

struct Digraph {
  uint8_t first;
  uint8_t second;
  uint16_t primary;
  uint8_t secondary;
};

constexpr size_t kMaxDigraphs = 4;

struct WeightTable {
  std::array<ByteWeight, 256> bytes{};
  std::array<Digraph, kMaxDigraphs> digraphs{};
  size_t digraph_count = 0;
};

// Next code point of UTF-8 text (the descriptions above are well-formed).
char32_t NextCodePoint(std::string_view& s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  char32_t cp = byte(0);
  size_t len = 1;
  if (cp >= 0xF0) {
    cp &= 0x07;
    len = 4;
  } else if (cp >= 0xE0) {
    cp &= 0x0F;
    len = 3;
  } else if (cp >= 0xC0) {
    cp &= 0x1F;
    len = 2;
  }
  for (size_t i = 1; i < len && i < s.size(); ++i) cp = (cp << 6) | (byte(i) & 0x3F);
  s.remove_prefix(std::min(len, s.size()));
  return cp;
}

// Byte ↔ code point map of one code page, from the platform's conversion.
class CodePageMap {
 public:
  explicit CodePageMap(CodePage code_page) {
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      const std::string utf8 = ToUtf8(std::string_view(&c, 1), code_page);
      std::string_view rest = utf8;
      decoded_[static_cast<size_t>(b)] = rest.empty() ? 0 : NextCodePoint(rest);
    }
  }
  // The byte of a code point, or -1 when the code page lacks it.
  int Encode(char32_t cp) const {
    for (size_t b = 0; b < 256; ++b)
      if (decoded_[b] == cp) return static_cast<int>(b);
    return -1;
  }

 private:
  std::array<char32_t, 256> decoded_{};
};

WeightTable BuildTable(const SortOrderRules& rules, CodePage code_page) {
  const CodePageMap map(code_page);
  WeightTable table;
  std::array<bool, 256> assigned{};
  uint16_t next_primary = 1;

  // Bytes that are letters of the alphabet never belong to a byte run.
  std::array<bool, 256> letter_bytes{};
  for (const OrderItem& item : rules.items) {
    if (item.letter == nullptr) continue;
    std::string_view forms = item.letter;
    while (!forms.empty()) {
      const char32_t cp = NextCodePoint(forms);
      if (const int b = map.Encode(cp); cp != U' ' && cp != U'=' && b >= 0)
        letter_bytes[static_cast<size_t>(b)] = true;
    }
  }

  for (const OrderItem& item : rules.items) {
    if (item.letter == nullptr) {
      for (int b = item.run_first; b <= item.run_last; ++b) {
        const size_t i = static_cast<size_t>(b);
        if (assigned[i] || letter_bytes[i]) continue;
        table.bytes[i].primary = next_primary++;
        assigned[i] = true;
      }
      continue;
    }
    const uint16_t primary = next_primary++;
    uint8_t secondary = 1;
    std::string_view forms = item.letter;
    while (!forms.empty()) {
      // One slot: forms joined by '=' up to the next space.
      const size_t end = forms.find(' ');
      std::string_view slot = forms.substr(0, end);
      forms.remove_prefix(end == std::string_view::npos ? forms.size() : end + 1);
      std::array<char32_t, 2> letters{};
      size_t count = 0;
      bool joined = false;
      while (!slot.empty()) {
        const char32_t cp = NextCodePoint(slot);
        if (cp == U'=') {
          joined = true;
          continue;
        }
        if (count < letters.size()) letters[count] = cp;
        ++count;
      }
      if (count == 2 && !joined) {
        const int first = map.Encode(letters[0]);
        const int second = map.Encode(letters[1]);
        if (first >= 0 && second >= 0 && table.digraph_count < kMaxDigraphs) {
          table.digraphs[table.digraph_count++] = {static_cast<uint8_t>(first),
                                                   static_cast<uint8_t>(second), primary,
                                                   secondary};
          table.bytes[static_cast<size_t>(first)].kind |= kDigraphStart;
        }
      } else {
        for (size_t i = 0; i < std::min(count, letters.size()); ++i) {
          const int b = map.Encode(letters[i]);
          if (b < 0 || assigned[static_cast<size_t>(b)]) continue;
          table.bytes[static_cast<size_t>(b)].primary = primary;
          table.bytes[static_cast<size_t>(b)].secondary = secondary;
          assigned[static_cast<size_t>(b)] = true;
        }
      }
      ++secondary;
    }
  }
  // Bytes no run covers sort last, by value.
  for (size_t b = 0; b < 256; ++b)
    if (!assigned[b]) table.bytes[b].primary = next_primary++;

  for (const Expansion& e : rules.expansions) {
    const int letter = map.Encode(e.letter);
    const int second = map.Encode(e.second);
    if (letter < 0 || second < 0) continue;
    ByteWeight& w = table.bytes[static_cast<size_t>(letter)];
    w.kind |= kExpands;
    w.expansion = static_cast<uint8_t>(second);
  }
  return table;
}

struct Element {
  uint16_t primary;
  uint8_t secondary;
};

// Walks the collation elements of one value.
class ElementCursor {
 public:
  ElementCursor(const WeightTable& table, std::string_view s)
      : table_(table),
        p_(reinterpret_cast<const uint8_t*>(s.data())),
        end_(p_ + s.size()) {}

  // The next element; false at the end.  `in_expansion` tells whether the
  // element is the first of an expanding letter.
  bool Next(Element& e, bool& in_expansion) {
    in_expansion = false;
    if (pending_) {
      pending_ = false;
      const ByteWeight& w = table_.bytes[pending_byte_];
      e = {w.primary, w.secondary};
      return true;
    }
    if (p_ == end_) return false;
    const ByteWeight& w = table_.bytes[*p_];
    if (w.kind == kSimple) {
      ++p_;
      e = {w.primary, w.secondary};
      return true;
    }
    if ((w.kind & kDigraphStart) && end_ - p_ > 1) {
      for (size_t i = 0; i < table_.digraph_count; ++i) {
        const Digraph& d = table_.digraphs[i];
        if (d.first == p_[0] && d.second == p_[1]) {
          p_ += 2;
          e = {d.primary, d.secondary};
          return true;
        }
      }
    }
    ++p_;
    e = {w.primary, w.secondary};
    if (w.kind & kExpands) {
      pending_ = true;
      pending_byte_ = w.expansion;
      in_expansion = true;
    }
    return true;
  }

 private:
  const WeightTable& table_;
  const uint8_t* p_;
  const uint8_t* end_;
  bool pending_ = false;
  uint8_t pending_byte_ = 0;
};

class WeightedCollation final : public Collation {
 public:
  WeightedCollation(std::string_view name, const SortOrderRules& rules, CodePage code_page)
      : name_(name), rules_(rules), code_page_(code_page) {}

  int Compare(std::string_view a, std::string_view b) const override {
    const WeightTable& table = Table();
    a = TrimNul(a);
    b = TrimNul(b);
    // Equal leading bytes that are plain one-byte elements cannot decide
    // anything; skip them (keys often share long prefixes).
    size_t same = 0;
    const size_t n = std::min(a.size(), b.size());
    while (same < n && a[same] == b[same] &&
           table.bytes[static_cast<uint8_t>(a[same])].kind == kSimple)
      ++same;
    ElementCursor ca(table, a.substr(same));
    ElementCursor cb(table, b.substr(same));
    int secondary = 0;
    int expansion = 0;
    for (;;) {
      Element ea{}, eb{};
      bool xa = false, xb = false;
      const bool has_a = ca.Next(ea, xa);
      const bool has_b = cb.Next(eb, xb);
      if (!has_a || !has_b) {
        if (has_a) return 1;
        if (has_b) return -1;
        return secondary != 0 ? secondary : expansion;
      }
      if (ea.primary != eb.primary) return ea.primary < eb.primary ? -1 : 1;
      if (ea.secondary != eb.secondary) {
        if (secondary == 0) secondary = ea.secondary < eb.secondary ? -1 : 1;
      } else if (xa != xb && expansion == 0) {
        // Same weights, but only one side is the first half of an expanding
        // letter: the plain spelling sorts first ("ae" before "ä").
        expansion = xa ? 1 : -1;
      }
    }
  }
  // The primary weights (each + 1, two bytes, big-endian) ended by two zero
  // bytes, then the tie-break weight of every element, then whether each
  // element is the first half of an expanding letter: the three levels
  // Compare looks at, in its order.  Values of equal primary weights have
  // as many elements, so the later parts line up.
  void AppendSortKey(std::string_view value, std::string& out) const override {
    const WeightTable& table = Table();
    value = value.substr(0, value.find('\0'));
    Element e{};
    bool expansion = false;
    // Three walks over the elements, one per level, so that nothing but
    // `out` is allocated.
    for (ElementCursor c(table, value); c.Next(e, expansion);) {
      const unsigned weight = e.primary + 1u;
      out.push_back(static_cast<char>(weight >> 8));
      out.push_back(static_cast<char>(weight & 0xFF));
    }
    out.append(2, '\0');
    for (ElementCursor c(table, value); c.Next(e, expansion);) out.push_back(static_cast<char>(e.secondary));
    for (ElementCursor c(table, value); c.Next(e, expansion);) out.push_back(expansion ? '\1' : '\0');
  }
  bool IsByteOrder() const override { return false; }
  std::string_view Name() const override { return name_; }

 private:
  // Built on first use; afterwards read-only and shared by all threads.
  const WeightTable& Table() const {
    std::call_once(once_, [this] { table_ = BuildTable(rules_, code_page_); });
    return table_;
  }

  std::string_view name_;
  const SortOrderRules& rules_;
  CodePage code_page_;
  mutable std::once_flag once_;
  mutable WeightTable table_;
};

struct Driver {
  std::string_view name;
  uint8_t sort_order_id;
  const Collation& collation;
};

std::span<const Driver> Drivers() {
  static const ByteCollation dbwinus0("DBWINUS0");
  static const WeightedCollation anczechw("anczechw", kCzechCh, CodePage::k1250);
  static const WeightedCollation anczech("anczech", kCzech, CodePage::k1250);
  static const WeightedCollation anil2czw("anil2czw", kCzechCh, CodePage::k1250);
  static const WeightedCollation czechw("czechw", kCzechCh, CodePage::k852);
  static const WeightedCollation czech("czech", kCzech, CodePage::k852);
  static const WeightedCollation ansiintl("ANSIINTL", kIntl, CodePage::k1252);
  static const WeightedCollation dbwinwe0("DBWINWE0", kIntl, CodePage::k1252);
  static const WeightedCollation ansii850("ANSII850", kIntl850, CodePage::k1252);
  static const WeightedCollation intl("intl", kIntl, CodePage::k437);
  static const WeightedCollation intl850("intl850", kIntl, CodePage::k850);
  static const WeightedCollation cyrr("cyrr", kCyrillic, CodePage::k866);
  static const Driver drivers[] = {
      {"ascii", 0, Collation::Bytes()}, {"DBWINUS0", 76, dbwinus0},
      {"anczechw", 83, anczechw},       {"anczech", 220, anczech},
      {"anil2czw", 42, anil2czw},       {"czechw", 132, czechw},
      {"czech", 13, czech},             {"ANSIINTL", 98, ansiintl},
      {"DBWINWE0", 64, dbwinwe0},       {"ANSII850", 17, ansii850},
      {"intl", 183, intl},              {"intl850", 84, intl850},
      {"cyrr", 192, cyrr},
  };
  return drivers;
}

}  // namespace

const Collation& Collation::Bytes() {
  static const ByteCollation bytes("ascii");
  return bytes;
}

const Collation& Collation::ForDriver(std::string_view sort_order_name, uint8_t sort_order_id) {
  for (const Driver& d : Drivers()) {
    if (sort_order_name.empty() ? d.sort_order_id == sort_order_id
                                : EqualsIgnoringAsciiCase(d.name, sort_order_name))
      return d.collation;
  }
  return Bytes();
}

}  // namespace dalimor
