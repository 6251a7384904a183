#include "transfer/price_list.h"

#include <filesystem>

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
  if (context.journal) context.journal->Protect(PathFromUtf8(destination_table));
  OpenTable(destination, destination_table, OpenMode::kExclusive);
  if (context.journal) context.journal->Touch(PathFromUtf8(destination_table));
  OpenTable(source, source_table, read_mode);
  DeferredWrites deferred{&destination};
  // Every few hundred rows the run may be stopped.
  size_t rows = 0;
  const auto safe_point = [&] {
    if (++rows % 256 == 0) StopPoint(context);
  };
  if (mode == PriceListMode::kAll) {
    for (source.First(); !source.Eof(); source.Next()) {
      safe_point();
      CopyItem(source, destination, ItemKey(source), replace);
    }
    deferred.Finish();
    return;
  }
  for (items.First(); !items.Eof(); items.Next()) {
    safe_point();
    const std::vector<Value> key = ItemKey(items);
    // Only an item the source has is copied or replaced; a destination row
    // whose key the source lacks is never removed.
    if (source.Locate(kItemKey, key)) CopyItem(source, destination, key, replace);
  }
  deferred.Finish();
}

void SendPriceList(TransferContext& context, const std::string& company_data_folder,
                   const std::string& transfer_folder, const PriceListOptions& options) {
  const std::string company = Utf8FromPath(
      ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), "SDATA\\S") / kPriceList);
  const std::string batch = Utf8FromPath(PathFromUtf8(transfer_folder) / kPriceList);
  auto one_pass = [&](PriceListMode mode, const std::string& item_table) {
    if (!FileExists(PathFromUtf8(batch))) {
      if (context.journal) context.journal->Touch(PathFromUtf8(batch));
      CreateBatchTable(context.config, company, batch, "Sklad,PolozkaSkladu");
    }
    CopyPriceListItems(context, company, batch, mode, item_table, options.replace,
                       PriceListReads::kExclusive);
  };
  if (options.all) {
    one_pass(PriceListMode::kAll, "");
    return;
  }
  for (const std::string& table : options.item_tables)
    one_pass(PriceListMode::kUsed,
             Utf8FromPath(PathFromUtf8(transfer_folder) / PathFromUtf8(table)));
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
  for (const std::string& table : options.item_tables)
    CopyPriceListItems(context, batch, company, PriceListMode::kUsed,
                       Utf8FromPath(PathFromUtf8(transfer_folder) / PathFromUtf8(table)),
                       options.replace, PriceListReads::kReadOnly);
}

}  // namespace dalimor
