// Reading the real Paradox tables of the shared fixtures: header facts as
// documented in their SOURCES.md, every record as pxlib reads it, the
// documented values, and the primary indexes against the data chains.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/engine_error.h"
#include "engine/paradox/header.h"
#include "engine/paradox/table.h"
#include "tests/engine/pxlib_reader.h"
#include "tests/engine/value_printer.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::FixturesDir;
using test::Show;

fs::path ParadoxFixtures() { return FixturesDir() / "paradox"; }

std::string Trim(std::string s) {
  const auto b = s.find_first_not_of(' ');
  const auto e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// One row of the "Header facts" table of SOURCES.md.
struct Facts {
  std::string table;
  int version = 0;
  bool keyed = false;
  int key_fields = 0;
  int record_size = 0;
  uint32_t records = 0;
  int block_size = 0;
  int code_page = 0;  // 0 when "-"
  int sort_id = 0;
  std::string sort_name;
  std::string types;  // the field type letters, as a sorted set
  bool encrypted = false;
};

std::vector<Facts> ReadFacts() {
  std::ifstream in(ParadoxFixtures() / "SOURCES.md");
  std::vector<Facts> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream ss(line.substr(1));
    std::string cell;
    while (std::getline(ss, cell, '|')) cells.push_back(Trim(cell));
    if (cells.size() < 11 || cells[0].find('/') == std::string::npos) continue;
    Facts f;
    f.table = cells[0];
    f.version = std::stoi(cells[1].substr(0, 4), nullptr, 16);
    f.keyed = cells[2] == "keyed";
    f.key_fields = std::stoi(cells[3]);
    f.record_size = std::stoi(cells[4]);
    f.records = static_cast<uint32_t>(std::stoul(cells[5]));
    f.block_size = std::stoi(cells[6]);
    f.code_page = cells[7] == "-" ? 0 : std::stoi(cells[7]);
    std::stringstream sort(cells[8]);
    sort >> f.sort_id >> f.sort_name;
    f.types = cells[9];
    std::sort(f.types.begin(), f.types.end());
    f.encrypted = cells.size() > 11 && cells[11].find("encrypted") != std::string::npos;
    out.push_back(f);
  }
  return out;
}

std::string TypeLetters(const std::vector<FieldDef>& fields) {
  std::set<char> letters;
  for (const FieldDef& f : fields) letters.insert(FieldTypeLetter(f.type));
  return std::string(letters.begin(), letters.end());
}

std::vector<fs::path> AllTables() {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(ParadoxFixtures())) {
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (e.is_regular_file() && ext == ".db") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool IsEncrypted(const fs::path& p) {
  const ParadoxHeader h = DecodeParadoxHeader(test::ReadFileBytes(p), p.string());
  return h.encryption != 0;
}

std::unique_ptr<ParadoxTable> OpenFixture(const std::string& relative) {
  return ParadoxTable::Open((ParadoxFixtures() / relative).string(), OpenMode::kReadOnly);
}

double Day(int y, int m, int d) { return DateTimeFromDate(y, m, d); }

TEST(ParadoxFixtures, HeaderFactsMatchTheirDescription) {
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<Facts> facts = ReadFacts();
  ASSERT_GE(facts.size(), 85u);
  for (const Facts& f : facts) {
    SCOPED_TRACE(f.table);
    const fs::path path = ParadoxFixtures() / f.table;
    const ParadoxHeader h = DecodeParadoxHeader(test::ReadFileBytes(path), path.string());
    EXPECT_EQ(h.version, f.version);
    EXPECT_EQ(h.record_size, f.record_size);
    EXPECT_EQ(h.record_count, f.records);
    EXPECT_EQ(h.block_size(), f.block_size);
    EXPECT_EQ(h.sort_order_id, f.sort_id);
    EXPECT_EQ(h.encryption != 0, f.encrypted);
    if (f.encrypted) {
      try {
        ParadoxTable::Open(path.string(), OpenMode::kReadOnly);
        ADD_FAILURE() << "an encrypted table opened";
      } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), EngineErrorKind::kUnsupported) << e.what();
      }
      continue;
    }
    const auto t = ParadoxTable::Open(path.string(), OpenMode::kReadOnly);
    EXPECT_EQ(t->keyed(), f.keyed);
    EXPECT_EQ(t->key_field_count(), f.key_fields);
    EXPECT_EQ(t->record_count(), f.records);
    EXPECT_EQ(t->code_page(), f.code_page);
    EXPECT_EQ(t->sort_order_name(), f.sort_name);
    EXPECT_EQ(TypeLetters(t->fields()), f.types);
  }
}

TEST(ParadoxFixtures, EveryTableReadsAsPxlibReadsIt) {
  DALIMOR_REQUIRE_PXLIB();
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<fs::path> tables = AllTables();
  ASSERT_GE(tables.size(), 85u);
  int compared = 0;
  for (const fs::path& path : tables) {
    SCOPED_TRACE(path.string());
    if (IsEncrypted(path)) continue;
    std::unique_ptr<ParadoxTable> t;
    ASSERT_NO_THROW(t = ParadoxTable::Open(path.string(), OpenMode::kReadOnly));
    if (path.filename() == "MEMBRE.DB") {
      // Its blob file was not published; the records refer to it.
      EXPECT_THROW(t->ReadAll(), EngineError);
      continue;
    }
    test::ExpectSameAsPxlib(*t, path.string());
    ++compared;
  }
  EXPECT_GE(compared, 80);
}

TEST(ParadoxFixtures, KeyedTablesMatchTheirPrimaryIndex) {
  DALIMOR_REQUIRE_FIXTURES();
  int checked = 0;
  for (const fs::path& path : AllTables()) {
    SCOPED_TRACE(path.string());
    if (IsEncrypted(path)) continue;
    const auto t = ParadoxTable::Open(path.string(), OpenMode::kReadOnly);
    if (!t->keyed()) continue;
    fs::path px = path;
    px.replace_extension(path.extension() == ".db" ? ".px" : ".PX");
    if (!fs::exists(px)) continue;
    EXPECT_NO_THROW(t->CheckIndex());
    ++checked;
  }
  EXPECT_GE(checked, 35);
}

TEST(ParadoxFixtures, TwoLevelIndexOfZipcodesIsWalkedFromItsRoot) {
  DALIMOR_REQUIRE_FIXTURES();
  const auto t = OpenFixture("leonhad-paradoxdriver/areas/ZIPCODES.DB");
  EXPECT_EQ(t->record_count(), 43185u);
  EXPECT_NO_THROW(t->CheckIndex());
  // Ordinal access and key search agree on the last record.
  const RecordPosition last = t->PositionAt(t->record_count() - 1);
  EXPECT_EQ(t->Last(), last);
  const Record r = t->Read(last);
  EXPECT_EQ(t->Find({r[0]}), last);
  EXPECT_EQ(t->OrdinalOf(last), t->record_count() - 1);
}

TEST(ParadoxFixtures, BcdValues) {
  DALIMOR_REQUIRE_FIXTURES();
  const auto t = OpenFixture("leonhad-paradoxdriver/fields/bcd.db");
  const std::vector<Record> rows = t->ReadAll();
  ASSERT_EQ(rows.size(), 3u);
  const std::vector<Record> expected = {
      {1.23, 1.0, 0.123}, {-1.23, -1.0, -0.123}, {0.0, Value{}, 0.9999}};
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t f = 0; f < 3; ++f)
      EXPECT_EQ(rows[i][f], expected[i][f]) << "row " << i << " field " << f << ": "
                                            << Show(rows[i][f]);
}

TEST(ParadoxFixtures, TimestampValues) {
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<Record> rows = OpenFixture("leonhad-paradoxdriver/fields/timestamp.db")->ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(IsNull(rows[0][0]));
  const auto* ts = std::get_if<Timestamp>(&rows[1][0]);
  ASSERT_NE(ts, nullptr) << Show(rows[1][0]);
  EXPECT_NEAR(ts->value, Day(2020, 2, 1) + (3600.0 + 1.0) / 86400.0, 1e-9);
}

TEST(ParadoxFixtures, LongValuesWithNull) {
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<Record> rows = OpenFixture("leonhad-paradoxdriver/fields/long.db")->ReadAll();
  const std::vector<Record> expected = {{int64_t{1}, int64_t{1}}, {int64_t{2}, int64_t{2}},
                                        {int64_t{3}, Value{}}};
  EXPECT_EQ(rows, expected);
}

TEST(ParadoxFixtures, MemoInBlobFileAndInLeader) {
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<Record> rows = OpenFixture("leonhad-paradoxdriver/fields/memo.db")->ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], Value{int64_t{1}});
  const auto* long_memo = std::get_if<std::string>(&rows[0][1]);
  ASSERT_NE(long_memo, nullptr);
  EXPECT_EQ(long_memo->size(), 555u);
  EXPECT_EQ(long_memo->substr(0, 11), "01234567890");
  EXPECT_EQ(rows[1][1], Value{std::string("01234567890\n")});
}

TEST(ParadoxFixtures, CurrencyLogicalTimeDate) {
  DALIMOR_REQUIRE_FIXTURES();
  const auto t = OpenFixture("pdxreader/test.db");
  const std::vector<Record> rows = t->ReadAll();
  ASSERT_EQ(rows.size(), 3u);
  struct Row {
    const char* text;
    double money;
    bool flag;
    int64_t ms;
    double date;
  };
  const Row expected[] = {{"Poekie beren", 100, true, 0, Day(1970, 1, 1)},
                          {"Nare Spoken", 200, true, 10 * 3600000, Day(1999, 12, 1)},
                          {"Rare Beesten", 300, false, (23 * 3600 + 59 * 60 + 59) * 1000LL,
                           Day(2222, 12, 1)}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    Record want(5);
    for (size_t f = 0; f < t->fields().size(); ++f) {
      switch (t->fields()[f].type) {
        case FieldType::kAlpha: want[f] = std::string(expected[i].text); break;
        case FieldType::kMoney: want[f] = expected[i].money; break;
        case FieldType::kLogical: want[f] = expected[i].flag; break;
        case FieldType::kTime: want[f] = Time{expected[i].ms}; break;
        case FieldType::kDate: want[f] = Date{expected[i].date}; break;
        default: FAIL() << "unexpected field type";
      }
      // Midnight is stored as time 0, which is indistinguishable from NULL.
      if (t->fields()[f].type == FieldType::kTime && expected[i].ms == 0 && IsNull(rows[i][f]))
        continue;
      EXPECT_EQ(rows[i][f], want[f]) << t->fields()[f].name << ": " << Show(rows[i][f]);
    }
  }
}

TEST(ParadoxFixtures, SiblingsAreFoundWithoutRegardToCase) {
  DALIMOR_REQUIRE_FIXTURES();
  // "fields/memo.db" has "memo.mb"; open it spelled in upper case and
  // without extension.
  test::TempDir dir;
  for (const char* name : {"memo.db", "memo.mb", "memo.px"})
    fs::copy_file(ParadoxFixtures() / "leonhad-paradoxdriver/fields" / name, dir.path() / name);
  const auto t = ParadoxTable::Open(dir.File("MEMO"), OpenMode::kReadOnly);
  EXPECT_EQ(t->record_count(), 2u);
  EXPECT_FALSE(IsNull(t->Read(*t->First())[1]));
}

}  // namespace
}  // namespace dalimor
