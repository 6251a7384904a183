#include "engine/paradox/collation.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/code_page.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Checks that `ordered` (UTF-8) is strictly ascending under the driver, every
// pair in both directions, after conversion to the driver's code page.
void ExpectStrictlyAscending(const Collation& c, CodePage code_page,
                             const std::vector<std::string>& ordered) {
  std::vector<std::string> raw;
  for (const std::string& s : ordered) raw.push_back(FromUtf8(s, code_page));
  for (size_t i = 0; i < raw.size(); ++i) {
    EXPECT_EQ(c.Compare(raw[i], raw[i]), 0) << c.Name() << ": '" << ordered[i] << "'";
    for (size_t j = i + 1; j < raw.size(); ++j) {
      EXPECT_LT(c.Compare(raw[i], raw[j]), 0)
          << c.Name() << ": '" << ordered[i] << "' < '" << ordered[j] << "'";
      EXPECT_GT(c.Compare(raw[j], raw[i]), 0)
          << c.Name() << ": '" << ordered[j] << "' > '" << ordered[i] << "'";
    }
  }
}

// The Czech order the "CH" drivers share, whatever their code page.
const std::vector<std::string> kCzechOrder = {
    "", " ", "-", "0", "9",
    // Accent and case only break ties, lower case first, then accents.
    "a", "A", "á", "Á", "ab", "abel", "Abel", "ábel", "Ábel", "abelx",
    // č is a letter of its own after every c...
    "cena", "cesta", "czech", "čas", "Čas", "čelo",
    // ...while ď only breaks ties with d.
    "ďábel", "dům",
    // ch is one letter after h, in every spelling of its case.
    "had", "Hrad", "hřbet", "hz", "chata", "Chata", "cHata", "CHATA", "chléb", "idea", "Idea",
    "rýže", "řeka", "sůl", "šála", "tábor", "ťukat", "zebra", "žába", "Žába"};

TEST(Collation, CzechChDriversSortTheCzechWay) {
  ExpectStrictlyAscending(Collation::ForDriver("anczechw", 83), CodePage::k1250, kCzechOrder);
  ExpectStrictlyAscending(Collation::ForDriver("anil2czw", 42), CodePage::k1250, kCzechOrder);
  ExpectStrictlyAscending(Collation::ForDriver("czechw", 132), CodePage::k852, kCzechOrder);
}

TEST(Collation, CzechDriversWithoutChKeepCAndHApart) {
  for (const auto& [name, id, code_page] :
       {std::tuple{"anczech", 220, CodePage::k1250}, std::tuple{"czech", 13, CodePage::k852}}) {
    const Collation& c = Collation::ForDriver(name, static_cast<uint8_t>(id));
    ExpectStrictlyAscending(c, code_page,
                            {"cena", "Chata", "czech", "čas", "had", "Hrad", "hřbet", "idea"});
  }
}

TEST(Collation, CzechPairsAtTheEdges) {
  const Collation& c = Collation::ForDriver("anczechw", 83);
  const auto cmp = [&](const char* a, const char* b) {
    return Sign(c.Compare(FromUtf8(a, CodePage::k1250), FromUtf8(b, CodePage::k1250)));
  };
  EXPECT_EQ(cmp("ac", "ach"), -1);        // a lone c at the end is c, not ch
  EXPECT_EQ(cmp("Bach", "Bacha"), -1);    // shorter prefix first
  EXPECT_EQ(cmp("cha", "cza"), 1);        // ch sorts after every c...
  EXPECT_EQ(cmp("cha", "hza"), 1);        // ...and after every h
  EXPECT_EQ(cmp("Strasse", "Straße"), -1);  // ß counts as ss, then ties after it
  EXPECT_EQ(cmp("Straße", "Strast"), -1);
  EXPECT_EQ(cmp("ABEL", "abél"), 1);      // the first tie-break difference decides
}

TEST(Collation, IntlPutsLowerCaseFormsFirstAndExpandsUmlauts) {
  const std::vector<std::string> order = {
      "a", "á", "à", "A", "ab", "ae", "ä", "Ä", "af", "Mueller", "Müller", "Muller",
      "ss", "ß", "st", "z", "Z", "zz", "å", "Å"};
  ExpectStrictlyAscending(Collation::ForDriver("ANSIINTL", 98), CodePage::k1252, order);
  ExpectStrictlyAscending(Collation::ForDriver("intl", 183), CodePage::k437, order);
  // The 850 flavour keeps å with a.
  ExpectStrictlyAscending(Collation::ForDriver("ANSII850", 17), CodePage::k1252,
                          {"a", "å", "A", "Å", "ab", "z"});
}

TEST(Collation, CyrillicFollowsLatinAndPlacesYoAfterYe) {
  ExpectStrictlyAscending(Collation::ForDriver("cyrr", 192), CodePage::k866,
                          {"z", "Z", "а", "А", "аб", "е", "Е", "ё", "Ё", "ж", "я", "Я"});
}

TEST(Collation, ByteOrderForAsciiDrivers) {
  const Collation& c = Collation::ForDriver("ascii", 0);
  EXPECT_TRUE(c.IsByteOrder());
  EXPECT_EQ(&c, &Collation::Bytes());
  const std::vector<std::string> order = {"", "ABC", "ABCD", "Kkkkkk", "Z", "a", "blank",
                                          std::string("\xE8", 1)};
  for (size_t i = 0; i + 1 < order.size(); ++i)
    EXPECT_LT(c.Compare(order[i], order[i + 1]), 0) << order[i] << " < " << order[i + 1];
  EXPECT_TRUE(Collation::ForDriver("DBWINUS0", 76).IsByteOrder());
}

TEST(Collation, TrailingNulPaddingIsIgnored) {
  using namespace std::string_literals;
  for (const char* name : {"ascii", "anczechw", "ANSIINTL"}) {
    const Collation& c = Collation::ForDriver(name, 0);
    EXPECT_EQ(c.Compare("ab\0\0\0"s, "ab"s), 0) << name;
    EXPECT_LT(c.Compare("ab\0\0"s, "abc\0"s), 0) << name;
    EXPECT_EQ(c.Compare("\0\0"s, ""s), 0) << name;
  }
}

TEST(Collation, DriverLookup) {
  EXPECT_EQ(Collation::ForDriver("ANCZECHW", 0).Name(), "anczechw");  // names ignore case
  EXPECT_EQ(Collation::ForDriver("", 83).Name(), "anczechw");         // old tables: id only
  EXPECT_EQ(Collation::ForDriver("", 192).Name(), "cyrr");
  EXPECT_EQ(Collation::ForDriver("", 0).Name(), "ascii");
  EXPECT_FALSE(Collation::ForDriver("anczechw", 0).IsByteOrder());
  // Unknown drivers, and known ones without a reconstructed order, compare bytes.
  for (const char* name : {"nordan40", "china", "BLROM800", "nosuchdriver"})
    EXPECT_TRUE(Collation::ForDriver(name, 83).IsByteOrder()) << name;
}

// --- Record order of the keyed fixture tables -------------------------------

uint16_t U16(const std::string& f, size_t at) {
  if (at + 2 > f.size()) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(f[at]) | static_cast<uint8_t>(f[at + 1]) << 8);
}

struct KeyedTable {
  std::string sort_order_name;
  uint8_t sort_order_id = 0;
  std::vector<std::pair<uint8_t, size_t>> key_fields;  // type, size
  std::vector<std::string> keys;                       // raw key bytes, chain order
  uint32_t header_records = 0;
};

// Reads the primary keys of a keyed .DB in block-chain order straight from
// the file.  False when the file is no keyed table.
bool ReadKeyedTable(const std::filesystem::path& path, KeyedTable& out) {
  const std::string f = test::ReadFileBytes(path);
  if (f.size() < 0x58 || f[4] != 0) return false;
  const size_t key_count = U16(f, 0x23);
  if (key_count == 0) return false;
  const size_t record_size = U16(f, 0);
  const size_t header_size = U16(f, 2);
  const size_t block_size = static_cast<uint8_t>(f[5]) * size_t{1024};
  const size_t field_count = U16(f, 0x21);
  const uint8_t version = static_cast<uint8_t>(f[0x39]);
  out.sort_order_id = static_cast<uint8_t>(f[0x29]);
  std::memcpy(&out.header_records, f.data() + 6, 4);
  if (version >= 5) {
    const size_t at = 0x58 + U16(f, 0x6E);
    for (size_t i = at; i < f.size() && f[i] != '\0'; ++i) out.sort_order_name.push_back(f[i]);
  }
  const size_t descriptors = version >= 5 ? 0x78 : 0x58;
  size_t key_size = 0;
  for (size_t i = 0; i < key_count && i < field_count; ++i) {
    const auto type = static_cast<uint8_t>(f[descriptors + 2 * i]);
    size_t size = static_cast<uint8_t>(f[descriptors + 2 * i + 1]);
    if (type == 0x17) size = 17;  // BCD: the descriptor holds the decimals
    out.key_fields.emplace_back(type, size);
    key_size += size;
  }
  size_t block = U16(f, 0x0E);
  for (size_t guard = 0; block != 0 && guard <= U16(f, 0x0C); ++guard) {
    const size_t start = header_size + (block - 1) * block_size;
    std::string b = start < f.size() ? f.substr(start, block_size) : std::string();
    b.resize(block_size, '\0');  // a file may stop before its last block ends
    const auto last = static_cast<int16_t>(U16(b, 4));
    const size_t records = last < 0 ? 0 : static_cast<size_t>(last) / record_size + 1;
    for (size_t r = 0; r < records; ++r) out.keys.push_back(b.substr(6 + r * record_size, key_size));
    block = U16(b, 0);
  }
  return true;
}

// Compares two raw keys field by field: alpha fields by the collation, all
// others by their stored (sign-flipped, big-endian) bytes.
int CompareKeys(const Collation& c, const KeyedTable& t, const std::string& a,
                const std::string& b) {
  size_t at = 0;
  for (const auto& [type, size] : t.key_fields) {
    const std::string_view fa(a.data() + at, size), fb(b.data() + at, size);
    const int r = type == 0x01 ? c.Compare(fa, fb) : std::memcmp(fa.data(), fb.data(), size);
    if (r != 0) return r;
    at += size;
  }
  return 0;
}

TEST(Collation, ReproducesTheRecordOrderOfEveryKeyedFixtureTable) {
  DALIMOR_REQUIRE_FIXTURES();
  const auto root = test::FixturesDir() / "paradox";
  int tables = 0, with_alpha_keys = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (!entry.is_regular_file() || ext != ".db") continue;
    KeyedTable t;
    if (!ReadKeyedTable(entry.path(), t)) continue;
    ++tables;
    SCOPED_TRACE(entry.path().string() + " (" + t.sort_order_name + ")");
    EXPECT_EQ(t.keys.size(), t.header_records);
    bool alpha = false;
    for (const auto& field : t.key_fields) alpha = alpha || field.first == 0x01;
    if (alpha && !t.keys.empty()) ++with_alpha_keys;
    const Collation& c = Collation::ForDriver(t.sort_order_name, t.sort_order_id);
    for (size_t i = 0; i + 1 < t.keys.size(); ++i)
      EXPECT_LT(CompareKeys(c, t, t.keys[i], t.keys[i + 1]), 0) << "records " << i << ", " << i + 1;
  }
  EXPECT_GE(tables, 40);
  EXPECT_GE(with_alpha_keys, 20);
}

}  // namespace
}  // namespace dalimor

namespace dalimor {
namespace {

int CompareKeys(const std::string& a, const std::string& b) {
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return Sign(c);
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Sort keys order every pair of values as Compare does, also when the keys
// of two fields are concatenated: random values over letters that take the
// special paths (digraphs, expansions, case, accents, NUL padding).
TEST(Collation, SortKeysOrderAsCompareDoes) {
  const struct {
    const char* name;
    uint8_t id;
    CodePage cp;
    const char* letters;
  } drivers[] = {
      {"anczechw", 83, CodePage::k1250, "cChHdDďĎřŘsSšŠzZžŽ aA1"},
      {"anczech", 220, CodePage::k1250, "cChHčČ eéěE"},
      {"czechw", 132, CodePage::k852, "cChHřŘ oó"},
      {"intl", 183, CodePage::k437, "aAäÄeEsßuüU"},
      {"ANSII850", 17, CodePage::k1252, "aAäÄæÆeEþ"},
      {"cyrr", 192, CodePage::k866, "аАбБвВ"},
      {"ascii", 0, CodePage::k437, "aAbB "},
  };
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (const auto& d : drivers) {
    SCOPED_TRACE(d.name);
    const Collation& c = Collation::ForDriver(d.name, d.id);
    std::u32string letters;
    ASSERT_TRUE(DecodeUtf8(d.letters, letters));
    // Pairs that differ only at the last levels come first.
    std::vector<std::string> values;
    for (const char* v : {"ae", "ä", "AE", "Ä", "ss", "ß", "ue", "ü", "aä", "aae", "ch", "Ch", "CH", "h",
                          "ď", "d", "Ď", "ř", "r"})
      if (IsRepresentable(v, d.cp)) values.push_back(FromUtf8(v, d.cp));
    for (int i = 0; i < 300; ++i) {
      std::u32string text;
      for (uint32_t n = next() % 5; n > 0; --n) text.push_back(letters[next() % letters.size()]);
      std::string utf8;
      for (const char32_t ch : text) {
        std::string enc;
        if (ch < 0x80) enc.push_back(static_cast<char>(ch));
        else if (ch < 0x800) enc = {static_cast<char>(0xC0 | (ch >> 6)), static_cast<char>(0x80 | (ch & 0x3F))};
        else enc = {static_cast<char>(0xE0 | (ch >> 12)), static_cast<char>(0x80 | ((ch >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (ch & 0x3F))};
        utf8 += enc;
      }
      std::string raw = FromUtf8(utf8, d.cp);
      raw.resize(raw.size() + next() % 3, '\0');  // padding is ignored
      values.push_back(raw);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      for (size_t j = i < 19 ? 0 : i % 7; j < values.size(); j += i < 19 ? 1 : 7) {
        std::string ka, kb;
        c.AppendSortKey(values[i], ka);
        c.AppendSortKey(values[j], kb);
        ASSERT_EQ(CompareKeys(ka, kb), Sign(c.Compare(values[i], values[j])))
            << "'" << values[i] << "' against '" << values[j] << "'";
        // Two fields: the first decides unless equal, then the second.
        std::string ca = ka, cb = kb;
        c.AppendSortKey(values[j], ca);
        c.AppendSortKey(values[i], cb);
        const int first = Sign(c.Compare(values[i], values[j]));
        ASSERT_EQ(CompareKeys(ca, cb), first != 0 ? first : Sign(c.Compare(values[j], values[i])));
      }
    }
  }
}

}  // namespace
}  // namespace dalimor
