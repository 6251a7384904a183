#include "archive/batch_unpack.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <vector>

#include "archive/zip_reader.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// A folder left by a killed run is only taken for one once it has been
// still this long, so that a folder whose run has just made it and not yet
// locked it is never removed under that run.
constexpr time_t kAbandonedAfterSeconds = 60;

// The file type in the Unix mode an archive records for an entry made on
// Unix (the upper half of its external attributes).
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixRegular = 0100000;
constexpr uint32_t kUnixFolder = 0040000;
constexpr uint32_t kUnixLink = 0120000;

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw ArchiveRefused("Archiv \"" + path + "\" nelze přijmout: " + why);
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

bool IsDriveLetter(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Why the entry cannot be unpacked as a file of the folder; empty when it
// can.  `name` is the decoded name.
std::string NameFault(const ZipDirectoryEntry& entry, const std::string& name,
                      const UnpackRules& rules) {
  const std::string quoted = "\"" + ShownEntryName(entry.header) + "\"";
  const ZipCentralHeader& header = entry.header;
  const bool unix_host = (header.version_made_by >> 8) == kZipHostUnix;
  const uint32_t unix_mode = header.external_attributes >> 16;
  if (name.empty()) return "archiv obsahuje položku bez názvu.";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      return "název " + quoted + " obsahuje řídicí znak.";
  }
  if (name.back() == '/' || name.back() == '\\' || (header.external_attributes & 0x10) != 0 ||
      (unix_host && (unix_mode & kUnixTypeMask) == kUnixFolder))
    return "položka " + quoted + " je složka; dávka obsahuje jen soubory.";
  if (unix_host && (unix_mode & kUnixTypeMask) == kUnixLink)
    return "položka " + quoted + " je symbolický odkaz; dávka obsahuje jen soubory.";
  // Some writers give the permission bits alone, without a file type.
  if (unix_host && (unix_mode & kUnixTypeMask) != 0 && (unix_mode & kUnixTypeMask) != kUnixRegular)
    return "položka " + quoted + " není obyčejný soubor.";
  if (name.front() == '/' || name.front() == '\\' || IsDriveLetter(name))
    return "soubor " + quoted + " má absolutní cestu.";
  std::string component;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/' && name[i] != '\\') {
      component.push_back(name[i]);
      continue;
    }
    if (component == "..") return "soubor " + quoted + " má v cestě \"..\" (mimo složku).";
    component.clear();
  }
  if (name.find_first_of("/\\") != std::string::npos)
    return "soubor " + quoted + " má v názvu složku; dávka obsahuje jen soubory bez cest.";
  if (name.find(':') != std::string::npos || name == ".")
    return "název " + quoted + " není platný název souboru.";
  if (rules.accepts && !rules.accepts(name))
    return "soubor " + quoted + " do dávky nepatří.";
  if (header.fields.flags & kZipFlagEncrypted)
    return "soubor " + quoted + " je zašifrovaný.";
  if (header.fields.method != kZipMethodStored && header.fields.method != kZipMethodDeflate)
    return "soubor " + quoted + " je zkomprimovaný nepodporovanou metodou (" +
           std::to_string(header.fields.method) + ").";
  return {};
}

// Removes the folders that unpacking runs killed earlier left below
// `root`: ours, not locked by a living run, and still for a while.
void RemoveAbandonedFolders(const fs::path& root) {
  const time_t now = std::time(nullptr);
  for (const FolderEntry& entry : ListFolder(root, std::string(kUnpackFolderPrefix) + "*")) {
    if (!entry.is_folder || entry.name.rfind(kUnpackFolderPrefix, 0) != 0) continue;
    const fs::path path = root / PathFromUtf8(entry.name);
    const int fd = OpenFolderNative(path);
    if (fd < 0) continue;
    const std::optional<NativeFileInfo> info = StatNative(fd);
    if (info && info->owner == CurrentUserId() &&
        now - static_cast<time_t>(info->modified_ns / 1000000000) >= kAbandonedAfterSeconds &&
        TryLockFolder(fd) == LockOutcome::kLocked) {
      RemoveHeldFolder(path, fd);
    } else {
      CloseNative(fd);
    }
  }
}

}  // namespace

UnpackedArchive::UnpackedArchive(const std::string& archive_path, const UnpackRules& rules) {
  // The whole archive is checked before a byte of it is unpacked.
  ZipReader reader(archive_path, rules.max_entries);
  std::set<std::string> seen;  // upper-case ASCII: names match without regard to case
  uint64_t total = 0;
  std::vector<std::string> names;
  for (const ZipDirectoryEntry& entry : reader.entries()) {
    const std::string name = DecodedEntryName(entry.header);
    const std::string fault = NameFault(entry, name, rules);
    if (!fault.empty()) Refuse(archive_path, fault);
    std::string folded = name;
    for (char& c : folded)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!seen.insert(folded).second)
      Refuse(archive_path, "soubor \"" + name + "\" je v archivu víckrát (bez ohledu na velikost písmen).");
    if (entry.uncompressed_size > kUnpackRatioFloor &&
        entry.uncompressed_size / kUnpackMaxRatio > entry.compressed_size)
      Refuse(archive_path, "soubor \"" + name + "\" by se rozbalil na " +
                               Megabytes(entry.uncompressed_size) +
                               ", nepřiměřeně víc, než zabírá v archivu (možná jde o tzv. zip bombu).");
    if (entry.header.fields.method == kZipMethodStored &&
        entry.compressed_size != entry.uncompressed_size)
      Refuse(archive_path, "archiv je poškozený nebo neúplný (velikosti souboru \"" + name +
                               "\" nesouhlasí).");
    total += entry.uncompressed_size;
    if (total > kUnpackMaxTotalSize)
      Refuse(archive_path, "soubory by se rozbalily na více než " + Megabytes(kUnpackMaxTotalSize) +
                               ", to dávka nemůže mít (možná jde o tzv. zip bombu).");
    names.push_back(name);
  }

  std::error_code ec;
  fs::path root = rules.temporary_root;
  if (root.empty()) root = fs::temp_directory_path(ec);
  if (root.empty()) root = "/tmp";
  RemoveAbandonedFolders(root);
  const std::optional<fs::path> made = MakePrivateFolder(root, kUnpackFolderPrefix);
  if (!made)
    Refuse(archive_path, "nelze vytvořit dočasnou složku v \"" + Utf8FromPath(root) + "\" (" +
                             std::strerror(errno) + ").");
  path_ = *made;
  folder_ = WithTrailingBackslash(Utf8FromPath(path_));
  lock_fd_ = OpenFolderNative(path_);
  if (lock_fd_ >= 0) (void)TryLockFolder(lock_fd_);
  try {
    if (lock_fd_ < 0)
      Refuse(archive_path, "dočasnou složku nelze otevřít (" + std::string(std::strerror(errno)) +
                               ").");
    if (const std::optional<uint64_t> free_bytes = FreeBytes(path_)) {
      if (total + kUnpackFreeSpaceReserve > *free_bytes)
        Refuse(archive_path, "soubory by se rozbalily na " + Megabytes(total) +
                                 ", v dočasné složce \"" + Utf8FromPath(root) +
                                 "\" je však volných jen " + Megabytes(*free_bytes) + ".");
    }
    for (size_t i = 0; i < names.size(); ++i) {
      const int out = OpenInFolderNative(lock_fd_, path_, names[i],
                                         O_WRONLY | O_CREAT | O_EXCL | kOpenNoFollow, 0600);
      if (out < 0)
        Refuse(archive_path, "soubor \"" + names[i] + "\" nelze v dočasné složce vytvořit (" +
                                 std::strerror(errno) + ").");
      try {
        reader.Extract(reader.entries()[i], names[i], out, rules.progress);
      } catch (...) {
        CloseNative(out);
        throw;
      }
      if (!CloseNative(out) && errno != EINTR)
        Refuse(archive_path, "soubor \"" + names[i] + "\" nelze v dočasné složce zapsat (" +
                                 std::strerror(errno) + ").");
      ++file_count_;
    }
  } catch (...) {
    Remove();
    throw;
  }
}

UnpackedArchive::~UnpackedArchive() { Remove(); }

void UnpackedArchive::Remove() {
  RemoveHeldFolder(path_, lock_fd_);
  path_.clear();
  folder_.clear();
  lock_fd_ = -1;
}

}  // namespace dalimor
