#pragma once
// The cursor over one table that the rest of the system works with, in the
// manner of the Borland engine's table component: a current record, first /
// next / end test, fields by name with typed access, Locate, insert / edit /
// post / delete, and a detail cursor that follows the current record of a
// master table.  Built on ParadoxTable.

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/value.h"

namespace dalimor {

class TableCursor;

// A field of the cursor's current record.  Reads see the record buffer
// (the current record, or the one being inserted or edited); writes need
// the cursor in insert or edit state.
class TableField {
 public:
  const std::string& name() const { return def_.name; }
  FieldType type() const { return def_.type; }
  int size() const { return def_.size; }
  int index() const { return index_; }

  bool IsNull() const;
  Value AsVariant() const;
  // Text of the value: text as stored; integers in decimal; numbers in the
  // shortest round-trip form; dates d.M.yyyy; times H:mm:ss; timestamps
  // d.M.yyyy H:mm:ss; logicals "True"/"False"; empty for NULL.
  std::string AsString() const;
  // Whole number of an integer, number or logical value (numbers are
  // truncated), of a text holding one; 0 for NULL.  Throws EngineError
  // (kGeneral) for other values.
  int64_t AsInteger() const;
  // Date-time number of a date, time or timestamp; 0 for NULL.
  double AsDateTime() const;
  // A logical value; false for NULL; integers compare with 0.
  bool AsBoolean() const;

  // Sets the value, converted to the field's type (text into numbers,
  // numbers into text and so on).  Throws EngineError (kGeneral) when the
  // cursor is not in insert or edit state or the value does not convert.
  void SetVariant(const Value& value);
  void SetString(std::string_view text);
  void SetInteger(int64_t value);
  void SetDateTime(double value);
  void SetBoolean(bool value);
  void Clear();

 private:
  friend class TableCursor;
  TableField(TableCursor* cursor, FieldDef def, int index)
      : cursor_(cursor), def_(std::move(def)), index_(index) {}
  TableCursor* cursor_;
  FieldDef def_;
  int index_;
};

enum class CursorState { kInactive, kBrowse, kEdit, kInsert };

class TableCursor {
 public:
  TableCursor() = default;
  // Closes the table (pending insert or edit is dropped).
  ~TableCursor();
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  // The table: a folder (with or without a trailing separator) plus a file
  // name, or a full path in `table_name` with `database_name` empty.  A name
  // without extension is the ".DB" table.
  void SetDatabaseName(std::string folder) { database_name_ = std::move(folder); }
  void SetTableName(std::string name) { table_name_ = std::move(name); }
  const std::string& database_name() const { return database_name_; }
  const std::string& table_name() const { return table_name_; }
  // The path the table is opened from.
  std::string TablePath() const;

  // Opens the table and stands on its first record.  Throws EngineError.
  void Open(OpenMode mode = OpenMode::kShared);
  void Close();
  bool Active() const { return table_ != nullptr; }
  CursorState State() const { return state_; }

  // Navigation.  After the last record (or in an empty table) Eof is true.
  void First();
  void Next();
  void Last();
  void Prior();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // Records visible to the cursor (a detail sees those of its master's
  // current record).
  uint32_t RecordCount() const;
  bool IsEmpty() const { return RecordCount() == 0; }

  // Fields.  FieldByName throws EngineError (kFieldNotFound) "Field 'X' not
  // found." with a "Table: <path>" line for a name the table lacks;
  // FindField returns nullptr.  Names compare without regard to case.  The
  // errors of a field's typed access name the table the same way.
  TableField& FieldByName(std::string_view name);
  TableField* FindField(std::string_view name);
  std::vector<TableField>& Fields() { return fields_; }
  TableField& FieldAt(int index) { return fields_.at(static_cast<size_t>(index)); }

  // Moves to the first record (in cursor order) whose fields, named in
  // `field_names` joined by ";", equal `values` exactly (text compared
  // case-sensitively, numbers by value).  Returns false and stays where it
  // was when there is none.  Throws EngineError for an unknown field.
  bool Locate(std::string_view field_names, const std::vector<Value>& values);

  // Editing.  Insert / Append start a new record of NULLs; Edit copies the
  // current one; Post writes it (keyed tables put it in key order; the
  // cursor then stands on it) and Cancel drops it.  Delete removes the
  // current record and stands on the next.  Throw EngineError: kKeyViolation
  // ("Key violation.") with nothing changed, kGeneral for a wrong state.
  void Insert();
  void Append() { Insert(); }
  void Edit();
  void Post();
  void Cancel();
  void Delete();

  // Makes this cursor a detail of `master`: it sees only the records whose
  // leading primary-key fields equal the master's current values of
  // `master_fields` (names joined by ";"), and follows every move of the
  // master.  Pass nullptr to detach.  Throws EngineError (kGeneral) when
  // the table's key has fewer fields than named.
  void SetMaster(TableCursor* master, std::string master_fields);

  // `error` with a "Table: <path>" line naming this cursor's table, unless it
  // names a table already.
  EngineError WithTableContext(const EngineError& error) const;

  // The underlying table, for callers that need more (nullptr when closed).
  ParadoxTable* table() { return table_.get(); }

  // Called by a master whenever its current record changes.
  void MasterChanged();

 private:
  friend class TableField;

  Value& BufferValue(int index);
  const Value& BufferValue(int index) const;
  void LoadCurrent();
  void SetPosition(std::optional<RecordPosition> position, bool forward);
  bool InRange(RecordPosition position) const;
  std::optional<RecordPosition> RangeFirst() const;
  std::optional<RecordPosition> RangeLast() const;
  void NotifyDetails();
  void CheckBrowse(const char* operation);
  void RequireActive() const;

  std::string database_name_;
  std::string table_name_;
  std::unique_ptr<ParadoxTable> table_;
  std::vector<TableField> fields_;
  CursorState state_ = CursorState::kInactive;
  std::optional<RecordPosition> position_;
  bool eof_ = true;
  bool bof_ = true;
  Record buffer_;

  TableCursor* master_ = nullptr;
  std::vector<std::string> master_fields_;
  std::vector<TableCursor*> details_;
  std::optional<Record> range_;  // the key prefix a detail is limited to
};

// The conversions of TableField::AsString and AsInteger, for a value read
// from the table directly.
std::string ValueAsString(const Value& value);
int64_t ValueAsInteger(const Value& value);

// Keeps the changes posted through the open cursors among `cursors` in
// memory until Finish writes each changed block once, instead of writing
// the files after every posted row.  When the work stops half-way, what was
// changed is written when the tables close (a run journal restores them).
class DeferredWrites {
 public:
  DeferredWrites(std::initializer_list<TableCursor*> cursors);
  DeferredWrites(const DeferredWrites&) = delete;
  DeferredWrites& operator=(const DeferredWrites&) = delete;
  // Writes the changes and lets each later change be written at once again.
  // Throws EngineError (kIo).
  void Finish();

 private:
  std::vector<TableCursor*> cursors_;
};

}  // namespace dalimor
