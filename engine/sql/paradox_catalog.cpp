#include "engine/sql/paradox_catalog.h"

#include <algorithm>
#include <set>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"

namespace dalimor {
namespace {

// A key as exact text, for finding duplicates among the rows of one
// statement (equal keys have equal values, so equal encodings).
std::string KeyText(const Record& row, int key_fields) {
  std::string text;
  for (int i = 0; i < key_fields; ++i) {
    const Value& v = row[static_cast<size_t>(i)];
    text.push_back(static_cast<char>('0' + v.index()));
    std::visit(
        [&text](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::string>) {
            text += x;
          } else if constexpr (std::is_same_v<T, Bytes>) {
            text += x.data;
          } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, bool>) {
            text += std::to_string(x);
          } else if constexpr (std::is_same_v<T, double>) {
            text.append(reinterpret_cast<const char*>(&x), sizeof x);
          } else if constexpr (std::is_same_v<T, Date> || std::is_same_v<T, Timestamp>) {
            text.append(reinterpret_cast<const char*>(&x.value), sizeof x.value);
          } else if constexpr (std::is_same_v<T, Time>) {
            text += std::to_string(x.milliseconds);
          }
        },
        v);
    text.push_back('\x1f');
  }
  return text;
}

}  // namespace

std::shared_ptr<SqlTable> ParadoxSqlCatalog::Open(const std::string& path_text, bool for_write) {
  return std::make_shared<ParadoxSqlTable>(
      ParadoxTable::Open(path_text, for_write ? OpenMode::kShared : OpenMode::kReadOnly),
      copy_records_);
}

std::vector<FieldDef> ParadoxSqlCatalog::Describe(const std::string& path_text) {
  return ParadoxTable::Describe(path_text).fields;
}

ParadoxSqlTable::ParadoxSqlTable(std::unique_ptr<ParadoxTable> table, bool copy_records)
    : table_(std::move(table)), copy_records_(copy_records) {}

ParadoxSqlTable::~ParadoxSqlTable() {
  try {
    table_->Close();
  } catch (...) {
    // Every change was flushed when it was made; nothing is lost here.
  }
}

const std::vector<FieldDef>& ParadoxSqlTable::Fields() const { return table_->fields(); }

uint64_t ParadoxSqlTable::SizeHint() const { return table_->record_count(); }

void ParadoxSqlTable::Scan(const std::function<bool(const Record&, uint64_t)>& visit) {
  uint64_t ordinal = 0;
  for (auto p = table_->First(); p; p = table_->Next(*p)) {
    scan_position_ = *p;
    if (!visit(table_->Read(*p), ordinal++)) return;
  }
}

void ParadoxSqlTable::ScanFields(const std::vector<bool>& fields,
                                 const std::function<bool(const Record&, uint64_t)>& visit) {
  std::vector<int> wanted;
  for (size_t i = 0; i < fields.size() && i < table_->fields().size(); ++i)
    if (fields[i]) wanted.push_back(static_cast<int>(i));
  if (wanted.size() == table_->fields().size()) {
    Scan(visit);
    return;
  }
  Record record(table_->fields().size());
  uint64_t ordinal = 0;
  table_->ForEachPosition([&](RecordPosition p) {
    scan_position_ = p;
    for (const int f : wanted) record[static_cast<size_t>(f)] = table_->ReadKnownField(p, f);
    return visit(record, ordinal++);
  });
}

namespace {

class ParadoxRecordCopier final : public RecordCopier {
 public:
  ParadoxRecordCopier(ParadoxSqlTable& target, ParadoxSqlTable& source, std::vector<int> field_map)
      : target_(target), source_(source), field_map_(std::move(field_map)) {}

  void TakeCurrent() override { positions_.push_back(source_.scan_position()); }

  uint64_t InsertTaken() override {
    if (positions_.empty()) return 0;
    // Written out whatever the auto-flush setting, as InsertAll does.
    target_.table().CopyRecordsFrom(source_.table(), positions_, field_map_);
    target_.table().Flush();
    return positions_.size();
  }

 private:
  ParadoxSqlTable& target_;
  ParadoxSqlTable& source_;
  std::vector<int> field_map_;
  std::vector<RecordPosition> positions_;
};

}  // namespace

std::unique_ptr<RecordCopier> ParadoxSqlTable::CopierFrom(SqlTable& source,
                                                          const std::vector<int>& field_map) {
  auto* from = dynamic_cast<ParadoxSqlTable*>(&source);
  if (!copy_records_ || !from || !table_->CanCopyRecordsFrom(from->table(), field_map))
    return nullptr;
  return std::make_unique<ParadoxRecordCopier>(*this, *from, field_map);
}

void ParadoxSqlTable::InsertAll(std::vector<Record> rows) {
  if (rows.empty()) return;
  const int key_fields = table_->key_field_count();
  if (key_fields > 0) {
    std::set<std::string> seen;
    for (const Record& row : rows) {
      if (row.size() != table_->fields().size())
        throw EngineError(EngineErrorKind::kGeneral, "Record has the wrong number of fields.");
      const Record key(row.begin(), row.begin() + key_fields);
      if (!seen.insert(KeyText(row, key_fields)).second || table_->Find(key))
        throw EngineError(EngineErrorKind::kKeyViolation, "Key violation.");
    }
  }
  table_->CheckUniqueValues(rows);
  const bool auto_flush = table_->auto_flush();
  table_->set_auto_flush(false);
  const uint32_t count_before = table_->record_count();
  size_t inserted = 0;
  try {
    for (const Record& row : rows) {
      table_->Insert(row);
      ++inserted;
    }
  } catch (...) {
    // Take the rows placed so far out again, then write the table as it was.
    if (key_fields > 0) {
      for (size_t i = 0; i < inserted; ++i) {
        const Record key(rows[i].begin(), rows[i].begin() + key_fields);
        if (const auto p = table_->Find(key)) table_->Delete(*p);
      }
    } else {
      while (table_->record_count() > count_before)
        table_->Delete(table_->PositionAt(table_->record_count() - 1));
    }
    table_->Flush();
    table_->set_auto_flush(auto_flush);
    throw;
  }
  table_->Flush();
  table_->set_auto_flush(auto_flush);
}

void ParadoxSqlTable::DeleteAll(const std::vector<uint64_t>& row_ids) {
  if (row_ids.empty()) return;
  std::vector<uint64_t> ids = row_ids;
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  if (ids.back() >= table_->record_count())
    throw EngineError(EngineErrorKind::kGeneral, "Could not find record.");
  // A keyed table deletes the rows in table order, found in one walk; an
  // unkeyed one deletes from the last row back, which leaves the places of
  // the rows before it as they are.
  const bool auto_flush = table_->auto_flush();
  table_->set_auto_flush(false);
  if (table_->key_field_count() > 0) {
    table_->DeleteOrdinals(ids);
  } else {
    std::vector<RecordPosition> positions;
    uint64_t ordinal = 0;
    size_t next = 0;
    for (auto p = table_->First(); p && next < ids.size(); p = table_->Next(*p), ++ordinal) {
      if (ordinal != ids[next]) continue;
      ++next;
      positions.push_back(*p);
    }
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) table_->Delete(*it);
  }
  table_->Flush();
  table_->set_auto_flush(auto_flush);
}

}  // namespace dalimor
