#include "archive/batch_archive.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

#include "archive/zip_writer.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Closes a file descriptor when the scope ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) CloseNative(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The name an entry is stored under.  Names are stored in code page 852;
// a name with a character that code page lacks is stored in UTF-8 with
// general purpose bit 11 instead of losing the character to "?".  A name
// that is not UTF-8 was copied raw from a Windows disk and is read as
// Windows-1250.  A "\" (legal in Linux names) becomes "_", so that no entry
// unpacks into a folder, let alone outside the target folder.
ZipEntryInfo EntryNameFor(const std::string& disk_name) {
  std::u32string code_points;
  std::string utf8 =
      DecodeUtf8(disk_name, code_points) ? disk_name : ToUtf8(disk_name, CodePage::k1250);
  std::replace(utf8.begin(), utf8.end(), '\\', '_');
  ZipEntryInfo info;
  if (IsRepresentable(utf8, CodePage::k852)) {
    info.name = FromUtf8(utf8, CodePage::k852);
  } else {
    info.name = std::move(utf8);
    info.flags = kZipFlagUtf8Name;
  }
  return info;
}

// The files to pack, in listing order.
std::vector<FolderEntry> FilesToPack(const fs::path& folder, const std::string& archive_name) {
  std::vector<FolderEntry> files;
  for (FolderEntry& entry : ListFolder(folder, "*")) {
    if (entry.is_folder || entry.hidden || entry.system) continue;
    if (SameNameIgnoringCase(entry.name, archive_name)) continue;
    files.push_back(std::move(entry));
  }
  return files;
}

// Writes the archive of `folder` under `archive_name` in that folder.
// Throws ArchiveError (and std::bad_alloc).
void PackFolder(Ui& ui, const std::string& folder, const std::string& archive_name,
                const ArchiveOptions& options) {
  const fs::path folder_path =
      FindPathIgnoringCase(PathFromUtf8(folder)).value_or(PathFromUtf8(folder));
  const std::vector<FolderEntry> files = FilesToPack(folder_path, archive_name);
  if (files.size() > kZipMaxPlainEntries) {
    throw ArchiveError("The folder holds " + std::to_string(files.size()) +
                       " files; a zip archive without Zip64 extensions holds at most " +
                       std::to_string(kZipMaxPlainEntries));
  }

  // An earlier archive that could not be deleted is still there, maybe
  // spelled in another case; a read-only one is refused as Windows would.
  const fs::path archive_path = ResolvePathIgnoringCase(folder_path, archive_name);
  const std::optional<NativeFileInfo> existing = StatNative(archive_path, false);
  if (existing && existing->kind == NativeKind::kRegular && existing->read_only) {
    throw ArchiveError("Cannot replace archive \"" + Utf8FromPath(archive_path) +
                       "\": the file is read-only");
  }

  // A send killed while it wrote the archive left its temporary file.
  RemoveUnfinishedArchives(archive_path);
  ZipWriter writer(archive_path, options.write, options.read);
  const auto progress = [&ui] { ui.ProcessPendingEvents(); };
  for (const FolderEntry& file : files) {
    const fs::path path = folder_path / PathFromUtf8(file.name);
    // Non-blocking, so that a file replaced by a pipe since the listing
    // cannot hang the program; never through a link, so that a link planted
    // in the shared folder cannot carry another file's content off in the
    // archive.  Files that are gone, unreadable or links are left out.
    FileDescriptor input(OpenNative(path, O_RDONLY | kOpenNonBlock | kOpenNoFollow));
    if (input.get() < 0) continue;
    const std::optional<NativeFileInfo> info = StatNative(input.get());
    if (!info || info->kind != NativeKind::kRegular) continue;
    // Another name of the file being written (a hard or symbolic link).
    if (info->device == writer.device() && info->file == writer.inode()) continue;
    if (info->size > kZipMaxPlainValue) {
      throw ArchiveError("File \"" + Utf8FromPath(path) +
                         "\" is 4 GiB or larger; a zip archive without Zip64 extensions cannot "
                         "hold it");
    }
    ZipEntryInfo entry = EntryNameFor(file.name);
    const DosDateTime when = file.LastWriteDos();
    entry.dos_time = when.time;
    entry.dos_date = when.date;
    entry.external_attributes = file.DosAttributes();
    writer.AddEntry(entry, input.get(), Utf8FromPath(path), progress);
  }
  writer.Finish();
}

// Deletes the file at the archive's place whatever its attributes; a
// folder or anything else of that name stays.
void RemoveStaleArchive(const std::string& archive_path) {
  const std::optional<fs::path> found = FindPathIgnoringCase(PathFromUtf8(archive_path));
  if (!found) return;
  const std::optional<NativeFileInfo> info = StatNative(*found, false);
  if (!info || (info->kind != NativeKind::kRegular && info->kind != NativeKind::kLink)) return;
  std::error_code ec;
  fs::remove(*found, ec);
}

}  // namespace

std::string ArchiveBaseName(std::string_view folder_path) {
  std::string path = WithTrailingBackslash(std::string(folder_path));
  if (path.size() < 4) return {};
  const size_t last = path.size() - 1;
  const size_t separator = path.find_last_of(kPathSeparators, last - 1);
  const size_t start = separator == std::string::npos ? 0 : separator + 1;
  return path.substr(start, last - start);
}

std::string ArchivePath(const std::string& transfer_folder_path) {
  std::string base = ArchiveBaseName(transfer_folder_path);
  if (base.empty()) base = kArchiveFallbackBaseName;
  return WithTrailingBackslash(transfer_folder_path) + base + ".zip";
}

bool ArchiveBatch(Ui& ui, const std::string& transfer_folder_path, const ArchiveOptions& options) {
  std::optional<std::string> error;
  std::string archive_path;
  {
    BusyCursorScope busy(ui);
    try {
      ui.SetStatusText(std::string(kArchiveStatusText));
      // The archive is named after the folder's full path: a relative "b9"
      // has no last component of its own to name it.
      std::error_code ec;
      const fs::path absolute = fs::absolute(PathFromUtf8(transfer_folder_path), ec);
      const std::string folder = WithTrailingBackslash(
          ec ? transfer_folder_path : Utf8FromPath(absolute.lexically_normal()));
      archive_path = ArchivePath(folder);
      const std::string archive_name = archive_path.substr(folder.size());
      // A failure here shows later, when the archive is created.
      if (FileExists(PathFromUtf8(archive_path))) DeleteFile(PathFromUtf8(archive_path));
      PackFolder(ui, folder, archive_name, options);
    } catch (const std::bad_alloc&) {
      error = "Not enough memory to write archive";
    } catch (const std::exception& e) {
      error = e.what();
    } catch (...) {
      error = "Cannot write archive";
    }
  }
  if (!error) return true;
  // An archive of an earlier send that could not be replaced no longer
  // matches the batch; a receiver must not take it for this send's.
  if (!archive_path.empty()) RemoveStaleArchive(archive_path);
  try {
    MsgError(ui, "", *error, kMbOk);
  } catch (...) {
    // The caller carries on whatever happens; a failing message box is no
    // reason to stop the send.
  }
  return false;
}

}  // namespace dalimor
