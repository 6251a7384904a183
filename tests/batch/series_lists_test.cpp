#include "batch/series_lists.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/paradox/table.h"
#include "platform/ini_file.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

TEST(SeriesQueries, HaveTheirExactTexts) {
  EXPECT_EQ(BuildSeriesQuery("/f/LDATA/S/", "Ldoklady.DB", "PF", "", ""),
            "SELECT RADA FROM '/f/LDATA/S/Ldoklady.DB'\rWHERE (AGENDA ='PF')");
  EXPECT_EQ(BuildSeriesQuery("/f/", "Ldoklady.DB", "PZ", "PF", "VF"),
            "SELECT RADA FROM '/f/Ldoklady.DB'\rWHERE (AGENDA ='PZ') OR (AGENDA ='PF') OR "
            "(AGENDA ='VF')");
  EXPECT_EQ(BuildSeriesQuery("/f/", "Ldoklady.DB", "*", "J", ""),
            "SELECT RADA FROM '/f/Ldoklady.DB'\rWHERE ((AGENDA = 'B') OR (AGENDA = 'P') OR "
            "(AGENDA = 'ID'))");
  EXPECT_EQ(BuildSeriesQuery("/f/", "Ldoklady.DB", "*", "P", ""),
            "SELECT RADA FROM '/f/Ldoklady.DB'\rWHERE NOT ((AGENDA = 'SO') OR (AGENDA = 'O') OR "
            "(AGENDA = 'PP'))");
  EXPECT_EQ(BuildGroupQuery("/d/", "SPFH.DB", "DoklSRada"),
            "SELECT DoklSRada FROM '/d/SPFH.DB'\rGROUP BY DoklSRada");
  EXPECT_EQ(BuildGroupQuery("/d/O'Neil/", "SPFH.DB", "DoklSRada"),
            "SELECT DoklSRada FROM '/d/O''Neil/SPFH.DB'\rGROUP BY DoklSRada");
}

class SeriesListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(company / "LDATA" / "S");
    fs::create_directories(batch);
    auto reg = ParadoxTable::Create((company / "LDATA" / "S" / "Ldoklady.DB").string(),
                                    {{"AGENDA", FieldType::kAlpha, 4},
                                     {"RADA", FieldType::kAlpha, 5},
                                     {"Nazev", FieldType::kAlpha, 40}},
                                    2);
    for (const auto& [agenda, series] : std::vector<std::pair<std::string, std::string>>{
             {"PF", "FP"}, {"PF", "FP2"}, {"VF", "FV"}, {"PZ", "PZ1"}, {"VF", "FP"},
             {"B", "BV"}, {"P", "PD"}, {"ID", "ID"}, {"SO", "PR"}, {"O", "OB"}, {"PP", "XX"}})
      reg->Insert({agenda, series, std::string("řada")});
    reg->Close();
    auto header = ParadoxTable::Create((batch / "SPFH.DB").string(),
                                       {{"DoklSRada", FieldType::kAlpha, 5},
                                        {"DoklSCislo", FieldType::kAlpha, 10}},
                                       2);
    header->Insert({std::string("FP2"), std::string("1")});
    header->Insert({std::string("FP"), std::string("1")});
    header->Insert({std::string("FP"), std::string("2")});
    header->Insert({std::monostate{}, std::string("3")});
    header->Close();
  }
  std::string CompanyFolder() const { return company.string() + "/"; }
  std::string BatchFolder() const { return batch.string() + "/"; }

  test::TempDir dir;
  fs::path company = dir.path() / "firma";
  fs::path batch = dir.path() / "davka";
  test::ScriptedUi ui;
};

TEST_F(SeriesListsTest, SendBoxesListTheRegisterAndReceiveBoxesTheBatch) {
  SeriesBoxes boxes;
  FillSeriesLists(ui, boxes, true, CompanyFolder(), "P", BatchFolder());
  EXPECT_EQ(boxes["cbPFDRO"].entries, (std::vector<std::string>{" ", "FP", "FP2"}));
  // The register's row order; FP is registered for two of the codes.
  EXPECT_EQ(boxes["cbPZDRO"].entries,
            (std::vector<std::string>{" ", "FP", "FP2", "PZ1", "FP", "FV"}));
  EXPECT_EQ(boxes["cbSklOperDRO"].entries, (std::vector<std::string>{" ", "PR"}));
  EXPECT_EQ(boxes["cbPoklDRO"].entries, (std::vector<std::string>{" ", "PD"}));
  // Not a "J" company: everything but SO, O and PP.
  EXPECT_EQ(boxes["cbDenikDRO"].entries.size(), 9u);
  // Grouped batch series, the empty series included; a missing table gives no entry.
  EXPECT_EQ(boxes["cbPFDRP"].entries, (std::vector<std::string>{" ", "", "FP", "FP2"}));
  EXPECT_TRUE(boxes["cbVFDRP"].entries.empty());
  EXPECT_EQ(ui.busy_cursor.depth, 0);
  EXPECT_TRUE(ui.boxes.empty());  // failures are silent

  SeriesBoxes j;
  FillSeriesLists(ui, j, true, CompanyFolder(), "J", BatchFolder());
  EXPECT_EQ(j["cbDenikDRO"].entries, (std::vector<std::string>{" ", "BV", "ID", "PD"}));
}

// A batch table planted as a link to a company's table lists nothing: the
// company's series never show as the batch's.
TEST_F(SeriesListsTest, ALinkedBatchTableListsNothing) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  fs::rename(batch / "SPFH.DB", company / "SPFH.DB");
  fs::rename(batch / "SPFH.PX", company / "SPFH.PX");
  fs::create_symlink(company / "SPFH.DB", batch / "SPFH.DB");
  fs::create_symlink(company / "SPFH.PX", batch / "SPFH.PX");
  SeriesBoxes boxes;
  FillSeriesLists(ui, boxes, false, CompanyFolder(), "P", BatchFolder());
  EXPECT_TRUE(boxes["cbPFDRP"].entries.empty());
}

TEST_F(SeriesListsTest, ReceiveOnlyLeavesTheSendBoxesAlone) {
  SeriesBoxes boxes;
  boxes["cbPFDRO"].entries = {" ", "keep"};
  FillSeriesLists(ui, boxes, false, CompanyFolder(), "P", BatchFolder());
  EXPECT_EQ(boxes["cbPFDRO"].entries, (std::vector<std::string>{" ", "keep"}));
  EXPECT_EQ(boxes["cbPFDRP"].entries.size(), 4u);
}

TEST_F(SeriesListsTest, ChoicesAreRestoredByPosition) {
  SeriesBoxes boxes;
  FillSeriesLists(ui, boxes, true, CompanyFolder(), "P", BatchFolder());
  IniFile state(dir.File("Dalimor.INI"));
  state.WriteInteger("Odeslani", "cbPFDRO", 2);
  state.WriteInteger("Odeslani", "cbVFDRO", 9);
  state.WriteInteger("Prijem", "cbPFDRP", 0);
  state.WriteInteger("Prijem", "cbVFDRP", 0);
  RestoreSeriesChoices(boxes, state);
  EXPECT_EQ(boxes["cbPFDRO"].Text(), "FP2");
  EXPECT_EQ(boxes["cbVFDRO"].selected, -1);
  EXPECT_EQ(boxes["cbPFDRP"].Text(), " ");  // the blank entry, as restored
  EXPECT_EQ(boxes["cbVFDRP"].selected, -1);
}

}  // namespace
}  // namespace dalimor
