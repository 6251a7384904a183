#include "transfer/memo_transfer.h"

#include <filesystem>
#include <vector>

#include "engine/engine_error.h"
#include "engine/run_journal.h"
#include "engine/sql_literal.h"
#include "engine/sql_query.h"
#include "engine/table_cursor.h"
#include "platform/file_system.h"
#include "util/ascii.h"
#include "util/calendar.h"
#include "util/ui.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Opens a table when its file exists (recording it in the journal first
// when it will be written); a missing table stays closed.
void OpenIfExists(TransferContext& context, TableCursor& table, const std::string& folder,
                  const std::string& name, bool write) {
  const fs::path path = fs::path(folder) / name;
  if (!FileExists(path)) return;
  if (write && context.journal) context.journal->Protect(path);
  table.SetDatabaseName(folder);
  table.SetTableName(name);
  table.Open(write ? OpenMode::kShared : OpenMode::kReadOnly);
}

// The first use of a table that was not there fails as the engine does.
TableCursor& Require(TableCursor& table) {
  if (!table.Active())
    throw EngineError(EngineErrorKind::kFileNotFound,
                      "Table does not exist.\nTable: " + table.TablePath());
  return table;
}

std::string HeaderKey(TableCursor& header) {
  return header.FieldByName("DoklSRada").AsString() + '\x1f' +
         header.FieldByName("DoklSCislo").AsString() + '\x1f';
}

// Copies the texts of every header row due for it from `source_memos` into
// `target_memos`, counting keys up from `key`; returns the last key used.
int64_t MoveTexts(TransferContext& context, TableCursor& headers, TableCursor& source_memos,
                  TableCursor& target_memos, int64_t key, const std::set<std::string>* only) {
  Require(headers);
  DeferredWrites deferred{&headers, &target_memos};
  for (headers.First(); !headers.Eof(); headers.Next()) {
    if (!headers.FieldByName("Zmeneno").IsNull()) continue;
    if (only && !only->count(HeaderKey(headers))) continue;
    int64_t new_keys[2] = {0, 0};
    const char* const fields[2] = {"TextNahoruKlic", "TextDoluKlic"};
    bool rekeyed[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
      const int64_t text_key = headers.FieldByName(fields[i]).AsInteger();
      if (text_key <= 0) continue;
      rekeyed[i] = true;  // a key without its text names nothing on the other side
      if (Require(source_memos).Locate("Klic", {text_key})) {
        new_keys[i] = ++key;
        TableCursor& target = Require(target_memos);
        target.Insert();
        target.FieldByName("Klic").SetInteger(new_keys[i]);
        target.FieldByName("Poznamka").SetVariant(source_memos.FieldByName("Poznamka").AsVariant());
        target.Post();
      }
    }
    headers.Edit();
    for (int i = 0; i < 2; ++i)
      if (rekeyed[i]) headers.FieldByName(fields[i]).SetInteger(new_keys[i]);
    headers.FieldByName("Zmeneno").SetVariant(Timestamp{NowDateTime(context.clock)});
    headers.Post();
  }
  deferred.Finish();
  return key;
}

}  // namespace

int64_t MaxMemoKey(TransferContext& context, const std::string& memo_table_path) {
  try {
    SqlQuery query(context.catalog);
    query.SetText("SELECT MAX(Klic) FROM " + SqlTextLiteral(memo_table_path));
    query.Open();
    query.First();
    if (query.Eof()) return 0;
    const Value& value = query.FieldValue(0);
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    if (const auto* d = std::get_if<double>(&value)) return static_cast<int64_t>(*d);
    return 0;
  } catch (const std::exception&) {
    return 0;
  }
}

std::string TableSqlName(const TableCursor& table) { return SqlTextLiteral(table.TablePath()); }

void ExportMemos(TransferContext& context, const std::string& company_data_folder,
                 const std::string& transfer_folder, const std::string& header,
                 const std::set<std::string>* only) {
  const std::string company_memo_folder =
      WithTrailingBackslash(ResolvePathIgnoringCase(company_data_folder, "LDATA\\S").string());
  TableCursor headers, company_memos, batch_memos;
  OpenIfExists(context, headers, transfer_folder, header, true);
  OpenIfExists(context, company_memos, company_memo_folder, "LMEMO.DB", false);
  OpenIfExists(context, batch_memos, transfer_folder, "LMEMO.DB", true);
  const int64_t key = MaxMemoKey(context, (fs::path(transfer_folder) / "LMEMO.DB").string());
  MoveTexts(context, headers, company_memos, batch_memos, key, only);
}

void ImportMemos(TransferContext& context, const std::string& company_data_folder,
                 const std::string& transfer_folder, const std::string& header,
                 const std::set<std::string>* only) {
  const std::string header_folder =
      WithTrailingBackslash(ResolvePathIgnoringCase(company_data_folder, "SDATA\\S").string());
  const std::string memo_folder =
      WithTrailingBackslash(ResolvePathIgnoringCase(company_data_folder, "LDATA\\S").string());
  TableCursor headers, company_memos, batch_memos, counters;
  OpenIfExists(context, headers, header_folder, header, true);
  OpenIfExists(context, company_memos, memo_folder, "LMEMO.DB", true);
  OpenIfExists(context, batch_memos, transfer_folder, "LMEMO.DB", false);
  OpenIfExists(context, counters, memo_folder, "LKlice.DB", true);
  int64_t key = MaxMemoKey(context, (fs::path(memo_folder) / "LMEMO.DB").string());
  key = MoveTexts(context, headers, batch_memos, company_memos, key, only);
  for (Require(counters).First(); !counters.Eof(); counters.Next()) {
    if (AsciiUpper(counters.FieldByName("Nazev").AsString()) != "LMEMO.DB") continue;
    // Never lower the counter: Kalmeo may have issued keys beyond the table.
    const int64_t next = std::max(counters.FieldByName("DalsiHodnota").AsInteger(), key + 1);
    counters.Edit();
    counters.FieldByName("DalsiHodnota").SetInteger(next);
    counters.Post();
    break;
  }
}

}  // namespace dalimor
