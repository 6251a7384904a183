#include "transfer/price_list.h"

#include <filesystem>
#include <set>

#include "batch/initialisation.h"
#include "engine/engine_error.h"
#include "engine/run_journal.h"
#include "engine/table_cursor.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPriceList = "SCenik.DB";
constexpr const char* kItemKey = "Sklad;PolozkaSkladu";

void OpenTable(TableCursor& table, const std::string& path, OpenMode mode) {
  table.SetDatabaseName("");
  table.SetTableName(path);
  table.Open(mode);
}

// Copies the source's current row into the destination unless it has the
// key already; with `replace` a row with the key is deleted first.
void CopyItem(TableCursor& source, TableCursor& destination, const std::vector<Value>& key,
              bool replace) {
  if (replace && destination.Locate(kItemKey, key)) destination.Delete();
  if (destination.Locate(kItemKey, key)) return;
  destination.Insert();
  try {
    CopyRecordFields(source, destination);
    destination.Post();
  } catch (const EngineError& e) {
    // An error about a field or a value of the destination names that
    // table; it names the table the row came from too, as either of them
    // may be the damaged one.
    if (!e.HasContext(kTableContext)) throw;
    throw e.WithContext(kSourceTableContext, source.TablePath());
  }
}

std::vector<Value> ItemKey(TableCursor& table) {
  return {table.FieldByName("Sklad").AsVariant(), table.FieldByName("PolozkaSkladu").AsVariant()};
}

// The context of pass `pass` of `passes` over item tables: its rows report
// as that share of the whole price-list step.
TransferContext PassContext(const TransferContext& context, size_t pass, size_t passes) {
  TransferContext result = context;
  if (context.rows_done && passes > 1)
    result.rows_done = [outer = context.rows_done, pass, passes](uint64_t done, uint64_t total) {
      constexpr uint64_t kShare = 1'000'000;
      outer(pass * kShare + (total ? done * kShare / total : 0), passes * kShare);
    };
  return result;
}

}  // namespace

void CopyRecordFields(TableCursor& source, TableCursor& destination) {
  for (TableField& field : source.Fields()) {
    if (field.IsNull()) continue;
    if (TableField* target = destination.FindField(field.name()))
      target->SetVariant(field.AsVariant());
  }
}

void CopyPriceListItems(TransferContext& context, const std::string& source_table,
                        const std::string& destination_table, PriceListMode mode,
                        const std::string& item_table, bool replace, PriceListReads reads) {
  const OpenMode read_mode =
      reads == PriceListReads::kReadOnly ? OpenMode::kReadOnly : OpenMode::kExclusive;
  TableCursor items, destination, source;
  if (mode == PriceListMode::kUsed) OpenTable(items, item_table, read_mode);
  if (context.journal) context.journal->Protect(PathFromUtf8(destination_table), TableKeeping::kChangedBytes);
  OpenTable(destination, destination_table, OpenMode::kExclusive);
  if (context.journal) context.journal->Touch(PathFromUtf8(destination_table), TableKeeping::kChangedBytes);
  OpenTable(source, source_table, read_mode);
  DeferredWrites deferred{&destination};
  // Every few hundred rows the run reports how far it is and may be stopped.
  uint64_t rows = 0;
  const uint64_t total = mode == PriceListMode::kAll ? source.RecordCount() : items.RecordCount();
  const auto safe_point = [&] { RowPoint(context, ++rows, total); };
  if (mode == PriceListMode::kAll) {
    for (source.First(); !source.Eof(); source.Next()) {
      safe_point();
      CopyItem(source, destination, ItemKey(source), replace);
    }
    deferred.Finish();
    return;
  }
  // An item row without a warehouse or an item (a service line, a text
  // line) has an empty key part, which the index cannot look up: Locate
  // walks the whole source for it.  The source does not change during the
  // pass, so each such key is walked for once and an absent one remembered.
  std::set<std::string> absent_with_empty_part;
  for (items.First(); !items.Eof(); items.Next()) {
    safe_point();
    const std::vector<Value> key = ItemKey(items);
    std::string empty_part_key;
    if (IsNull(key[0]) || IsNull(key[1])) {
      for (const Value& part : key)
        empty_part_key += IsNull(part) ? std::string("\x01") : "\x02" + ValueAsString(part);
      if (absent_with_empty_part.count(empty_part_key)) continue;
    }
    // Only an item the source has is copied or replaced; a destination row
    // whose key the source lacks is never removed.
    if (source.Locate(kItemKey, key))
      CopyItem(source, destination, key, replace);
    else if (!empty_part_key.empty())
      absent_with_empty_part.insert(std::move(empty_part_key));
  }
  deferred.Finish();
}

void SendPriceList(TransferContext& context, const std::string& company_data_folder,
                   const std::string& transfer_folder, const PriceListOptions& options) {
  const std::string company = Utf8FromPath(
      ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "SDATA\\S") / kPriceList);
  const std::string batch = Utf8FromPath(PathFromUtf8(transfer_folder) / kPriceList);
  auto one_pass = [&](TransferContext& pass, PriceListMode mode, const std::string& item_table) {
    if (!FileExists(PathFromUtf8(batch))) {
      if (context.journal) context.journal->Touch(PathFromUtf8(batch));
      CreateBatchTable(context.config, company, batch, "Sklad,PolozkaSkladu");
    }
    CopyPriceListItems(pass, company, batch, mode, item_table, options.replace,
                       PriceListReads::kExclusive);
  };
  if (options.all) {
    one_pass(context, PriceListMode::kAll, "");
    return;
  }
  for (size_t i = 0; i < options.item_tables.size(); ++i) {
    TransferContext pass = PassContext(context, i, options.item_tables.size());
    one_pass(pass, PriceListMode::kUsed,
             Utf8FromPath(PathFromUtf8(transfer_folder) / PathFromUtf8(options.item_tables[i])));
  }
}

void ReceivePriceList(TransferContext& context, const std::string& company_data_folder,
                      const std::string& transfer_folder, const PriceListOptions& options) {
  const std::string company = Utf8FromPath(
      ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "SDATA\\S") / kPriceList);
  const std::string batch = Utf8FromPath(PathFromUtf8(transfer_folder) / kPriceList);
  if (options.all) {
    CopyPriceListItems(context, batch, company, PriceListMode::kAll, "", options.replace,
                       PriceListReads::kReadOnly);
    return;
  }
  for (size_t i = 0; i < options.item_tables.size(); ++i) {
    TransferContext pass = PassContext(context, i, options.item_tables.size());
    CopyPriceListItems(pass, batch, company, PriceListMode::kUsed,
                       Utf8FromPath(PathFromUtf8(transfer_folder) /
                                    PathFromUtf8(options.item_tables[i])),
                       options.replace, PriceListReads::kReadOnly);
  }
}

}  // namespace dalimor
