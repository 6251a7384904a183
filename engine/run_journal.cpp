#include "engine/run_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "engine/fault_injection.h"
#include "engine/undo_log.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "platform/regional.h"
#include "util/clock.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestName = "manifest";
constexpr const char* kManifestTempName = "manifest.new";
constexpr const char* kManifestHeader = "dalimor-journal 3";
// Journals of the earlier layout (copies only) are still read.
constexpr const char* kManifestHeaderCopiesOnly = "dalimor-journal 2";
// The undo log of a file in its table's journal folder.
constexpr const char* kUndoSuffix = ".undo";
// Bytes at each end of a file that its checksum covers.
constexpr size_t kStampEdge = 4096;

[[noreturn]] void Fail(const std::string& what, const fs::path& path, int error = 0) {
  std::string message = what + " " + Utf8FromPath(path);
  if (error != 0) message += ": " + std::string(std::strerror(error));
  throw EngineError(EngineErrorKind::kIo, message);
}

// The base name of a file name: up to its last ".".
std::string BaseName(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? file_name : file_name.substr(0, dot);
}

bool SameName(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

// The entries of `folder` whose base name is `base` without regard to case,
// whatever they are (links and special files included), sorted by name.
std::vector<std::string> TableEntries(const fs::path& folder, const std::string& base) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (SameName(BaseName(name), base)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Syncs a folder, so that the names in it last.
void SyncPath(const fs::path& path) {
  JournalStep();
  SyncFolder(path);
}

// Whether the file system that holds `folder` has room for `bytes`.
void CheckFreeSpace(const fs::path& folder, uint64_t bytes, const fs::path& table) {
  const std::optional<uint64_t> free_space = FreeBytes(folder);
  if (!free_space) return;
  const uint64_t free_bytes = *free_space;
  // Room for the copies and for the manifests written beside them.
  if (free_bytes >= bytes + 65536) return;
  const auto mib = [](uint64_t n) { return std::to_string((n + 1048575) / 1048576) + " MiB"; };
  throw EngineError(EngineErrorKind::kIo,
                    "Na disku není dost místa pro zálohu tabulky " + Utf8FromPath(table) +
                        " do deníku běhu ve složce " + Utf8FromPath(folder) + ": volné místo " +
                        mib(free_bytes) + ", potřeba " + mib(bytes + 65536) + ".");
}

// An open file of the journal or of a table: never through a link, only a
// regular file.  Throws EngineError with `what` when it cannot be opened.
PlainFile OpenFile(const fs::path& path, int flags, const char* what) {
  PlainFile file = OpenPlainFile(path, flags, 0644);
  if (file.status() == PlainFileStatus::kOpened) return file;
  Fail(what, path, file.status() == PlainFileStatus::kFailed ? file.error() : ELOOP);
}

// Copies every byte of `from` over the start of `to`, then cuts `to` to
// that length and syncs it.  `failure` heads the error of a write; a full
// disk while copying into the journal says how much room there is.
void CopyContent(const fs::path& from, const fs::path& to, const char* failure) {
  JournalStep();
  PlainFile in = OpenFile(from, O_RDONLY, failure);
  PlainFile out = OpenFile(to, O_WRONLY | O_CREAT, failure);
  std::vector<char> buffer(1 << 16);
  uint64_t offset = 0;
  while (true) {
    const int64_t got = ReadNative(in.fd(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail(failure, from, errno);
    }
    if (got == 0) break;
    for (int64_t done = 0; done < got;) {
      const int64_t put =
          WriteNativeAt(out.fd(), buffer.data() + done, static_cast<size_t>(got - done),
                        offset + static_cast<uint64_t>(done));
      if (put < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC) CheckFreeSpace(to.parent_path(), UINT64_MAX / 2, from);
        Fail(failure, to, errno);
      }
      done += put;
    }
    offset += static_cast<uint64_t>(got);
  }
  JournalStep();
  if (!TruncateNative(out.fd(), offset)) Fail(failure, to, errno);
  JournalStep();
  if (!SyncNative(out.fd())) Fail(failure, to, errno);
}

// Copies a table's file into the journal.
void CopyDurably(const fs::path& from, const fs::path& to) {
  CopyContent(from, to, "Cannot copy table file into the run journal");
}

// Writes the bytes of `saved` into `target`, in place: the same file stays,
// so that whoever holds it open sees the old content again.  A target that
// is not a regular file is replaced by one.
void WriteBack(const fs::path& saved, const fs::path& target) {
  const std::optional<NativeFileInfo> info = StatNative(target, false);
  if (info && info->kind != NativeKind::kRegular) {
    JournalStep();
    if (!RemoveNative(target)) Fail("Cannot restore table file", target, errno);
  }
  CopyContent(saved, target, "Cannot restore table file");
}

uint64_t Fnv1a(uint64_t hash, const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

// The stamp of one file as it is now; nullopt when it is not a regular file.
std::optional<RunJournal::FileStamp> StampOf(const fs::path& folder, const std::string& name) {
  const fs::path path = folder / PathFromUtf8(name);
  const PlainFile fd = OpenPlainFile(path, O_RDONLY);
  if (fd.status() != PlainFileStatus::kOpened) return std::nullopt;
  const std::optional<NativeFileInfo> info = StatNative(fd.fd());
  if (!info) return std::nullopt;
  RunJournal::FileStamp stamp;
  stamp.name = name;
  stamp.size = info->size;
  stamp.modified_ns = info->modified_ns;
  uint64_t hash = 1469598103934665603ull;
  std::vector<char> buffer(kStampEdge);
  const auto take = [&](uint64_t at) {
    const int64_t got = ReadNativeAt(fd.fd(), buffer.data(), buffer.size(), at);
    if (got > 0) hash = Fnv1a(hash, buffer.data(), static_cast<size_t>(got));
  };
  take(0);
  if (stamp.size > kStampEdge) take(stamp.size - kStampEdge);
  stamp.checksum = hash;
  return stamp;
}

// Every file of the table as it is now; a link or special file among them
// gets an empty stamp, which matches no recorded one.
std::vector<RunJournal::FileStamp> CurrentStamps(const fs::path& folder, const std::string& base) {
  std::vector<RunJournal::FileStamp> stamps;
  for (const std::string& name : TableEntries(folder, base)) {
    std::optional<RunJournal::FileStamp> stamp = StampOf(folder, name);
    if (!stamp) {
      stamp.emplace();
      stamp->name = name;
      stamp->modified_ns = -1;
    }
    stamps.push_back(std::move(*stamp));
  }
  return stamps;
}

// A name that stays inside the folder it is joined to.
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\\t\n\r") == std::string::npos && name.find('\0') == std::string::npos;
}

// A folder below the home folder: relative, without "..".
bool InsideFolder(const std::string& folder) {
  if (folder == ".") return true;
  if (folder.empty() || folder.front() == '/' || folder.find_first_of("\\\t\n\r") != std::string::npos)
    return false;
  std::stringstream parts(folder);
  for (std::string part; std::getline(parts, part, '/');)
    if (!PlainName(part)) return false;
  return true;
}

struct Manifest {
  std::string run;
  std::vector<RunJournal::Entry> entries;
};

std::string ManifestText(const Manifest& manifest) {
  std::string text = std::string(kManifestHeader) + "\nrun\t" + manifest.run + "\n";
  for (const RunJournal::Entry& e : manifest.entries) {
    const std::string id = std::to_string(e.id);
    text += "table\t" + id + "\t" + e.state + "\t" + e.folder + "\t" + e.base + "\n";
    for (const std::string& name : e.saved) text += "saved\t" + id + "\t" + name + "\n";
    for (const RunJournal::LoggedFile& f : e.logged)
      text += "logged\t" + id + "\t" + f.name + "\t" + std::to_string(f.size) + "\n";
    for (const RunJournal::FileStamp& s : e.stamps)
      text += "stamp\t" + id + "\t" + s.name + "\t" + std::to_string(s.size) + "\t" +
              std::to_string(s.modified_ns) + "\t" + std::to_string(s.checksum) + "\n";
  }
  return text + "end\n";
}

[[noreturn]] void Damaged(const fs::path& journal) {
  throw EngineError(EngineErrorKind::kCorrupt,
                    "Deník běhu je poškozený: " + Utf8FromPath(journal / kManifestName));
}

// Reads and checks the manifest of a journal.  Throws EngineError
// (kCorrupt) for anything this program would not have written.
Manifest ReadManifest(const fs::path& journal) {
  std::ifstream in(journal / kManifestName, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || (line != kManifestHeader && line != kManifestHeaderCopiesOnly))
    Damaged(journal);
  Manifest manifest;
  bool ended = false;
  const auto number = [&](const std::string& text) -> uint64_t {
    if (text.empty() || text.find_first_not_of("0123456789-") != std::string::npos) Damaged(journal);
    return static_cast<uint64_t>(std::stoll(text));
  };
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.empty() || ended) Damaged(journal);
    if (f[0] == "end" && f.size() == 1) {
      ended = true;
    } else if (f[0] == "run" && f.size() <= 2) {
      manifest.run = f.size() == 2 ? f[1] : "";
    } else if (f[0] == "table" && f.size() == 5) {
      RunJournal::Entry e;
      e.id = static_cast<int>(number(f[1]));
      e.state = f[2];
      e.folder = f[3];
      e.base = f[4];
      if (e.state != "saved" && e.state != "writing" && e.state != "written" &&
          e.state != "restoring")
        Damaged(journal);
      if (!InsideFolder(e.folder) || !PlainName(e.base)) Damaged(journal);
      manifest.entries.push_back(std::move(e));
    } else if ((f[0] == "saved" && f.size() == 3) || (f[0] == "stamp" && f.size() == 6) ||
               (f[0] == "logged" && f.size() == 4)) {
      if (manifest.entries.empty() || manifest.entries.back().id != static_cast<int>(number(f[1])))
        Damaged(journal);
      RunJournal::Entry& e = manifest.entries.back();
      if (!PlainName(f[2]) || !SameName(BaseName(f[2]), e.base)) Damaged(journal);
      if (f[0] == "saved") {
        e.saved.push_back(f[2]);
      } else if (f[0] == "logged") {
        e.logged.push_back({f[2], number(f[3])});
      } else {
        RunJournal::FileStamp s;
        s.name = f[2];
        s.size = number(f[3]);
        s.modified_ns = static_cast<int64_t>(number(f[4]));
        s.checksum = std::stoull(f[5]);
        e.stamps.push_back(std::move(s));
      }
    } else {
      Damaged(journal);
    }
  }
  if (!ended) Damaged(journal);
  return manifest;
}

// Replaces the manifest whole: a temporary file, synced, renamed over it,
// the folder synced.
void WriteManifestFile(const fs::path& journal, const Manifest& manifest) {
  const fs::path temp = journal / kManifestTempName;
  const std::string text = ManifestText(manifest);
  {
    JournalStep();
    PlainFile out = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC, "Cannot write run journal");
    for (size_t done = 0; done < text.size();) {
      const int64_t put = WriteNative(out.fd(), text.data() + done, text.size() - done);
      if (put < 0) {
        if (errno == EINTR) continue;
        Fail("Cannot write run journal", temp, errno);
      }
      done += static_cast<size_t>(put);
    }
    JournalStep();
    if (!SyncNative(out.fd())) Fail("Cannot write run journal", temp, errno);
  }
  JournalStep();
  if (!RenameNative(temp, journal / kManifestName))
    Fail("Cannot write run journal", journal / kManifestName, errno);
  SyncPath(journal);
}

bool ManifestExists(const fs::path& journal) {
  return StatNative(journal / kManifestName, false).has_value();
}

// Whether anything stands at the journal's place.
bool JournalFolderExists(const fs::path& journal) {
  return StatNative(journal, false).has_value();
}

// Removes a journal whose manifest is gone (or never came): mere garbage.
void RemoveGarbage(const fs::path& journal) {
  const std::optional<NativeFileInfo> info = StatNative(journal, false);
  if (!info) return;
  JournalStep();
  std::error_code ec;
  if (info->kind == NativeKind::kFolder)
    fs::remove_all(journal, ec);
  else
    fs::remove(journal, ec);
}

// The commit point: the manifest goes, the copies become garbage.
void DropManifest(const fs::path& journal) {
  JournalStep();
  if (!RemoveNative(journal / kManifestName) && errno != ENOENT)
    Fail("Cannot remove run journal", journal / kManifestName, errno);
  SyncPath(journal);
}

fs::path TableFolder(const fs::path& home, const RunJournal::Entry& e) {
  return e.folder == "." ? home : home / PathFromUtf8(e.folder);
}

// The folder of a table to be put back, when it really lies below the home
// folder: a journal in a shared transfer folder may have been planted, and a
// sub-folder that is a link could lead its writes into a company's tables.
fs::path CheckedTableFolder(const fs::path& home, const fs::path& journal,
                            const RunJournal::Entry& e) {
  std::error_code ec;
  const fs::path real_home = fs::canonical(home, ec);
  if (ec) Fail("Cannot restore table file", home, ec.value());
  if (e.folder == ".") return home;
  const fs::path real = fs::weakly_canonical(home / PathFromUtf8(e.folder), ec);
  if (ec || real != (real_home / PathFromUtf8(e.folder)).lexically_normal()) Damaged(journal);
  return home / PathFromUtf8(e.folder);
}

// Whether `name` is a temporary file that a file of the table was being
// replaced through (".<file name>.<process>.<counter>.tmp", as the INI
// writer names them) and that a killed run left behind.
bool IsTemporaryOf(const std::string& name, const std::string& base) {
  if (name.size() < 6 || name.front() != '.' || name.substr(name.size() - 4) != ".tmp") return false;
  std::string rest = name.substr(1, name.size() - 5);
  for (int i = 0; i < 2; ++i) {
    const size_t dot = rest.rfind('.');
    if (dot == std::string::npos || dot + 1 == rest.size() ||
        rest.find_first_not_of("0123456789", dot + 1) != std::string::npos)
      return false;
    rest.resize(dot);
  }
  return SameName(BaseName(rest), base);
}

void RemoveTemporaryFiles(const fs::path& folder, const std::string& base) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (!IsTemporaryOf(name, base)) continue;
    JournalStep();
    RemoveNative(it->path());
  }
}

// Puts one table back from its copies, in place; files the run created go,
// and so do the temporary files its replaced files were written through.
void RestoreTable(const fs::path& home, const fs::path& journal, const RunJournal::Entry& e) {
  const fs::path folder = CheckedTableFolder(home, journal, e);
  const fs::path saved = journal / std::to_string(e.id);
  const std::vector<std::string> current = TableEntries(folder, e.base);
  RemoveTemporaryFiles(folder, e.base);
  for (const std::string& name : current) {
    const bool keep = std::any_of(e.saved.begin(), e.saved.end(),
                                  [&](const std::string& s) { return SameName(s, name); }) ||
                      std::any_of(e.logged.begin(), e.logged.end(),
                                  [&](const RunJournal::LoggedFile& f) { return SameName(f.name, name); });
    if (keep) continue;
    JournalStep();
    if (!RemoveNative(folder / PathFromUtf8(name)) && errno != ENOENT)
      Fail("Cannot restore table file", folder / PathFromUtf8(name), errno);
  }
  for (const std::string& name : e.saved) {
    std::string target = name;
    for (const std::string& c : current)
      if (SameName(c, name)) target = c;
    WriteBack(saved / PathFromUtf8(name), folder / PathFromUtf8(target));
  }
  for (const RunJournal::LoggedFile& file : e.logged) {
    std::string target = file.name;
    for (const std::string& c : current)
      if (SameName(c, file.name)) target = c;
    const fs::path path = folder / PathFromUtf8(target);
    const std::optional<NativeFileInfo> info = StatNative(path, false);
    if (info && info->kind != NativeKind::kRegular) {
      JournalStep();
      if (!RemoveNative(path)) Fail("Cannot restore table file", path, errno);
    }
    const bool gone = !info || info->kind != NativeKind::kRegular;
    ParadoxFile out = gone ? ParadoxFile::Create(Utf8FromPath(path))
                           : ParadoxFile::Open(Utf8FromPath(path), true);
    ApplyUndoLog(saved / PathFromUtf8(file.name + kUndoSuffix), out, file.size, gone);
  }
  SyncPath(folder);
}

bool Restorable(const RunJournal::Entry& e) { return e.state != "saved"; }

std::string TablePath(const fs::path& home, const RunJournal::Entry& e) {
  const std::vector<std::string> names = TableEntries(TableFolder(home, e), e.base);
  for (const std::string& name : names)
    if (SameName(name, e.base + ".DB"))
      return Utf8FromPath(TableFolder(home, e) / PathFromUtf8(name));
  return Utf8FromPath(TableFolder(home, e) / PathFromUtf8(e.base + ".DB"));
}

JournalReport Report(const fs::path& home, const Manifest& manifest) {
  JournalReport report;
  report.pending = true;
  report.journal = home / kJournalFolderName;
  report.run = manifest.run;
  for (const RunJournal::Entry& e : manifest.entries) {
    if (!Restorable(e)) continue;
    report.tables.push_back(TablePath(home, e));
    if (e.state == "written" && CurrentStamps(TableFolder(home, e), e.base) != e.stamps)
      report.changed.push_back(report.tables.back());
  }
  return report;
}

// Puts back every table the run changed, whatever happened since, and
// removes the journal.  The tables are first marked as being restored, so
// that a recovery killed half-way is finished by the next one.
void RestoreAll(const fs::path& home, Manifest manifest) {
  const fs::path journal = home / kJournalFolderName;
  bool marked = false;
  for (RunJournal::Entry& e : manifest.entries) {
    if (!Restorable(e) || e.state == "restoring") continue;
    e.state = "restoring";
    marked = true;
  }
  if (marked) WriteManifestFile(journal, manifest);
  for (const RunJournal::Entry& e : manifest.entries)
    if (Restorable(e)) RestoreTable(home, journal, e);
  DropManifest(journal);
  RemoveGarbage(journal);
}

std::string RunDescription(const std::string& run) {
  const std::string when = DateTimeToStr(SystemClock().Now(), CzechRegionalSettings());
  std::string text = "proces " + std::to_string(CurrentProcessId()) + ", spuštěn " + when;
  if (!run.empty()) text = run + ", " + text;
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string ChangedText(const JournalReport& report) {
  std::string text = "Tables changed after the run that was cut short:";
  for (const std::string& table : report.changed) text += " " + table;
  return text;
}

}  // namespace

JournalChangedError::JournalChangedError(JournalReport report)
    : EngineError(EngineErrorKind::kIo, ChangedText(report)), report_(std::move(report)) {}

namespace {

// A folder path without a trailing separator, so that relative paths below
// it come out plain.
fs::path Folder(const fs::path& path) {
  fs::path folder = path.lexically_normal();
  if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path())
    folder = folder.parent_path();
  return folder;
}

}  // namespace

RunJournal::RunJournal(fs::path home, std::string run)
    : home_(Folder(home)), run_(RunDescription(run)) {}

RunJournal::~RunJournal() {
  CloseLogs();
  if (finished_ || !started_) return;
  try {
    Rollback();
  } catch (...) {
    // The journal stays on disk and is recovered before the folder is used again.
  }
}

RunJournal::Entry* RunJournal::Find(const fs::path& table_path) {
  const fs::path folder = Folder(table_path.has_parent_path() ? table_path.parent_path() : fs::path("."));
  const fs::path relative = folder.lexically_relative(home_);
  // Recorded with "/" between the folders on every system.
  std::string folder_text = relative.empty() ? "." : Utf8FromPath(relative);
  if (kNativeSeparator != '/')
    std::replace(folder_text.begin(), folder_text.end(), kNativeSeparator, '/');
  if (folder_text.size() > 1 && folder_text.back() == '/') folder_text.pop_back();
  const std::string base = BaseName(Utf8FromPath(table_path.filename()));
  if (!InsideFolder(folder_text) || !PlainName(base))
    throw EngineError(EngineErrorKind::kIo, "Table " + Utf8FromPath(table_path) +
                                                " lies outside the run's folder " +
                                                Utf8FromPath(home_));
  for (Entry& e : entries_)
    if (e.folder == folder_text && SameName(e.base, base)) return &e;
  Entry e;
  e.id = static_cast<int>(entries_.size()) + 1;
  e.folder = folder_text;
  e.base = base;
  e.state.clear();  // not yet saved
  entries_.push_back(std::move(e));
  return &entries_.back();
}

void RunJournal::WriteManifest() {
  Manifest manifest;
  manifest.run = run_;
  for (const Entry& e : entries_)
    if (!e.state.empty()) manifest.entries.push_back(e);
  WriteManifestFile(home_ / kJournalFolderName, manifest);
}

void RunJournal::CloseLogs() {
  for (OpenLog& open : logs_) DropUndoLog(open.device, open.file);
  logs_.clear();
}

void RunJournal::Protect(const fs::path& table_path, TableKeeping keeping) {
  Entry* entry = Find(table_path);
  if (!entry->state.empty()) return;
  const int id = entry->id;
  const std::string folder_text = entry->folder, base = entry->base;
  const size_t logs_before = logs_.size();
  try {
    const fs::path journal = home_ / kJournalFolderName;
    if (!started_) {
      if (JournalFolderExists(journal)) {
        if (ManifestExists(journal))
          throw EngineError(
              EngineErrorKind::kIo,
              "A run journal of an unfinished run is in the way: " + Utf8FromPath(journal));
        RemoveGarbage(journal);
      }
      JournalStep();
      std::error_code ec;
      if (!fs::create_directory(journal, ec)) Fail("Cannot create run journal", journal, ec.value());
      started_ = true;
    }
    const fs::path folder = folder_text == "." ? home_ : home_ / PathFromUtf8(folder_text);
    const fs::path saved = journal / std::to_string(id);
    std::error_code ec;
    fs::remove_all(saved, ec);
    JournalStep();
    if (!fs::create_directory(saved, ec)) Fail("Cannot create run journal", saved, ec.value());
    std::vector<std::string> names;
    std::vector<NativeFileInfo> infos;
    uint64_t bytes = 0;
    for (const std::string& name : TableEntries(folder, base)) {
      const std::optional<NativeFileInfo> info = StatNative(folder / PathFromUtf8(name), false);
      if (!info) continue;
      if (info->kind != NativeKind::kRegular)
        throw EngineError(EngineErrorKind::kIo,
                          "Not a regular file: " + Utf8FromPath(folder / PathFromUtf8(name)));
      names.push_back(name);
      infos.push_back(*info);
      bytes += info->size;
    }
    // A file with a second name could be written under a name the journal
    // does not watch, and one already watched belongs to another table of
    // this run: such tables are copied.
    const bool by_log =
        keeping == TableKeeping::kChangedBytes &&
        std::none_of(infos.begin(), infos.end(), [](const NativeFileInfo& info) {
          return info.links != 1 || HasUndoLog(info.device, info.file);
        });
    std::vector<LoggedFile> logged;
    if (by_log) {
      for (size_t i = 0; i < names.size(); ++i) {
        OpenLog open{infos[i].device, infos[i].file,
                     std::make_unique<UndoLog>(saved / PathFromUtf8(names[i] + kUndoSuffix),
                                               infos[i].size)};
        RegisterUndoLog(open.device, open.file, open.log.get());
        logs_.push_back(std::move(open));
        logged.push_back({names[i], infos[i].size});
      }
      names.clear();
    } else {
      CheckFreeSpace(journal, bytes, folder / PathFromUtf8(base + ".DB"));
      for (const std::string& name : names)
        CopyDurably(folder / PathFromUtf8(name), saved / PathFromUtf8(name));
    }
    SyncPath(saved);
    entry = &entries_[static_cast<size_t>(id - 1)];
    entry->saved = names;
    entry->logged = logged;
    entry->state = "saved";
    // Not written down yet: a table the run has not begun to change is
    // never put back, so the manifest first needs it at Touch.
  } catch (...) {
    entry = &entries_[static_cast<size_t>(id - 1)];
    entry->state.clear();
    entry->saved.clear();
    entry->logged.clear();
    while (logs_.size() > logs_before) {
      DropUndoLog(logs_.back().device, logs_.back().file);
      logs_.pop_back();
    }
    throw;
  }
}

void RunJournal::Touch(const fs::path& table_path, TableKeeping keeping) {
  Protect(table_path, keeping);
  Entry* entry = Find(table_path);
  if (entry->state == "writing") return;
  entry->state = "writing";
  entry->stamps.clear();
  WriteManifest();
}

void RunJournal::Settle() {
  bool changed = false;
  for (Entry& e : entries_) {
    if (e.state != "writing") continue;
    e.stamps = CurrentStamps(e.folder == "." ? home_ : home_ / PathFromUtf8(e.folder), e.base);
    e.state = "written";
    changed = true;
  }
  if (changed) WriteManifest();
}

void RunJournal::Commit() {
  CloseLogs();
  finished_ = true;
  if (!started_) return;
  const fs::path journal = home_ / kJournalFolderName;
  if (ManifestExists(journal)) DropManifest(journal);
  RemoveGarbage(journal);
  entries_.clear();
}

void RunJournal::Rollback() {
  CloseLogs();
  finished_ = true;
  if (!started_) return;
  const fs::path journal = home_ / kJournalFolderName;
  if (!ManifestExists(journal)) {
    RemoveGarbage(journal);
    entries_.clear();
    return;
  }
  Manifest manifest = ReadManifest(journal);
  const JournalReport report = Report(home_, manifest);
  if (!report.changed.empty()) throw JournalChangedError(report);
  RestoreAll(home_, std::move(manifest));
  entries_.clear();
}

JournalReport InspectJournal(const fs::path& home) {
  const fs::path journal = home / kJournalFolderName;
  if (!JournalFolderExists(journal) || !ManifestExists(journal)) return {};
  return Report(home, ReadManifest(journal));
}

RecoveryOutcome RecoverJournal(const fs::path& home, JournalReport* report) {
  const fs::path journal = home / kJournalFolderName;
  if (!JournalFolderExists(journal)) return RecoveryOutcome::kNothing;
  if (!ManifestExists(journal)) {
    RemoveGarbage(journal);
    return RecoveryOutcome::kNothing;
  }
  Manifest manifest = ReadManifest(journal);
  JournalReport found = Report(home, manifest);
  if (report) *report = found;
  if (!found.changed.empty()) return RecoveryOutcome::kChangedSince;
  RestoreAll(home, std::move(manifest));
  return found.tables.empty() ? RecoveryOutcome::kNothing : RecoveryOutcome::kRestored;
}

void ResolveJournal(const fs::path& home, JournalDecision decision) {
  const fs::path journal = home / kJournalFolderName;
  if (!JournalFolderExists(journal)) return;
  if (!ManifestExists(journal)) {
    RemoveGarbage(journal);
    return;
  }
  if (decision == JournalDecision::kDiscard) {
    DropManifest(journal);
    RemoveGarbage(journal);
    return;
  }
  RestoreAll(home, ReadManifest(journal));
}

}  // namespace dalimor
