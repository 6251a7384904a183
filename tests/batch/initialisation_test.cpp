#include "batch/initialisation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "engine/engine_config.h"
#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/table_definition.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// A company whose eighteen source tables hold their key fields, a text, a
// memo and one row each.
void WriteCompany(const fs::path& company) {
  for (const BatchTable& table : BatchTables()) {
    std::vector<FieldDef> fields;
    for (const std::string& key : SplitNameList(table.creation_keys)) {
      const bool number = key == "Klic" || key == "Poradi";
      fields.push_back({key, number ? FieldType::kLong : FieldType::kAlpha, number ? 0 : 10});
    }
    fields.push_back({"Text", FieldType::kAlpha, 40});
    fields.push_back({"Poznamka", FieldType::kMemo, 12});
    const fs::path path = ResolvePathIgnoringCase(company, table.source_path);
    fs::create_directories(path.parent_path());
    CreateOptions options;
    if (table.file_name == std::string_view("Cdenik.DB")) options.block_size = 16384;
    auto t = ParadoxTable::Create(Utf8FromPath(path), fields, static_cast<int>(fields.size()) - 2,
                                  options);
    Record row;
    for (size_t i = 0; i + 2 < fields.size(); ++i)
      row.push_back(fields[i].type == FieldType::kLong ? Value(int64_t{1}) : Value(std::string("A")));
    row.push_back(std::string("Žluťoučký"));
    row.push_back(std::string(3000, 'm'));
    t->Insert(row);
    t->Close();
  }
}

class Initialisation : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteCompany(company);
    fs::create_directories(batch);
    context.company_data_available = true;
    context.company_data_folder = Utf8FromPath(company) + "/";
    context.accounting_folders.roots = {Utf8FromPath(dir.path()) + "/"};
    context.accounting_folders.trees = {Utf8FromPath(dir.path() / "DataPrg")};
    context.transfer_folder = Utf8FromPath(batch) + "/";
    context.refill_series_lists = [this] { ++refills; };
  }

  test::TempDir dir;
  fs::path company = dir.path() / "DATA" / "F01";
  fs::path batch = dir.path() / PathFromUtf8("Přenos O'Neil");
  EngineConfig config{dir.File("engine.cfg")};
  test::ScriptedUi ui;
  InitializationContext context;
  int refills = 0;
};

TEST_F(Initialisation, CreatesTheEighteenEmptyTablesWithTheSourceFieldsAndCatalogueKeys) {
  test::WriteFileBytes(batch / "export.ini", "[LastSend]\r\nCompanyName=x\r\n");
  test::WriteFileBytes(batch / "exportinfo.txt", "zpráva");
  test::WriteFileBytes(batch / "LMemo.DB", "stray");  // not an agenda table: no question
  test::WriteFileBytes(batch / "moje.txt", "user file");
  WriteEngineConfigEntry(config, kLangDriverParameter, "ascii");

  EXPECT_EQ(InitializeBatch(ui, config, context), InitializationResult::kDone);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Inicializace byla úspěšně dokončena.");
  EXPECT_EQ(refills, 1);
  EXPECT_EQ(ReadEngineConfigEntry(config, kLangDriverParameter), "anczechw");
  EXPECT_FALSE(fs::exists(batch / "export.ini"));
  EXPECT_FALSE(fs::exists(batch / "exportinfo.txt"));
  EXPECT_EQ(test::ReadFileBytes(batch / "moje.txt"), "user file");
  EXPECT_TRUE(BatchTablesExist(context.transfer_folder, false));

  for (const BatchTable& entry : BatchTables()) {
    auto source = ParadoxTable::Open(
        Utf8FromPath(ResolvePathIgnoringCase(company, entry.source_path)), OpenMode::kReadOnly);
    auto table =
        ParadoxTable::Open(Utf8FromPath(batch / std::string(entry.file_name)), OpenMode::kReadOnly);
    EXPECT_EQ(table->record_count(), 0u) << entry.file_name;
    ASSERT_EQ(table->fields().size(), source->fields().size());
    for (size_t i = 0; i < table->fields().size(); ++i) {
      EXPECT_EQ(table->fields()[i].name, source->fields()[i].name);
      EXPECT_EQ(table->fields()[i].type, source->fields()[i].type);
      EXPECT_EQ(table->fields()[i].size, source->fields()[i].size);
    }
    EXPECT_EQ(table->key_field_count(),
              static_cast<int>(SplitNameList(entry.creation_keys).size()));
    EXPECT_EQ(table->sort_order_name(), "anczechw");
    EXPECT_EQ(table->block_size(), std::max(2048, source->block_size()));
    EXPECT_EQ(table->code_page(), 1250);
    EXPECT_EQ(TableRecordCount(Utf8FromPath(batch / std::string(entry.file_name))), "0");
  }
  EXPECT_EQ(TableRecordCount(Utf8FromPath(company / "SDATA" / "S" / "SPFH.DB")), "1");
  EXPECT_EQ(TableRecordCount(Utf8FromPath(batch / "NENI.DB")), "0");
}

TEST_F(Initialisation, FolderWithBatchTablesAsksAndNoLeavesEverything) {
  ASSERT_EQ(InitializeBatch(ui, config, context), InitializationResult::kDone);
  auto t = ParadoxTable::Open(Utf8FromPath(batch / "CPokl.DB"), OpenMode::kShared);
  t->Insert({std::string("X"), std::string("1"), std::monostate{}, std::monostate{}});
  t->Close();
  const std::string before = test::ReadFileBytes(batch / "CPokl.DB");
  ui.boxes.clear();
  ui.Answer(kIdNo);
  EXPECT_EQ(InitializeBatch(ui, config, context), InitializationResult::kInterrupted);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, "Složka \"" + context.transfer_folder +
                                  "\" obsahuje data. Inicializací dojde ke smazání dat v dávce. "
                                  "Chcete pokračovat?");
  EXPECT_EQ(ui.boxes[0].buttons, kMbYesNoDefaultNo);
  EXPECT_EQ(ui.boxes[1].text, "Inicializace byla přerušena.");
  EXPECT_EQ(test::ReadFileBytes(batch / "CPokl.DB"), before);

  ui.Answer(kIdYes);
  EXPECT_EQ(InitializeBatch(ui, config, context), InitializationResult::kDone);
  EXPECT_EQ(TableRecordCount(Utf8FromPath(batch / "CPokl.DB")), "0");
}

TEST_F(Initialisation, RefusalsComeInTheirOrderAndChangeNothing) {
  struct {
    bool available;
    std::string folder;
    InitializationResult result;
    std::string text;
  } const cases[] = {
      {false, "", InitializationResult::kNoCompanyData,
       "Složka \"DATA\" programu Kalmeo neexistuje. Inicializaci nelze provést."},
      {true, "", InitializationResult::kNoTransferFolder, "Zadejte složku pro přenos souborů."},
      {true, dir.File("neni") + "/", InitializationResult::kFolderMissing,
       "Zadaná složka pro přenos souborů neexistuje."},
      {true, Utf8FromPath(company / "SDATA" / "S") + "/", InitializationResult::kAccountingFolder,
       kMsgAccountingFolder},
      {true, Utf8FromPath(company), InitializationResult::kAccountingFolder, kMsgAccountingFolder},
      // Inside, above, through a link, in another spelling, the installation.
      {true, Utf8FromPath(company / "SDATA" / "S" / PathFromUtf8("záloha")),
       InitializationResult::kAccountingFolder, kMsgAccountingFolder},
      {true, Utf8FromPath(dir.path() / "DATA"), InitializationResult::kAccountingFolder,
       kMsgAccountingFolder},
      {true, Utf8FromPath(dir.path() / "odkaz"), InitializationResult::kAccountingFolder,
       kMsgAccountingFolder},
      {true, Utf8FromPath(dir.path() / "data" / "f01" / "cdata" / "s"),
       InitializationResult::kAccountingFolder, kMsgAccountingFolder},
      {true, Utf8FromPath(dir.path()), InitializationResult::kAccountingFolder,
       kMsgAccountingFolder},
      {true, Utf8FromPath(dir.path() / "DataPrg" / "GDATA"),
       InitializationResult::kAccountingFolder, kMsgAccountingFolder},
  };
  fs::create_directories(company / "SDATA" / "S" / PathFromUtf8("záloha"));
  fs::create_directories(dir.path() / "DataPrg" / "GDATA");
  // Windows lets only privileged users make links: that case is left out.
  std::error_code no_link;
  fs::create_directory_symlink(company / "CDATA", dir.path() / "odkaz", no_link);
  for (const auto& c : cases) {
    if (no_link && c.folder == Utf8FromPath(dir.path() / "odkaz")) continue;
    test::ScriptedUi fresh;
    InitializationContext ctx = context;
    ctx.company_data_available = c.available;
    ctx.transfer_folder = c.folder;
    EXPECT_EQ(InitializeBatch(fresh, config, ctx), c.result);
    ASSERT_EQ(fresh.boxes.size(), 1u);
    EXPECT_EQ(fresh.boxes[0].text, c.text);
    EXPECT_EQ(fresh.busy_cursor.depth, 0);
  }
  EXPECT_EQ(refills, 0);
  EXPECT_EQ(TableRecordCount(Utf8FromPath(company / "CDATA" / "S" / "CPokl.DB")), "1");
}

TEST_F(Initialisation, MissingSourceTableEndsWithTheEngineError) {
  fs::remove(company / "SDATA" / "S" / "SObjP.DB");
  EXPECT_THROW(InitializeBatch(ui, config, context), EngineError);
  EXPECT_TRUE(fs::exists(batch / "SObjH.DB"));  // the tables before stay
  EXPECT_FALSE(fs::exists(batch / "SObjP.DB"));
  EXPECT_EQ(ui.busy_cursor.depth, 0);
}

TEST(DeleteBatchFiles, TakesEveryFileOfEachTableAndNothingElse) {
  test::TempDir dir;
  for (const char* name : {"CPokl.DB", "cpokl.px", "CPOKL.MB", "Svfh.bak", "CPoklOld.DB",
                           "export.ini", "LMemo.DB", "notes.txt"})
    test::WriteFileBytes(dir.path() / name, "x");
  DeleteBatchFiles(Utf8FromPath(dir.path()));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path()))
    left.push_back(Utf8FromPath(e.path().filename()));
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"CPoklOld.DB", "export.ini", "notes.txt"}));
}

}  // namespace
}  // namespace dalimor
