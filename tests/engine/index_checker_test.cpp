// The secondary-index checker of the test support library: the indexes that
// BDE wrote into the shared fixtures pass it, an index written by hand for a
// Czech table passes it, and every kind of damage to either is reported.

#include "tests/support/index_checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/paradox/table.h"
#include "platform/code_page.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::CheckAllSecondaryIndexes;
using test::CheckSecondaryIndex;
using test::FixturesDir;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "  " + line + "\n";
  return out;
}

bool AnyContains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

uint16_t Get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                               (static_cast<uint8_t>(b[at + 1]) << 8));
}
void Put16(std::string& b, size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
// Block numbers, counts and integers as stored in records: big-endian with
// the sign bit flipped.
std::string Flipped16(uint16_t v) {
  return {static_cast<char>((v >> 8) ^ 0x80), static_cast<char>(v & 0xFF)};
}
std::string Flipped32(uint32_t v) {
  return {static_cast<char>((v >> 24) ^ 0x80), static_cast<char>((v >> 16) & 0xFF),
          static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

// ---- The indexes BDE wrote ----

fs::path ParadoxFixtures() {
  return FixturesDir() / "paradox";
}

bool IsIndexName(const fs::path& p) {
  const std::string ext = Lower(p.extension().string());
  return ext.size() == 4 && ext[1] == 'x' &&
         (ext[2] == 'g' || (std::isxdigit(static_cast<unsigned char>(ext[2])) &&
                            std::isxdigit(static_cast<unsigned char>(ext[3]))));
}

fs::path TableOf(const fs::path& index) {
  for (const auto& entry : fs::directory_iterator(index.parent_path()))
    if (Lower(entry.path().stem().string()) == Lower(index.stem().string()) &&
        Lower(entry.path().extension().string()) == ".db")
      return entry.path();
  return {};
}

TEST(IndexCheckerFixtures, EveryIndexBdeWroteIsClean) {
  DALIMOR_REQUIRE_FIXTURES();
  std::vector<std::string> checked;
  for (const auto& entry : fs::recursive_directory_iterator(ParadoxFixtures())) {
    if (!entry.is_regular_file() || !IsIndexName(entry.path())) continue;
    const fs::path db = TableOf(entry.path());
    ASSERT_FALSE(db.empty()) << entry.path() << " has no table beside it";
    const auto problems = CheckSecondaryIndex(db.string(), entry.path().string());
    EXPECT_TRUE(problems.empty()) << entry.path() << ":\n" << Lines(problems);
    checked.push_back(fs::relative(entry.path(), ParadoxFixtures()).generic_string());
  }
  // The ones this suite relies on: two with records, the rest empty, one
  // of an unkeyed table that is not maintained.
  for (const char* expected :
       {"leonhad-paradoxdriver/db/CUSTOMER.X06", "teverett-paradoxreader/CUSTOMER.X06",
        "leonhad-paradoxdriver/joins/C.X02", "leonhad-paradoxdriver/joins/C.X03",
        "leonhad-paradoxdriver/joins/fk1.x02", "leonhad-paradoxdriver/joins/fk3.x03",
        "leonhad-paradoxdriver/joins/multiple.X04", "leonhad-paradoxdriver/joins/case.x01"})
    EXPECT_NE(std::find(checked.begin(), checked.end(), expected), checked.end()) << expected;
}

TEST(IndexCheckerFixtures, AllIndexesOfATableAreFoundAndClean) {
  DALIMOR_REQUIRE_FIXTURES();
  const fs::path joins = ParadoxFixtures() / "leonhad-paradoxdriver" / "joins";
  for (const char* table : {"C.DB", "multiple.db", "fk2.db", "case.db"}) {
    SCOPED_TRACE(table);
    EXPECT_TRUE(CheckAllSecondaryIndexes((joins / table).string()).empty());
  }
  // An index that is damaged is reported under its own name.
  TempDir dir;
  for (const char* name : {"C.DB", "C.PX", "C.X02", "C.Y02", "C.X03", "C.Y03"})
    fs::copy_file(joins / name, dir.path() / name);
  fs::permissions(dir.path() / "C.X03", fs::perms::owner_write, fs::perm_options::add);
  std::string x03 = ReadFileBytes(dir.path() / "C.X03");
  x03[0x2E] = static_cast<char>(x03[0x2E] + 1);
  WriteFileBytes(dir.path() / "C.X03", x03);
  const auto problems = CheckAllSecondaryIndexes(dir.File("C.DB"));
  ASSERT_FALSE(problems.empty());
  for (const std::string& line : problems) EXPECT_EQ(line.rfind("C.X03: ", 0), 0u) << line;
}

// ---- Damage to a BDE-written index ----

// CUSTOMER: 20 rows in 4 blocks of 5, indexed on City (field 6) in one .X
// block of 20 records: City (15 bytes), CustNo (4), Blk Num (2).
struct CustomerFiles {
  std::string db, px, x, y;
};

constexpr size_t kCustomerXRecord = 21;
constexpr size_t kCustomerYEntry = 25;

size_t FirstRecordAt(const std::string& file) {
  return Get16(file, 0x02) + 6;
}

void RemoveRecord(std::string& file, size_t record_size, size_t index) {
  const size_t block = Get16(file, 0x02);
  const size_t at = block + 6 + index * record_size;
  const size_t count =
      static_cast<size_t>(static_cast<int16_t>(Get16(file, block + 4))) / record_size + 1;
  const size_t end = block + 6 + count * record_size;
  file.erase(at, record_size);
  file.insert(end - record_size, std::string(record_size, '\0'));
  Put16(file, block + 4, (count - 2) * record_size);
  Put32(file, 0x06, static_cast<uint32_t>(count - 1));
}

struct Damage {
  const char* what;
  std::function<void(CustomerFiles&)> apply;
  const char* reported;  // a part of the problem line that must appear
};

TEST(IndexCheckerDamage, EachDamageOfABdeIndexIsReported) {
  DALIMOR_REQUIRE_FIXTURES();
  const fs::path source = ParadoxFixtures() / "leonhad-paradoxdriver" / "db";
  const CustomerFiles original{
      ReadFileBytes(source / "CUSTOMER.DB"), ReadFileBytes(source / "CUSTOMER.PX"),
      ReadFileBytes(source / "CUSTOMER.X06"), ReadFileBytes(source / "CUSTOMER.Y06")};
  const size_t x0 = FirstRecordAt(original.x);
  const size_t y0 = FirstRecordAt(original.y);
  auto x_record = [&](size_t i) { return x0 + i * kCustomerXRecord; };

  const std::vector<Damage> cases = {
      {"a Blk Num changed", [&](CustomerFiles& f) { f.x[x_record(3) + 20] = 3; }, "Blk Num 3"},
      {"two records swapped",
       [&](CustomerFiles& f) {
         std::swap_ranges(f.x.begin() + static_cast<long>(x_record(4)),
                          f.x.begin() + static_cast<long>(x_record(5)),
                          f.x.begin() + static_cast<long>(x_record(9)));
       },
       "not in order"},
      {"a record removed, counts adjusted",
       [&](CustomerFiles& f) {
         RemoveRecord(f.x, kCustomerXRecord, 6);
         f.y[y0 + 22] = 19;  // the level-1 entry's count
       },
       "no record for the row in block 3"},
      {"a record removed, counts left",
       [&](CustomerFiles& f) { RemoveRecord(f.x, kCustomerXRecord, 6); },
       "counts 20 records, block 1 holds 19"},
      {"a record's stored City upper-cased",
       [&](CustomerFiles& f) { f.x.replace(x_record(19), 6, "SOQUEL"); }, "matches no row"},
      {"the .Y entry's count changed", [&](CustomerFiles& f) { f.y[y0 + 22] = 21; },
       "counts 21 records"},
      {"the .Y entry's key changed", [&](CustomerFiles& f) { f.y[y0 + 18] = 13; },
       "its block starts with"},
      {"the .Y entry's block changed", [&](CustomerFiles& f) { f.y[y0 + 20] = 2; },
       "points at block 2"},
      {"X 0x2E changed", [&](CustomerFiles& f) { ++f.x[0x2E]; }, "at 0x2E"},
      {"X 0x2F changed", [&](CustomerFiles& f) { ++f.x[0x2F]; }, "at 0x2F"},
      {"X 0x49 changed", [&](CustomerFiles& f) { ++f.x[0x49]; }, "at 0x49"},
      {"X 0x15 changed", [&](CustomerFiles& f) { f.x[0x15] = 5; }, "at 0x15"},
      {"X 0x64 changed", [&](CustomerFiles& f) { f.x[0x64] = 11; }, "at 0x64"},
      {"X record count changed", [&](CustomerFiles& f) { f.x[0x06] = 21; },
       "21 records in the header"},
      {"X block points at itself", [&](CustomerFiles& f) { Put16(f.x, Get16(f.x, 2), 1); },
       "twice"},
      {"X sort order differs", [&](CustomerFiles& f) { f.x[0x29] = 0; }, "sort-order id"},
      {"X field renamed",
       [&](CustomerFiles& f) { f.x.replace(f.x.find(std::string("City\0", 5)), 4, "Town"); },
       "named 'Town'"},
      {"X flagged for a rebuild", [&](CustomerFiles& f) { f.x[0x2A] = 1; },
       "modified flag 1 at 0x2A"},
      {"X file type not an index", [&](CustomerFiles& f) { f.x[0x04] = 0; }, "file type 0"},
      {"a row changed in the .DB",
       [&](CustomerFiles& f) {
         // CustNo 1 (first row of block 1) moves from Santa Cruz to Santa Rosa.
         const size_t city = Get16(f.db, 0x02) + 6 + 4 + 51 + 50 + 100 + 30;
         ASSERT_EQ(f.db.substr(city, 10), "Santa Cruz");
         f.db.replace(city, 10, "Santa Rosa");
       },
       "no record for the row in block 1"},
      {"the .DB's row count changed", [&](CustomerFiles& f) { f.db[0x06] = 19; },
       "19 records in the header"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    CustomerFiles files = original;
    c.apply(files);
    TempDir dir;
    WriteFileBytes(dir.path() / "CUSTOMER.DB", files.db);
    WriteFileBytes(dir.path() / "CUSTOMER.PX", files.px);
    WriteFileBytes(dir.path() / "CUSTOMER.X06", files.x);
    WriteFileBytes(dir.path() / "CUSTOMER.Y06", files.y);
    const auto problems = CheckSecondaryIndex(dir.File("CUSTOMER.DB"), dir.File("CUSTOMER.X06"));
    EXPECT_TRUE(AnyContains(problems, c.reported))
        << "expected a problem with \"" << c.reported << "\", got:\n"
        << Lines(problems);
  }
}

TEST(IndexCheckerDamage, MissingTreeFileIsReported) {
  DALIMOR_REQUIRE_FIXTURES();
  const fs::path source = ParadoxFixtures() / "leonhad-paradoxdriver" / "db";
  TempDir dir;
  for (const char* name : {"CUSTOMER.DB", "CUSTOMER.PX", "CUSTOMER.X06"})
    WriteFileBytes(dir.path() / name, ReadFileBytes(source / name));
  const auto problems = CheckSecondaryIndex(dir.File("CUSTOMER.DB"), dir.File("CUSTOMER.X06"));
  EXPECT_TRUE(AnyContains(problems, ".Y06 file is missing")) << Lines(problems);
}

// ---- An index written by hand for a Czech table ----

// Rows in the order of a case-insensitive index on Jmeno under `anczechw`:
// NULL first; accents are secondary (Ábel < adam, ďábel < David), but č, ř,
// š, ž are letters of their own after c, r, s, z and "ch" one after h; values
// equal but for case are ordered by the key, Cislo.
struct CzechRow {
  const char* jmeno;  // UTF-8
  int cislo;
};
const std::vector<CzechRow> kCzechOrder = {
    {"", 14},       {"", 23},      {"Ábel", 8},  {"adam", 2},    {"Adámek", 19}, {"Bača", 5},
    {"bacha", 11},  {"Cyril", 17}, {"ČÁP", 3},   {"čáp", 21},    {"ďábel", 6},   {"David", 12},
    {"Eva", 24},    {"HRAD", 4},   {"hrad", 15}, {"chalupa", 9}, {"Chata", 1},   {"Iva", 20},
    {"Rudolf", 13}, {"řeka", 7},   {"Sára", 22}, {"Šimon", 10},  {"Zuzana", 18}, {"žába", 16},
};

constexpr size_t kHeaderSize = 0x800;
constexpr size_t kIndexBlock = 1024;
constexpr size_t kJmenoSize = 20;
constexpr size_t kXRecord = kJmenoSize + 4 + 2;
constexpr size_t kYEntry = kJmenoSize + 4 + 6;
constexpr size_t kXPerBlock = 3;  // partly filled blocks, as splits leave them
constexpr size_t kYPerBlock = 3;

// One block of a hand-written file: where it is, its neighbours in the
// chain, and its records.
struct HandBlock {
  uint16_t number = 0;
  uint16_t next = 0;
  uint16_t prev = 0;
  std::vector<std::string> records;
};

std::string WithBlocks(std::string header, size_t record_size,
                       const std::vector<HandBlock>& blocks) {
  size_t total = 0;
  for (const HandBlock& b : blocks) total = std::max<size_t>(total, b.number);
  header.resize(kHeaderSize + total * kIndexBlock, '\0');
  for (const HandBlock& b : blocks) {
    const size_t at = kHeaderSize + (b.number - 1u) * kIndexBlock;
    Put16(header, at, b.next);
    Put16(header, at + 2, b.prev);
    Put16(header, at + 4,
          static_cast<uint16_t>((static_cast<int>(b.records.size()) - 1) *
                                static_cast<int>(record_size)));
    for (size_t i = 0; i < b.records.size(); ++i)
      header.replace(at + 6 + i * record_size, record_size, b.records[i]);
  }
  return header;
}

// Chains the blocks in the given order.
std::vector<HandBlock> Chain(const std::vector<uint16_t>& order,
                             const std::vector<std::vector<std::string>>& records) {
  std::vector<HandBlock> blocks;
  for (size_t i = 0; i < order.size(); ++i)
    blocks.push_back({order[i], i + 1 < order.size() ? order[i + 1] : uint16_t{0},
                      i > 0 ? order[i - 1] : uint16_t{0}, records[i]});
  return blocks;
}

// The table CZ.DB (Cislo I key, Jmeno A20, Poznamka A100) made by the
// engine, and CZ.X02 / CZ.Y02 written here from the format rules.
class IndexCheckerCzech : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateOptions options;  // anczechw, code page 1250
    options.block_size = 1024;
    {
      const auto table = ParadoxTable::Create(dir_.File("CZ.DB"),
                                              {{"Cislo", FieldType::kLong, 0},
                                               {"Jmeno", FieldType::kAlpha, kJmenoSize},
                                               {"Poznamka", FieldType::kAlpha, 100}},
                                              1, options);
      std::vector<CzechRow> by_key = kCzechOrder;
      std::sort(by_key.begin(), by_key.end(),
                [](const CzechRow& a, const CzechRow& b) { return a.cislo < b.cislo; });
      for (const CzechRow& row : by_key)
        table->Insert({int64_t{row.cislo}, std::string(row.jmeno),
                       "poznámka k řádku " + std::to_string(row.cislo)});
      table->ForEachPosition([&](RecordPosition p) {
        block_of_[static_cast<int>(std::get<int64_t>(table->ReadKnownField(p, 0)))] = p.block;
        return true;
      });
      table->Close();
    }
    std::set<uint16_t> blocks;
    for (const auto& [cislo, block] : block_of_) blocks.insert(block);
    ASSERT_GE(blocks.size(), 3u) << "the rows should span several data blocks";
    db_ = ReadFileBytes(dir_.path() / "CZ.DB");
    px_ = ReadFileBytes(dir_.path() / "CZ.PX");
    ASSERT_EQ(db_.substr(Get16(db_, 0x6E) + 0x58u, 8), "anczechw");
    ResetRecords();
  }

  void ResetRecords() {
    x_records_.clear();
    for (const CzechRow& row : kCzechOrder) x_records_.push_back(XRecord(row.jmeno, row.cislo));
  }

  std::string XRecord(const std::string& jmeno, int cislo) const {
    std::string r = FromUtf8(jmeno, CodePage::k1250);
    r.resize(kJmenoSize, '\0');
    return r + Flipped32(static_cast<uint32_t>(cislo)) + Flipped16(block_of_.at(cislo));
  }

  // The .X: the records in blocks of three, chained 1, 3, 2, 4, 5 ... (the
  // physical order of blocks is free); the .Y: root block 1 over level-1
  // blocks 2, 3 ... of three entries each.
  void WriteIndex(bool case_insensitive = true) {
    std::vector<std::vector<std::string>> x_blocks;
    for (size_t i = 0; i < x_records_.size(); i += kXPerBlock)
      x_blocks.emplace_back(
          x_records_.begin() + static_cast<long>(i),
          x_records_.begin() + static_cast<long>(std::min(i + kXPerBlock, x_records_.size())));
    std::vector<uint16_t> x_order;
    for (size_t i = 0; i < x_blocks.size(); ++i) x_order.push_back(static_cast<uint16_t>(i + 1));
    std::swap(x_order[1], x_order[2]);
    const auto x_chain = Chain(x_order, x_blocks);

    std::vector<std::string> leaves;
    for (const HandBlock& b : x_chain)
      leaves.push_back(b.records.front().substr(0, kXRecord - 2) + Flipped16(b.number) +
                       Flipped16(static_cast<uint16_t>(b.records.size())) + Flipped16(0));
    std::vector<std::vector<std::string>> y_blocks(1);
    std::vector<uint16_t> y_order{1};
    for (size_t i = 0; i < leaves.size(); i += kYPerBlock) {
      const uint16_t number = static_cast<uint16_t>(y_order.size() + 1);
      y_order.push_back(number);
      y_blocks.emplace_back(
          leaves.begin() + static_cast<long>(i),
          leaves.begin() + static_cast<long>(std::min(i + kYPerBlock, leaves.size())));
      uint16_t below = 0;
      for (size_t j = i; j < std::min(i + kYPerBlock, leaves.size()); ++j)
        below = static_cast<uint16_t>(below + x_chain[j].records.size());
      y_blocks[0].push_back(leaves[i].substr(0, kXRecord - 2) + Flipped16(number) +
                            Flipped16(below) + Flipped16(0));
    }
    const auto y_chain = Chain(y_order, y_blocks);

    x_ = WithBlocks(XHeader(x_chain, case_insensitive), kXRecord, x_chain);
    y_ = WithBlocks(YHeader(y_chain), kYEntry, y_chain);
    Save();
  }

  void Save() {
    WriteFileBytes(dir_.path() / "CZ.X02", x_);
    WriteFileBytes(dir_.path() / "CZ.Y02", y_);
    WriteFileBytes(dir_.path() / "CZ.DB", db_);
  }

  std::vector<std::string> Check() const {
    return CheckSecondaryIndex(dir_.File("CZ.DB"), dir_.File("CZ.X02"));
  }

  // A level-7 .X02 header: Jmeno (DB field 2), Cislo, Blk Num.
  std::string XHeader(const std::vector<HandBlock>& chain, bool case_insensitive) const {
    std::string h(kHeaderSize, '\0');
    Put16(h, 0x00, kXRecord);
    Put16(h, 0x02, kHeaderSize);
    h[0x04] = 5;
    h[0x05] = 1;
    Put32(h, 0x06, static_cast<uint32_t>(x_records_.size()));
    Put16(h, 0x0A, chain.size());
    Put16(h, 0x0C, chain.size());
    Put16(h, 0x0E, chain.front().number);
    Put16(h, 0x10, chain.back().number);
    Put16(h, 0x12, 5);
    h[0x15] = 2;
    Put16(h, 0x21, 3);
    Put16(h, 0x23, 2);
    Put32(h, 0x25, 0xFF00FF00);
    h[0x29] = db_[0x29];
    h[0x2C] = '\xFF';
    h[0x2D] = 1;
    h[0x2E] = db_[0x2E];
    h[0x2F] = px_[0x2C];
    h[0x39] = 12;
    Put16(h, 0x3A, chain.size());
    h.replace(0x49, 4, db_.substr(0x49, 4));
    h[0x55] = case_insensitive ? 1 : 0;
    h[0x56] = 0x20;
    Put16(h, 0x58, 0x10C);
    Put16(h, 0x5A, 0x10C);
    Put16(h, 0x64, 4);
    Put16(h, 0x6A, 1250);
    h[0x6C] = 1;
    h[0x6D] = 1;
    size_t at = 0x78;
    for (const auto& [type, size] : {std::pair{1, kJmenoSize}, {4, 4}, {3, 2}}) {
      h[at++] = static_cast<char>(type);
      h[at++] = static_cast<char>(size);
    }
    at += 4 + 3 * 4;
    h.replace(at, 6, "CZ.X02");
    at += 261;
    for (const std::string name : {"Jmeno", "Cislo", "Blk Num"}) {
      h.replace(at, name.size(), name);
      at += name.size() + 1;
    }
    Put16(h, 0x66, at - 0x58);
    for (const unsigned number : {2u, 2u, 3u}) {
      Put16(h, at, number);
      at += 2;
    }
    Put16(h, 0x6E, at - 0x58);
    h.replace(at, 8, "anczechw");
    at += 9;
    Put16(h, 0x51, at);
    return h;
  }

  // A .Y02 header: .PX layout over Jmeno and Cislo, two levels, root 1.
  std::string YHeader(const std::vector<HandBlock>& chain) const {
    std::string h(kHeaderSize, '\0');
    size_t entries = 0;
    for (const HandBlock& b : chain) entries += b.records.size();
    Put16(h, 0x00, kYEntry);
    Put16(h, 0x02, kHeaderSize);
    h[0x04] = 4;
    h[0x05] = 1;
    Put32(h, 0x06, static_cast<uint32_t>(entries));
    Put16(h, 0x0A, chain.size());
    Put16(h, 0x0C, chain.size());
    Put16(h, 0x0E, chain.front().number);
    Put16(h, 0x10, chain.back().number);
    Put16(h, 0x1E, 1);
    h[0x20] = 2;
    Put16(h, 0x21, 2);
    h[0x29] = db_[0x29];
    h[0x39] = 12;
    Put16(h, 0x3A, chain.size());
    h[0x58] = 1;
    h[0x59] = kJmenoSize;
    h[0x5A] = 4;
    h[0x5B] = 4;
    h.replace(0x58 + 4 + 4, 6, "CZ.Y02");
    return h;
  }

  TempDir dir_;
  std::map<int, uint16_t> block_of_;  // Cislo -> data block of the row
  std::string db_, px_, x_, y_;
  std::vector<std::string> x_records_;  // in index order
};

TEST_F(IndexCheckerCzech, HandWrittenCaseInsensitiveIndexIsClean) {
  WriteIndex();
  const auto problems = Check();
  EXPECT_TRUE(problems.empty()) << Lines(problems);
  EXPECT_TRUE(CheckAllSecondaryIndexes(dir_.File("CZ.DB")).empty());
}

TEST_F(IndexCheckerCzech, EachDamageIsReported) {
  struct Case {
    const char* what;
    std::function<void()> apply;
    const char* reported;
  };
  auto position_of = [](const char* jmeno, int cislo) {
    for (size_t i = 0; i < kCzechOrder.size(); ++i)
      if (std::string(kCzechOrder[i].jmeno) == jmeno && kCzechOrder[i].cislo == cislo) return i;
    return kCzechOrder.size();
  };
  const std::vector<Case> cases = {
      // Case-sensitive, "hrad" comes before "HRAD".
      {"the case-insensitive flag cleared", [&] { WriteIndex(false); },
       "(Jmeno 'hrad', Cislo 15) is not in order"},
      // "ch" is a letter after "h": Chata before Iva, not before Hrad.
      {"Chata before HRAD",
       [&] {
         auto& r = x_records_;
         const auto chata = r.begin() + static_cast<long>(position_of("Chata", 1));
         std::rotate(r.begin() + static_cast<long>(position_of("HRAD", 4)), chata, chata + 1);
         WriteIndex();
       },
       "is not in order"},
      // Č is a letter after C: Cyril before ČÁP.
      {"Cyril after čáp",
       [&] {
         auto& r = x_records_;
         const auto cyril = r.begin() + static_cast<long>(position_of("Cyril", 17));
         std::rotate(cyril, cyril + 1, r.begin() + static_cast<long>(position_of("čáp", 21) + 1));
         WriteIndex();
       },
       "(Jmeno 'Cyril', Cislo 17) is not in order"},
      {"equal names not ordered by the key",
       [&] {
         std::swap(x_records_[position_of("ČÁP", 3)], x_records_[position_of("čáp", 21)]);
         WriteIndex();
       },
       "(Jmeno 'ČÁP', Cislo 3) is not in order"},
      {"a value stored upper-cased",
       [&] {
         x_records_[position_of("adam", 2)] = XRecord("ADAM", 2);
         WriteIndex();
       },
       "(Jmeno 'ADAM', Cislo 2) matches no row"},
      {"a row's block wrong",
       [&] {
         std::string& r = x_records_[position_of("žába", 16)];
         r.replace(kXRecord - 2, 2, Flipped16(static_cast<uint16_t>(block_of_.at(16) + 1)));
         WriteIndex();
       },
       "Blk Num"},
      {"a row missing from the index",
       [&] {
         x_records_.erase(x_records_.begin() + static_cast<long>(position_of("Iva", 20)));
         WriteIndex();
       },
       "no record for the row"},
      {"a root entry's count changed",
       [&] {
         WriteIndex();
         y_[kHeaderSize + 6 + kYEntry + kJmenoSize + 4 + 3] = 7;
         Save();
       },
       "counts 7 records"},
      {"a root entry's key changed",
       [&] {
         WriteIndex();
         y_[kHeaderSize + 6 + kYEntry] = 'X';
         Save();
       },
       "starts with"},
      {"an empty block in the .X chain",
       [&] {
         WriteIndex();
         // Block 4 stays in the chain but loses its records.
         const size_t block = kHeaderSize + 3 * kIndexBlock;  // block 4
         Put16(x_, block + 4, static_cast<uint16_t>(-static_cast<int>(kXRecord)));
         Save();
       },
       "block 4 in the chain holds no records"},
      {"the .Y's root outside its chain",
       [&] {
         WriteIndex();
         Put16(y_, 0x1E, 9);
         Save();
       },
       "root block 9"},
      {"the sort order's name differs",
       [&] {
         WriteIndex();
         x_.replace(Get16(x_, 0x6E) + 0x58, 8, "anczech\0", 8);
         Save();
       },
       "sort order 'anczech'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRecords();
    c.apply();
    const auto problems = Check();
    EXPECT_TRUE(AnyContains(problems, c.reported))
        << "expected a problem with \"" << c.reported << "\", got:\n"
        << Lines(problems);
  }
}

}  // namespace
}  // namespace dalimor
