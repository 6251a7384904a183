#include "transfer/table_step.h"

#include <algorithm>
#include <filesystem>

#include "batch/initialisation.h"
#include "engine/engine_error.h"
#include "engine/paradox/field.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "engine/sql/lexer.h"
#include "engine/sql/literal.h"
#include "engine/sql/query.h"
#include "engine/table_definition.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "util/ui.h"

namespace dalimor {
namespace {

// A name for a message: control characters as "#<code>", as the SQL
// lexer shows them, so that a crafted name cannot break the message's lines.
std::string ShownName(std::string_view name) {
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      shown += "#" + std::to_string(byte);
    else
      shown.push_back(c);
  }
  return shown;
}

std::string Text(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) return v;
        else if constexpr (std::is_same_v<T, int64_t>) return std::to_string(v);
        else if constexpr (std::is_same_v<T, double>) return std::to_string(v);
        else return "";
      },
      value);
}

// The keys of the inserted documents: those present after the INSERT and not
// before it (the DELETE ran already, so replaced documents count as new).
void InsertWithKeys(TransferContext& context, const std::string& source_folder,
                    const std::string& target_folder, const TableStep& step,
                    const TransferFilter& filter, bool guard, const std::string& columns,
                    std::set<std::string>* inserted) {
  const std::string target = target_folder + step.table;
  std::set<std::string> before;
  if (inserted) before = DocumentKeys(target, step.document_keys);
  CopyRows(context, source_folder, target_folder, step, filter, guard, columns);
  if (!inserted) return;
  for (const std::string& key : DocumentKeys(target, step.document_keys))
    if (!before.count(key)) inserted->insert(key);
}

// The header table the DELETE of an item table filters through: the
// source's, the same master the INSERT selects through.  The items deleted
// are then exactly those of the documents whose header this step replaces;
// a target header that passes the filter while the source's version of the
// document does not keeps its items.
std::string MasterPath(const std::string& source_folder, const TableStep& step) {
  return step.master_table.empty() ? "" : source_folder + step.master_table;
}

// The table's record count, from its header.
int64_t RowCount(const std::string& table_path) {
  return static_cast<int64_t>(ParadoxTable::Describe(table_path).record_count);
}

}  // namespace

void StopPoint(const TransferContext& context) {
  if (context.ui && context.ui->StopRequested()) throw RunStopped();
}

void RowPoint(const TransferContext& context, uint64_t done, uint64_t total) {
  if (done % 256 != 0) return;
  if (context.rows_done) context.rows_done(done, total);
  StopPoint(context);
}

std::set<std::string> DocumentKeys(const std::string& table_path, const std::string& keys) {
  std::set<std::string> result;
  const auto table = ParadoxTable::Open(table_path, OpenMode::kReadOnly);
  std::vector<int> fields;
  for (const std::string& name : SplitNameList(keys)) fields.push_back(table->FieldIndex(name));
  for (auto p = table->First(); p; p = table->Next(*p)) {
    std::string key;
    for (const int f : fields) key += (f < 0 ? std::string() : Text(table->ReadField(*p, f))) + '\x1f';
    result.insert(std::move(key));
  }
  return result;
}

std::string ColumnList(TransferContext& context, const std::string& source_path,
                       const std::string& target_path, bool omit_zmeneno) {
  // The fields "SELECT * FROM <table>" would give, from the tables' headers.
  // Every name is checked before any of them goes into a statement: a batch
  // table comes from a folder other people write.
  const auto checked_fields = [&](const std::string& path) {
    std::vector<FieldDef> fields = context.catalog.Describe(path);
    for (const FieldDef& field : fields)
      if (!IsValidFieldName(field.name))
        throw EngineError(EngineErrorKind::kInvalidDefinition,
                          "Invalid field name.\nField: " + ShownName(field.name) +
                              "\nTable: " + path);
    return fields;
  };
  const std::vector<FieldDef> source = checked_fields(source_path);
  const std::vector<FieldDef> target = checked_fields(target_path);
  std::string columns;
  for (const FieldDef& field : source) {
    if (omit_zmeneno && field.name == "Zmeneno") continue;
    // The target's spelling, matched as the statement's binder matches names.
    const auto in_target = std::find_if(target.begin(), target.end(), [&](const FieldDef& t) {
      return SqlNamesEqual(t.name, field.name);
    });
    if (in_target == target.end())
      throw EngineError(EngineErrorKind::kFieldNotFound,
                        "Field not found in table.\nField: " + field.name + "\nTable: " +
                            target_path + "\nThe field is in " + source_path +
                            "; its values would be lost.");
    if (!columns.empty()) columns += ", ";
    columns += SqlName(in_target->name);
  }
  return columns;
}

void ExecSql(TransferContext& context, const std::string& statement) {
  {
    SqlQuery query(context.catalog);
    query.SetText(statement);
    query.ExecSql();
  }
  // The statement's tables are closed: the journal notes how it left them.
  if (context.journal) context.journal->Settle();
}

void DeleteMatchingRows(TransferContext& context, const std::string& target_table_path,
                        const std::string& source_table_path, const std::string& keys,
                        const TransferFilter& filter, const std::string& join_condition,
                        const std::string& master_table_path) {
  if (keys.empty()) return;
  ExecSql(context, BuildDeleteStatement(target_table_path, source_table_path, keys, filter,
                                        join_condition, master_table_path));
}

void CopyRows(TransferContext& context, const std::string& source_folder,
              const std::string& target_folder, const TableStep& step,
              const TransferFilter& filter, bool guard, const std::string& columns) {
  ExecSql(context, BuildInsertStatement(source_folder, target_folder, step, filter, guard, columns));
}

StepCounts SendTable(TransferContext& context, const std::string& company_folder,
               const std::string& transfer_folder, const TableStep& step,
               const TransferFilter& filter, bool overwrite, bool batch_emptied,
               std::set<std::string>* inserted) {
  StopPoint(context);
  const std::string target = transfer_folder + step.table;
  if (!FileExists(PathFromUtf8(target))) {
    if (context.journal) context.journal->Touch(PathFromUtf8(target));
    CreateBatchTable(context.config, company_folder + step.table, target, step.creation_keys);
  }
  // Before the step's first statement: a batch table refused here has
  // nothing of this step run against it.
  const std::string columns =
      ColumnList(context, company_folder + step.table, target, step.omit_zmeneno);
  StepCounts counts;
  const int64_t before = RowCount(target);
  if (!batch_emptied && overwrite)
    DeleteMatchingRows(context, target, company_folder + step.table, step.document_keys, filter,
                       step.join_condition, MasterPath(company_folder, step));
  const int64_t kept = RowCount(target);
  InsertWithKeys(context, company_folder, transfer_folder, step, filter,
                 !batch_emptied && !overwrite, columns, inserted);
  counts.deleted = before - kept;
  counts.inserted = RowCount(target) - kept;
  return counts;
}

StepCounts ReceiveTable(TransferContext& context, const std::string& transfer_folder,
                  const std::string& company_folder, const TableStep& step,
                  const TransferFilter& filter, bool overwrite, std::set<std::string>* inserted) {
  StopPoint(context);
  // Before the step's first statement: a batch table refused here has
  // nothing of this step run against the company.
  const std::string columns = ColumnList(context, transfer_folder + step.table,
                                         company_folder + step.table, step.omit_zmeneno);
  const std::string target = company_folder + step.table;
  StepCounts counts;
  const int64_t before = RowCount(target);
  if (overwrite)
    DeleteMatchingRows(context, target, transfer_folder + step.table, step.document_keys, filter,
                       step.join_condition, MasterPath(transfer_folder, step));
  const int64_t kept = RowCount(target);
  InsertWithKeys(context, transfer_folder, company_folder, step, filter, !overwrite, columns,
                 inserted);
  counts.deleted = before - kept;
  counts.inserted = RowCount(target) - kept;
  return counts;
}

}  // namespace dalimor
