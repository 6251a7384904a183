// INSERT ... SELECT between Paradox tables of matching layout copies stored
// records instead of going through values.  Each case runs the same
// statement twice on copies of the same folder, once with the copy and once
// through values, and expects the same outcome: the same count or error,
// the same rows, a sound index, and (where the rows arrive in key order)
// the same bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "tests/engine/pxlib_reader.h"
#include "tests/engine/value_printer.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::vector<FieldDef> Document(int text_size = 40) {
  return {{"DoklSRada", FieldType::kAlpha, 5},  {"DoklSCislo", FieldType::kAlpha, 10},
          {"Poradi", FieldType::kShort, 0},     {"Datum", FieldType::kDate, 0},
          {"Castka", FieldType::kMoney, 0},     {"Text", FieldType::kAlpha, text_size},
          {"Poznamka", FieldType::kMemo, 12},   {"Zmeneno", FieldType::kTimestamp, 0}};
}

// The memo values cover NULL, a text within the leader, one in a shared
// block of the blob file and one with a block of its own.
Value MemoFor(int n) {
  switch (n % 5) {
    case 0: return {};
    case 1: return std::string("krátký");
    case 2: return "Poznámka č. " + std::to_string(n) + ": zboží převzato bez výhrad.";
    case 3: return std::string(3000, static_cast<char>('a' + n % 26)) + " konec";
    default: return "Žluťoučký kůň " + std::to_string(n);
  }
}

Record Row(const std::string& series, int number, int order) {
  return {series,
          std::to_string(10000 + number),
          int64_t{order},
          Date{DateTimeFromDate(2010, 1 + number % 12, 1 + number % 28)},
          number * 12.5,
          "Položka " + std::to_string(number) + "/" + std::to_string(order) + " – šroubek",
          MemoFor(number + order),
          number % 4 == 0 ? Value(Timestamp{DateTimeFromDate(2011, 3, 15)}) : Value()};
}

// Documents `from`..`to` with 1 to 3 rows each (one with `one_row`); with
// `duplicate` every 50th row twice.
void Fill(const std::string& path, const std::vector<FieldDef>& fields, int keys, int from, int to,
          bool duplicate = false, bool one_row = false) {
  auto t = ParadoxTable::Create(path, fields, keys);
  t->set_auto_flush(false);
  for (int n = from; n <= to; ++n) {
    for (int k = 1; k <= (one_row ? 1 : 1 + n % 3); ++k) {
      Record r = Row(n % 4 ? "FV" : "ZL", n, k);
      r.resize(fields.size());
      t->Insert(r);
      if (duplicate && n % 50 == 0) t->Insert(r);
    }
  }
  t->Close();
}

std::vector<std::string> FilesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Outcome {
  std::optional<uint64_t> count;
  std::optional<EngineErrorKind> error;
};

Outcome RunStatement(const fs::path& folder, const std::string& statement, bool copy_records) {
  ParadoxSqlCatalog catalog;
  catalog.set_copy_records(copy_records);
  std::string text = statement;
  for (size_t at; (at = text.find("$")) != std::string::npos;) text.replace(at, 1, folder.string() + "/");
  Outcome outcome;
  try {
    SqlQuery query(catalog);
    query.SetText(text);
    outcome.count = query.ExecSql();
  } catch (const EngineError& e) {
    outcome.error = e.kind();
  }
  return outcome;
}

struct Case {
  const char* name;
  const char* statement;  // "$" stands for the folder
  bool same_bytes;        // the rows arrive in key order
  bool refused = false;   // a key violation
};

const Case kCases[] = {
    {"guarded copy with a date range",
     "INSERT INTO '$T.DB'\r(DoklSRada, DoklSCislo, Poradi, Datum, Castka, Text, Poznamka, Zmeneno) \r"
     "SELECT DoklSRada, DoklSCislo, Poradi, Datum, Castka, Text, Poznamka, Zmeneno FROM '$S.DB' tE \r"
     "\r WHERE ((Datum >= '03/01/2010') AND NOT EXISTS (SELECT DoklSRada,DoklSCislo,Poradi FROM  "
     "'$T.DB' tD \rWHERE (tD.DoklSRada=tE.DoklSRada AND tD.DoklSCislo=tE.DoklSCislo AND "
     "tD.Poradi=tE.Poradi))\r)",
     true},
    {"columns left out stay NULL, filter through a joined master",
     "INSERT INTO '$T.DB' (DoklSRada, DoklSCislo, Poradi, Text, Poznamka) "
     "SELECT DoklSRada, DoklSCislo, Poradi, Text, Poznamka FROM '$S.DB' tE "
     "LEFT OUTER JOIN '$M.DB' tM ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo) "
     "WHERE (tM.Castka > 500) AND (DoklSRada = 'FV') AND NOT EXISTS (SELECT DoklSRada FROM '$T.DB' "
     "tD WHERE tD.DoklSRada=tE.DoklSRada AND tD.DoklSCislo=tE.DoklSCislo AND tD.Poradi=tE.Poradi)",
     true},
    {"columns in another order",
     "INSERT INTO '$E.DB' (Text, DoklSCislo, DoklSRada, Poradi, Poznamka, Datum) "
     "SELECT Text, DoklSCislo, DoklSRada, Poradi, Poznamka, Datum FROM '$S.DB' WHERE Poradi = 2",
     true},
    {"a target keyed otherwise gets the rows sorted",
     "INSERT INTO '$K.DB' SELECT Text, DoklSRada, DoklSCislo, Poradi, Datum, Castka, Poznamka, "
     "Zmeneno FROM '$S.DB' WHERE Castka < 2000",
     false},
    {"an unkeyed target appends",
     "INSERT INTO '$U.DB' SELECT * FROM '$S.DB' WHERE DoklSRada = 'ZL'", true},
    {"a key already there: nothing inserted",
     "INSERT INTO '$T.DB' SELECT * FROM '$S.DB'", true, true},
    {"a key twice among the rows: nothing inserted",
     "INSERT INTO '$E.DB' SELECT * FROM '$D.DB'", false, true},
    {"an auto-increment field left out counts on",
     "INSERT INTO '$A.DB' (DoklSRada, DoklSCislo, Poradi, Text) SELECT DoklSRada, DoklSCislo, "
     "Poradi, Text FROM '$S.DB' WHERE Poradi = 3",
     true},
    {"a text field of another size goes through values",
     "INSERT INTO '$W.DB' SELECT * FROM '$S.DB' WHERE Poradi = 1", true},
    {"a computed column goes through values",
     "INSERT INTO '$E.DB' (DoklSRada, DoklSCislo, Poradi, Text) SELECT DoklSRada, DoklSCislo, "
     "Poradi, Text + '!' FROM '$S.DB'",
     true},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RecordCopy : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    folder_ = new test::TempDir;
    const fs::path f = folder_->path();
    Fill((f / "S.DB").string(), Document(), 3, 1, 400);
    Fill((f / "M.DB").string(), Document(), 2, 1, 400, false, true);
    Fill((f / "T.DB").string(), Document(), 3, 350, 520);
    Fill((f / "E.DB").string(), Document(), 3, 1, 0);
    Fill((f / "U.DB").string(), Document(), 0, 1, 10);
    Fill((f / "W.DB").string(), Document(50), 3, 1, 0);
    Fill((f / "D.DB").string(), Document(), 0, 1, 120, true);
    std::vector<FieldDef> numbered = Document();
    numbered.push_back({"Id", FieldType::kAutoInc, 0});
    Fill((f / "A.DB").string(), numbered, 3, 500, 510);
    std::vector<FieldDef> text_first = Document();
    std::rotate(text_first.begin(), text_first.begin() + 5, text_first.begin() + 6);
    Fill((f / "K.DB").string(), text_first, 2, 1, 0);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static test::TempDir* folder_;
};

test::TempDir* RecordCopy::folder_ = nullptr;

TEST_P(RecordCopy, GivesWhatValuesGive) {
  const Case& c = GetParam();
  test::TempDir dir;
  const fs::path copied = dir.path() / "copied", through_values = dir.path() / "values";
  fs::copy(folder_->path(), copied);
  fs::copy(folder_->path(), through_values);
  const Outcome a = RunStatement(copied, c.statement, true);
  const Outcome b = RunStatement(through_values, c.statement, false);
  EXPECT_EQ(a.count, b.count);
  EXPECT_EQ(a.error, b.error);
  if (c.refused) {
    EXPECT_EQ(b.error, EngineErrorKind::kKeyViolation);
  } else {
    EXPECT_GT(b.count.value_or(0), 0u);
  }
  ASSERT_EQ(FilesOf(copied), FilesOf(through_values));
  for (const std::string& name : FilesOf(copied)) {
    if (name.size() < 3 || name.substr(name.size() - 3) != ".DB") continue;
    SCOPED_TRACE(name);
    const std::string path_a = (copied / name).string(), path_b = (through_values / name).string();
    const auto ta = ParadoxTable::Open(path_a, OpenMode::kReadOnly);
    const auto tb = ParadoxTable::Open(path_b, OpenMode::kReadOnly);
    EXPECT_EQ(ta->ReadAll(), tb->ReadAll());
    EXPECT_EQ(ta->last_auto_increment(), tb->last_auto_increment());
    EXPECT_NO_THROW(ta->CheckIndex());
    test::ExpectSameAsPxlib(*ta, path_a);
    if (c.same_bytes) {
      const size_t header = ta->header().header_size;
      EXPECT_EQ(test::ReadFileBytes(path_a).substr(header), test::ReadFileBytes(path_b).substr(header));
    }
    const fs::path mb = fs::path(path_a).replace_extension(".MB");
    if (c.same_bytes && fs::exists(mb)) {
      EXPECT_EQ(test::ReadFileBytes(mb.string()),
                test::ReadFileBytes(fs::path(path_b).replace_extension(".MB").string()));
    }
  }
  if (b.error) {
    // A refused statement leaves every file as it was.
    for (const std::string& name : FilesOf(copied))
      EXPECT_EQ(test::ReadFileBytes((copied / name).string()),
                test::ReadFileBytes((folder_->path() / name).string()))
          << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Statements, RecordCopy, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           std::string name;
                           for (const char* p = param.param.name; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

}  // namespace
}  // namespace dalimor
