#include "batch/initialisation.h"

#include <algorithm>
#include <filesystem>

#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "batch/run_folders.h"
#include "engine/engine_config.h"
#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/literal.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "engine/table_definition.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {

namespace fs = std::filesystem;

std::string FillTemplate(const char* text_template, const std::string& value) {
  std::string text = text_template;
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

void DeleteBatchFiles(const std::string& transfer_folder) {
  for (const BatchTable& table : BatchTables())
    DeleteFilesByMask(transfer_folder, BatchTableMask(table));
}

void CreateBatchTable(EngineConfig& config, const std::string& source_path,
                      const std::string& target_path, const std::string& key_fields) {
  WriteEngineConfigEntry(config, kLangDriverParameter, kCzechLangDriver);
  ParadoxSqlCatalog catalog;
  SqlQuery query(catalog);
  query.SetText("SELECT * FROM " + SqlTextLiteral(source_path));
  query.Open();
  const std::vector<FieldDef> fields = query.Fields();
  const int key_count = LeadingKeyFieldCount(fields, key_fields);
  query.Close();
  // The batch table takes the source's block size, so that it can hold as
  // many rows as the source (a Paradox table has at most 65535 blocks).
  CreateOptions options;
  options.block_size = std::max(options.block_size,
                                ParadoxTable::Open(source_path, OpenMode::kReadOnly)->block_size());
  auto table = ParadoxTable::Create(target_path, fields, key_count, options);
  table->Close();
}

void CreateBatchTables(EngineConfig& config, const std::string& company_data_folder,
                       const std::string& transfer_folder) {
  for (const BatchTable& table : BatchTables()) {
    const fs::path target = PathFromUtf8(transfer_folder) / PathFromUtf8(table.file_name);
    if (FileExists(target)) continue;
    const std::string source =
        Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(company_data_folder), table.source_path));
    CreateBatchTable(config, source, Utf8FromPath(target), std::string(table.creation_keys));
  }
}

std::string TableRecordCount(const std::string& table_path) {
  // The count of "SELECT * FROM <table>" is the table's record count; the
  // header holds it, so the rows need not be read to count them.
  try {
    return std::to_string(ParadoxTable::Describe(table_path).record_count);
  } catch (const std::exception&) {
    return "0";
  }
}

InitializationResult InitializeBatch(Ui& ui, EngineConfig& config,
                                     const InitializationContext& context) {
  BusyCursorScope busy(ui);
  const std::string& folder = context.transfer_folder;
  if (!context.company_data_available) {
    MsgInfo(ui, kMsgCaption, FillTemplate(kMsgNoDataTemplate, "Inicializaci"));
    return InitializationResult::kNoCompanyData;
  }
  if (folder.empty()) {
    MsgInfo(ui, kMsgCaption, kMsgEnterFolder);
    return InitializationResult::kNoTransferFolder;
  }
  if (!DirectoryExists(PathFromUtf8(folder))) {
    MsgInfo(ui, kMsgCaption, kMsgFolderMissing);
    return InitializationResult::kFolderMissing;
  }
  AccountingFolders live = context.accounting_folders;
  live.trees.push_back(context.company_data_folder);
  if (IsAccountingDataFolder(folder, live)) {
    MsgWarning(ui, kMsgCaption, kMsgAccountingFolder);
    return InitializationResult::kAccountingFolder;
  }
  // One run at a time on the company and the folder, and nothing a killed
  // run left half-done.
  const RunFolders locked =
      PrepareRunFolders(context.company_data_folder, folder, "inicializace dávky");
  if (locked.state == FoldersState::kFailed)
    throw EngineError(EngineErrorKind::kIo, locked.message);
  if (locked.state != FoldersState::kReady) {
    MsgWarning(ui, kMsgCaption, locked.message);
    return locked.state == FoldersState::kBusy ? InitializationResult::kFolderBusy
                                               : InitializationResult::kDecisionPending;
  }
  if (BatchTablesExist(folder, true)) {
    const std::string question = FillTemplate(
        "Složka \"%s\" obsahuje data. Inicializací dojde ke smazání dat v dávce. Chcete "
        "pokračovat?",
        folder);
    if (MsgWarning(ui, kMsgCaption, question, kMbYesNoDefaultNo) != kIdYes) {
      MsgWarning(ui, kMsgCaption, FillTemplate(kMsgInterruptedTemplate, "Inicializace"));
      return InitializationResult::kInterrupted;
    }
  }
  DeleteBatchFiles(folder);
  CreateBatchTables(config, context.company_data_folder, folder);
  if (context.refill_series_lists) context.refill_series_lists();
  for (const std::string_view name : {kExportInfoName, kExportIniName}) {
    std::error_code ec;
    fs::remove(ResolvePathIgnoringCase(PathFromUtf8(folder), name), ec);
  }
  MsgInfo(ui, kMsgCaption, FillTemplate(kMsgFinishedTemplate, "Inicializace"));
  return InitializationResult::kDone;
}

}  // namespace dalimor
