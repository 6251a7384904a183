#pragma once
// The one catalogue of a batch: the agendas, the eighteen batch tables with
// their source tables and keys, the filter fields of each agenda and the
// names under which "export.ini" counts them.  Constant data; nothing here
// is read from a file.

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace dalimor {

// Where an agenda's tables lie below the company data folder.
enum class AgendaKind {
  kS,  // "SDATA\S\"
  kC,  // "CDATA\S\"
};

struct Agenda {
  std::string_view code;           // "PF", "VF", ... as in control names
  std::string_view caption;        // text of the include box
  std::string_view progress_name;  // appended to the status text of a run; empty for Cenik
  AgendaKind kind;
  std::string_view header_table;   // file name of the header (or only) table
  std::string_view item_table;     // file name of the item table; empty when none
  std::string_view series_field;   // empty for Cenik
  std::string_view number_field;
  std::string_view date_field;
  std::string_view join_condition;  // items to header; empty for single tables
};

struct BatchTable {
  std::string_view file_name;      // e.g. "CBanka.DB"
  std::string_view agenda;         // agenda code; empty for the memo table
  std::string_view source_path;    // below the company data folder, Windows separators
  std::string_view creation_keys;  // primary key at creation, "," separated
  std::string_view document_keys;  // identifies one document; empty for the memo table
  std::string_view count_key;      // key under [RecordCount] of export.ini; empty when not counted
};

inline constexpr size_t kAgendaCount = 10;
inline constexpr size_t kBatchTableCount = 18;
// Tables 1..17 of the list; the memo table is the 18th.
inline constexpr size_t kAgendaBatchTableCount = 17;

// The agendas in the order a send and a receive process them (S first, then C).
std::span<const Agenda, kAgendaCount> Agendas();
// The batch tables in their fixed order.
std::span<const BatchTable, kBatchTableCount> BatchTables();

// The agenda of that code (exact); nullptr when there is none.
const Agenda* FindAgenda(std::string_view code);
// The batch table of that file name (without regard to case); nullptr when none.
const BatchTable* FindBatchTable(std::string_view file_name);

// The mask that names every file of a batch table: the base name and any
// extension ("CBanka.*").
std::string BatchTableMask(const BatchTable& table);

// The existence test over the batch tables 1 to 17: a table exists when a
// file of that name (without regard to case), not a folder, exists in the
// transfer folder.  With `any` true: whether at least one exists (the walk
// stops at the first found); with `any` false: whether all 17 exist (the
// walk stops at the first missing one).
bool BatchTablesExist(const std::string& transfer_folder, bool any);

// The most files a batch consists of: per table its data (.DB), its primary
// index (.PX) and its memo file (.MB), and the two information files.
inline constexpr size_t kMaxBatchFiles = kBatchTableCount * 3 + 2;

// Whether `name` is the name of a file of a batch (without regard to case):
// "export.ini", "exportinfo.txt", or a batch table's base name with the
// extension DB, PX or MB.
bool IsBatchFileName(std::string_view name);

// The first file of the batch in the transfer folder that a run must not
// read or write through: a file of a batch table (any extension) or an
// information file ("export.ini", "exportinfo.txt") that is a symbolic
// link, has another name besides (a hard link, which may be a company's own
// table), or is not a regular file at all (a pipe, a device, a folder).
// Returns its path; empty when every such file is a plain file of its own.
std::string FindUnsafeBatchFile(const std::string& transfer_folder);

}  // namespace dalimor
