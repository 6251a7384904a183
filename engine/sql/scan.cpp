#include "engine/sql/scan.h"

#include "engine/engine_error.h"

namespace dalimor {
namespace {

// The row of a table none of whose fields is read.
const Value kNoFields[1];

void CheckShape(const BoundTable& table, const Record& record) {
  if (record.size() != table.table->Fields().size())
    throw EngineError(EngineErrorKind::kCorrupt,
                      "Record does not match the table's fields.\nTable: " + table.path);
}

}  // namespace

MaterializedTable::MaterializedTable(const BoundTable& table) {
  remap_.assign(table.used.size(), -1);
  std::vector<size_t> kept;
  for (size_t i = 0; i < table.used.size(); ++i) {
    if (table.used[i]) {
      remap_[i] = static_cast<int>(kept.size());
      kept.push_back(i);
    }
  }
  width_ = kept.size();
  table.table->ScanFields(table.used, [&](const Record& record, uint64_t row_id) {
    CheckShape(table, record);
    for (size_t field : kept) values_.push_back(record[field]);
    ids_.push_back(row_id);
    ++count_;
    return true;
  });
}

const Value* MaterializedTable::Row(size_t i) const {
  return width_ == 0 ? kNoFields : values_.data() + i * width_;
}

bool StreamTable(const BoundTable& table, const std::vector<bool>& fields,
                 const std::function<bool(const Value* row, uint64_t row_id)>& visit) {
  bool completed = true;
  table.table->ScanFields(fields, [&](const Record& record, uint64_t row_id) {
    CheckShape(table, record);
    if (!visit(record.empty() ? kNoFields : record.data(), row_id)) {
      completed = false;
      return false;
    }
    return true;
  });
  return completed;
}

}  // namespace dalimor
