#pragma once
// The upper and lower texts of issued invoices and orders: copied with the
// headers that refer to them into the other side's memo table under fresh
// keys, the headers rewritten to the new keys, and, on a receive, Kalmeo's
// key counter for "LMEMO.DB" moved past the keys used.

#include <set>
#include <string>

#include "transfer/table_step.h"

namespace dalimor {

class TableCursor;

// "SELECT MAX(Klic) FROM <table>"; 0 for an empty table and on any failure.
int64_t MaxMemoKey(TransferContext& context, const std::string& memo_table_path);

// A table as local SQL names it: the quoted full path of its file.
std::string TableSqlName(const TableCursor& table);

// Send: the texts of the batch header table `header` (e.g. "SVFH.DB") that
// still refer to the company's memo table (empty Zmeneno) travel to the
// batch memo table.  With `only` given, just the header rows whose document
// keys (DoklSRada, DoklSCislo as DocumentKeyText) it holds are processed:
// the rows this run inserted.  A text key without a row in the source memo
// table becomes 0.  Throws EngineError; rows written before stay.
void ExportMemos(TransferContext& context, const std::string& company_data_folder,
                 const std::string& transfer_folder, const std::string& header,
                 const std::set<std::string>* only = nullptr);

// Receive: the same from the batch memo table into the company's, then the
// "LMemo.DB" row of "LKlice.DB" gets the larger of its value and the
// highest key plus one.
void ImportMemos(TransferContext& context, const std::string& company_data_folder,
                 const std::string& transfer_folder, const std::string& header,
                 const std::set<std::string>* only = nullptr);

}  // namespace dalimor
