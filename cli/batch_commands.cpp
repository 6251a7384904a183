// companies, init and info: the accounting installation and the batch
// folder seen from the command line.

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "accounting/company_register.h"
#include "batch/batch_info.h"
#include "batch/initialisation.h"
#include "batch/run_folders.h"
#include "cli/cli.h"
#include "cli/cli_options.h"
#include "cli/terminal_ui.h"
#include "engine/engine_config.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {

void OpenCompany(CompanyRegister& companies, const std::string& name) {
  companies.Open();
  const std::vector<std::string> list = companies.FillCompanyList(name, nullptr);
  if (std::find(list.begin(), list.end(), name) == list.end())
    throw CommandError{"Firma \"" + name + "\" není pro tuto stanici k dispozici.", kExitFailed};
  std::string folders;
  int count = 0;
  for (const RegisteredCompany& company : companies.AllCompanies()) {
    if (company.designation != name) continue;
    folders += (count++ ? ", " : "") + company.data_folder;
  }
  if (count > 1)
    throw CommandError{"Označení \"" + name + "\" nese více firem (" + folders +
                           "). Firmu nelze jednoznačně určit.",
                       kExitRefused};
  companies.SelectCompany(name);
}

std::string CommandFolder(const std::string& text) {
  if (text.empty()) return "";
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(text), ec);
  return TransferFolderPath(ec ? text : Utf8FromPath(absolute.lexically_normal()));
}


int CompaniesCommand(const std::vector<std::string>& args, std::ostream& out) {
  CliOptions options(args);
  const std::string installation = options.Required("--installation");
  options.Finish();
  CompanyRegister companies(CommandFolder(installation));
  companies.Open();
  for (const std::string& name : companies.FillCompanyList("", nullptr)) out << name << '\n';
  return kExitOk;
}

int InitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in) {
  CliOptions options(args);
  const std::string installation = options.Required("--installation");
  const std::string company = options.Required("--company");
  const std::string folder = options.Required("--folder");
  const bool yes = options.Flag("--yes");
  options.Finish();

  CompanyRegister companies(CommandFolder(installation));
  OpenCompany(companies, company);
  TerminalUi ui(out, err, in, yes ? TerminalUi::Answers::kYes : TerminalUi::Answers::kAsk);
  EngineConfig config;
  InitializationContext context;
  context.company_data_available = companies.CompanyDataAvailable();
  context.company_data_folder = companies.CompanyDataFolder();
  context.accounting_folders = companies.LiveFolders();
  context.transfer_folder = CommandFolder(folder);
  return InitializeBatch(ui, config, context) == InitializationResult::kDone ? kExitOk
                                                                             : kExitRefused;
}

int InfoCommand(const std::vector<std::string>& args, std::ostream& out) {
  CliOptions options(args);
  const std::string folder = options.Required("--folder");
  options.Finish();
  const std::string path = CommandFolder(folder);
  // A send at work or cut short leaves nothing to describe yet.
  if (DirectoryExists(PathFromUtf8(path))) {
    const RunFolders locked = PrepareRunFolders("", path, "čtení informací o dávce");
    if (locked.state != FoldersState::kReady) throw CommandError{locked.message, kExitRefused};
  }
  const BatchInfo info = ReadBatchInfo(path);
  out << "DateTime=" << info.date_time << '\n' << "CompanyName=" << info.company_name << '\n';
  for (size_t i = 0; i < kCountKeys.size(); ++i)
    out << kCountKeys[i].key << '=' << info.counts[i] << '\n';
  out << '\n' << info.message;
  if (!info.message.empty()) out << '\n';
  return kExitOk;
}

}  // namespace dalimor
