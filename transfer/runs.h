#pragma once
// The send and the receive of a batch: every step in its order, the
// questions and messages through the Ui seam, and all-or-nothing through the
// run journal — a run that fails puts every table it touched back as it was
// and reports the error.

#include <cstdint>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "accounting/company_register.h"
#include "platform/regional.h"
#include "util/clock.h"
#include "util/ui.h"

namespace dalimor {

class EngineConfig;

// One agenda row of a page, read when the run starts.
struct AgendaInput {
  bool ticked = false;
  std::string date_from;  // date box texts as typed
  std::string date_to;
  std::string series;     // the series box's text; empty = every series
};

// The send page (and the settings page's archive option).
struct SendPage {
  std::map<std::string, AgendaInput> agendas;  // by agenda code ("PF" ... "Cenik")
  bool overwrite = false;       // ckDoklPrepsatO
  bool empty_first = false;     // ckDoklSmazatO
  bool archive = false;         // ckVytvoritArchiv
  bool price_list_all = false;  // ckCenikVseO
  std::string message;          // mePoznO
};

// The receive page.
struct ReceivePage {
  std::map<std::string, AgendaInput> agendas;
  bool overwrite = false;       // ckDoklPrepsatP
  bool price_list_all = false;  // ckCenikVseP
  // A batch archive (.zip) to receive from instead of the transfer folder;
  // empty: the transfer folder.
  std::string archive;
};

struct RunReport;

// What a run needs of the main window besides its page.
struct RunEnvironment {
  Ui& ui;
  EngineConfig& config;
  const Clock& clock;
  const RegionalSettings& settings;
  std::string company_data_folder;  // ends in the separator
  std::string transfer_folder;      // TransferFolderPath
  std::string company_designation;  // Oznaceni of the active company
  // Refills the receive page's series boxes from the batch after a send.
  std::function<void()> refill_receive_series;
  // The folders of live accounting data that the transfer folder must keep
  // away from (the active company's data folder is always among them).
  AccountingFolders accounting_folders;
  // Filled with what the run did, for the run log; null: not wanted.
  RunReport* report = nullptr;
};

enum class RunOutcome {
  kCancelled,        // the first question was not answered Yes
  kNoAgenda,         // nothing ticked
  kBatchIncomplete,  // receive: a batch table is missing
  kCompanyDeclined,  // No to the question about another company's batch
  kFolderBusy,       // another run works on the company or transfer folder
  kDecisionPending,  // a killed run's journal waits for the user's decision
  kFolderRefused,    // the transfer folder holds live accounting data, or a
                     // batch file is a link or no regular file
  kFailed,           // an error; reported, everything put back
  kStopped,          // the user stopped it; everything put back
  kDone,
  kArchiveFailed,    // send: the batch was sent, but its archive could not be
                     // written (no archive of that name is left behind)
  kArchiveRefused,   // receive: the batch archive failed a check; nothing written
};

// What one agenda of a run changed in the table it wrote.
struct AgendaCounts {
  int64_t documents = 0;  // header (or only) table rows copied in; price-list items for Cenik
  int64_t replaced = 0;   // header rows deleted first because the batch replaced them
  int64_t items = 0;      // item table rows copied in
};

// What a run did: when, how it ended, the text of the warning that ended a
// refused or failed run, and per finished agenda what it wrote.  The counts
// of a run that failed or was stopped are empty: everything was put back.
struct RunReport {
  LocalDateTime start;
  LocalDateTime end;
  RunOutcome outcome = RunOutcome::kCancelled;
  std::string error;
  std::map<std::string, AgendaCounts> counts;  // by agenda code
};

// One line of a preview: what a run would do with one kind of rows of one
// agenda.
struct PreviewLine {
  std::string agenda;    // code
  std::string caption;   // the agenda's caption on the page
  std::string rows;      // "doklady", "položky", "texty" or "položky ceníku"
  int64_t added = 0;     // rows of documents (items) the destination lacks
  int64_t replaced = 0;  // rows the destination has and the run writes anew
  int64_t kept = 0;      // selected rows the destination has and keeps as they are
};

// What a run with these options would do, agenda by agenda, and the counts
// its report would then hold.
struct RunPreview {
  std::vector<PreviewLine> lines;
  std::map<std::string, AgendaCounts> counts;
  // Why the run would be refused before it began (the folder holds live
  // accounting data, a batch file is a link, the batch is incomplete, the
  // archive fails a check); empty otherwise, and then the lines count.
  std::string refusal;
};

// Previews of a send and a receive: the run's own statements turned into
// read-only counting SELECTs over the live tables, and the price list and
// the texts walked as the run walks them, without writing a byte, taking a
// lock or asking anything.  Throws std::exception (an EngineError naming
// the table) when a table cannot be read.
RunPreview PreviewSend(const RunEnvironment& env, const SendPage& page);
RunPreview PreviewReceive(const RunEnvironment& env, const ReceivePage& page);
// The preview as a table of plain text lines (for a terminal).
std::string PreviewText(const RunPreview& preview);

RunOutcome SendBatch(RunEnvironment& env, const SendPage& page);
// With page.archive set, the archive is checked and unpacked into a private
// temporary folder (UnpackedArchive) and the batch is received from there
// exactly as from a transfer folder; the folder is removed before this
// returns, whatever happened.  An archive that fails a check is refused
// with a warning (kArchiveRefused) before anything is asked or written.
RunOutcome ReceiveBatch(RunEnvironment& env, const ReceivePage& page);

// The refusal of a batch file that a run must not go through.
inline constexpr const char* kMsgUnsafeBatchFileTemplate =
    "Soubor \"%s\" v přenosné složce je odkazem na jiný soubor nebo není obyčejným souborem. "
    "Dávku nelze použít.";

// Whether the batch says it comes from another company than the active one:
// the company named in "export.ini" is not empty and is not the active
// company's designation as "export.ini" would give it back.
bool BatchFromOtherCompany(const std::string& transfer_folder, const std::string& designation);

// The failure reports: the prefix, the error's text, and the closing lines.
std::string SendFailureText(const std::string& error);
std::string ReceiveFailureText(const std::string& error);

}  // namespace dalimor
