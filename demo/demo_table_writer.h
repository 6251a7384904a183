#pragma once
// Writing one demo table: created empty, filled with auto-flush off and
// written to disk once when finished, with rows built by field name.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "demo/demo_tables.h"
#include "engine/paradox/table.h"
#include "engine/value.h"

namespace dalimor {

class DemoTableWriter {
 public:
  // Creates the table `def` in `base_folder` / def.folder, replacing a table
  // of that name, with blocks of `block_size` bytes (0: def.block_size).
  // Throws EngineError as ParadoxTable::Create.
  DemoTableWriter(const std::string& base_folder, const DemoTableDef& def, int block_size = 0);

  std::string_view file_name() const { return def_.file_name; }
  // The position of a field; throws std::logic_error for a name the table
  // lacks (a mistake in the demo data).
  size_t Index(std::string_view name) const;
  Record NewRow() const { return Record(fields_.size()); }

  // Inserts in key order.  A text longer than its field throws
  // std::logic_error instead of being cut; EngineError as ParadoxTable::Insert.
  void Insert(const Record& row);
  // Writes the files and closes the table.
  void Finish();

 private:
  const DemoTableDef& def_;
  std::vector<FieldDef> fields_;
  std::map<std::string, size_t, std::less<>> index_;
  std::unique_ptr<ParadoxTable> table_;
};

// A record under construction, its fields set by name.
class DemoRow {
 public:
  explicit DemoRow(const DemoTableWriter& table) : table_(&table), values_(table.NewRow()) {}
  DemoRow(const DemoTableWriter& table, Record values)
      : table_(&table), values_(std::move(values)) {}
  Value& operator[](std::string_view name) { return values_[table_->Index(name)]; }
  const Record& values() const { return values_; }

 private:
  const DemoTableWriter* table_;
  Record values_;
};

// Text that is NULL when empty, as Kalmeo leaves fields nobody filled in.
Value DemoText(std::string_view text);
// An amount rounded to hellers.
double RoundToHellers(double amount);

}  // namespace dalimor
