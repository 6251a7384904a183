#include "transfer/runs.h"

#include <filesystem>
#include <optional>
#include <set>

#include "archive/batch_archive.h"
#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "batch/initialisation.h"
#include "engine/run_journal.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"
#include "transfer/journal_catalog.h"
#include "transfer/memo_transfer.h"
#include "transfer/price_list.h"
#include "batch/run_folders.h"
#include "transfer/table_step.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

bool HasMemos(std::string_view code) { return code == "VF" || code == "Obj"; }

// The steps of an agenda's header (or only) table and of its item table.
TableStep HeaderStep(const Agenda& agenda) {
  const BatchTable* table = FindBatchTable(agenda.header_table);
  TableStep step;
  step.table = AsciiUpper(agenda.header_table);
  step.creation_keys = std::string(table->creation_keys);
  step.document_keys = std::string(table->document_keys);
  step.omit_zmeneno = HasMemos(agenda.code);
  return step;
}

TableStep ItemStep(const Agenda& agenda) {
  const BatchTable* table = FindBatchTable(agenda.item_table);
  TableStep step;
  step.table = AsciiUpper(agenda.item_table);
  step.master_table = AsciiUpper(agenda.header_table);
  step.join_condition = std::string(agenda.join_condition);
  step.creation_keys = std::string(table->creation_keys);
  step.document_keys = std::string(table->document_keys);
  return step;
}

TransferFilter Filter(const Agenda& agenda, const AgendaInput& input, const RunEnvironment& env) {
  TransferFilter filter;
  filter.date_field = std::string(agenda.date_field);
  filter.date_from = DateOrZero(input.date_from, env.settings, env.clock);
  filter.date_to = DateOrZero(input.date_to, env.settings, env.clock);
  filter.series_field = std::string(agenda.series_field);
  filter.series = input.series;
  return filter;
}

const AgendaInput* Ticked(const std::map<std::string, AgendaInput>& agendas,
                          std::string_view code) {
  const auto it = agendas.find(std::string(code));
  return it != agendas.end() && it->second.ticked ? &it->second : nullptr;
}

bool HasAgenda(const std::map<std::string, AgendaInput>& agendas) {
  for (const Agenda& agenda : Agendas())
    if (Ticked(agendas, agenda.code)) return true;
  return false;
}

std::string CompanyFolder(const RunEnvironment& env, const Agenda& agenda) {
  return WithTrailingBackslash(Utf8FromPath(
      ResolvePathIgnoringCase(PathFromUtf8(env.company_data_folder),
                              agenda.kind == AgendaKind::kS ? "SDATA\\S" : "CDATA\\S")));
}

PriceListOptions PriceOptions(const std::map<std::string, AgendaInput>& agendas, bool all,
                              bool replace) {
  PriceListOptions options;
  options.all = all;
  options.replace = replace;
  for (const PriceListAgenda& entry : kPriceListAgendas)
    if (Ticked(agendas, entry.agenda)) options.item_tables.emplace_back(entry.item_table);
  return options;
}

// The progress of a run in steps: every table of a ticked agenda, the
// texts of issued invoices and orders, and the price list.
class RunProgress {
 public:
  RunProgress(Ui& ui, const std::map<std::string, AgendaInput>& agendas) : ui_(ui) {
    for (const Agenda& agenda : Agendas()) {
      if (!Ticked(agendas, agenda.code)) continue;
      total_ += agenda.code == "Cenik" ? 1 : 1 + !agenda.item_table.empty() + HasMemos(agenda.code);
    }
  }
  // One step done; a safe point to stop at.
  void Step(const TransferContext& context) {
    ui_.SetProgress(++done_, total_);
    StopPoint(context);
  }

 private:
  Ui& ui_;
  int done_ = 0;
  int total_ = 0;
};

// Runs `one` for every ticked agenda in the order of a run, then shows the
// agenda's done mark.
template <typename OneAgenda>
void ForEachTickedAgenda(Ui& ui, RunJournal& journal, const TransferContext& context,
                         const std::map<std::string, AgendaInput>& agendas, RunPage page,
                         OneAgenda&& one) {
  RunProgress progress(ui, agendas);
  for (const Agenda& agenda : Agendas()) {
    const AgendaInput* input = Ticked(agendas, agenda.code);
    if (!input) continue;
    StopPoint(context);
    one(agenda, *input, progress);
    journal.Settle();
    ui.ShowDoneMark(page, std::string(agenda.code));
  }
}

// Puts back what the failed run changed, takes away the done marks of the
// agendas it had finished (their data are gone again), then reports the
// error and whether the data are as they were.
RunOutcome Fail(Ui& ui, RunJournal& journal, const std::string& text,
                RunOutcome outcome_of_run = RunOutcome::kFailed) {
  std::string outcome = "\r\n\r\nData zůstala beze změny.";
  try {
    journal.Rollback();
  } catch (const JournalChangedError& e) {
    // Someone else wrote a table while the run failed: nothing is put back
    // without the user.
    outcome = "\r\n\r\n" + PendingJournalText(Utf8FromPath(journal.home()), e.report()) +
              PendingDecisionHint();
  } catch (const std::exception& e) {
    // The journal stays on disk and is restored when the folder is next used.
    outcome = std::string("\r\n\r\nZměny se nepodařilo vrátit (") + e.what() +
              "); budou vráceny při příštím odeslání nebo příjmu.";
  }
  // The marks were shown without a completed run; mark them as shown so
  // that hiding takes them all away.
  ui.SetDoneMarksShown(true);
  ui.HideDoneMarks();
  MsgWarning(ui, kMsgCaption, text + outcome);
  return outcome_of_run;
}

// Refuses a transfer folder on live accounting data, and a batch with a
// file a run must not go through; says why.  True when refused.
bool RefuseFolder(const RunEnvironment& env) {
  AccountingFolders live = env.accounting_folders;
  live.trees.push_back(env.company_data_folder);
  if (IsAccountingDataFolder(env.transfer_folder, live)) {
    MsgWarning(env.ui, kMsgCaption, kMsgAccountingFolder);
    return true;
  }
  const std::string unsafe = FindUnsafeBatchFile(env.transfer_folder);
  if (!unsafe.empty()) {
    MsgWarning(env.ui, kMsgCaption, FillTemplate(kMsgUnsafeBatchFileTemplate, unsafe));
    return true;
  }
  return false;
}

// The common start of both runs after the busy cursor is on: the status
// text, the done marks hidden, the folders locked for this run and the
// journal of a killed run put back.  Nullopt, with the reason shown, when
// the run cannot begin.
std::optional<RunFolders> BeginRun(RunEnvironment& env, const char* what,
                                   std::string (*failure_text)(const std::string&),
                                   RunOutcome* refusal) {
  env.ui.SetStatusText("Probíhá příprava dat pro odesílání...");
  env.ui.HideDoneMarks();
  RunFolders folders = PrepareRunFolders(env.company_data_folder, env.transfer_folder, what);
  switch (folders.state) {
    case FoldersState::kReady:
      return folders;
    case FoldersState::kBusy:
      *refusal = RunOutcome::kFolderBusy;
      MsgWarning(env.ui, kMsgCaption, folders.message);
      break;
    case FoldersState::kDecisionPending:
      *refusal = RunOutcome::kDecisionPending;
      MsgWarning(env.ui, kMsgCaption, folders.message);
      break;
    case FoldersState::kFailed:
      *refusal = RunOutcome::kFailed;
      MsgWarning(env.ui, kMsgCaption, failure_text(folders.message));
      break;
  }
  return std::nullopt;
}

std::string Failure(const char* prefix, const std::string& error) {
  return std::string(prefix) + "\r\n\r\n" + error + "\r\n\r\nAkce byla přerušena.";
}

}  // namespace

bool BatchFromOtherCompany(const std::string& transfer_folder, const std::string& designation) {
  const std::string sender = ReadBatchCompany(transfer_folder);
  return !sender.empty() && sender != IniValueAsRead(designation);
}

std::string SendFailureText(const std::string& error) {
  return Failure("Při exportu dat došlo k chybě:", error);
}

std::string ReceiveFailureText(const std::string& error) {
  return Failure("Při importu dat došlo k chybě:", error);
}

RunOutcome SendBatch(RunEnvironment& env, const SendPage& page) {
  Ui& ui = env.ui;
  if (RefuseFolder(env)) return RunOutcome::kFolderRefused;
  if (MsgQuestion(ui, kMsgCaption, "Chcete dávku skutečně odeslat?", kMbYesNo) != kIdYes)
    return RunOutcome::kCancelled;
  BusyCursorScope busy(ui);
  RunOutcome refusal = RunOutcome::kFailed;
  const std::optional<RunFolders> folders =
      BeginRun(env, "odeslání dávky", SendFailureText, &refusal);
  if (!folders) return refusal;
  if (!HasAgenda(page.agendas)) {
    MsgInfo(ui, kMsgCaption,
            FillTemplate("Ve výběru pro %s není obsažena žádná agenda.", "odeslání"));
    return RunOutcome::kNoAgenda;
  }

  const std::string& batch = env.transfer_folder;
  RunJournal journal(PathFromUtf8(batch), "odeslání dávky");
  JournalingCatalog catalog(&journal);
  TransferContext context{catalog, env.config, env.clock, &journal, &ui};
  try {
    if (page.empty_first) {
      for (const BatchTable& table : BatchTables())
        journal.Touch(PathFromUtf8(batch) / PathFromUtf8(table.file_name));
      DeleteBatchFiles(batch);
      CreateBatchTables(env.config, env.company_data_folder, batch);
      journal.Settle();
    } else if (!BatchTablesExist(batch, false)) {
      for (const BatchTable& table : BatchTables()) {
        const fs::path path = PathFromUtf8(batch) / PathFromUtf8(table.file_name);
        if (!FileExists(path)) journal.Touch(path);
      }
      CreateBatchTables(env.config, env.company_data_folder, batch);
      journal.Settle();
    }
    if (!page.empty_first) {
      if (BatchFromOtherCompany(batch, env.company_designation) &&
          MsgWarning(ui, kMsgCaption,
                     "Data v dávce neodpovídají právě aktivní firmě.\r\nPokračováním dojde ke "
                     "spojení dat aktivní firmy s daty v dávce. Chcete pokračovat?",
                     kMbYesNoDefaultNo) != kIdYes) {
        journal.Commit();  // the prepared tables stay
        return RunOutcome::kCompanyDeclined;
      }
    }

    ForEachTickedAgenda(ui, journal, context, page.agendas, RunPage::kSend,
                        [&](const Agenda& agenda, const AgendaInput& input, RunProgress& progress) {
      if (agenda.code == "Cenik") {
        ui.SetStatusText("Probíhá odesílání položek Ceníku ...");
        SendPriceList(context, env.company_data_folder, batch,
                      PriceOptions(page.agendas, page.price_list_all,
                                   !page.empty_first && page.overwrite));
        progress.Step(context);
        return;
      }
      ui.SetStatusText("Probíhá odesílání záznamů agendy " + std::string(agenda.progress_name));
      const std::string company = CompanyFolder(env, agenda);
      const TableStep header = HeaderStep(agenda);
      std::set<std::string> inserted;
      SendTable(context, company, batch, header, Filter(agenda, input, env), page.overwrite,
                page.empty_first, HasMemos(agenda.code) ? &inserted : nullptr);
      progress.Step(context);
      if (!agenda.item_table.empty()) {
        SendTable(context, company, batch, ItemStep(agenda), Filter(agenda, input, env),
                  page.overwrite, page.empty_first);
        progress.Step(context);
      }
      if (HasMemos(agenda.code)) {
        ExportMemos(context, env.company_data_folder, batch, header.table, &inserted);
        progress.Step(context);
      }
    });

    for (const std::string_view name : {kExportInfoName, kExportIniName})
      journal.Touch(ResolvePathIgnoringCase(PathFromUtf8(batch), name));
    WriteBatchInfo(batch, page.message, env.company_designation, env.clock, env.settings,
                   TableRecordCount);
    journal.Commit();
  } catch (const RunStopped&) {
    return Fail(ui, journal, "Odesílání dávky bylo zastaveno.", RunOutcome::kStopped);
  } catch (const std::exception& e) {
    return Fail(ui, journal, SendFailureText(e.what()));
  }

  // The archive carries the information files just written; it reports its
  // own failures and does not undo the send.
  bool archived = true;
  if (page.archive) {
    ui.SetStatusText("Probíhá komprimace dávky do archivu zip...");
    archived = ArchiveBatch(ui, batch);
  }
  if (env.refill_receive_series) env.refill_receive_series();
  ui.SetDoneMarksShown(true);
  ui.SetStatusText("");
  MsgInfo(ui, kMsgCaption, "Odeslání dat bylo úspěšně dokončeno.");
  return archived ? RunOutcome::kDone : RunOutcome::kArchiveFailed;
}

RunOutcome ReceiveBatch(RunEnvironment& env, const ReceivePage& page) {
  Ui& ui = env.ui;
  if (RefuseFolder(env)) return RunOutcome::kFolderRefused;
  if (MsgQuestion(ui, kMsgCaption, "Chcete dávku skutečně přijmout?", kMbYesNoDefaultNo) !=
      kIdYes)
    return RunOutcome::kCancelled;
  BusyCursorScope busy(ui);
  RunOutcome refusal = RunOutcome::kFailed;
  const std::optional<RunFolders> folders =
      BeginRun(env, "příjem dávky", ReceiveFailureText, &refusal);
  if (!folders) return refusal;
  const std::string& batch = env.transfer_folder;
  if (!HasAgenda(page.agendas)) {
    MsgInfo(ui, kMsgCaption, FillTemplate("Ve výběru pro %s není obsažena žádná agenda.", "příjem"));
    return RunOutcome::kNoAgenda;
  }
  if (!BatchTablesExist(batch, false)) {
    MsgInfo(ui, kMsgCaption, "Soubory pro import dat nejsou k dispozici.");
    return RunOutcome::kBatchIncomplete;
  }
  if (BatchFromOtherCompany(batch, env.company_designation) &&
      MsgWarning(ui, kMsgCaption,
                 "Data v dávce neodpovídají právě aktivní firmě.\r\nPokračováním dojde ke spojení "
                 "dat programu Kalmeo s daty z dávky. Chcete pokračovat?",
                 kMbYesNoDefaultNo) != kIdYes)
    return RunOutcome::kCompanyDeclined;

  RunJournal journal(PathFromUtf8(env.company_data_folder), "příjem dávky");
  JournalingCatalog catalog(&journal);
  TransferContext context{catalog, env.config, env.clock, &journal, &ui};
  try {
    ForEachTickedAgenda(ui, journal, context, page.agendas, RunPage::kReceive,
                        [&](const Agenda& agenda, const AgendaInput& input, RunProgress& progress) {
      if (agenda.code == "Cenik") {
        ui.SetStatusText("Probíhá příjem položek Ceníku ...");
        ReceivePriceList(context, env.company_data_folder, batch,
                         PriceOptions(page.agendas, page.price_list_all, page.overwrite));
        progress.Step(context);
        return;
      }
      ui.SetStatusText("Probíhá příjem záznamů agendy " + std::string(agenda.progress_name));
      const std::string company = CompanyFolder(env, agenda);
      const TableStep header = HeaderStep(agenda);
      std::set<std::string> inserted;
      ReceiveTable(context, batch, company, header, Filter(agenda, input, env), page.overwrite,
                   HasMemos(agenda.code) ? &inserted : nullptr);
      progress.Step(context);
      if (!agenda.item_table.empty()) {
        ReceiveTable(context, batch, company, ItemStep(agenda), Filter(agenda, input, env),
                     page.overwrite);
        progress.Step(context);
      }
      if (HasMemos(agenda.code)) {
        ImportMemos(context, env.company_data_folder, batch, header.table, &inserted);
        progress.Step(context);
      }
    });
    journal.Commit();
  } catch (const RunStopped&) {
    return Fail(ui, journal, "Příjem dávky byl zastaven.", RunOutcome::kStopped);
  } catch (const std::exception& e) {
    return Fail(ui, journal, ReceiveFailureText(e.what()));
  }
  ui.SetDoneMarksShown(true);
  ui.SetStatusText("");
  MsgInfo(ui, kMsgCaption, "Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte údržbu dat.");
  return RunOutcome::kDone;
}

}  // namespace dalimor
