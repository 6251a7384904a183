#include "transfer/runs.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "archive/batch_archive.h"
#include "archive/batch_unpack.h"
#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "batch/initialisation.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "engine/sql/paradox_catalog.h"
#include "engine/sql/query.h"
#include "engine/table_cursor.h"
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
    within_ = 0;
    ui_.SetProgress(++done_, total_, 0);
    StopPoint(context);
  }
  // `done` of the `total` rows of the current step are done.  Reported only
  // when the share moves by a thousandth, so a million rows cost a thousand
  // reports at most.
  void Rows(uint64_t done, uint64_t total) {
    const int within = total == 0 ? 0 : static_cast<int>(std::min<uint64_t>(999, done * 1000 / total));
    if (within <= within_) return;
    within_ = within;
    ui_.SetProgress(done_, total_, within_);
  }

 private:
  Ui& ui_;
  int done_ = 0;
  int total_ = 0;
  int within_ = 0;
};

// Runs `one` for every ticked agenda in the order of a run, then shows the
// agenda's done mark.
// Where an agenda's counts go; null when the run keeps no report.
AgendaCounts* CountsOf(RunEnvironment& env, const Agenda& agenda) {
  return env.report ? &env.report->counts[std::string(agenda.code)] : nullptr;
}

void AddHeader(AgendaCounts* counts, const StepCounts& step) {
  if (!counts) return;
  counts->documents += step.inserted;
  counts->replaced += step.deleted;
}

void AddItems(AgendaCounts* counts, const StepCounts& step) {
  if (counts) counts->items += step.inserted;
}

// The price list's rows in the company's data folder or in the batch,
// counted around its step (it copies row by row); 0 while it is missing.
int64_t PriceListRows(const std::string& folder, std::string_view relative) {
  return std::stoll(
      TableRecordCount(Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(folder), relative))));
}

template <typename OneAgenda>
void ForEachTickedAgenda(Ui& ui, RunJournal& journal, TransferContext& context,
                         const std::map<std::string, AgendaInput>& agendas, RunPage page,
                         OneAgenda&& one) {
  RunProgress progress(ui, agendas);
  // The report goes with the progress it feeds, whichever way this ends.
  struct RowReport {
    TransferContext& context;
    ~RowReport() { context.rows_done = nullptr; }
  } row_report{context};
  context.rows_done = [&progress](uint64_t done, uint64_t total) { progress.Rows(done, total); };
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
// The warning that ends a run without doing it, kept for the run log.
int Warn(RunEnvironment& env, const std::string& text, int buttons = kMbOk) {
  if (env.report) env.report->error = text;
  return MsgWarning(env.ui, kMsgCaption, text, buttons);
}

RunOutcome Fail(RunEnvironment& env, RunJournal& journal, const std::string& text,
                RunOutcome outcome_of_run = RunOutcome::kFailed) {
  Ui& ui = env.ui;
  // Nothing the run wrote stays.
  if (env.report) env.report->counts.clear();
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
  Warn(env, text + outcome);
  return outcome_of_run;
}

// Refuses a transfer folder on live accounting data, and a batch with a
// file a run must not go through; says why.  True when refused.
std::string FolderRefusal(const RunEnvironment& env) {
  AccountingFolders live = env.accounting_folders;
  live.trees.push_back(env.company_data_folder);
  if (IsAccountingDataFolder(env.transfer_folder, live)) return kMsgAccountingFolder;
  const std::string unsafe = FindUnsafeBatchFile(env.transfer_folder);
  if (!unsafe.empty()) return FillTemplate(kMsgUnsafeBatchFileTemplate, unsafe);
  return "";
}

bool RefuseFolder(RunEnvironment& env) {
  const std::string refusal = FolderRefusal(env);
  if (refusal.empty()) return false;
  Warn(env, refusal);
  return true;
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
      Warn(env, folders.message);
      break;
    case FoldersState::kDecisionPending:
      *refusal = RunOutcome::kDecisionPending;
      Warn(env, folders.message);
      break;
    case FoldersState::kFailed:
      *refusal = RunOutcome::kFailed;
      Warn(env, failure_text(folders.message));
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

namespace {

RunOutcome SendToFolder(RunEnvironment& env, const SendPage& page) {
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
  TransferContext context{catalog, env.config, env.clock, &journal, &ui, nullptr};
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
      AgendaCounts* counts = CountsOf(env, agenda);
      if (agenda.code == "Cenik") {
        ui.SetStatusText("Probíhá odesílání položek Ceníku ...");
        const int64_t before = counts ? PriceListRows(batch, "SCenik.DB") : 0;
        SendPriceList(context, env.company_data_folder, batch,
                      PriceOptions(page.agendas, page.price_list_all,
                                   !page.empty_first && page.overwrite));
        if (counts) counts->documents += PriceListRows(batch, "SCenik.DB") - before;
        progress.Step(context);
        return;
      }
      ui.SetStatusText("Probíhá odesílání záznamů agendy " + std::string(agenda.progress_name));
      const std::string company = CompanyFolder(env, agenda);
      const TableStep header = HeaderStep(agenda);
      std::set<std::string> inserted;
      AddHeader(counts, SendTable(context, company, batch, header, Filter(agenda, input, env),
                                  page.overwrite, page.empty_first,
                                  HasMemos(agenda.code) ? &inserted : nullptr));
      progress.Step(context);
      if (!agenda.item_table.empty()) {
        AddItems(counts, SendTable(context, company, batch, ItemStep(agenda),
                                   Filter(agenda, input, env), page.overwrite, page.empty_first));
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
    return Fail(env, journal, "Odesílání dávky bylo zastaveno.", RunOutcome::kStopped);
  } catch (const std::exception& e) {
    return Fail(env, journal, SendFailureText(e.what()));
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

RunOutcome ReceiveFromFolder(RunEnvironment& env, const ReceivePage& page) {
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
    if (env.report) env.report->error = "Soubory pro import dat nejsou k dispozici.";
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
  TransferContext context{catalog, env.config, env.clock, &journal, &ui, nullptr};
  try {
    ForEachTickedAgenda(ui, journal, context, page.agendas, RunPage::kReceive,
                        [&](const Agenda& agenda, const AgendaInput& input, RunProgress& progress) {
      AgendaCounts* counts = CountsOf(env, agenda);
      if (agenda.code == "Cenik") {
        ui.SetStatusText("Probíhá příjem položek Ceníku ...");
        const int64_t before = counts ? PriceListRows(env.company_data_folder, "SDATA\\S\\SCenik.DB") : 0;
        ReceivePriceList(context, env.company_data_folder, batch,
                         PriceOptions(page.agendas, page.price_list_all, page.overwrite));
        if (counts) counts->documents += PriceListRows(env.company_data_folder, "SDATA\\S\\SCenik.DB") - before;
        progress.Step(context);
        return;
      }
      ui.SetStatusText("Probíhá příjem záznamů agendy " + std::string(agenda.progress_name));
      const std::string company = CompanyFolder(env, agenda);
      const TableStep header = HeaderStep(agenda);
      std::set<std::string> inserted;
      AddHeader(counts, ReceiveTable(context, batch, company, header, Filter(agenda, input, env),
                                     page.overwrite, HasMemos(agenda.code) ? &inserted : nullptr));
      progress.Step(context);
      if (!agenda.item_table.empty()) {
        AddItems(counts, ReceiveTable(context, batch, company, ItemStep(agenda),
                                      Filter(agenda, input, env), page.overwrite));
        progress.Step(context);
      }
      if (HasMemos(agenda.code)) {
        ImportMemos(context, env.company_data_folder, batch, header.table, &inserted);
        progress.Step(context);
      }
    });
    journal.Commit();
  } catch (const RunStopped&) {
    return Fail(env, journal, "Příjem dávky byl zastaven.", RunOutcome::kStopped);
  } catch (const std::exception& e) {
    return Fail(env, journal, ReceiveFailureText(e.what()));
  }
  ui.SetDoneMarksShown(true);
  ui.SetStatusText("");
  MsgInfo(ui, kMsgCaption, "Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte údržbu dat.");
  return RunOutcome::kDone;
}

// The receive from a batch archive: checked and unpacked into a private
// temporary folder first, then received from there as from a folder.  The
// folder goes when `unpacked` does, whatever happens; the run journal lives
// in the company's data folder and never names it.
RunOutcome ReceiveFromArchive(RunEnvironment& env, const ReceivePage& page) {
  std::optional<UnpackedArchive> unpacked;
  {
    BusyCursorScope busy(env.ui);
    env.ui.SetStatusText(std::string(kUnpackStatusText));
    UnpackRules rules;
    rules.accepts = IsBatchFileName;
    rules.max_entries = kMaxBatchFiles;
    rules.progress = [&env] {
      env.ui.ProcessPendingEvents();
      if (env.ui.StopRequested()) throw RunStopped();
    };
    try {
      unpacked.emplace(page.archive, rules);
    } catch (const ArchiveRefused& e) {
      env.ui.SetStatusText("");
      Warn(env, std::string(e.what()) + "\r\n\r\nData zůstala beze změny.");
      return RunOutcome::kArchiveRefused;
    } catch (const RunStopped&) {
      env.ui.SetStatusText("");
      Warn(env, "Příjem dávky byl zastaven.\r\n\r\nData zůstala beze změny.");
      return RunOutcome::kStopped;
    }
  }
  RunEnvironment from_folder = env;
  from_folder.transfer_folder = unpacked->folder();
  return ReceiveFromFolder(from_folder, page);
}

void StartReport(RunEnvironment& env) {
  if (!env.report) return;
  *env.report = RunReport();
  env.report->start = env.clock.Now();
}

RunOutcome EndReport(RunEnvironment& env, RunOutcome outcome) {
  if (env.report) {
    env.report->outcome = outcome;
    env.report->end = env.clock.Now();
  }
  return outcome;
}

}  // namespace

RunOutcome SendBatch(RunEnvironment& env, const SendPage& page) {
  StartReport(env);
  return EndReport(env, SendToFolder(env, page));
}

RunOutcome ReceiveBatch(RunEnvironment& env, const ReceivePage& page) {
  StartReport(env);
  return EndReport(env, page.archive.empty() ? ReceiveFromFolder(env, page)
                                             : ReceiveFromArchive(env, page));
}


// ---------------------------------------------------------------------------
// Previews

namespace {

// The rows a read-only statement gives; 0 for an empty statement.
int64_t CountRows(SqlCatalog& catalog, const std::string& statement) {
  if (statement.empty()) return 0;
  SqlQuery query(catalog);
  query.SetText(statement);
  return static_cast<int64_t>(query.ExecSql());
}

// The rows of a SELECT, each as its values joined by 0x1F.
std::vector<std::string> SelectedKeys(SqlCatalog& catalog, const std::string& statement) {
  std::vector<std::string> keys;
  if (statement.empty()) return keys;
  SqlQuery query(catalog);
  query.SetText(statement);
  query.Open();
  for (query.First(); !query.Eof(); query.Next()) {
    std::string key;
    for (size_t i = 0; i < query.FieldCount(); ++i)
      key += ValueAsString(query.FieldValue(i)) + '\x1f';
    keys.push_back(std::move(key));
  }
  return keys;
}

// The values of `fields` in every row of a table, as SelectedKeys gives
// them; nothing when the table is not there.
std::vector<std::string> TableKeys(const fs::path& path, std::initializer_list<const char*> fields) {
  std::vector<std::string> keys;
  if (!FileExists(path)) return keys;
  const auto table = ParadoxTable::Open(Utf8FromPath(path), OpenMode::kReadOnly);
  std::vector<int> indexes;
  for (const char* name : fields) indexes.push_back(table->FieldIndex(name));
  for (auto p = table->First(); p; p = table->Next(*p)) {
    std::string key;
    for (const int f : indexes) key += (f < 0 ? std::string() : ValueAsString(table->ReadField(*p, f))) + '\x1f';
    keys.push_back(std::move(key));
  }
  return keys;
}

// What one table step would do.
struct StepPreview {
  int64_t selected = 0;  // rows passing the filter
  int64_t fresh = 0;     // of them, rows of documents the target lacks
  int64_t deleted = 0;   // target rows the overwriting DELETE takes
  int64_t inserted = 0;  // rows the INSERT writes
  bool guard = false;    // the INSERT is guarded (the target exists and is not replaced)
};

StepPreview PreviewStep(SqlCatalog& catalog, const std::string& source_folder,
                        const std::string& target_folder, const TableStep& step,
                        const TransferFilter& filter, bool overwrite, bool target_emptied) {
  StepPreview p;
  const bool target_there =
      !target_emptied && FileExists(ResolvePathIgnoringCase(PathFromUtf8(target_folder), step.table));
  p.selected = CountRows(catalog, BuildInsertSelect("*", source_folder, target_folder, step,
                                                    filter, false));
  p.fresh = target_there ? CountRows(catalog, BuildInsertSelect("*", source_folder, target_folder,
                                                                step, filter, true))
                         : p.selected;
  if (overwrite && target_there)
    p.deleted = CountRows(
        catalog, BuildDeleteSelect("*", target_folder + step.table, source_folder + step.table,
                                   step.document_keys, filter, step.join_condition,
                                   step.master_table.empty() ? "" : source_folder + step.master_table));
  p.guard = target_there && !overwrite;
  p.inserted = p.guard ? p.fresh : p.selected;
  return p;
}

PreviewLine LineOf(const Agenda& agenda, const char* rows, const StepPreview& p, bool overwrite) {
  PreviewLine line{std::string(agenda.code), std::string(agenda.caption), rows};
  line.added = p.fresh;
  (overwrite ? line.replaced : line.kept) = p.selected - p.fresh;
  return line;
}

// The texts the run would copy with the headers it inserts: every text key
// above 0 of those rows whose text the source's memo table holds.
int64_t PreviewTexts(SqlCatalog& catalog, const std::string& source_folder,
                     const std::string& target_folder, const TableStep& header,
                     const TransferFilter& filter, bool guard, const fs::path& source_memos) {
  std::set<std::string> texts;
  for (const std::string& key : TableKeys(source_memos, {"Klic"})) texts.insert(key);
  int64_t count = 0;
  for (const std::string& row : SelectedKeys(
           catalog, BuildInsertSelect("TextNahoruKlic, TextDoluKlic", source_folder,
                                      target_folder, header, filter, guard))) {
    const size_t split = row.find('\x1f');
    for (const std::string& key : {row.substr(0, split + 1), row.substr(split + 1)}) {
      const std::string number = key.substr(0, key.size() - 1);
      if (!number.empty() && number != "0" && number[0] != '-' && texts.count(key)) ++count;
    }
  }
  return count;
}


std::set<std::string> KeySet(const std::vector<std::string>& keys) {
  return std::set<std::string>(keys.begin(), keys.end());
}

// The price list's passes as the run makes them: every item of the source
// (all), or every item row of the options' item tables whose item the
// source has (`item_rows` gives a table's rows as the pass finds them), is
// added when the destination (`present`) lacks it, else replaced or kept;
// an item added once is there for its next mention.
PreviewLine PreviewPrices(
    std::set<std::string> present, const std::vector<std::string>& source,
    const PriceListOptions& options,
    const std::function<std::vector<std::string>(const std::string& table)>& item_rows) {
  const Agenda& agenda = *FindAgenda("Cenik");
  PreviewLine line{std::string(agenda.code), std::string(agenda.caption), "položky ceníku"};
  const auto pass = [&](const std::string& key) {
    if (!present.count(key)) {
      ++line.added;
      present.insert(key);
    } else {
      ++(options.replace ? line.replaced : line.kept);
    }
  };
  if (options.all) {
    for (const std::string& key : source) pass(key);
    return line;
  }
  const std::set<std::string> known = KeySet(source);
  for (const std::string& table : options.item_tables)
    for (const std::string& key : item_rows(table))
      if (known.count(key)) pass(key);
  return line;
}

// The start a preview shares with the run: the folder refused as the run
// refuses it, then the folders locked and a killed run's tables put back,
// so that the counts are of the tables as the run would find them.  Empty
// with `refusal` set when the run would not begin.
std::optional<RunFolders> PreviewFolders(const RunEnvironment& env, const char* what,
                                         std::string& refusal) {
  refusal = FolderRefusal(env);
  if (!refusal.empty()) return std::nullopt;
  RunFolders folders = PrepareRunFolders(env.company_data_folder, env.transfer_folder, what);
  if (folders.state == FoldersState::kReady) return folders;
  refusal = folders.message;
  return std::nullopt;
}

// Whether the price list walks the agenda's item table.
bool NamesPriceListItems(std::string_view code) {
  for (const PriceListAgenda& entry : kPriceListAgendas)
    if (entry.agenda == code) return true;
  return false;
}

}  // namespace

RunPreview PreviewSend(const RunEnvironment& env, const SendPage& page) {
  ParadoxSqlCatalog catalog;
  RunPreview preview;
  const std::optional<RunFolders> folders = PreviewFolders(env, "náhled odeslání", preview.refusal);
  if (!folders) return preview;
  const std::string& batch = env.transfer_folder;
  const bool emptied = page.empty_first;
  // The batch's item rows as the price list will find them after the run.
  std::map<std::string, std::vector<std::string>> items_after;
  for (const Agenda& agenda : Agendas()) {
    const AgendaInput* input = Ticked(page.agendas, agenda.code);
    if (!input || agenda.code == "Cenik") continue;
    const std::string company = CompanyFolder(env, agenda);
    const TransferFilter filter = Filter(agenda, *input, env);
    AgendaCounts& counts = preview.counts[std::string(agenda.code)];
    const TableStep header = HeaderStep(agenda);
    const StepPreview h =
        PreviewStep(catalog, company, batch, header, filter, page.overwrite && !emptied, emptied);
    preview.lines.push_back(LineOf(agenda, "doklady", h, page.overwrite && !emptied));
    counts.documents += h.inserted;
    counts.replaced += h.deleted;
    if (!agenda.item_table.empty()) {
      const TableStep items = ItemStep(agenda);
      const StepPreview i =
          PreviewStep(catalog, company, batch, items, filter, page.overwrite && !emptied, emptied);
      preview.lines.push_back(LineOf(agenda, "položky", i, page.overwrite && !emptied));
      counts.items += i.inserted;
    }
    if (!agenda.item_table.empty() && NamesPriceListItems(agenda.code) &&
        Ticked(page.agendas, "Cenik") && !page.price_list_all) {
      const TableStep items = ItemStep(agenda);
      const bool guarded = !emptied && !page.overwrite &&
                           FileExists(ResolvePathIgnoringCase(PathFromUtf8(batch), items.table));
      // Rows that stay, less those the DELETE takes, plus those the INSERT writes.
      std::vector<std::string>& after = items_after[items.table];
      const fs::path batch_items = ResolvePathIgnoringCase(PathFromUtf8(batch), items.table);
      if (!emptied) {
        std::multiset<std::string> stay;
        for (std::string& key : TableKeys(batch_items, {"Sklad", "PolozkaSkladu"}))
          stay.insert(std::move(key));
        if (page.overwrite && FileExists(batch_items))
          for (const std::string& key : SelectedKeys(
                   catalog, BuildDeleteSelect("Sklad, PolozkaSkladu", batch + items.table,
                                              company + items.table, items.document_keys, filter,
                                              items.join_condition, company + items.master_table)))
            if (const auto at = stay.find(key); at != stay.end()) stay.erase(at);
        after.assign(stay.begin(), stay.end());
      }
      for (std::string& key : SelectedKeys(
               catalog, BuildInsertSelect("Sklad, PolozkaSkladu", company, batch, items,
                                          filter, guarded)))
        after.push_back(std::move(key));
    }
    if (HasMemos(agenda.code)) {
      PreviewLine line{std::string(agenda.code), std::string(agenda.caption), "texty"};
      line.added = PreviewTexts(
          catalog, company, batch, header, filter, h.guard,
          ResolvePathIgnoringCase(PathFromUtf8(env.company_data_folder), "LDATA\\S\\LMemo.DB"));
      preview.lines.push_back(line);
    }
  }
  if (Ticked(page.agendas, "Cenik")) {
    std::set<std::string> present;
    if (!emptied)
      present = KeySet(TableKeys(ResolvePathIgnoringCase(PathFromUtf8(batch), "SCenik.DB"),
                                 {"Sklad", "PolozkaSkladu"}));
    PreviewLine line = PreviewPrices(
        std::move(present),
        TableKeys(ResolvePathIgnoringCase(PathFromUtf8(env.company_data_folder), "SDATA\\S\\SCenik.DB"),
                  {"Sklad", "PolozkaSkladu"}),
        PriceOptions(page.agendas, page.price_list_all, !emptied && page.overwrite),
        [&](const std::string& table) { return items_after[AsciiUpper(table)]; });
    preview.counts["Cenik"].documents = line.added;
    // The price list has its place among the agendas, as in the run.
    size_t at = 0;
    for (const Agenda& a : Agendas()) {
      if (a.code == "Cenik") break;
      while (at < preview.lines.size() && preview.lines[at].agenda == a.code) ++at;
    }
    preview.lines.insert(preview.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  }
  return preview;
}

RunPreview PreviewReceive(const RunEnvironment& env, const ReceivePage& page) {
  if (!page.archive.empty()) {
    // From the archive's private unpacked copy, as the receive would.
    UnpackRules rules;
    rules.accepts = IsBatchFileName;
    rules.max_entries = kMaxBatchFiles;
    RunPreview preview;
    try {
      const UnpackedArchive unpacked(page.archive, rules);
      RunEnvironment from_folder = env;
      from_folder.transfer_folder = unpacked.folder();
      ReceivePage from_page = page;
      from_page.archive.clear();
      return PreviewReceive(from_folder, from_page);
    } catch (const ArchiveRefused& e) {
      preview.refusal = e.what();
    }
    return preview;
  }
  ParadoxSqlCatalog catalog;
  RunPreview preview;
  const std::optional<RunFolders> folders = PreviewFolders(env, "náhled příjmu", preview.refusal);
  if (!folders) return preview;
  if (!BatchTablesExist(env.transfer_folder, false)) {
    preview.refusal = "Soubory pro import dat nejsou k dispozici.";
    return preview;
  }
  const std::string& batch = env.transfer_folder;
  for (const Agenda& agenda : Agendas()) {
    const AgendaInput* input = Ticked(page.agendas, agenda.code);
    if (!input) continue;
    AgendaCounts& counts = preview.counts[std::string(agenda.code)];
    if (agenda.code == "Cenik") {
      PreviewLine line = PreviewPrices(
          KeySet(TableKeys(ResolvePathIgnoringCase(PathFromUtf8(env.company_data_folder), "SDATA\\S\\SCenik.DB"),
                           {"Sklad", "PolozkaSkladu"})),
          TableKeys(ResolvePathIgnoringCase(PathFromUtf8(batch), "SCenik.DB"), {"Sklad", "PolozkaSkladu"}),
          PriceOptions(page.agendas, page.price_list_all, page.overwrite),
          [&](const std::string& table) {
            return TableKeys(ResolvePathIgnoringCase(PathFromUtf8(batch), table), {"Sklad", "PolozkaSkladu"});
          });
      counts.documents = line.added;
      preview.lines.push_back(std::move(line));
      continue;
    }
    const std::string company = CompanyFolder(env, agenda);
    const TransferFilter filter = Filter(agenda, *input, env);
    const TableStep header = HeaderStep(agenda);
    const StepPreview h = PreviewStep(catalog, batch, company, header, filter, page.overwrite, false);
    preview.lines.push_back(LineOf(agenda, "doklady", h, page.overwrite));
    counts.documents += h.inserted;
    counts.replaced += h.deleted;
    if (!agenda.item_table.empty()) {
      const StepPreview i =
          PreviewStep(catalog, batch, company, ItemStep(agenda), filter, page.overwrite, false);
      preview.lines.push_back(LineOf(agenda, "položky", i, page.overwrite));
      counts.items += i.inserted;
    }
    if (HasMemos(agenda.code)) {
      PreviewLine line{std::string(agenda.code), std::string(agenda.caption), "texty"};
      line.added = PreviewTexts(catalog, batch, company, header, filter, h.guard,
                                ResolvePathIgnoringCase(PathFromUtf8(batch), "LMemo.DB"));
      preview.lines.push_back(line);
    }
  }
  return preview;
}

std::string PreviewText(const RunPreview& preview) {
  // Columns padded by characters, not bytes: the captions are UTF-8.
  const auto width = [](const std::string& text) {
    size_t n = 0;
    for (const unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
  };
  const auto pad = [&](const std::string& text, size_t to, bool right) {
    const std::string fill(to > width(text) ? to - width(text) : 0, ' ');
    return right ? fill + text : text + fill;
  };
  const std::vector<std::string> heads = {"Agenda", "Záznamy", "Přidá", "Nahradí", "Ponechá"};
  std::vector<std::vector<std::string>> rows = {heads};
  for (const PreviewLine& line : preview.lines)
    rows.push_back({line.caption, line.rows, std::to_string(line.added),
                    std::to_string(line.replaced), std::to_string(line.kept)});
  std::vector<size_t> widths(heads.size(), 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  std::string text;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) text += "  ";
      text += pad(row[i], widths[i], i >= 2);
    }
    text += '\n';
  }
  return text;
}

}  // namespace dalimor
