#include "batch/batch_viewer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/paradox/table.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

std::vector<FieldDef> Keys(bool c_agenda, bool items) {
  const std::string s = c_agenda ? "DoklRada" : "DoklSRada";
  const std::string n = c_agenda ? "DoklCislo" : "DoklSCislo";
  std::vector<FieldDef> f{{s, FieldType::kAlpha, 5}, {n, FieldType::kAlpha, 10}};
  if (items) f.push_back({"Klic", FieldType::kLong, 0});
  f.push_back({"Text", FieldType::kAlpha, 20});
  return f;
}

TEST(BatchViewer, LabelsOpenTheirTables) {
  EXPECT_EQ(ViewerTablesFor("laPoklPoc")->detail, "CPOKLSD");
  EXPECT_EQ(ViewerTablesFor("laCenikPoc")->detail, "");
  EXPECT_EQ(ViewerTablesFor("laBankaPoc")->master, "CBANKA.DB");
  EXPECT_FALSE(ViewerTablesFor("laNic"));
}

TEST(BatchViewer, ItemsFollowTheSelectedHeader) {
  test::TempDir dir;
  auto h = ParadoxTable::Create(dir.File("CPokl.DB"), Keys(true, false), 2);
  h->Insert({std::string("PD"), std::string("1"), std::string("první")});
  h->Insert({std::string("PD"), std::string("2"), std::string("druhý")});
  h->Close();
  auto i = ParadoxTable::Create(dir.File("CPoklSD.DB"), Keys(true, true), 3);
  i->Insert({std::string("PD"), std::string("2"), int64_t{1}, std::string("a")});
  i->Insert({std::string("PD"), std::string("2"), int64_t{2}, std::string("b")});
  i->Close();

  BatchViewerModel viewer;
  // Typed without a final separator.
  EXPECT_EQ(viewer.Open(dir.path().string(), *ViewerTablesFor("laPoklPoc")), "");
  ASSERT_TRUE(viewer.has_detail());
  EXPECT_TRUE(viewer.linked());
  // The remembered first item row belongs to header 2, which is not selected.
  EXPECT_EQ(viewer.master().FieldByName("DoklCislo").AsString(), "1");
  EXPECT_EQ(viewer.detail().RecordCount(), 0u);
  viewer.master().Next();
  EXPECT_EQ(viewer.detail().RecordCount(), 2u);
  EXPECT_EQ(viewer.detail().FieldByName("Text").AsString(), "a");
}

TEST(BatchViewer, EmptyItemsAreNotLinkedAndMissingTablesReportTheEngineMessage) {
  test::TempDir dir;
  ParadoxTable::Create(dir.File("SPFH.DB"), Keys(false, false), 2)->Close();
  ParadoxTable::Create(dir.File("SPFP.DB"), Keys(false, true), 3)->Close();
  BatchViewerModel viewer;
  EXPECT_EQ(viewer.Open(dir.path().string() + "/", *ViewerTablesFor("laPFPoc")), "");
  EXPECT_TRUE(viewer.has_detail());
  EXPECT_FALSE(viewer.linked());

  const std::string error = viewer.Open(dir.path().string(), *ViewerTablesFor("laVFPoc"));
  EXPECT_NE(error.find("Table does not exist."), std::string::npos) << error;
  EXPECT_FALSE(viewer.master().Active());
}

// A batch table planted as a link to a company's table (or its memo or
// index file) is not shown: the viewer names the file instead.
TEST(BatchViewer, LinkedBatchFilesAreNotOpened) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "firma");
  std::filesystem::create_directories(dir.path() / "davka");
  std::vector<FieldDef> fields = Keys(false, false);
  fields.push_back({"Poznamka", FieldType::kMemo, 10});
  auto company = ParadoxTable::Create(dir.File("firma/SPFH.DB"), fields, 2);
  company->Insert({std::string("FP"), std::string("1"), std::string("firma"), std::string("m")});
  company->Close();
  for (const char* extension : {".DB", ".PX", ".MB"}) {
    SCOPED_TRACE(extension);
    std::filesystem::remove_all(dir.path() / "davka");
    std::filesystem::create_directories(dir.path() / "davka");
    ParadoxTable::Create(dir.File("davka/SPFH.DB"), fields, 2)->Close();
    const std::string planted = dir.File(std::string("davka/SPFH") + extension);
    std::filesystem::remove(planted);
    std::filesystem::create_symlink(dir.File(std::string("firma/SPFH") + extension), planted);
    BatchViewerModel viewer;
    const std::string error = viewer.Open(dir.File("davka"), {"SPFH.DB", ""});
    EXPECT_NE(error.find(planted), std::string::npos) << error;
    EXPECT_FALSE(viewer.master().Active());
  }
}

}  // namespace
}  // namespace dalimor
