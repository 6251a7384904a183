#include "cli/cli.h"

#include <exception>
#include <ostream>

#include "cli/cli_options.h"
#include "engine/engine_error.h"

namespace dalimor {
namespace {

void PrintUsage(std::ostream& out) {
  out << "Dalimor " << DALIMOR_VERSION
      << " - přenos účetních dokladů mezi instalacemi Kalmea\n"
         "\n"
         "Použití:\n"
         "  dalimor-cli --version\n"
         "  dalimor-cli dump TABLE              řádky tabulky jako CSV\n"
         "  dalimor-cli schema TABLE            pole a klíč tabulky\n"
         "  dalimor-cli create TABLE --fields \"Name:Type[:Size],...\" [--key \"F1,F2\"]\n"
         "        [--index \"Field\"] [--index \"Name:F1,F2[:ci][:unique]\"]...\n"
         "  dalimor-cli import TABLE FILE.csv   vloží řádky CSV (vše, nebo nic)\n"
         "  dalimor-cli sql \"STATEMENT\"         provede příkaz local SQL\n"
         "  dalimor-cli demo DIR [--scale N] [--seed S]  vytvoří demo instalaci Kalmea\n"
         "  dalimor-cli companies --installation DIR\n"
         "  dalimor-cli init --installation DIR --company NAME --folder DIR [--yes]\n"
         "  dalimor-cli info --folder DIR\n"
         "  dalimor-cli recover --installation DIR --company NAME [--folder DIR]\n"
         "              [--restore | --discard]   přerušený běh: obnovit, nebo ponechat\n"
         "  dalimor-cli send --installation DIR --company NAME --folder DIR (--all | --agenda CODE ...)\n"
         "              [--from D] [--to D] [--series S] [--overwrite] [--empty] [--archive]\n"
         "              [--message TEXT] [--price-all] [--yes] [--dry-run]\n"
         "  dalimor-cli receive --installation DIR --company NAME (--folder DIR | --archive FILE.zip)\n"
         "              (--all | --agenda CODE ...) [--from D] [--to D] [--series S]\n"
         "              [--overwrite] [--price-all] [--yes] [--dry-run]\n"
         "  dalimor-cli history [--company NAME] [--year YYYY]   historie přenosů\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    PrintUsage(out);
    return args.empty() ? kExitUsage : kExitOk;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    if (command == "--version") {
      out << DALIMOR_VERSION << '\n';
      return kExitOk;
    }
    if (command == "dump") return DumpCommand(rest, out);
    if (command == "schema") return SchemaCommand(rest, out);
    if (command == "create") return CreateCommand(rest, out);
    if (command == "import") return ImportCommand(rest, out);
    if (command == "sql") return SqlCommand(rest, out);
    if (command == "demo") return DemoCommand(rest, out);
    if (command == "companies") return CompaniesCommand(rest, out);
    if (command == "init") return InitCommand(rest, out, err, in);
    if (command == "info") return InfoCommand(rest, out);
    if (command == "recover") return RecoverCommand(rest, out);
    if (command == "send") return SendCommand(rest, out, err, in);
    if (command == "receive") return ReceiveCommand(rest, out, err, in);
    if (command == "history") return HistoryCommand(rest, out, err);
    err << "dalimor-cli: neznámý příkaz '" << command << "' (viz dalimor-cli --help)\n";
    return kExitUsage;
  } catch (const CommandError& e) {
    err << e.message << '\n';
    return e.exit_code;
  } catch (const UsageError& e) {
    err << e.message << '\n';
    return kExitUsage;
  } catch (const std::exception& e) {
    // One clear line: the engine's multi-line messages are joined.
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n' || c == '\r') c = ' ';
    err << "dalimor-cli: " << message << '\n';
    return kExitFailed;
  }
}

}  // namespace dalimor
