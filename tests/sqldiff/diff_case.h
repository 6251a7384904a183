#pragma once
// Random transfer cases for the differential tests.  Each case is one table
// of a transfer (headers, items joined to their headers, or journal rows
// with a four-field key), its rows on the source and on the target side, a
// filter and the statements a send or receive would run (overwrite: DELETE
// then INSERT; guarded INSERT; plain INSERT; DELETE alone).  The case runs
// twice: through the transfer's own statement texts over Paradox tables,
// and through hand-written SQLite statements of the same meaning over the
// same rows.  Everything a case holds follows from its kind and seed.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/value.h"
#include "transfer/statements.h"

namespace dalimor::sqldiff {

enum class TableKind { kHeaders, kItems, kJournal };
enum class Operation { kOverwrite, kGuardedInsert, kPlainInsert, kDeleteOnly };

const char* KindName(TableKind kind);
const char* OperationName(Operation operation);

struct TableData {
  std::string file;  // file name in its folder
  std::vector<FieldDef> fields;
  int key_count = 0;
  std::vector<Record> rows;
};

struct DiffCase {
  uint64_t seed = 0;
  TableKind kind = TableKind::kHeaders;
  Operation operation = Operation::kGuardedInsert;
  TableData source;
  TableData target;
  // Items only: the header tables of both sides.
  std::optional<TableData> source_master;
  std::optional<TableData> target_master;
  // Items: whether the statements join the header table at all, and whether
  // the DELETE joins the target's headers (as the runs do) or the source's.
  bool join = false;
  bool delete_joins_target_master = true;
  TableStep step;  // master and join condition empty when join is off
  TransferFilter filter;
};

// A random case.  `scale` multiplies the number of documents (1: a dozen
// or so; 150: a few thousand rows).
DiffCase GenerateCase(TableKind kind, uint64_t seed, int scale = 1);

// What one statement did on one side.
struct Outcome {
  bool ok = false;
  uint64_t rows = 0;
  bool key_violation = false;
  bool unknown_column = false;  // a name no table in scope has
  std::string message;
};

// A side's run: the statements in the order run, their outcomes, and the
// target table's rows after each statement (one text per row, sorted).
struct SideRun {
  std::vector<std::string> statements;
  std::vector<Outcome> outcomes;
  std::vector<std::vector<std::string>> target_rows;
};

// Writes the case's tables as Paradox tables into `folder` (a source and a
// target sub-folder) and replaces the rows of the case by the rows read back
// from those files, so that both engines start from exactly the stored values.
void WriteParadoxTables(DiffCase& c, const std::filesystem::path& folder);
// Runs the transfer's statements (BuildDeleteStatement, BuildInsertStatement)
// through SqlQuery over ParadoxSqlCatalog on the tables written there.
SideRun RunOurs(const DiffCase& c, const std::filesystem::path& folder);
// Runs the equivalent statements in an in-memory SQLite database.
SideRun RunSqlite(const DiffCase& c);

// One row as text: values separated by " | ", text quoted, dates as
// "D<day number>", NULL as NULL.
std::string RowText(const Record& row);
// The case's tables and filter, for a failure report.
std::string Describe(const DiffCase& c);

}  // namespace dalimor::sqldiff
