#include "engine/run_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <system_error>

#include "engine/engine_error.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestName = "manifest.txt";
// Marks a table that had no files before the run.
constexpr const char* kAbsentMarker = ".absent";

// The base name of a file name: up to its last ".".
std::string BaseName(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? file_name : file_name.substr(0, dot);
}

// The files of a table in `folder`: regular files whose base name equals
// `base` without regard to case.
std::vector<fs::path> TableFiles(const fs::path& folder, const std::string& base) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (AsciiLower(BaseName(name)) == base && it->is_regular_file(ec)) files.push_back(it->path());
  }
  return files;
}

void SyncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

[[noreturn]] void Fail(const std::string& what, const fs::path& path) {
  throw EngineError(EngineErrorKind::kIo, what + " " + path.string());
}

std::vector<std::string> ReadManifest(const fs::path& journal) {
  std::vector<std::string> bases;
  std::ifstream in(journal / kManifestName);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) bases.push_back(line);
  return bases;
}

// Puts the saved files of one table back: the table's current files go,
// the saved ones return (through a temporary name and a rename each).
void RestoreTable(const fs::path& folder, const fs::path& journal, const std::string& base) {
  const fs::path saved = journal / base;
  std::error_code ec;
  for (const fs::path& current : TableFiles(folder, base)) {
    fs::remove(current, ec);
    if (ec) Fail("Cannot restore table file", current);
  }
  for (fs::directory_iterator it(saved, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == kAbsentMarker) continue;
    const fs::path target = folder / name;
    const fs::path temp = folder / (name + ".dalimor-restore");
    std::error_code copy_ec;
    fs::copy_file(it->path(), temp, fs::copy_options::overwrite_existing, copy_ec);
    if (!copy_ec) fs::rename(temp, target, copy_ec);
    if (copy_ec) {
      fs::remove(temp, ec);
      Fail("Cannot restore table file", target);
    }
  }
}

void RemoveJournal(const fs::path& journal) {
  std::error_code ec;
  fs::remove_all(journal, ec);
}

}  // namespace

RunJournal::~RunJournal() {
  if (finished_ || tables_.empty()) return;
  try {
    Rollback();
  } catch (...) {
    // The journal stays on disk and is recovered when the folder is opened next.
  }
}

void RunJournal::Protect(const fs::path& table_path) {
  const fs::path folder = table_path.has_parent_path() ? table_path.parent_path() : fs::path(".");
  const std::string base = AsciiLower(BaseName(table_path.filename().string()));
  const bool first_in_folder = tables_.find(folder) == tables_.end();
  auto& protected_bases = tables_[folder];
  if (protected_bases.count(base)) return;

  const fs::path journal = folder / kJournalFolderName;
  std::error_code ec;
  // A journal this run did not write was left by a crash: undo that run first.
  if (first_in_folder && fs::exists(journal, ec)) RecoverJournal(folder);
  const fs::path saved = journal / base;
  fs::remove_all(saved, ec);
  fs::create_directories(saved, ec);
  if (ec) Fail("Cannot create run journal", saved);

  const std::vector<fs::path> files = TableFiles(folder, base);
  for (const fs::path& file : files) {
    const fs::path copy = saved / file.filename();
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      fs::remove_all(saved, ec);
      Fail("Cannot copy table file into the run journal", file);
    }
    SyncFile(copy);
  }
  if (files.empty()) std::ofstream(saved / kAbsentMarker).flush();

  {
    std::ofstream manifest(journal / kManifestName, std::ios::app);
    manifest << base << '\n';
    manifest.flush();
    if (!manifest) {
      fs::remove_all(saved, ec);
      Fail("Cannot write run journal", journal / kManifestName);
    }
  }
  SyncFile(journal / kManifestName);
  protected_bases.insert(base);
}

void RunJournal::Commit() {
  for (const auto& [folder, bases] : tables_) RemoveJournal(folder / kJournalFolderName);
  tables_.clear();
  finished_ = true;
}

void RunJournal::Rollback() {
  for (const auto& [folder, bases] : tables_) {
    const fs::path journal = folder / kJournalFolderName;
    for (const std::string& base : bases) RestoreTable(folder, journal, base);
    RemoveJournal(journal);
  }
  tables_.clear();
  finished_ = true;
}

int RecoverJournal(const fs::path& folder) {
  const fs::path journal = folder / kJournalFolderName;
  std::error_code ec;
  if (!fs::is_directory(journal, ec)) return 0;
  const std::vector<std::string> bases = ReadManifest(journal);
  for (const std::string& base : bases) RestoreTable(folder, journal, base);
  RemoveJournal(journal);
  return static_cast<int>(bases.size());
}

}  // namespace dalimor
