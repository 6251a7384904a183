#include "engine/sql/paradox_catalog.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/query.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::vector<FieldDef> Header() {
  return {{"DoklSRada", FieldType::kAlpha, 5},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"KdyUskutUP", FieldType::kDate, 0},
          {"Castka", FieldType::kMoney, 0}};
}

std::vector<FieldDef> Items() {
  return {{"DoklSRada", FieldType::kAlpha, 5},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"Klic", FieldType::kLong, 0},
          {"Text", FieldType::kAlpha, 30}};
}

class SqlOverParadox : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(company());
    fs::create_directories(batch());
    auto h = ParadoxTable::Create(company() + "SPFH.DB", Header(), 2);
    auto i = ParadoxTable::Create(company() + "Spfp.DB", Items(), 3);
    h->set_auto_flush(false);
    i->set_auto_flush(false);
    for (int n = 1; n <= 300; ++n) {
      const std::string series = n % 3 ? "FP" : "FX";
      const std::string number = std::to_string(1000 + n);
      h->Insert({series, number, Date{DateTimeFromDate(2010, 1 + n % 12, 1 + n % 28)},
                 n * 10.0});
      for (int k = 1; k <= n % 4; ++k)
        i->Insert({series, number, int64_t{k}, "řádek " + std::to_string(k)});
    }
    h->Close();
    i->Close();
    ParadoxTable::Create(batch() + "SPFH.DB", Header(), 2)->Close();
    ParadoxTable::Create(batch() + "Spfp.DB", Items(), 3)->Close();
  }
  std::string company() const { return (dir.path() / "firma").string() + "/"; }
  std::string batch() const { return (dir.path() / "davka").string() + "/"; }

  uint64_t Exec(const std::string& text) {
    SqlQuery query(catalog);
    query.SetText(text);
    return query.ExecSql();
  }
  uint64_t Count(const std::string& path) {
    SqlQuery query(catalog);
    query.SetText("SELECT * FROM '" + path + "'");
    query.Open();
    return query.RecordCount();
  }

  test::TempDir dir;
  ParadoxSqlCatalog catalog;
};

TEST_F(SqlOverParadox, GuardedCopyOfHeadersAndItemsThenOverwrite) {
  const std::string insert_headers =
      "INSERT INTO '" + batch() + "SPFH.DB'\r(DoklSRada, DoklSCislo, KdyUskutUP, Castka) \r"
      "SELECT DoklSRada, DoklSCislo, KdyUskutUP, Castka FROM '" + company() + "SPFH.DB' tE \r\r"
      " WHERE (((KdyUskutUP >= '03/01/2010') AND NOT EXISTS (SELECT DoklSRada,DoklSCislo FROM  '" +
      batch() + "SPFH.DB' tD \rWHERE (tD.DoklSRada=tE.DoklSRada AND tD.DoklSCislo=tE.DoklSCislo))"
      "\r) AND (DoklSRada = 'FP'))";
  const uint64_t headers = Exec(insert_headers);
  EXPECT_GT(headers, 0u);
  EXPECT_EQ(Exec(insert_headers), 0u);  // the guard skips what is there
  EXPECT_EQ(Count(batch() + "spfh.db"), headers);

  const std::string insert_items =
      "INSERT INTO '" + batch() + "Spfp.DB'\r(DoklSRada, DoklSCislo, Klic, Text) \r"
      "SELECT DoklSRada, DoklSCislo, Klic, Text FROM '" + company() + "Spfp.DB' tE \r"
      "LEFT OUTER JOIN '" + company() + "SPFH.DB' tM \r"
      "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\r"
      " WHERE ((KdyUskutUP >= '03/01/2010') AND (DoklSRada = 'FP'))";
  const uint64_t items = Exec(insert_items);
  EXPECT_GT(items, 0u);

  // Every copied item belongs to a copied header.
  SqlQuery orphans(catalog);
  orphans.SetText("SELECT * FROM '" + batch() + "Spfp.DB' tE WHERE NOT EXISTS (SELECT DoklSRada "
                  "FROM '" + batch() + "SPFH.DB' tD WHERE tD.DoklSRada=tE.DoklSRada AND "
                  "tD.DoklSCislo=tE.DoklSCislo)");
  orphans.Open();
  EXPECT_EQ(orphans.RecordCount(), 0u);

  // Overwrite: delete the documents about to be replaced, then copy again.
  const std::string delete_items =
      "DELETE FROM '" + batch() + "Spfp.DB' WHERE DoklSRada+' +@@+ '+DoklSCislo in (\r"
      "SELECT DoklSRada+' +@@+ '+DoklSCislo  FROM '" + company() + "Spfp.DB' tE \r"
      "LEFT OUTER JOIN '" + batch() + "SPFH.DB' tM \r"
      "ON (tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)\r"
      "WHERE ((KdyUskutUP >= '03/01/2010') AND (DoklSRada = 'FP'))\r)";
  EXPECT_EQ(Exec(delete_items), items);
  EXPECT_EQ(Count(batch() + "Spfp.DB"), 0u);
  EXPECT_EQ(Exec(insert_items), items);

  auto written = ParadoxTable::Open(batch() + "Spfp.DB", OpenMode::kReadOnly);
  EXPECT_NO_THROW(written->CheckIndex());
}

TEST_F(SqlOverParadox, KeyViolationInsertsNothing) {
  Exec("INSERT INTO '" + batch() + "SPFH.DB' (DoklSRada, DoklSCislo) SELECT DoklSRada, "
       "DoklSCislo FROM '" + company() + "SPFH.DB' WHERE DoklSCislo = '1150'");
  const std::string before = test::ReadFileBytes(batch() + "SPFH.DB");
  try {
    Exec("INSERT INTO '" + batch() + "SPFH.DB' (DoklSRada, DoklSCislo) SELECT DoklSRada, "
         "DoklSCislo FROM '" + company() + "SPFH.DB'");
    ADD_FAILURE() << "no key violation";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
  }
  EXPECT_EQ(test::ReadFileBytes(batch() + "SPFH.DB"), before);
  EXPECT_EQ(Count(batch() + "SPFH.DB"), 1u);
}

TEST_F(SqlOverParadox, MaxOfAnEmptyTableIsNullAndMissingTablesAreEngineErrors) {
  SqlQuery query(catalog);
  query.SetText("SELECT MAX(Klic) FROM '" + batch() + "Spfp.DB'");
  query.Open();
  ASSERT_EQ(query.RecordCount(), 1u);
  query.First();
  EXPECT_TRUE(IsNull(query.FieldValue(0)));
  query.SetText("SELECT MAX(Klic) FROM '" + company() + "Spfp.DB'");
  query.Open();
  query.First();
  EXPECT_EQ(query.FieldValue(0), Value(int64_t{3}));
  query.SetText("SELECT * FROM '" + batch() + "NENI.DB'");
  try {
    query.Open();
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFileNotFound);
  }
}

}  // namespace
}  // namespace dalimor
