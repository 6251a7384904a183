// Feeds arbitrary bytes to the local SQL parser, and what parses to the
// binder and executor over two tiny in-memory tables.  Every failure must be
// an EngineError (a malformed statement a kSql one naming a position inside
// the text); nothing may crash, overflow the stack or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/engine_error.h"
#include "engine/sql/error.h"
#include "engine/sql/memory_table.h"
#include "engine/sql/parser.h"
#include "engine/sql/query.h"

namespace {

std::shared_ptr<dalimor::MemorySqlTable> MakeTable() {
  using dalimor::FieldType;
  auto table = std::make_shared<dalimor::MemorySqlTable>(
      std::vector<dalimor::FieldDef>{{"A", FieldType::kAlpha, 4},
                                     {"B", FieldType::kLong, 0},
                                     {"D", FieldType::kDate, 0},
                                     {"N", FieldType::kNumber, 0}},
      2);
  table->InsertAll({{std::string("x"), int64_t{1}, dalimor::Date{40000}, 1.5},
                    {dalimor::Value(), int64_t{2}, dalimor::Value(), dalimor::Value()}});
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    dalimor::ParseSql(text);
  } catch (const dalimor::SqlError& e) {
    if (e.position().offset > text.size() || e.position().line < 1 || e.position().column < 1)
      std::abort();
    return 0;
  }
  dalimor::MemorySqlCatalog catalog;
  catalog.Add("a", MakeTable());
  catalog.Add("b", MakeTable());
  dalimor::SqlQuery query(catalog);
  query.SetText(text);
  try {
    query.ExecSql();
  } catch (const dalimor::EngineError&) {
  }
  return 0;
}
