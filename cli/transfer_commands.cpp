// send and receive: the runs of the desktop program's send and receive
// pages, driven from the command line.
//
//   dalimor-cli send    --installation DIR --company NAME --folder DIR
//                       (--all | --agenda CODE ...) [--from D] [--to D] [--series S]
//                       [--overwrite] [--empty] [--archive] [--message TEXT]
//                       [--price-all] [--yes]
//   dalimor-cli receive --installation DIR --company NAME (--folder DIR | --archive FILE.zip)
//                       (--all | --agenda CODE ...) [--from D] [--to D] [--series S]
//                       [--overwrite] [--price-all] [--yes]
//
// Every run that starts leaves a line in the run log (see transfer/run_log.h);
// a log that cannot be written is reported on standard error and does not
// change the exit code.
//
// --from, --to and --series before the first --agenda (or with --all) apply
// to every agenda; after an --agenda they apply to that agenda only.  Dates
// take the forms the date boxes take ("5.3", "+2", "010111", "*") and are
// completed as the boxes complete them; an invalid one is a usage error.

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>

#include "accounting/company_register.h"
#include "batch/catalogue.h"
#include "batch/series_lists.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/terminal_ui.h"
#include "engine/engine_config.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "platform/regional.h"
#include "transfer/run_log.h"
#include "transfer/runs.h"
#include "util/clock.h"
#include "util/date_entry.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

struct TransferArgs {
  std::string installation, company, folder, message;
  std::string archive_file;  // receive --archive
  bool all = false, overwrite = false, empty = false, archive = false, price_all = false,
       yes = false, dry_run = false;
  std::map<std::string, AgendaInput> agendas;
};

// A --from or --to value completed as a date box completes it when it is
// left ("5.3" -> "05.03.<this year>"); the run gets the completed text.  An
// empty value stays empty: no bound.  Throws UsageError naming the value as
// typed when the date box would reject it.
std::string CompletedDate(const std::string& typed, const Clock& clock) {
  std::string text = typed;
  bool accepted = false;
  try {
    accepted = CompleteDateText(text, clock, CzechRegionalSettings().decimal_separator);
  } catch (const std::exception&) {
    accepted = false;
  }
  if (!accepted) throw UsageError{"Neplatné datum.: " + typed};
  return text;
}

TransferArgs ParseTransferArgs(const std::vector<std::string>& args, bool send) {
  // The command reads the system clock; "today" of the short forms is its.
  SystemClock clock;
  TransferArgs parsed;
  AgendaInput common;
  std::vector<std::string> order;
  AgendaInput* current = &common;
  auto value = [&](size_t& i) -> std::string {
    if (i + 1 >= args.size()) throw UsageError{args[i] + " potřebuje hodnotu"};
    return args[++i];
  };
  std::map<std::string, AgendaInput> own;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--installation") parsed.installation = value(i);
    else if (a == "--company") parsed.company = value(i);
    else if (a == "--folder") parsed.folder = value(i);
    else if (a == "--all") parsed.all = true;
    else if (a == "--overwrite") parsed.overwrite = true;
    else if (a == "--price-all") parsed.price_all = true;
    else if (a == "--yes") parsed.yes = true;
    else if (a == "--dry-run") parsed.dry_run = true;
    else if (send && a == "--empty") parsed.empty = true;
    else if (send && a == "--archive") parsed.archive = true;
    else if (!send && a == "--archive") parsed.archive_file = value(i);
    else if (send && a == "--message") parsed.message = value(i);
    else if (a == "--from") current->date_from = CompletedDate(value(i), clock);
    else if (a == "--to") current->date_to = CompletedDate(value(i), clock);
    else if (a == "--series") current->series = value(i);
    else if (a == "--agenda") {
      const std::string code = value(i);
      if (!FindAgenda(code)) throw UsageError{"neznámá agenda " + code};
      order.push_back(code);
      current = &own[code];
      current->ticked = true;
    } else {
      throw UsageError{"neznámý argument: " + a};
    }
  }
  if (!parsed.archive_file.empty()) {
    if (!parsed.folder.empty()) throw UsageError{"zadejte buď --folder, nebo --archive, ne obojí"};
    if (parsed.installation.empty() || parsed.company.empty())
      throw UsageError{"zadejte --installation a --company"};
  } else if (parsed.installation.empty() || parsed.company.empty() || parsed.folder.empty()) {
    throw UsageError{send ? "zadejte --installation, --company a --folder"
                          : "zadejte --installation, --company a --folder nebo --archive"};
  }
  for (const Agenda& agenda : Agendas()) {
    const std::string code(agenda.code);
    AgendaInput input = common;
    input.ticked = parsed.all;
    if (const auto it = own.find(code); it != own.end()) {
      input.ticked = true;
      if (!it->second.date_from.empty()) input.date_from = it->second.date_from;
      if (!it->second.date_to.empty()) input.date_to = it->second.date_to;
      if (!it->second.series.empty()) input.series = it->second.series;
    }
    parsed.agendas[code] = input;
  }
  return parsed;
}

int ExitCode(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kDone: return kExitOk;
    case RunOutcome::kFailed: return kExitFailed;
    case RunOutcome::kArchiveFailed: return kExitArchiveFailed;
    default: return kExitRefused;
  }
}

int RunTransfer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in, bool send) {
  const TransferArgs parsed = ParseTransferArgs(args, send);
  CompanyRegister companies(CommandFolder(parsed.installation));
  OpenCompany(companies, parsed.company);
  if (!companies.CompanyDataAvailable())
    throw CommandError{"Data programu Kalmeo nejsou k dispozici.", kExitRefused};
  // A receive from an archive reads no transfer folder.
  const std::string folder = parsed.folder.empty() ? std::string() : CommandFolder(parsed.folder);
  if (parsed.archive_file.empty() && !DirectoryExists(PathFromUtf8(folder)))
    throw CommandError{"Zadaná složka pro přenos souborů neexistuje.", kExitRefused};
  std::error_code ec;
  const std::string archive =
      parsed.archive_file.empty()
          ? std::string()
          : Utf8FromPath(fs::absolute(PathFromUtf8(parsed.archive_file), ec).lexically_normal());

  TerminalUi ui(out, err, in, parsed.yes ? TerminalUi::Answers::kYes : TerminalUi::Answers::kAsk);
  EngineConfig config;
  SystemClock clock;
  const RegionalSettings settings = CzechRegionalSettings();
  RunEnvironment env{ui,
                     config,
                     clock,
                     settings,
                     companies.CompanyDataFolder(),
                     folder,
                     companies.ActiveDesignation(),
                     nullptr,
                     companies.LiveFolders()};
  if (parsed.dry_run) {
    // What the run would do, counted on the live tables; nothing is written
    // and nothing is recorded in the history.
    RunPreview preview;
    if (send) {
      SendPage page;
      page.agendas = parsed.agendas;
      page.overwrite = parsed.overwrite;
      page.empty_first = parsed.empty;
      page.price_list_all = parsed.price_all;
      preview = PreviewSend(env, page);
    } else {
      ReceivePage page;
      page.agendas = parsed.agendas;
      page.overwrite = parsed.overwrite;
      page.price_list_all = parsed.price_all;
      page.archive = archive;
      preview = PreviewReceive(env, page);
    }
    if (!preview.refusal.empty()) throw CommandError{preview.refusal, kExitRefused};
    out << PreviewText(preview);
    return kExitOk;
  }
  RunReport report;
  env.report = &report;
  RunLogContext log{CurrentUserName(), companies.InstallationFolder(),
                    companies.ActiveDesignation(), archive.empty() ? folder : archive};
  const auto warn_unlogged = [&err](const std::string& warning) {
    if (!warning.empty()) err << "dalimor-cli: " << warning << '\n';
  };
  if (send) {
    SendPage page;
    page.agendas = parsed.agendas;
    page.overwrite = parsed.overwrite;
    page.empty_first = parsed.empty;
    page.archive = parsed.archive;
    page.price_list_all = parsed.price_all;
    page.message = parsed.message;
    const RunOutcome outcome = SendBatch(env, page);
    warn_unlogged(RecordSend(UserDataFolder(), log, page, report));
    return ExitCode(outcome);
  }
  ReceivePage page;
  page.agendas = parsed.agendas;
  page.overwrite = parsed.overwrite;
  page.price_list_all = parsed.price_all;
  page.archive = archive;
  const RunOutcome outcome = ReceiveBatch(env, page);
  warn_unlogged(RecordReceive(UserDataFolder(), log, page, report));
  return ExitCode(outcome);
}

}  // namespace

int SendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in) {
  return RunTransfer(args, out, err, in, true);
}

int ReceiveCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   std::istream& in) {
  return RunTransfer(args, out, err, in, false);
}

}  // namespace dalimor
