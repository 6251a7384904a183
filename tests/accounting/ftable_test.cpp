#include "accounting/ftable.h"

#include <gtest/gtest.h>

#include "engine/paradox/table.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

class FTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ParadoxTable::Create(dir.File("LKLICE.DB"),
                         {{"Tabulka", FieldType::kAlpha, 20},
                          {"Klic", FieldType::kLong, 0},
                          {"Aktivni", FieldType::kLogical, 0}},
                         1)
        ->Close();
    table.SetDatabaseName(dir.path().string());
    table.SetTableName("lklice.db");
  }
  test::TempDir dir;
  test::ScriptedUi ui;
  FTable table{ui};
};

TEST_F(FTableTest, UpperCasesTheNameAndFillsNullsBeforeAPost) {
  EXPECT_EQ(table.table_name(), "LKLICE.DB");
  table.Open();
  table.confirm_usr_post = false;
  table.Insert();
  table.FieldByName("Tabulka").SetString("LMemo.DB");
  EXPECT_TRUE(table.PostRecord());
  EXPECT_EQ(table.FieldByName("Klic").AsVariant(), Value(int64_t{0}));
  EXPECT_EQ(table.FieldByName("Aktivni").AsVariant(), Value(false));
  EXPECT_TRUE(ui.boxes.empty());

  table.init_null_values = false;
  table.Insert();
  table.FieldByName("Tabulka").SetString("Jina");
  table.PostRecord();
  EXPECT_TRUE(table.FieldByName("Klic").IsNull());
}

TEST_F(FTableTest, AsksBeforePostingAndDeletingAndNoAbandons) {
  table.Open();
  ui.Answer(kIdNo);
  table.Insert();
  table.FieldByName("Tabulka").SetString("X");
  EXPECT_FALSE(table.PostRecord());
  EXPECT_EQ(table.State(), CursorState::kInsert);
  ui.Answer(kIdYes);
  EXPECT_TRUE(table.PostRecord());
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, kConfirmPostText);
  EXPECT_EQ(ui.boxes[0].kind, MsgKind::kQuestion);

  ui.Answer(kIdNo);
  EXPECT_FALSE(table.DeleteRecord());
  EXPECT_EQ(table.RecordCount(), 1u);
  ui.Answer(kIdYes);
  EXPECT_TRUE(table.DeleteRecord());
  EXPECT_EQ(table.RecordCount(), 0u);
  EXPECT_EQ(ui.boxes.back().text, kConfirmDeleteText);
}

}  // namespace
}  // namespace dalimor
