#include "engine/sql/memory_table.h"

#include <gtest/gtest.h>

#include "engine/engine_error.h"

namespace dalimor {
namespace {

std::shared_ptr<MemorySqlTable> KeyedTable() {
  return std::make_shared<MemorySqlTable>(
      std::vector<FieldDef>{{"A", FieldType::kAlpha, 4}, {"B", FieldType::kLong, 0},
                            {"C", FieldType::kAlpha, 10}},
      2);
}

Record Row(Value a, Value b, Value c) { return {std::move(a), std::move(b), std::move(c)}; }

std::vector<uint64_t> Ids(MemorySqlTable& table) {
  std::vector<uint64_t> ids;
  table.Scan([&](const Record&, uint64_t id) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

TEST(MemorySqlTable, KeepsKeyOrderWithNullFirstAndTextInByteOrder) {
  auto table = KeyedTable();
  table->InsertAll({Row("b", int64_t{1}, "x"), Row("B", int64_t{2}, "y"),
                    Row(Value(), int64_t{3}, "z"), Row("b", int64_t{0}, "w")});
  const std::vector<Record> expected = {Row(Value(), int64_t{3}, "z"), Row("B", int64_t{2}, "y"),
                                        Row("b", int64_t{0}, "w"), Row("b", int64_t{1}, "x")};
  EXPECT_EQ(table->Rows(), expected);
}

TEST(MemorySqlTable, KeyViolationInsertsNothing) {
  auto table = KeyedTable();
  table->InsertAll({Row("a", int64_t{1}, "old")});
  const std::vector<std::vector<Record>> refused = {
      {Row("z", int64_t{9}, "new"), Row("a", int64_t{1}, "clash")},  // with a stored row
      {Row("q", int64_t{1}, "one"), Row("q", int64_t{1}, "two")},    // within the batch
      {Row(Value(), Value(), "n1"), Row(Value(), Value(), "n2")},    // NULL keys are equal
  };
  for (const auto& rows : refused) {
    try {
      table->InsertAll(rows);
      ADD_FAILURE() << "no key violation";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
      EXPECT_STREQ(e.what(), "Key violation.");
    }
    EXPECT_EQ(table->Rows(), std::vector<Record>{Row("a", int64_t{1}, "old")});
  }
}

TEST(MemorySqlTable, UnkeyedKeepsInsertionOrderAndDuplicates) {
  MemorySqlTable table({{"A", FieldType::kAlpha, 4}}, 0);
  table.InsertAll({{Value("b")}, {Value("a")}, {Value("b")}});
  EXPECT_EQ(table.Rows(), (std::vector<Record>{{Value("b")}, {Value("a")}, {Value("b")}}));
}

TEST(MemorySqlTable, RowIdsStayWithTheirRowsAcrossInsertsAndDeletes) {
  auto table = KeyedTable();
  table->InsertAll({Row("m", int64_t{1}, "m1"), Row("t", int64_t{1}, "t1")});
  const auto before = Ids(*table);
  table->InsertAll({Row("a", int64_t{1}, "a1")});  // sorts before both
  const auto after = Ids(*table);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[1], before[0]);
  EXPECT_EQ(after[2], before[1]);
  table->DeleteAll({before[0]});
  EXPECT_EQ(table->Rows(), (std::vector<Record>{Row("a", int64_t{1}, "a1"), Row("t", int64_t{1}, "t1")}));
}

TEST(MemorySqlTable, DeleteWithAnUnknownIdDeletesNothing) {
  auto table = KeyedTable();
  table->InsertAll({Row("a", int64_t{1}, "x"), Row("b", int64_t{1}, "y")});
  const auto ids = Ids(*table);
  EXPECT_THROW(table->DeleteAll({ids[0], 12345}), EngineError);
  EXPECT_EQ(table->RowCount(), 2u);
}

TEST(MemorySqlTable, RefusesRowsOfTheWrongShapeOrType) {
  auto table = KeyedTable();
  EXPECT_THROW(table->InsertAll({{Value("a"), Value(int64_t{1})}}), EngineError);
  EXPECT_THROW(table->InsertAll({Row("a", 1.5, "x")}), EngineError);  // double in a long field
  EXPECT_EQ(table->RowCount(), 0u);
  EXPECT_THROW(MemorySqlTable({{"A", FieldType::kAlpha, 4}}, 2), EngineError);
}

TEST(MemorySqlTable, ScanStopsWhenAsked) {
  auto table = KeyedTable();
  table->InsertAll({Row("a", int64_t{1}, "x"), Row("b", int64_t{1}, "y")});
  int visited = 0;
  table->Scan([&](const Record&, uint64_t) {
    ++visited;
    return false;
  });
  EXPECT_EQ(visited, 1);
}

TEST(MemorySqlCatalog, FindsTablesWithoutRegardToCaseAndNamesAMissingOne) {
  MemorySqlCatalog catalog;
  auto table = KeyedTable();
  catalog.Add("D:\\Davka\\SPFH.DB", table);
  EXPECT_EQ(catalog.Open("d:\\davka\\spfh.db", false), table);
  try {
    catalog.Open("D:\\Davka\\NONE.DB", true);
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFileNotFound);
    EXPECT_STREQ(e.what(), "Table does not exist.\nTable: D:\\Davka\\NONE.DB");
  }
  EXPECT_EQ(catalog.open_count(), 2);
}

}  // namespace
}  // namespace dalimor
