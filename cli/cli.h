#pragma once
// The commands of dalimor-cli, callable from tests.

#include <iosfwd>
#include <string>
#include <vector>

namespace dalimor {

class CompanyRegister;

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // an engine or data error; the run failed
inline constexpr int kExitUsage = 2;     // the command line is wrong
inline constexpr int kExitRefused = 3;   // refused, or a question answered No
inline constexpr int kExitArchiveFailed = 4;  // send: the batch was sent, its archive failed

// A wrong command line; the message says what is wrong.
struct UsageError {
  std::string message;
};

// Runs one command line (args without the program name).  Results go to
// `out`, diagnostics to `err`, answers to questions come from `in`.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in);

// The table commands: dump, schema, create, import, sql.
int DumpCommand(const std::vector<std::string>& args, std::ostream& out);
int SchemaCommand(const std::vector<std::string>& args, std::ostream& out);
int CreateCommand(const std::vector<std::string>& args, std::ostream& out);
int ImportCommand(const std::vector<std::string>& args, std::ostream& out);
int SqlCommand(const std::vector<std::string>& args, std::ostream& out);
int DemoCommand(const std::vector<std::string>& args, std::ostream& out);

// The installation and batch commands: companies, init, info.
int CompaniesCommand(const std::vector<std::string>& args, std::ostream& out);
int InitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in);
int InfoCommand(const std::vector<std::string>& args, std::ostream& out);
// The user's decision on the journal of a run cut short: recover.
int RecoverCommand(const std::vector<std::string>& args, std::ostream& out);

// Opens the installation and stands on the named company.  Throws
// CommandError for a company this workstation may not use, and for a
// designation that more than one company of the register carries (naming
// their data folders), since the name could not tell which one is meant.
void OpenCompany(CompanyRegister& companies, const std::string& name);

// A folder given on the command line (the installation, the transfer
// folder) as its full path with a trailing separator (relative to the
// working folder); empty for an empty text.
std::string CommandFolder(const std::string& text);

// The run log: history.
int HistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The runs: send and receive.
int SendCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in);
int ReceiveCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   std::istream& in);

}  // namespace dalimor
