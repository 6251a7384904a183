#include "transfer/run_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "batch/catalogue.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kSeparator = ';';

std::string Moment(const LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

// Line breaks become blanks: one run, one line of the file.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') line.push_back(' ');
    } else {
      line.push_back(c);
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void Join(std::string& text, const std::string& part, const char* separator = ", ") {
  if (part.empty()) return;
  if (!text.empty()) text += separator;
  text += part;
}

// "Přijaté faktury" from "Přijaté faktury...", "Ceník" for the price list.
std::string AgendaName(const Agenda& agenda) {
  std::string name(agenda.progress_name.empty() ? agenda.caption : agenda.progress_name);
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// The date range and series of each ticked agenda that has any.
std::string Filters(const std::map<std::string, AgendaInput>& agendas) {
  std::string text;
  for (const Agenda& agenda : Agendas()) {
    const auto it = agendas.find(std::string(agenda.code));
    if (it == agendas.end() || !it->second.ticked) continue;
    const AgendaInput& input = it->second;
    std::string part;
    if (!input.date_from.empty()) Join(part, "od " + input.date_from, " ");
    if (!input.date_to.empty()) Join(part, "do " + input.date_to, " ");
    if (!input.series.empty()) Join(part, "řada " + input.series);
    if (!part.empty()) Join(text, std::string(agenda.code) + " " + part, "; ");
  }
  return text;
}

std::string Ticked(const std::map<std::string, AgendaInput>& agendas) {
  std::string text;
  for (const Agenda& agenda : Agendas()) {
    const auto it = agendas.find(std::string(agenda.code));
    if (it != agendas.end() && it->second.ticked) Join(text, std::string(agenda.code), " ");
  }
  return "agendy " + text;
}

std::string Counts(const RunReport& report) {
  std::string text;
  for (const Agenda& agenda : Agendas()) {
    const auto it = report.counts.find(std::string(agenda.code));
    if (it == report.counts.end()) continue;
    const AgendaCounts& counts = it->second;
    std::string part = AgendaName(agenda) + ": ";
    if (agenda.code == "Cenik") {
      part += std::to_string(counts.documents) + " pol.";
    } else {
      part += std::to_string(counts.documents) + " dokl.";
      if (!agenda.item_table.empty()) part += ", " + std::to_string(counts.items) + " pol.";
      if (counts.replaced > 0) part += ", přepsáno " + std::to_string(counts.replaced);
    }
    Join(text, part, "; ");
  }
  return text;
}

std::string Result(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kDone: return "dokončeno";
    case RunOutcome::kArchiveFailed: return "odesláno, archiv zip se nepodařilo vytvořit";
    case RunOutcome::kFailed: return "chyba, data beze změny";
    case RunOutcome::kStopped: return "zastaveno, data beze změny";
    case RunOutcome::kNoAgenda: return "nebyla vybrána žádná agenda";
    case RunOutcome::kBatchIncomplete: return "neúplná dávka";
    case RunOutcome::kCompanyDeclined: return "nepřijato: dávka jiné firmy";
    case RunOutcome::kFolderBusy: return "odmítnuto: složka se právě používá";
    case RunOutcome::kDecisionPending: return "odmítnuto: čeká se na rozhodnutí o přerušeném běhu";
    case RunOutcome::kFolderRefused: return "odmítnuto: nevhodná přenosná složka";
    case RunOutcome::kArchiveRefused: return "odmítnuto: archiv zip neprošel kontrolou";
    case RunOutcome::kCancelled: return "zrušeno";
  }
  return "?";
}

std::vector<std::string> Fields(const RunLogContext& context, const char* direction,
                                const std::string& options, const RunReport& report) {
  return {Moment(report.start), Moment(report.end), context.user, context.installation,
          context.company,      context.folder,     direction,    options,
          Counts(report),       Result(report.outcome), OneLine(report.error)};
}

bool NeedsQuotes(const std::string& field) {
  return field.find_first_of(";\"\r\n") != std::string::npos ||
         (!field.empty() && (field.front() == ' ' || field.back() == ' '));
}

// Writes all of `text` with one write() where the system allows.
bool WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const int64_t written = WriteNative(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

std::string Failure(const fs::path& file, int error) {
  return "Záznam o přenosu se nepodařilo zapsat do historie přenosů \"" + Utf8FromPath(file) +
         "\" (" + std::strerror(error) + ").";
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field.push_back(c);
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == kSeparator) {
      fields.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (any || !field.empty()) {
        fields.push_back(std::move(field));
        lines.push_back(std::move(fields));
      }
      fields.clear();
      field.clear();
      any = false;
    } else {
      field.push_back(c);
      any = true;
    }
  }
  if (any || !field.empty()) {
    fields.push_back(std::move(field));
    lines.push_back(std::move(fields));
  }
  return lines;
}

}  // namespace

std::string CurrentUserName() {
  if (std::string name = CurrentLoginName(); !name.empty()) return name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return "?";
}

std::string RunLogFileName(int year) { return "historie-" + std::to_string(year) + ".csv"; }

std::vector<std::string> SendLogFields(const RunLogContext& context, const SendPage& page,
                                       const RunReport& report) {
  std::string options = Ticked(page.agendas);
  if (page.overwrite) Join(options, "přepsat existující", "; ");
  if (page.empty_first) Join(options, "smazat obsah dávky", "; ");
  if (page.price_list_all) Join(options, "celý ceník", "; ");
  if (page.archive) Join(options, "archiv zip", "; ");
  Join(options, Filters(page.agendas), "; ");
  return Fields(context, "odeslání", options, report);
}

std::vector<std::string> ReceiveLogFields(const RunLogContext& context, const ReceivePage& page,
                                          const RunReport& report) {
  std::string options = Ticked(page.agendas);
  if (!page.archive.empty()) Join(options, "ze zipu", "; ");
  if (page.overwrite) Join(options, "přepsat existující", "; ");
  if (page.price_list_all) Join(options, "celý ceník", "; ");
  Join(options, Filters(page.agendas), "; ");
  return Fields(context, "příjem", options, report);
}

std::string FormatRunLogLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back(kSeparator);
    if (!NeedsQuotes(fields[i])) {
      line += fields[i];
      continue;
    }
    line.push_back('"');
    for (const char c : fields[i]) {
      if (c == '"') line.push_back('"');
      line.push_back(c);
    }
    line.push_back('"');
  }
  return line;
}

std::string AppendRunLog(const fs::path& folder, int year, const std::vector<std::string>& fields) {
  const fs::path file = folder / RunLogFileName(year);
  try {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      fs::create_directories(folder, ec);
      if (ec) return Failure(file, ec.value());
      fs::permissions(folder, fs::perms::owner_all, ec);
    }
    // The first writer of a year's file gives it its header; the file is
    // never rewritten afterwards, only appended to.
    int fd = OpenNative(file, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | kOpenNoFollow, 0600);
    std::string text;
    if (fd >= 0) {
      std::vector<std::string> header(std::begin(kRunLogColumns), std::end(kRunLogColumns));
      text = std::string(kByteOrderMark) + FormatRunLogLine(header) + "\r\n";
    } else if (errno == EEXIST) {
      fd = OpenNative(file, O_WRONLY | O_APPEND | kOpenNoFollow);
    }
    if (fd < 0) return Failure(file, errno);
    text += FormatRunLogLine(fields) + "\r\n";
    bool ok = WriteAll(fd, text);
    int error = ok ? 0 : (errno ? errno : ENOSPC);
    if (ok && !SyncNative(fd) && errno != EINVAL) {
      ok = false;
      error = errno;
    }
    if (!CloseNative(fd) && ok && errno != EINTR) {
      ok = false;
      error = errno;
    }
    return ok ? std::string() : Failure(file, error);
  } catch (const std::exception& e) {
    return "Záznam o přenosu se nepodařilo zapsat do historie přenosů \"" + Utf8FromPath(file) +
           "\" (" + e.what() + ").";
  }
}

std::string RecordSend(const fs::path& folder, const RunLogContext& context, const SendPage& page,
                       const RunReport& report) {
  if (report.outcome == RunOutcome::kCancelled) return {};
  return AppendRunLog(folder, report.start.year, SendLogFields(context, page, report));
}

std::string RecordReceive(const fs::path& folder, const RunLogContext& context,
                          const ReceivePage& page, const RunReport& report) {
  if (report.outcome == RunOutcome::kCancelled) return {};
  return AppendRunLog(folder, report.start.year, ReceiveLogFields(context, page, report));
}

std::vector<int> RunLogYears(const fs::path& folder) {
  std::vector<int> years;
  for (const FolderEntry& entry : ListFolder(folder, "historie-*.csv")) {
    if (entry.is_folder || entry.name.size() != std::string_view("historie-2026.csv").size())
      continue;
    const std::string digits = entry.name.substr(9, 4);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    years.push_back(std::stoi(digits));
  }
  std::sort(years.begin(), years.end());
  years.erase(std::unique(years.begin(), years.end()), years.end());
  return years;
}

std::vector<std::vector<std::string>> ReadRunLog(const fs::path& folder, int year) {
  const fs::path file = folder / RunLogFileName(year);
  std::error_code ec;
  if (!fs::exists(file, ec)) return {};
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  if (!in || !(content << in.rdbuf()))
    throw std::runtime_error("Historii přenosů \"" + Utf8FromPath(file) + "\" nelze přečíst.");
  std::string text = content.str();
  if (text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
    text.erase(0, kByteOrderMark.size());
  std::vector<std::vector<std::string>> lines;
  for (std::vector<std::string>& fields : ParseCsv(text)) {
    if (!fields.empty() && fields[0] == kRunLogColumns[0]) continue;  // a header line
    fields.resize(kRunLogColumnCount);
    lines.push_back(std::move(fields));
  }
  return lines;
}

}  // namespace dalimor
