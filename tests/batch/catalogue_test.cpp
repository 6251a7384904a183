#include "batch/catalogue.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) { test::WriteFileBytes(path, ""); }

TEST(BatchCatalogue, AgendasComeSFirstThenC) {
  std::string order;
  for (const Agenda& a : Agendas()) order += std::string(a.code) + " ";
  EXPECT_EQ(order, "PF VF SklOper Obj Cenik Pokl Banka IntDokl PZ Denik ");
  EXPECT_EQ(FindAgenda("PZ")->caption, "Pohledávky z závazky");
  EXPECT_EQ(FindAgenda("PZ")->progress_name, "Pohledávky a závazky...");
  EXPECT_EQ(FindAgenda("pf"), nullptr);
}

TEST(BatchCatalogue, EveryAgendaTableIsInTheBatchList) {
  for (const Agenda& a : Agendas()) {
    const BatchTable* header = FindBatchTable(a.header_table);
    ASSERT_NE(header, nullptr) << a.code;
    EXPECT_EQ(header->agenda, a.code);
    EXPECT_FALSE(header->count_key.empty()) << a.code;
    if (!a.item_table.empty()) {
      const BatchTable* items = FindBatchTable(a.item_table);
      ASSERT_NE(items, nullptr) << a.code;
      EXPECT_EQ(items->agenda, a.code);
      EXPECT_TRUE(items->count_key.empty());
      // Item rows of a document go with their header.
      EXPECT_EQ(items->document_keys, header->document_keys);
    }
  }
  EXPECT_EQ(FindBatchTable("cbankap.db")->file_name, "CBankap.DB");
  EXPECT_EQ(BatchTableMask(*FindBatchTable("SVFH.DB")), "Svfh.*");
  EXPECT_EQ(BatchTables().back().file_name, "LMemo.DB");
}

TEST(BatchTablesExist, AnyStopsAtTheFirstFileAndAllAtTheFirstGap) {
  test::TempDir dir;
  const std::string folder = dir.path().string();
  EXPECT_FALSE(BatchTablesExist(folder, true));
  EXPECT_FALSE(BatchTablesExist(folder, false));

  Touch(dir.path() / "LMemo.DB");  // the memo table is not part of the test
  EXPECT_FALSE(BatchTablesExist(folder, true));

  fs::create_directory(dir.path() / "CPokl.DB");  // a folder is not the table
  EXPECT_FALSE(BatchTablesExist(folder, true));

  Touch(dir.path() / "cpoklsd.db");
  EXPECT_TRUE(BatchTablesExist(folder, true));
  EXPECT_FALSE(BatchTablesExist(folder, false));

  fs::remove(dir.path() / "CPokl.DB");
  fs::remove(dir.path() / "LMemo.DB");
  for (size_t i = 0; i < kAgendaBatchTableCount; ++i) {
    std::string name(BatchTables()[i].file_name);
    if (i % 2) {
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    Touch(dir.path() / name);
  }
  EXPECT_TRUE(BatchTablesExist(folder, false));  // complete without LMemo.DB
}

}  // namespace
}  // namespace dalimor
