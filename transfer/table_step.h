#pragma once
// Running the statements of one table of a transfer: the column list, the
// DELETE of documents about to be replaced, the INSERT ... SELECT, and the
// per-table steps of a send and of a receive.

#include <cstdint>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

#include "transfer/statements.h"

namespace dalimor {

class Clock;
class EngineConfig;
class RunJournal;
class SqlCatalog;
class Ui;

// What the table steps run on: the catalog the statements open their tables
// through, the engine configuration (table creation), the clock (the time
// stamps of processed headers), and the run journal that every table is
// recorded in before its first change (may be null).
struct TransferContext {
  SqlCatalog& catalog;
  EngineConfig& config;
  const Clock& clock;
  RunJournal* journal = nullptr;
  // Asked at safe points whether the user wants the run stopped (may be null).
  const Ui* ui = nullptr;
  // Told at the row safe points of a long step how many of its rows are
  // done (may be empty).
  std::function<void(uint64_t done, uint64_t total)> rows_done;
};

// The user stopped the run; what it did is put back.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("Akce byla zastavena.") {}
};

// A safe point of a run: throws RunStopped when the user asked to stop.
void StopPoint(const TransferContext& context);
// A safe point inside a step that goes row by row: reports that `done` of
// its `total` rows are done, then stops if asked.  Every 256th row counts.
void RowPoint(const TransferContext& context, uint64_t done, uint64_t total);

// The column list of the INSERT ... SELECT from `source_path` into
// `target_path`, joined by ", ": the source's fields in its order, without
// "Zmeneno" (exact name) when `omit_zmeneno` is set, each spelled as the
// target spells it (SqlName).  A field the target has and the source lacks
// is left out and gets NULL.  Throws EngineError: kInvalidDefinition
// "Invalid field name." naming the field and the table when a field of
// either table fails IsValidFieldName; kFieldNotFound naming the field and
// both tables when the source has a field the target lacks, whose values
// would be lost; and what opening the tables throws.
std::string ColumnList(TransferContext& context, const std::string& source_path,
                       const std::string& target_path, bool omit_zmeneno);

// Runs one statement without a result.  Throws EngineError.
void ExecSql(TransferContext& context, const std::string& statement);

// Builds and runs the DELETE; nothing for an empty key list.
void DeleteMatchingRows(TransferContext& context, const std::string& target_table_path,
                        const std::string& source_table_path, const std::string& keys,
                        const TransferFilter& filter, const std::string& join_condition,
                        const std::string& master_table_path);

// Builds and runs the INSERT ... SELECT of `columns` (from ColumnList), with
// the existence guard when `guard` is set.
void CopyRows(TransferContext& context, const std::string& source_folder,
              const std::string& target_folder, const TableStep& step,
              const TransferFilter& filter, bool guard, const std::string& columns);

// The rows one table step changed in its target table.
struct StepCounts {
  int64_t deleted = 0;   // removed before the copy (the documents it replaced)
  int64_t inserted = 0;  // copied in
};

// The per-table step of a send: creates the batch table when it is missing,
// deletes the documents about to be replaced (overwrite on, batch not
// emptied), copies the selected rows (guarded unless overwrite is on or the
// batch was emptied).  When `inserted` is given it receives the document
// keys (DocumentKeyText) of the rows this step inserted.  Returns the
// rows deleted from and inserted into the batch table.
StepCounts SendTable(TransferContext& context, const std::string& company_folder,
               const std::string& transfer_folder, const TableStep& step,
               const TransferFilter& filter, bool overwrite, bool batch_emptied,
               std::set<std::string>* inserted = nullptr);

// The per-table step of a receive: DELETE when overwrite is on, then the
// INSERT, guarded when it is off.  Returns the rows deleted from and
// inserted into the company's table.
StepCounts ReceiveTable(TransferContext& context, const std::string& transfer_folder,
                  const std::string& company_folder, const TableStep& step,
                  const TransferFilter& filter, bool overwrite,
                  std::set<std::string>* inserted = nullptr);

// The document keys of every row of a table, as DocumentKeyText.
std::set<std::string> DocumentKeys(const std::string& table_path, const std::string& keys);

}  // namespace dalimor
