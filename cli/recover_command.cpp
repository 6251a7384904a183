// recover: what to do with the journal of a run that was cut short when a
// table changed since — put the tables back as they were before that run
// (--restore) or keep them as they are and drop the copies (--discard).
// Without either it puts back what can be put back safely and reports the
// rest.
//
//   dalimor-cli recover --installation DIR --company NAME [--folder DIR]
//                       [--restore | --discard]

#include <optional>
#include <ostream>

#include "accounting/company_register.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "engine/folder_lock.h"
#include "engine/run_journal.h"
#include "batch/run_folders.h"
#include "platform/native_io.h"

namespace dalimor {

int RecoverCommand(const std::vector<std::string>& args, std::ostream& out) {
  CliOptions options(args);
  const std::string installation = options.Required("--installation");
  const std::string company = options.Required("--company");
  const std::string folder = CommandFolder(options.Optional("--folder"));
  const bool restore = options.Flag("--restore");
  const bool discard = options.Flag("--discard");
  options.Finish();
  if (restore && discard) throw UsageError{"zadejte jen jedno z --restore a --discard"};

  CompanyRegister companies(CommandFolder(installation));
  OpenCompany(companies, company);
  std::vector<std::string> folders = {companies.CompanyDataFolder()};
  if (!folder.empty()) folders.push_back(folder);

  int code = kExitOk;
  for (const std::string& home : folders) {
    std::string holder;
    const std::optional<FolderLock> lock =
        FolderLock::TryAcquire(home, "obnova po přerušeném běhu", &holder);
    if (!lock) {
      out << "Se složkou \"" << home << "\" právě pracuje jiný běh programu Dalimor"
          << (holder.empty() ? "" : " (" + holder + ")") << ".\n";
      code = kExitRefused;
      continue;
    }
    const JournalReport report = InspectJournal(PathFromUtf8(home));
    if (!report.pending) {
      RecoverJournal(PathFromUtf8(home));  // a journal without a manifest is only garbage
      out << home << ": žádný přerušený běh.\n";
    } else if (report.changed.empty()) {
      RecoverJournal(PathFromUtf8(home));
      out << home << ": tabulky přerušeného běhu obnoveny (" << report.tables.size() << ").\n";
    } else if (restore) {
      ResolveJournal(PathFromUtf8(home), JournalDecision::kRestore);
      out << home << ": tabulky obnoveny do stavu před přerušeným během (" << report.tables.size()
          << ").\n";
    } else if (discard) {
      ResolveJournal(PathFromUtf8(home), JournalDecision::kDiscard);
      out << home << ": tabulky ponechány v současném stavu, kopie smazány.\n";
    } else {
      out << PendingJournalText(home, report)
          << "\nZvolte --restore (obnovit tabulky do stavu před přerušeným během) nebo --discard "
             "(ponechat je v současném stavu).\n";
      code = kExitRefused;
    }
  }
  return code;
}

}  // namespace dalimor
