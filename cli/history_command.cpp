// history: the run log of this user, one line per send or receive, as the
// file holds it (CSV with ";", see transfer/run_log.h).
//
//   dalimor-cli history [--company NAME] [--year YYYY]
//
// Without --year the current year's file; with --company only the runs of
// the company of that designation.

#include <ostream>

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "platform/file_system.h"
#include "transfer/run_log.h"
#include "util/clock.h"

namespace dalimor {

int HistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CliOptions options(args);
  const std::string company = options.Optional("--company");
  const std::string year_text = options.Optional("--year");
  options.Finish();
  int year = SystemClock().Now().year;
  if (!year_text.empty()) {
    if (year_text.size() != 4 || year_text.find_first_not_of("0123456789") != std::string::npos)
      throw UsageError{"--year potřebuje rok, například 2026"};
    year = std::stoi(year_text);
  }
  const std::vector<std::vector<std::string>> lines = ReadRunLog(UserDataFolder(), year);
  size_t shown = 0;
  for (const std::vector<std::string>& fields : lines) {
    if (!company.empty() && fields[kRunLogCompanyColumn] != company) continue;
    if (shown++ == 0)
      out << FormatRunLogLine({std::begin(kRunLogColumns), std::end(kRunLogColumns)}) << '\n';
    out << FormatRunLogLine(fields) << '\n';
  }
  if (shown == 0) {
    err << "V historii přenosů za rok " << year << " není žádný záznam"
        << (company.empty() ? std::string() : " firmy " + company) << ".\n";
  }
  return kExitOk;
}

}  // namespace dalimor
