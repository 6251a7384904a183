#include "transfer/memo_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_config.h"
#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/table_cursor.h"
#include "platform/native_io.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::vector<FieldDef> HeaderFields() {
  return {{"DoklSRada", FieldType::kAlpha, 5},
          {"DoklSCislo", FieldType::kAlpha, 11},
          {"TextNahoruKlic", FieldType::kLong, 0},
          {"TextDoluKlic", FieldType::kLong, 0},
          {"Zmeneno", FieldType::kTimestamp, 0}};
}
std::vector<FieldDef> MemoFields() {
  return {{"Klic", FieldType::kLong, 0},
          {"Poznamka", FieldType::kMemo, 20},
          {"Zmeneno", FieldType::kTimestamp, 0},
          {"UID", FieldType::kLong, 0}};
}

class MemoTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(company / "SDATA" / "S");
    fs::create_directories(company / "LDATA" / "S");
    fs::create_directories(batch);
  }
  void Headers(const fs::path& path, const std::vector<Record>& rows) {
    auto t = ParadoxTable::Create(path.string(), HeaderFields(), 2);
    for (const Record& r : rows) t->Insert(r);
  }
  void Memos(const fs::path& path, const std::vector<std::pair<int64_t, std::string>>& rows,
             int keys = 1) {
    auto t = ParadoxTable::Create(path.string(), MemoFields(), keys);
    for (const auto& [key, text] : rows)
      t->Insert({key, text, std::monostate{}, std::monostate{}});
  }
  void Counter(int64_t next) {
    auto t = ParadoxTable::Create((company / "LDATA" / "S" / "LKlice.DB").string(),
                                  {{"Nazev", FieldType::kAlpha, 20},
                                   {"DalsiHodnota", FieldType::kLong, 0},
                                   {"UID", FieldType::kLong, 0}},
                                  1);
    t->Insert({std::string("lmemo.DB"), next, std::monostate{}});
    t->Insert({std::string("SPFP.DB"), int64_t{500}, std::monostate{}});
  }
  std::vector<Record> Rows(const fs::path& path) {
    return ParadoxTable::Open(path.string(), OpenMode::kReadOnly)->ReadAll();
  }
  static Record Header(const char* number, Value up, Value down, Value changed = {}) {
    return {std::string("FV"), std::string(number), up, down, changed};
  }
  std::string CompanyFolder() const { return company.string() + "/"; }
  std::string BatchFolder() const { return batch.string() + kNativeSeparator; }

  test::TempDir dir;
  fs::path company = dir.path() / "firma";
  fs::path batch = dir.path() / "davka";
  ParadoxSqlCatalog catalog;
  EngineConfig config{dir.File("engine.cfg")};
  FixedClock clock{{2011, 3, 15, 12, 0, 0, 0}};
  TransferContext context{catalog, config, clock, nullptr, nullptr, nullptr};
};

TEST_F(MemoTransfer, ExportGivesFreshKeysInHeaderOrderAndSetsZmeneno) {
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {{7, "horní A"}, {8, "dolní A"}, {9, "sdílený"}});
  Memos(batch / "LMEMO.DB", {{3, "z dřívějška"}});
  const Timestamp done{DateTimeFromDate(2010, 1, 1)};
  Headers(batch / "SVFH.DB",
          {Header("1", int64_t{7}, int64_t{8}), Header("2", int64_t{9}, int64_t{9}),
           Header("3", int64_t{0}, std::monostate{}), Header("4", int64_t{7}, int64_t{7}, done),
           Header("5", int64_t{99}, int64_t{-1})});
  ExportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB");

  const auto headers = Rows(batch / "SVFH.DB");
  // Keys continue after the batch's highest (3): upper before lower, row by row;
  // one text named twice is copied twice.
  EXPECT_EQ(headers[0][2], Value(int64_t{4}));
  EXPECT_EQ(headers[0][3], Value(int64_t{5}));
  EXPECT_EQ(headers[1][2], Value(int64_t{6}));
  EXPECT_EQ(headers[1][3], Value(int64_t{7}));
  EXPECT_EQ(headers[2][2], Value(int64_t{0}));  // no text: only Zmeneno set
  EXPECT_TRUE(IsNull(headers[2][3]));
  EXPECT_EQ(headers[3][2], Value(int64_t{7}));  // processed before: untouched
  EXPECT_EQ(headers[3][4], Value(done));
  EXPECT_EQ(headers[4][2], Value(int64_t{0}));  // a key without its text names nothing
  EXPECT_EQ(headers[4][3], Value(int64_t{-1}));
  for (size_t i : {0u, 1u, 2u, 4u})
    EXPECT_EQ(headers[i][4], Value(Timestamp{DateTimeFromDate(2011, 3, 15) + 0.5})) << i;

  const auto memos = Rows(batch / "LMEMO.DB");
  ASSERT_EQ(memos.size(), 5u);
  EXPECT_EQ(memos[1][1], Value(std::string("horní A")));
  EXPECT_EQ(memos[2][1], Value(std::string("dolní A")));
  EXPECT_EQ(memos[3][1], Value(std::string("sdílený")));
  EXPECT_EQ(memos[4][1], Value(std::string("sdílený")));
  EXPECT_TRUE(IsNull(memos[1][2]));  // only Klic and Poznamka are written
}

// A memo table without a primary key is searched row by row, with the
// same outcome.
TEST_F(MemoTransfer, AnUnkeyedMemoTableGivesTheSameTexts) {
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {{9, "sdílený"}, {7, "horní A"}, {8, "dolní A"}}, 0);
  Memos(batch / "LMEMO.DB", {});
  Headers(batch / "SVFH.DB", {Header("1", int64_t{7}, int64_t{8}), Header("2", int64_t{9}, int64_t{5})});
  ExportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB");
  const auto headers = Rows(batch / "SVFH.DB");
  EXPECT_EQ(headers[0][2], Value(int64_t{1}));
  EXPECT_EQ(headers[0][3], Value(int64_t{2}));
  EXPECT_EQ(headers[1][2], Value(int64_t{3}));
  EXPECT_EQ(headers[1][3], Value(int64_t{0}));
  const auto memos = Rows(batch / "LMEMO.DB");
  ASSERT_EQ(memos.size(), 3u);
  EXPECT_EQ(memos[0][1], Value(std::string("horní A")));
  EXPECT_EQ(memos[1][1], Value(std::string("dolní A")));
  EXPECT_EQ(memos[2][1], Value(std::string("sdílený")));
}

// Keys start above both the highest key in the table and every key the
// counter says Kalmeo has issued (a header may still name a deleted memo
// below the counter); only the rows of this run are re-keyed.
TEST_F(MemoTransfer, ImportKeysStartAboveTheCounterAndOnlyThisRunsRowsAreReKeyed) {
  Memos(batch / "LMEMO.DB", {{1, "ze dávky"}, {2, "druhý"}});
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {{57, "vlastní"}});
  Counter(100);
  // Row 9 was left by Kalmeo with an empty Zmeneno; the run inserted 1 and 2.
  Headers(company / "SDATA" / "S" / "SVFH.DB",
          {Header("1", int64_t{1}, int64_t{2}), Header("2", int64_t{2}, int64_t{0}),
           Header("9", int64_t{57}, int64_t{0})});
  const std::set<std::string> inserted = {"FV\x1f" "1\x1f", "FV\x1f" "2\x1f"};
  ImportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB", &inserted);

  const auto headers = Rows(company / "SDATA" / "S" / "SVFH.DB");
  EXPECT_EQ(headers[0][2], Value(int64_t{100}));
  EXPECT_EQ(headers[0][3], Value(int64_t{101}));
  EXPECT_EQ(headers[1][2], Value(int64_t{102}));
  EXPECT_EQ(headers[2][2], Value(int64_t{57}));  // not this run's row
  EXPECT_TRUE(IsNull(headers[2][4]));
  const auto counters = Rows(company / "LDATA" / "S" / "LKlice.DB");
  EXPECT_EQ(counters[0][1], Value(int64_t{103}));
  EXPECT_EQ(counters[1][1], Value(int64_t{500}));
}

// A counter at or below the table's highest key does not hold keys back:
// they continue after the highest key, and the counter follows them.
TEST_F(MemoTransfer, ImportAboveALowCounterContinuesAfterTheHighestKey) {
  for (const int64_t next : {int64_t{0}, int64_t{3}, int64_t{58}}) {
    SCOPED_TRACE(next);
    fs::remove_all(company);
    SetUp();
    Memos(batch / "LMEMO.DB", {{1, "ze dávky"}});
    Memos(company / "LDATA" / "S" / "LMEMO.DB", {{57, "vlastní"}});
    Counter(next);
    Headers(company / "SDATA" / "S" / "SVFH.DB", {Header("1", int64_t{1}, int64_t{0})});
    ImportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB");
    EXPECT_EQ(Rows(company / "SDATA" / "S" / "SVFH.DB")[0][2], Value(int64_t{58}));
    EXPECT_EQ(Rows(company / "LDATA" / "S" / "LKlice.DB")[0][1], Value(int64_t{59}));
    fs::remove_all(batch);
  }
}

TEST_F(MemoTransfer, ImportWithoutTextsStillAdvancesALowCounter) {
  Memos(batch / "LMEMO.DB", {});
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {{57, "vlastní"}});
  Counter(3);
  Headers(company / "SDATA" / "S" / "SOBJH.DB", {Header("1", int64_t{0}, int64_t{0})});
  ImportMemos(context, CompanyFolder(), BatchFolder(), "SOBJH.DB");
  EXPECT_EQ(Rows(company / "LDATA" / "S" / "LKlice.DB")[0][1], Value(int64_t{58}));
  EXPECT_EQ(MaxMemoKey(context, (batch / "LMEMO.DB").string()), 0);
  EXPECT_EQ(MaxMemoKey(context, (batch / "NENI.DB").string()), 0);
}

TEST_F(MemoTransfer, MissingMemoTableFailsOnlyWhenATextIsNeeded) {
  Headers(batch / "SVFH.DB", {Header("1", int64_t{0}, int64_t{0})});
  EXPECT_NO_THROW(ExportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB"));
  Headers(batch / "SOBJH.DB", {Header("1", int64_t{5}, int64_t{0})});
  EXPECT_THROW(ExportMemos(context, CompanyFolder(), BatchFolder(), "SOBJH.DB"), EngineError);
}

// The error of a missing table names the table, whichever it is.
TEST_F(MemoTransfer, AMissingTableIsNamedInItsError) {
  Headers(company / "SDATA" / "S" / "SVFH.DB", {Header("1", int64_t{1}, int64_t{0})});
  const auto error_of = [&] {
    try {
      ImportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB");
    } catch (const EngineError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  // No memo table in the batch.
  EXPECT_NE(error_of().find((batch / "LMEMO.DB").string()), std::string::npos) << error_of();
  // No key counters in the company.
  Memos(batch / "LMEMO.DB", {{1, "ze dávky"}});
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {});
  EXPECT_NE(error_of().find((company / "LDATA" / "S" / "LKlice.DB").string()), std::string::npos)
      << error_of();
}

// A damaged memo or header table of the batch is named in the error, so
// that the user knows which file to replace.
TEST_F(MemoTransfer, ADamagedBatchTableIsNamedInItsError) {
  const auto error_of = [&](auto&& run) {
    try {
      run();
    } catch (const EngineError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  // A memo table without its text field.
  Headers(company / "SDATA" / "S" / "SVFH.DB", {Header("1", int64_t{1}, int64_t{0})});
  Memos(company / "LDATA" / "S" / "LMEMO.DB", {});
  Counter(1);
  ParadoxTable::Create((batch / "LMEMO.DB").string(), {{"Klic", FieldType::kLong, 0}}, 1)
      ->Insert({int64_t{1}});
  std::string error =
      error_of([&] { ImportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB"); });
  EXPECT_EQ(error, "Field 'Poznamka' not found.\nTable: " + BatchFolder() + "LMEMO.DB");

  // A header table whose text key field holds text.
  auto header = ParadoxTable::Create((batch / "SVFH.DB").string(),
                                     {{"DoklSRada", FieldType::kAlpha, 5},
                                      {"DoklSCislo", FieldType::kAlpha, 11},
                                      {"TextNahoruKlic", FieldType::kAlpha, 10},
                                      {"TextDoluKlic", FieldType::kLong, 0},
                                      {"Zmeneno", FieldType::kTimestamp, 0}},
                                     2);
  header->Insert({std::string("FV"), std::string("1"), std::string("pět"), int64_t{0}, Value{}});
  header->Close();
  error = error_of([&] { ExportMemos(context, CompanyFolder(), BatchFolder(), "SVFH.DB"); });
  EXPECT_NE(error.find("Field: TextNahoruKlic\nTable: " + BatchFolder() + "SVFH.DB"),
            std::string::npos)
      << error;
}

}  // namespace
}  // namespace dalimor
