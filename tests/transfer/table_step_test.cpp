// The column list of a table step: which fields an INSERT ... SELECT names,
// in which spelling, and which header a transfer refuses before any
// statement runs.

#include "transfer/table_step.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_config.h"
#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "tests/support/test_support.h"
#include "util/clock.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

class TableStepColumns : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(company);
    fs::create_directories(batch);
  }
  // A table of alpha fields keyed on the first; one row of the field names.
  static void Table(const fs::path& path, const std::vector<std::string>& names) {
    std::vector<FieldDef> fields;
    Record row;
    for (const std::string& name : names) {
      fields.push_back({name, FieldType::kAlpha, 20});
      row.push_back(name.substr(0, 20));
    }
    ParadoxTable::Create(path.string(), fields, 1)->Insert(row);
  }
  std::string CompanyTable() const { return (company / "SPFH.DB").string(); }
  std::string BatchTable() const { return (batch / "SPFH.DB").string(); }
  // The error of ColumnList from the batch into the company.
  std::string ErrorOf(bool omit_zmeneno = false) {
    try {
      ColumnList(context, BatchTable(), CompanyTable(), omit_zmeneno);
    } catch (const EngineError& e) {
      return e.what();
    }
    return "no error";
  }

  test::TempDir dir;
  fs::path company = dir.path() / "firma";
  fs::path batch = dir.path() / "davka";
  ParadoxSqlCatalog catalog;
  EngineConfig config{dir.File("engine.cfg")};
  FixedClock clock{{2011, 3, 15, 12, 0, 0, 0}};
  TransferContext context{catalog, config, clock, nullptr, nullptr, nullptr};
};

// The same fields on both sides give the list of today's statements; the
// target's spelling is used, and a field only the target has is left out.
TEST_F(TableStepColumns, SourceOrderInTheTargetsSpellingWithoutFieldsTheSourceLacks) {
  struct Case {
    std::vector<std::string> batch;
    std::vector<std::string> company;
    bool omit_zmeneno;
    std::string expected;
  };
  const Case cases[] = {
      {{"DoklSRada", "DoklSCislo", "Text"}, {"DoklSRada", "DoklSCislo", "Text"}, false,
       "DoklSRada, DoklSCislo, Text"},
      {{"DoklSRada", "Text", "DoklSCislo"}, {"DoklSRada", "DoklSCislo", "Text"}, false,
       "DoklSRada, Text, DoklSCislo"},
      {{"DOKLSRADA", "text"}, {"DoklSRada", "Text"}, false, "DoklSRada, Text"},
      {{"DoklSRada", "Text"}, {"DoklSRada", "Poznamka", "Text"}, false, "DoklSRada, Text"},
      {{"DoklSRada", "Zmeneno", "Text"}, {"DoklSRada", "Zmeneno", "Text"}, true,
       "DoklSRada, Text"},
      {{"DoklSRada", "Cena bez DPH", "Množství"}, {"DoklSRada", "Cena bez DPH", "Množství"},
       false, "DoklSRada, \"Cena bez DPH\", Množství"},
      {{"DoklSRada", "Set", "Cena-DPH"}, {"DoklSRada", "SET", "Cena-DPH"}, false,
       "DoklSRada, \"SET\", \"Cena-DPH\""},
  };
  for (const Case& c : cases) {
    fs::remove_all(company);
    fs::remove_all(batch);
    SetUp();
    Table(BatchTable(), c.batch);
    Table(CompanyTable(), c.company);
    EXPECT_EQ(ColumnList(context, BatchTable(), CompanyTable(), c.omit_zmeneno), c.expected)
        << c.expected;
  }
}

// A header that is damaged or made to change a statement is refused,
// naming its table, before any statement of the step runs.
TEST_F(TableStepColumns, InvalidFieldNamesAreRefusedNamingTheTable) {
  Table(CompanyTable(), {"DoklSRada", "Text"});
  const std::string invalid[] = {
      "DoklSRada) SELECT 1 --", "Text, DoklSRada", "Te'xt", "\"Text\"", "Text\x02",
      " Text", "Text[1]", "Cena->DPH", "#", "Text{}", "Šířka\x7F",
  };
  for (const std::string& name : invalid) {
    fs::remove_all(batch);
    fs::create_directories(batch);
    Table(BatchTable(), {"DoklSRada", name});
    const std::string error = ErrorOf();
    EXPECT_EQ(error.rfind("Invalid field name.\nField: ", 0), 0u) << error;
    EXPECT_NE(error.find("\nTable: " + BatchTable()), std::string::npos) << error;
  }
  // Control characters are shown by their codes, so that the message keeps its lines.
  EXPECT_NE(ErrorOf().find("Field: Šířka#127\n"), std::string::npos) << ErrorOf();
  // Valid names of every kind Paradox allows pass.
  for (const char* name :
       {"Číslo účtu", "Cena#1", "A_b$c%d&e*f+g-h.i/j", "k:l;m<n=o>p?q@r", "s!t^u`v|w~x\\y",
        "Abcdefghijklmnopqrstuvwxy"}) {
    fs::remove_all(company);
    fs::remove_all(batch);
    SetUp();
    Table(BatchTable(), {"DoklSRada", name});
    Table(CompanyTable(), {"DoklSRada", name});
    EXPECT_EQ(ErrorOf(), "no error") << name;
  }
}

// A batch field the company table lacks would lose its values: the error
// names the field and both tables.
TEST_F(TableStepColumns, AFieldTheTargetLacksFailsNamingBothTables) {
  Table(CompanyTable(), {"DoklSRada", "Text"});
  Table(BatchTable(), {"DoklSRada", "Text", "Schvalil"});
  const std::string error = ErrorOf();
  EXPECT_EQ(error, "Field not found in table.\nField: Schvalil\nTable: " + CompanyTable() +
                       "\nThe field is in " + BatchTable() + "; its values would be lost.");
}

// Names that are no bare SQL names are quoted, and the receive copies them.
TEST_F(TableStepColumns, QuotedNamesAreReceived) {
  Table(CompanyTable(), {"DoklSRada", "Cena bez DPH", "Set"});
  Table(BatchTable(), {"DoklSRada", "Cena bez DPH", "Set"});
  ParadoxTable::Open(BatchTable(), OpenMode::kShared)
      ->Insert({std::string("FV"), std::string("100"), std::string("x")});
  TableStep step;
  step.table = "SPFH.DB";
  step.document_keys = "DoklSRada";
  ReceiveTable(context, batch.string() + "/", company.string() + "/", step, TransferFilter{},
               false);
  const auto rows = ParadoxTable::Open(CompanyTable(), OpenMode::kReadOnly)->ReadAll();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], (Record{std::string("FV"), std::string("100"), std::string("x")}));
}

}  // namespace
}  // namespace dalimor
