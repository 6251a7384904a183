#include "engine/table_cursor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_error.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::vector<FieldDef> HeaderFields() {
  return {{"DoklSRada", FieldType::kAlpha, 10},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"Datum", FieldType::kDate, 0},
          {"Castka", FieldType::kMoney, 0},
          {"Firma", FieldType::kAlpha, 50},
          {"Zaplaceno", FieldType::kLogical, 0},
          {"Poznamka", FieldType::kMemo, 20}};
}

std::vector<FieldDef> ItemFields() {
  return {{"DoklSRada", FieldType::kAlpha, 10},
          {"DoklSCislo", FieldType::kAlpha, 10},
          {"Klic", FieldType::kLong, 0},
          {"Text", FieldType::kAlpha, 40}};
}

class TableCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto header = ParadoxTable::Create((dir.path() / "SPFH.DB").string(), HeaderFields(), 2);
    header->Insert({std::string("FP"), std::string("0002"), Date{DateTimeFromDate(2011, 3, 2)},
                    1500.5, std::string("Pobočka Brno"), true, std::string("krátká")});
    header->Insert({std::string("FP"), std::string("0001"), Date{DateTimeFromDate(2011, 3, 1)},
                    100.0, std::string("Centrála Praha"), false, std::monostate{}});
    header->Insert({std::string("FA"), std::string("0001"), Date{DateTimeFromDate(2010, 1, 5)},
                    -20.0, std::string("Firma"), std::monostate{}, std::monostate{}});
    header->Close();
    auto items = ParadoxTable::Create((dir.path() / "Spfp.DB").string(), ItemFields(), 3);
    for (int k = 3; k >= 1; --k)
      items->Insert({std::string("FP"), std::string("0001"), int64_t{k},
                     std::string("položka ") + std::to_string(k)});
    items->Insert({std::string("FP"), std::string("0002"), int64_t{1}, std::string("jediná")});
    items->Close();
  }

  std::vector<std::string> Walk(TableCursor& cursor, const char* field) {
    std::vector<std::string> values;
    for (cursor.First(); !cursor.Eof(); cursor.Next())
      values.push_back(cursor.FieldByName(field).AsString());
    return values;
  }

  test::TempDir dir;
};

TEST_F(TableCursorTest, OpensByFolderAndNameWithoutRegardToCaseOrExtension) {
  TableCursor cursor;
  cursor.SetDatabaseName(dir.path().string() + "/");
  cursor.SetTableName("spfh");
  cursor.Open(OpenMode::kReadOnly);
  EXPECT_EQ(cursor.RecordCount(), 3u);
  EXPECT_EQ(Walk(cursor, "DoklSCislo"), (std::vector<std::string>{"0001", "0001", "0002"}));
  EXPECT_EQ(Walk(cursor, "doklsrada"), (std::vector<std::string>{"FA", "FP", "FP"}));

  TableCursor by_path;
  by_path.SetTableName((dir.path() / "SPFH.DB").string());
  by_path.Open();
  EXPECT_EQ(by_path.RecordCount(), 3u);
}

TEST_F(TableCursorTest, FieldsReadTypedAndFailOnUnknownNames) {
  TableCursor cursor;
  cursor.SetDatabaseName(dir.path().string());
  cursor.SetTableName("SPFH.DB");
  cursor.Open();
  ASSERT_TRUE(cursor.Locate("DoklSRada;DoklSCislo", {std::string("FP"), std::string("0002")}));
  EXPECT_EQ(cursor.FieldByName("Firma").AsString(), "Pobočka Brno");
  EXPECT_EQ(cursor.FieldByName("Datum").AsString(), "2.3.2011");
  EXPECT_EQ(cursor.FieldByName("Datum").AsDateTime(), DateTimeFromDate(2011, 3, 2));
  EXPECT_EQ(cursor.FieldByName("Castka").AsString(), "1500.5");
  EXPECT_EQ(cursor.FieldByName("Castka").AsInteger(), 1500);
  EXPECT_TRUE(cursor.FieldByName("Zaplaceno").AsBoolean());
  EXPECT_EQ(cursor.FieldByName("Poznamka").AsString(), "krátká");
  EXPECT_EQ(cursor.FindField("Neni"), nullptr);
  try {
    cursor.FieldByName("Neni");
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFieldNotFound);
  }
  ASSERT_TRUE(cursor.Locate("DoklSRada", {std::string("FA")}));
  EXPECT_TRUE(cursor.FieldByName("Zaplaceno").IsNull());
  EXPECT_FALSE(cursor.FieldByName("Zaplaceno").AsBoolean());
  EXPECT_EQ(cursor.FieldByName("Poznamka").AsString(), "");
}

TEST_F(TableCursorTest, LocateIsExactAndCaseSensitiveAndStaysWhenNothingMatches) {
  TableCursor cursor;
  cursor.SetTableName((dir.path() / "SPFH.DB").string());
  cursor.Open();
  ASSERT_TRUE(cursor.Locate("Firma", {std::string("Centrála Praha")}));
  EXPECT_EQ(cursor.FieldByName("DoklSCislo").AsString(), "0001");
  EXPECT_FALSE(cursor.Locate("Firma", {std::string("centrála praha")}));
  EXPECT_FALSE(cursor.Locate("Firma", {std::string("Centrála")}));
  EXPECT_EQ(cursor.FieldByName("Firma").AsString(), "Centrála Praha");  // did not move
  EXPECT_TRUE(cursor.Locate("Castka", {int64_t{100}}));                 // numbers by value
  EXPECT_THROW(cursor.Locate("Neni", {int64_t{1}}), EngineError);
}

TEST_F(TableCursorTest, InsertTakesItsPlaceByKeyAndKeyViolationChangesNothing) {
  TableCursor cursor;
  cursor.SetTableName((dir.path() / "SPFH.DB").string());
  cursor.Open();
  cursor.Insert();
  cursor.FieldByName("DoklSRada").SetString("FB");
  cursor.FieldByName("DoklSCislo").SetString("0009");
  cursor.FieldByName("Castka").SetString("12,5");
  cursor.FieldByName("Datum").SetString("15.3.2011");
  cursor.Post();
  EXPECT_EQ(cursor.FieldByName("DoklSRada").AsString(), "FB");  // stands on the new record
  EXPECT_EQ(Walk(cursor, "DoklSRada"), (std::vector<std::string>{"FA", "FB", "FP", "FP"}));
  ASSERT_TRUE(cursor.Locate("DoklSRada", {std::string("FB")}));
  EXPECT_EQ(cursor.FieldByName("Castka").AsString(), "12.5");
  EXPECT_EQ(cursor.FieldByName("Datum").AsDateTime(), DateTimeFromDate(2011, 3, 15));

  const std::string before = test::ReadFileBytes(dir.path() / "SPFH.DB");
  cursor.Insert();
  cursor.FieldByName("DoklSRada").SetString("FP");
  cursor.FieldByName("DoklSCislo").SetString("0001");
  try {
    cursor.Post();
    ADD_FAILURE() << "no key violation";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
  }
  EXPECT_EQ(cursor.State(), CursorState::kInsert);
  cursor.Cancel();
  EXPECT_EQ(cursor.RecordCount(), 4u);
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "SPFH.DB"), before);
  EXPECT_THROW(cursor.FieldByName("Castka").SetString("abc"), EngineError);  // browse state
}

TEST_F(TableCursorTest, EditPostsAndDeleteStandsOnTheNextRecord) {
  TableCursor cursor;
  cursor.SetTableName((dir.path() / "SPFH.DB").string());
  cursor.Open();
  ASSERT_TRUE(cursor.Locate("DoklSRada;DoklSCislo", {std::string("FP"), std::string("0001")}));
  cursor.Edit();
  cursor.FieldByName("Poznamka").SetString(std::string(5000, 'x') + "ž");
  cursor.FieldByName("Castka").SetInteger(7);
  cursor.Post();
  cursor.Close();
  cursor.Open();
  ASSERT_TRUE(cursor.Locate("DoklSRada;DoklSCislo", {std::string("FP"), std::string("0001")}));
  EXPECT_EQ(cursor.FieldByName("Poznamka").AsString(), std::string(5000, 'x') + "ž");
  EXPECT_EQ(cursor.FieldByName("Castka").AsString(), "7");
  cursor.Delete();
  EXPECT_EQ(cursor.FieldByName("DoklSCislo").AsString(), "0002");
  cursor.Delete();  // the last one: the cursor stands on the new last record
  EXPECT_TRUE(cursor.Eof());
  EXPECT_EQ(cursor.RecordCount(), 1u);
  EXPECT_EQ(cursor.FieldByName("DoklSRada").AsString(), "FA");
}

TEST_F(TableCursorTest, DetailFollowsTheMastersCurrentRecord) {
  TableCursor master, detail;
  master.SetTableName((dir.path() / "SPFH.DB").string());
  detail.SetTableName((dir.path() / "Spfp.DB").string());
  master.Open(OpenMode::kReadOnly);
  detail.Open(OpenMode::kReadOnly);
  detail.SetMaster(&master, "DoklSRada;DoklSCislo");
  EXPECT_EQ(detail.RecordCount(), 0u);  // FA 0001 has no items
  EXPECT_TRUE(detail.Eof());
  master.Next();
  EXPECT_EQ(Walk(detail, "Text"),
            (std::vector<std::string>{"položka 1", "položka 2", "položka 3"}));
  master.Next();
  EXPECT_EQ(Walk(detail, "Klic"), (std::vector<std::string>{"1"}));
  ASSERT_TRUE(master.Locate("DoklSCislo", {std::string("0001")}));  // FA again
  EXPECT_EQ(detail.RecordCount(), 0u);
  detail.SetMaster(nullptr, "");
  EXPECT_EQ(detail.RecordCount(), 4u);
}

TEST_F(TableCursorTest, DetailNeedsAsManyKeyFieldsAsTheLinkNames) {
  TableCursor master, detail;
  master.SetTableName((dir.path() / "Spfp.DB").string());
  detail.SetTableName((dir.path() / "SPFH.DB").string());
  master.Open(OpenMode::kReadOnly);
  detail.Open(OpenMode::kReadOnly);
  EXPECT_THROW(detail.SetMaster(&master, "DoklSRada;DoklSCislo;Klic"), EngineError);
}

TEST_F(TableCursorTest, MissingTableIsAnEngineError) {
  TableCursor cursor;
  cursor.SetDatabaseName(dir.path().string());
  cursor.SetTableName("GFIRMY.DB");
  try {
    cursor.Open();
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFileNotFound);
  }
  EXPECT_FALSE(cursor.Active());
}

}  // namespace
}  // namespace dalimor
