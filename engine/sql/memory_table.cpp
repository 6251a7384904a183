#include "engine/sql/memory_table.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "engine/engine_error.h"
#include "engine/sql/value_ops.h"

namespace dalimor {
namespace {

// The Value alternative that holds values of a field type.
size_t AlternativeOf(FieldType type) {
  switch (type) {
    case FieldType::kAlpha:
    case FieldType::kMemo:
    case FieldType::kFormattedMemo: return 3;
    case FieldType::kShort:
    case FieldType::kLong:
    case FieldType::kAutoInc: return 1;
    case FieldType::kNumber:
    case FieldType::kMoney:
    case FieldType::kBcd: return 2;
    case FieldType::kLogical: return 4;
    case FieldType::kDate: return 5;
    case FieldType::kTime: return 6;
    case FieldType::kTimestamp: return 7;
    case FieldType::kBlob:
    case FieldType::kOle:
    case FieldType::kGraphic:
    case FieldType::kBytes: return 8;
  }
  return 0;
}

[[noreturn]] void KeyViolation() {
  throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
}

}  // namespace

MemorySqlTable::MemorySqlTable(std::vector<FieldDef> fields, int key_count)
    : fields_(std::move(fields)), key_count_(key_count) {
  if (key_count < 0 || static_cast<size_t>(key_count) > fields_.size())
    throw EngineError(EngineErrorKind::kInvalidDefinition, "Invalid key definition.");
}

bool MemorySqlTable::KeyLess(const Record& a, const Record& b) const {
  for (int i = 0; i < key_count_; ++i) {
    const int c = CompareNullsFirst(a[i], b[i]);
    if (c != 0) return c < 0;
  }
  return false;
}

void MemorySqlTable::CheckRow(const Record& row) const {
  if (row.size() != fields_.size())
    throw EngineError(EngineErrorKind::kGeneral, "Record has the wrong number of fields.");
  for (size_t i = 0; i < row.size(); ++i) {
    if (!IsNull(row[i]) && row[i].index() != AlternativeOf(fields_[i].type))
      throw EngineError(EngineErrorKind::kGeneral,
                        "Value of the wrong type.\nField: " + fields_[i].name);
  }
}

void MemorySqlTable::Scan(const std::function<bool(const Record&, uint64_t)>& visit) {
  for (const Row& row : rows_)
    if (!visit(row.values, row.id)) return;
}

void MemorySqlTable::InsertAll(std::vector<Record> rows) {
  for (const Record& row : rows) CheckRow(row);
  if (key_count_ == 0) {
    for (Record& row : rows) rows_.push_back({next_id_++, std::move(row)});
    return;
  }
  std::vector<size_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return KeyLess(rows[a], rows[b]); });
  for (size_t i = 1; i < order.size(); ++i)
    if (!KeyLess(rows[order[i - 1]], rows[order[i]])) KeyViolation();
  const auto row_less = [&](const Row& a, const Record& b) { return KeyLess(a.values, b); };
  for (const Record& row : rows) {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), row, row_less);
    if (it != rows_.end() && !KeyLess(row, it->values)) KeyViolation();
  }
  // Nothing can fail from here on.
  std::vector<Row> added;
  added.reserve(rows.size());
  const uint64_t first_id = next_id_;
  next_id_ += rows.size();
  for (size_t i : order) added.push_back({first_id + i, std::move(rows[i])});
  std::vector<Row> merged;
  merged.reserve(rows_.size() + added.size());
  std::merge(std::make_move_iterator(rows_.begin()), std::make_move_iterator(rows_.end()),
             std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
             std::back_inserter(merged),
             [&](const Row& a, const Row& b) { return KeyLess(a.values, b.values); });
  rows_ = std::move(merged);
}

void MemorySqlTable::DeleteAll(const std::vector<uint64_t>& row_ids) {
  const std::unordered_set<uint64_t> ids(row_ids.begin(), row_ids.end());
  size_t found = 0;
  for (const Row& row : rows_)
    if (ids.count(row.id)) ++found;
  if (found != ids.size())
    throw EngineError(EngineErrorKind::kGeneral, "Record not found.");
  std::erase_if(rows_, [&](const Row& row) { return ids.count(row.id) > 0; });
}

std::vector<Record> MemorySqlTable::Rows() const {
  std::vector<Record> out;
  out.reserve(rows_.size());
  for (const Row& row : rows_) out.push_back(row.values);
  return out;
}

std::string MemorySqlCatalog::Fold(const std::string& path) {
  std::string folded = path;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

void MemorySqlCatalog::Add(const std::string& path, std::shared_ptr<MemorySqlTable> table) {
  tables_[Fold(path)] = std::move(table);
}

std::shared_ptr<MemorySqlTable> MemorySqlCatalog::Find(const std::string& path) const {
  const auto it = tables_.find(Fold(path));
  return it == tables_.end() ? nullptr : it->second;
}

std::shared_ptr<SqlTable> MemorySqlCatalog::Open(const std::string& path_text, bool /*for_write*/) {
  ++open_count_;
  auto table = Find(path_text);
  if (!table)
    throw EngineError(EngineErrorKind::kFileNotFound, "Table does not exist.\nTable: " + path_text);
  return table;
}

}  // namespace dalimor
