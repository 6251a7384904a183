// The file calls of platform/native_io.h on Windows: handles opened with
// CreateFileW (sharing read, write and delete, as POSIX files are shared),
// wrapped in C runtime descriptors; wide-character calls only, with UTF-8
// converted at this boundary.
#ifdef _WIN32

#include "platform/native_io.h"

#include "platform/file_system.h"

#include <io.h>
#include <windows.h>
#include <shellapi.h>

// <windows.h> names DeleteFileW "DeleteFile", which would rename the
// platform's own DeleteFile in whatever follows.
#undef DeleteFile

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The 100-nanosecond ticks between 1601 (FILETIME) and 1970.
constexpr int64_t kFileTimeTo1970 = 116444736000000000LL;

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

int ErrnoFromWindows(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

void SetErrnoFromLastError() {
  errno = ErrnoFromWindows(GetLastError());
}

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

int64_t NsFromFileTime(const FILETIME& time) {
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - kFileTimeTo1970) * 100;
}

NativeFileInfo FromAttributes(DWORD attributes, uint64_t size, const FILETIME& written) {
  NativeFileInfo info;
  info.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NativeKind::kLink
              : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? NativeKind::kFolder
                                                          : NativeKind::kRegular;
  info.size = info.kind == NativeKind::kRegular ? size : 0;
  info.modified_ns = NsFromFileTime(written);
  info.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.mode = info.read_only ? 0444 : 0666;
  info.hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  info.system = (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
  return info;
}

std::optional<NativeFileInfo> FromHandle(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    NativeFileInfo info;
    info.kind = NativeKind::kOther;
    return info;
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(handle, &data)) {
    SetErrnoFromLastError();
    return std::nullopt;
  }
  NativeFileInfo info = FromAttributes(
      data.dwFileAttributes, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
      data.ftLastWriteTime);
  info.links = data.nNumberOfLinks;
  info.device = data.dwVolumeSerialNumber;
  info.file = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  return info;
}

// Opens any entry, a folder too, only to look at it.
HANDLE OpenForAttributes(const fs::path& path, bool follow_links) {
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

// The lock of TryLockNative lies on this byte: past the end of any file a
// table or an archive could be, and within what every file system accepts.
constexpr uint64_t kLockOffset = 0x7FFFFFFF00000000ULL;

}  // namespace

fs::path PathFromUtf8(std::string_view utf8) {
  return fs::path(WideFromUtf8(utf8));
}

std::string Utf8FromPath(const fs::path& path) {
  return Utf8FromWide(path.native());
}

int OpenNative(const fs::path& path, int flags, unsigned mode) {
  const int access = flags & (O_RDONLY | O_WRONLY | O_RDWR);
  // Appending: the right to add at the end only, with which the system puts
  // every write at the end of the file in one step.
  const DWORD desired = access == O_WRONLY && (flags & O_APPEND)
                            ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE
                        : access == O_RDWR   ? GENERIC_READ | GENERIC_WRITE
                        : access == O_WRONLY ? GENERIC_WRITE
                                             : GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (flags & O_CREAT) disposition = (flags & O_EXCL) ? CREATE_NEW : OPEN_ALWAYS;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if ((flags & O_CREAT) && (mode & 0222) == 0) attributes = FILE_ATTRIBUTE_READONLY;
  if (flags & kOpenNoFollow) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  const HANDLE handle =
      CreateFileW(path.c_str(), desired, kShareAll, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder cannot be opened as a file; say so as open(2) would.
    const DWORD found = GetFileAttributesW(path.c_str());
    if (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
        (found & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
    } else {
      errno = ErrnoFromWindows(error);
    }
    return -1;
  }
  if (flags & kOpenNoFollow) {
    BY_HANDLE_FILE_INFORMATION data;
    if (GetFileInformationByHandle(handle, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      CloseHandle(handle);
      errno = ELOOP;
      return -1;
    }
  }
  if ((flags & O_TRUNC) && (desired & (GENERIC_WRITE | FILE_APPEND_DATA))) {
    FILE_END_OF_FILE_INFO end{};
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
      SetErrnoFromLastError();
      CloseHandle(handle);
      return -1;
    }
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 _O_BINARY | (access == O_RDONLY ? _O_RDONLY : 0));
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

int OpenInFolderNative(int, const fs::path& folder, std::string_view name, int flags,
                       unsigned mode) {
  return OpenNative(folder / PathFromUtf8(name), flags, mode);
}

std::optional<fs::path> MakePrivateFolder(const fs::path& parent, std::string_view prefix) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (int i = 0; i < 6; ++i) name.push_back(kLetters[pick(random)]);
    const fs::path folder = parent / PathFromUtf8(name);
    // The folder takes the permissions of its parent; below %TEMP%, which
    // lies in the user's profile, only the user and the system reach it.
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      SetErrnoFromLastError();
      return std::nullopt;
    }
  }
  errno = EEXIST;
  return std::nullopt;
}

int OpenFolderNative(const fs::path& folder) {
  // The rights to list and to add entries, sharing only listing: that is
  // the hold.  Listings (shared for writing) still open the folder, while a
  // deletion and a second such open (which asks to add entries) fail.
  // Rights to attributes alone would take part in no sharing check.
  const HANDLE handle = CreateFileW(
      folder.c_str(), FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_SHARING_VIOLATION ? EBUSY : ErrnoFromWindows(error);
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(handle, &data) ||
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(handle);
    errno = link ? ELOOP : ENOTDIR;
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

LockOutcome TryLockFolder(int) {
  return LockOutcome::kLocked;
}

void RemoveHeldFolder(const fs::path& folder, int fd) {
  if (fd >= 0) _close(fd);
  std::error_code ec;
  if (!folder.empty()) fs::remove_all(folder, ec);
}

bool CloseNative(int fd) {
  return _close(fd) == 0;
}

int64_t ReadNative(int fd, void* data, size_t size) {
  return _read(fd, data, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

int64_t WriteNative(int fd, const void* data, size_t size) {
  return _write(fd, data, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

int64_t ReadNativeAt(int fd, void* data, size_t size, uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(HandleOf(fd), data, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &got,
                &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    SetErrnoFromLastError();
    return -1;
  }
  return got;
}

int64_t WriteNativeAt(int fd, const void* data, size_t size, uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD put = 0;
  if (!WriteFile(HandleOf(fd), data, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &put,
                 &at)) {
    SetErrnoFromLastError();
    return -1;
  }
  return put;
}

bool TruncateNative(int fd, uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof end)) return true;
  SetErrnoFromLastError();
  return false;
}

bool SyncNative(int fd) {
  if (FlushFileBuffers(HandleOf(fd))) return true;
  SetErrnoFromLastError();
  return false;
}

void SyncFolder(const fs::path&) {}

LockOutcome TryLockNative(int fd, bool exclusive) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kLockOffset);
  at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(HandleOf(fd), flags, 0, 1, 0, &at)) return LockOutcome::kLocked;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return LockOutcome::kBusy;
  errno = ErrnoFromWindows(error);
  return LockOutcome::kFailed;
}

std::optional<NativeFileInfo> StatNative(const fs::path& path, bool follow_links) {
  const HANDLE handle = OpenForAttributes(path, follow_links);
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return std::nullopt;
  }
  std::optional<NativeFileInfo> info = FromHandle(handle);
  CloseHandle(handle);
  return info;
}

std::optional<NativeFileInfo> StatNative(int fd) {
  return FromHandle(HandleOf(fd));
}

std::optional<std::vector<NativeEntry>> ListNative(
    const fs::path& folder, bool, const std::function<bool(std::string_view)>& keep) {
  const fs::path pattern = (folder.empty() ? fs::path(L".") : folder) / L"*";
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::vector<NativeEntry>{};
    errno = ErrnoFromWindows(error);
    return std::nullopt;
  }
  std::vector<NativeEntry> entries;
  do {
    const std::wstring_view wide = data.cFileName;
    if (wide == L"." || wide == L"..") continue;
    NativeEntry entry;
    entry.name = Utf8FromWide(wide);
    if (keep && !keep(entry.name)) continue;
    entry.info =
        FromAttributes(data.dwFileAttributes,
                       (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                       data.ftLastWriteTime);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link reports what it points to, keeping its own attributes.
      if (const auto target = StatNative(folder / wide, true)) {
        const bool hidden = entry.info.hidden, system = entry.info.system;
        entry.info = *target;
        entry.info.hidden = hidden;
        entry.info.system = system;
      } else {
        entry.broken_link = true;
      }
    }
    entries.push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return entries;
}

std::optional<std::string> NameOnDisk(const fs::path& folder, std::string_view name) {
  // Wildcards would make the lookup a search; no name on disk holds them.
  if (name.empty() || name.find_first_of("*?") != std::string_view::npos) return std::nullopt;
  const fs::path path = (folder.empty() ? fs::path(L".") : folder) / PathFromUtf8(name);
  WIN32_FIND_DATAW data;
  const HANDLE find =
      FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  FindClose(find);
  return Utf8FromWide(data.cFileName);
}

bool RemoveNative(const fs::path& path) {
  if (DeleteFileW(path.c_str())) return true;
  SetErrnoFromLastError();
  return false;
}

bool RenameNative(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  SetErrnoFromLastError();
  return false;
}

bool MayWrite(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // The read-only attribute of a folder does not keep its files from
  // being written.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY);
}

void CopyOwnerAndMode(int, const NativeFileInfo&) {}

std::optional<uint64_t> FreeBytes(const fs::path& folder) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

int CurrentProcessId() {
  return static_cast<int>(GetCurrentProcessId());
}

unsigned CurrentUserId() {
  return 0;
}

std::string CurrentLoginName() {
  wchar_t name[257];
  DWORD size = sizeof name / sizeof name[0];
  if (!GetUserNameW(name, &size) || size < 2) return {};
  return Utf8FromWide(std::wstring_view(name, size - 1));  // size counts the final null
}

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

fs::path UserConfigFolder() {
  if (const wchar_t* app_data = _wgetenv(L"APPDATA"); app_data && *app_data)
    return fs::path(app_data) / L"Dalimor";
  return fs::temp_directory_path() / L"Dalimor";
}

fs::path UserDataFolder() {
  if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
    return fs::path(local) / L"Dalimor";
  return fs::temp_directory_path() / L"Dalimor";
}

}  // namespace dalimor

#endif  // _WIN32
