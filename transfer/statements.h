#pragma once
// The local-SQL statements that move the documents of one table between a
// company and the batch: a DELETE of the documents about to be replaced and
// an INSERT ... SELECT of the selected rows.  Texts only; running them is
// the business of transfer/table_step.h.
//
// Statements use a lone CR as line break.  Every text literal and every
// table path is written between single quotes with an apostrophe inside
// doubled, so that a series or a folder name holding "'" neither breaks the
// statement nor changes its meaning.

#include <string>
#include <string_view>

#include "engine/sql/literal.h"

namespace dalimor {

inline constexpr char kSqlLineBreak = '\r';

// The selection of documents within one table.
struct TransferFilter {
  std::string date_field;
  double date_from = 0;  // engine date-time number; counts only when > 0
  double date_to = 0;
  std::string number_field;
  std::string number_from;  // compared as text; empty = no bound
  std::string number_to;
  std::string series_field;
  std::string series;  // empty = every series
};

// The fixed parameters of one table in a transfer.
struct TableStep {
  std::string table;           // file name, the same on both sides
  std::string master_table;    // header of an item table; empty otherwise
  std::string join_condition;  // tE to tM; empty without a master
  std::string creation_keys;   // "," separated
  std::string document_keys;   // "," separated
  bool omit_zmeneno = false;   // the headers of VF and Obj
};

// 'mm/dd/yyyy' of the date part of a date-time number.
std::string SqlDateLiteral(double date);

std::string CombineConditions(std::string_view a, std::string_view b, std::string_view op);
std::string DateRangeCondition(std::string_view field, double from, double to);
std::string TextRangeCondition(std::string_view field, std::string_view from,
                               std::string_view to);
std::string EqualsCondition(std::string_view field, std::string_view value);
std::string KeyMatchWhere(std::string_view keys);
std::string NotExistsGuard(std::string_view target_table_path, std::string_view keys);
std::string MasterJoinClause(std::string_view master_table_path, std::string_view join_condition);
std::string KeyColumnExpr(std::string_view name);
std::string CompositeKeyExpr(std::string_view keys);

// "SELECT * FROM 'path'".
std::string SelectAllStatement(std::string_view table_path);

// The DELETE of the documents of `target_table_path` whose composite document
// key matches a source row passing the filter.  Empty for an empty key list.
std::string BuildDeleteStatement(std::string_view target_table_path,
                                 std::string_view source_table_path, std::string_view keys,
                                 const TransferFilter& filter, std::string_view join_condition,
                                 std::string_view master_table_path);

// The INSERT ... SELECT from source folder + table into target folder +
// table with the given column list (", " separated), guarded by NOT EXISTS on
// the document keys when `guard` is set.  Folders end in the separator.
std::string BuildInsertStatement(std::string_view source_folder, std::string_view target_folder,
                                 const TableStep& step, const TransferFilter& filter, bool guard,
                                 std::string_view columns);

// Read-only statements over exactly the rows the two statements above would
// write or delete, with `select_list` (e.g. "COUNT(*)") as their columns:
// a preview of a run counts with them and writes nothing.  The DELETE's is
// empty for an empty key list.
std::string BuildInsertSelect(std::string_view select_list, std::string_view source_folder,
                              std::string_view target_folder, const TableStep& step,
                              const TransferFilter& filter, bool guard);
std::string BuildDeleteSelect(std::string_view select_list, std::string_view target_table_path,
                              std::string_view source_table_path, std::string_view keys,
                              const TransferFilter& filter, std::string_view join_condition,
                              std::string_view master_table_path);

}  // namespace dalimor
