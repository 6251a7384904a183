#pragma once
// Creating an empty batch in the transfer folder: every batch table and
// both information files removed, the eighteen tables created anew with the
// fields of the active company's tables and one primary index each.

#include <functional>
#include <string>

#include "accounting/company_register.h"
#include "util/ui.h"

namespace dalimor {

class EngineConfig;

// Deletes every file of each batch table (base name, any extension) from the
// transfer folder, in catalogue order.  The information files stay.
void DeleteBatchFiles(const std::string& transfer_folder);

// Creates an empty Paradox table at `target_path` with the fields of the
// table at `source_path`, in order, with their types and sizes, and one
// primary index over `key_fields` ("," separated), after setting the
// engine's Paradox language driver to "anczechw" persistently.  Throws
// EngineError (a missing source, a key that is not the leading fields, a
// target that cannot be written).
void CreateBatchTable(EngineConfig& config, const std::string& source_path,
                      const std::string& target_path, const std::string& key_fields);

// Creates each of the eighteen batch tables that does not exist in the
// transfer folder, from the company data folder's tables.  Throws as
// CreateBatchTable.
void CreateBatchTables(EngineConfig& config, const std::string& company_data_folder,
                       const std::string& transfer_folder);

// The record count of a table as decimal text, "0" when it cannot be
// opened or counted.
std::string TableRecordCount(const std::string& table_path);

// What the initialisation needs of the main window.
struct InitializationContext {
  bool company_data_available = false;
  std::string company_data_folder;  // ends in the separator
  AccountingFolders accounting_folders;  // refused as transfer folders
  std::string transfer_folder;      // TransferFolderPath: empty or ends in the separator
  std::function<void()> refill_series_lists;
};

enum class InitializationResult {
  kDone,
  kNoCompanyData,     // refused: no company data
  kNoTransferFolder,  // refused: the folder box is empty (focus it)
  kFolderMissing,     // refused: the folder does not exist (focus it)
  kAccountingFolder,  // refused: the folder holds live accounting tables (focus it)
  kFolderBusy,        // refused: another run works on the company or the folder
  kDecisionPending,   // refused: a killed run's journal waits for the user
  kInterrupted,       // the user answered No
};

inline constexpr const char* kMsgNoDataTemplate =
    "Složka \"DATA\" programu Kalmeo neexistuje. %s nelze provést.";
inline constexpr const char* kMsgEnterFolder = "Zadejte složku pro přenos souborů.";
inline constexpr const char* kMsgFolderMissing = "Zadaná složka pro přenos souborů neexistuje.";
inline constexpr const char* kMsgAccountingFolder =
    "Zadaná složka pro přenos souborů obsahuje data programu Kalmeo. Zvolte jinou složku.";
inline constexpr const char* kMsgInterruptedTemplate = "%s byla přerušena.";
inline constexpr const char* kMsgFinishedTemplate = "%s byla úspěšně dokončena.";

// The template with its one "%s" replaced.
std::string FillTemplate(const char* text_template, const std::string& value);

// The user operation behind "Inicializovat": checks, the question when the
// folder holds batch tables, deletion, creation, the refill of the series
// lists, removal of the information files and the closing message, all
// through the Ui seam with the busy cursor on.  Engine errors of the
// creation travel to the caller (the tables created so far stay).
InitializationResult InitializeBatch(Ui& ui, EngineConfig& config,
                                     const InitializationContext& context);

}  // namespace dalimor
