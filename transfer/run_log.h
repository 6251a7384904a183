#pragma once
// The record of every send and receive: one line per run, appended once the
// run's outcome is final, to "historie-<year>.csv" in the user's data folder
// (UserDataFolder).  The file is CSV in UTF-8 with a byte order mark and
// ";" between fields (what a spreadsheet set to Czech opens as columns),
// fields quoted where they hold ";", quotes or line breaks, and a header
// line.  A line is written with one write() on a file opened for appending
// and flushed to disk, so that a crash loses at most the line being written
// and never an earlier one.

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "transfer/runs.h"

namespace dalimor {

// The columns of a line, in order (the header line holds these names).
inline constexpr const char* kRunLogColumns[] = {
    "Začátek", "Konec", "Uživatel", "Instalace", "Firma", "Složka",
    "Směr",    "Volby", "Počty",    "Výsledek",  "Chyba"};
inline constexpr size_t kRunLogColumnCount = std::size(kRunLogColumns);
// Indexes of the columns the front ends filter and sort by.
inline constexpr size_t kRunLogStartColumn = 0;
inline constexpr size_t kRunLogCompanyColumn = 4;

// What the front end knows of a run besides its page and its report.
struct RunLogContext {
  std::string user;          // CurrentUserName()
  std::string installation;  // the Kalmeo installation folder
  std::string company;       // the active company's designation
  std::string folder;        // the transfer folder (or the archive received from)
};

// The name of the logged-in user; "?" when the system does not say.
std::string CurrentUserName();

// "historie-2026.csv".
std::string RunLogFileName(int year);

// The fields of a run's line.
std::vector<std::string> SendLogFields(const RunLogContext& context, const SendPage& page,
                                       const RunReport& report);
std::vector<std::string> ReceiveLogFields(const RunLogContext& context, const ReceivePage& page,
                                          const RunReport& report);

// One line of the file (without the line break): the fields quoted where
// needed and joined by ";".
std::string FormatRunLogLine(const std::vector<std::string>& fields);

// Appends the line to the file of `year` in `folder`, creating the folder
// (mode 0700) and the file (mode 0600, with the byte order mark and the
// header line) when they are missing.  Returns an empty text when the line
// is on disk, else the Czech text of what went wrong.  Never throws.
std::string AppendRunLog(const std::filesystem::path& folder, int year,
                         const std::vector<std::string>& fields);

// Appends the line of a finished send or receive to the file of the year
// the run started in, as AppendRunLog.  A run that did not start because
// its first question was answered No (kCancelled) leaves no line.  Returns
// an empty text, or the warning for the user when the line could not be
// written (the run's own outcome stands).
std::string RecordSend(const std::filesystem::path& folder, const RunLogContext& context,
                       const SendPage& page, const RunReport& report);
std::string RecordReceive(const std::filesystem::path& folder, const RunLogContext& context,
                          const ReceivePage& page, const RunReport& report);

// The years with a file in `folder`, in ascending order.
std::vector<int> RunLogYears(const std::filesystem::path& folder);

// The lines of the year's file, header lines left out, each cut or padded
// to kRunLogColumnCount fields; empty when the file is missing.  A line cut
// short by a crash reads as the fields it has.  Throws std::runtime_error
// (Czech text) when the file exists but cannot be read.
std::vector<std::vector<std::string>> ReadRunLog(const std::filesystem::path& folder, int year);

}  // namespace dalimor
