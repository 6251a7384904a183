#include "transfer/memo_transfer.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "engine/engine_error.h"
#include "engine/run_journal.h"
#include "engine/sql/literal.h"
#include "engine/sql/query.h"
#include "engine/table_cursor.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
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
  const fs::path path = PathFromUtf8(folder) / PathFromUtf8(name);
  // A missing table keeps its name, so that its first use names it.
  table.SetDatabaseName(folder);
  table.SetTableName(name);
  if (!FileExists(path)) return;
  if (write && context.journal) context.journal->Protect(path, TableKeeping::kChangedBytes);
  table.Open(write ? OpenMode::kShared : OpenMode::kReadOnly);
  // Only a table the run could open counts as changed by it.
  if (write && context.journal) context.journal->Touch(path, TableKeeping::kChangedBytes);
}

// The first use of a table that was not there fails as the engine does.
TableCursor& Require(TableCursor& table) {
  if (!table.Active())
    throw EngineError(EngineErrorKind::kFileNotFound,
                      "Table does not exist.\nTable: " + table.TablePath());
  return table;
}

// Copies the texts of every header row due for it from `source_memos` into
// `target_memos`, counting keys up from `key`; returns the last key used.
// The header rows are read and rewritten in place through their table,
// which spares decoding and re-encoding every field of every row.
int64_t MoveTexts(TransferContext& context, TableCursor& headers, TableCursor& source_memos,
                  TableCursor& target_memos, int64_t key, const std::set<std::string>* only) {
  Require(headers);
  ParadoxTable& table = *headers.table();
  const int changed = headers.FieldByName("Zmeneno").index();
  const int series = headers.FieldByName("DoklSRada").index();
  const int number = headers.FieldByName("DoklSCislo").index();
  const int texts[2] = {headers.FieldByName("TextNahoruKlic").index(),
                        headers.FieldByName("TextDoluKlic").index()};
  DeferredWrites deferred{&headers, &target_memos};
  // The text of memo key `text_key` in the source table, or nothing.  A
  // memo table keyed on Klic is searched by its key; another by Locate.
  auto source_text = [&](int64_t text_key) -> std::optional<Value> {
    ParadoxTable& memos = *Require(source_memos).table();
    const int text = source_memos.FieldByName("Poznamka").index();
    if (memos.keyed() && EqualsIgnoringAsciiCase(memos.fields()[0].name, "Klic")) {
      const auto at = memos.Find({text_key});
      if (!at) return std::nullopt;
      return memos.ReadKnownField(*at, text);
    }
    if (!source_memos.Locate("Klic", {text_key})) return std::nullopt;
    return source_memos.FieldByName("Poznamka").AsVariant();
  };
  // A header value that is no key names its field and table: the header
  // table of a batch comes from a folder other people write.
  const auto text_key_of = [&](RecordPosition row, int field) {
    try {
      return ValueAsInteger(table.ReadKnownField(row, field));
    } catch (const EngineError& e) {
      throw headers.WithTableContext(
          e.WithContext(kFieldContext, table.fields()[static_cast<size_t>(field)].name));
    }
  };
  std::vector<std::pair<int, Value>> changes;
  uint64_t rows = 0;
  const uint64_t total = table.record_count();
  table.ForEachPosition([&](RecordPosition row) {
    RowPoint(context, ++rows, total);
    if (!IsNull(table.ReadKnownField(row, changed))) return true;
    if (only && !only->count(ValueAsString(table.ReadKnownField(row, series)) + '\x1f' +
                             ValueAsString(table.ReadKnownField(row, number)) + '\x1f'))
      return true;
    changes.clear();
    for (const int field : texts) {
      const int64_t text_key = text_key_of(row, field);
      if (text_key <= 0) continue;
      int64_t new_key = 0;  // a key without its text names nothing on the other side
      if (std::optional<Value> text = source_text(text_key)) {
        new_key = ++key;
        TableCursor& target = Require(target_memos);
        Record memo(target.Fields().size());
        memo[static_cast<size_t>(target.FieldByName("Klic").index())] = new_key;
        memo[static_cast<size_t>(target.FieldByName("Poznamka").index())] = std::move(*text);
        target.table()->Insert(memo);
      }
      changes.emplace_back(field, new_key);
    }
    changes.emplace_back(changed, Timestamp{NowDateTime(context.clock)});
    table.UpdateFields(row, changes);
    return true;
  });
  deferred.Finish();
  // The cursors' buffers show the rows as they are now.
  headers.First();
  if (target_memos.Active()) target_memos.First();
  return key;
}

// Stands the key counters on the row of the memo table ("LMemo.DB" in any
// letter case); false when there is none.
bool FindMemoCounter(TableCursor& counters) {
  for (counters.First(); !counters.Eof(); counters.Next())
    if (AsciiUpper(counters.FieldByName("Nazev").AsString()) == "LMEMO.DB") return true;
  return false;
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
  const std::string company_memo_folder = WithTrailingBackslash(
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "LDATA\\S")));
  TableCursor headers, company_memos, batch_memos;
  OpenIfExists(context, headers, transfer_folder, header, true);
  OpenIfExists(context, company_memos, company_memo_folder, "LMEMO.DB", false);
  OpenIfExists(context, batch_memos, transfer_folder, "LMEMO.DB", true);
  const int64_t key = MaxMemoKey(context, Utf8FromPath(PathFromUtf8(transfer_folder) / "LMEMO.DB"));
  MoveTexts(context, headers, company_memos, batch_memos, key, only);
}

void ImportMemos(TransferContext& context, const std::string& company_data_folder,
                 const std::string& transfer_folder, const std::string& header,
                 const std::set<std::string>* only) {
  const std::string header_folder = WithTrailingBackslash(
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "SDATA\\S")));
  const std::string memo_folder = WithTrailingBackslash(
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "LDATA\\S")));
  TableCursor headers, company_memos, batch_memos, counters;
  OpenIfExists(context, headers, header_folder, header, true);
  OpenIfExists(context, company_memos, memo_folder, "LMEMO.DB", true);
  OpenIfExists(context, batch_memos, transfer_folder, "LMEMO.DB", false);
  OpenIfExists(context, counters, memo_folder, "LKlice.DB", true);
  // New keys start above every key Kalmeo has issued: above the highest key
  // in the table and below nothing the counter has already handed out, so
  // that a header still naming a deleted memo never shows a received text.
  int64_t key = MaxMemoKey(context, Utf8FromPath(PathFromUtf8(memo_folder) / "LMEMO.DB"));
  if (counters.Active() && FindMemoCounter(counters))
    key = std::max(key, counters.FieldByName("DalsiHodnota").AsInteger() - 1);
  key = MoveTexts(context, headers, batch_memos, company_memos, key, only);
  if (FindMemoCounter(Require(counters))) {
    // Never lower the counter: Kalmeo may have issued keys beyond the table.
    const int64_t next = std::max(counters.FieldByName("DalsiHodnota").AsInteger(), key + 1);
    counters.Edit();
    counters.FieldByName("DalsiHodnota").SetInteger(next);
    counters.Post();
  }
}

}  // namespace dalimor
