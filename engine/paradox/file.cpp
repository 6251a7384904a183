#include "engine/paradox/file.h"

#include "engine/fault_injection.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/engine_error.h"
#include "engine/paradox/byte_order.h"
#include "engine/paradox/errors.h"
#include "engine/paradox/header.h"
#include "engine/undo_log.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "util/ascii.h"

namespace dalimor {
namespace {

[[noreturn]] void ThrowIo(std::string_view what, const std::string& path, int error) {
  throw EngineError(EngineErrorKind::kIo,
                    EngineMessage(what, path, std::string("System error: ") + std::strerror(error)));
}

// A table lies where other people may write (a transfer folder is shared),
// so its files are never opened through a link, which could lead a write to
// any file of the user's, nor as a pipe or a device, which could block the
// program or feed it endless bytes.  Tables of a real installation are
// plain files.
[[noreturn]] void ThrowNotPlain(std::string_view what, const std::string& path) {
  throw EngineError(EngineErrorKind::kIo,
                    EngineMessage(what, path, "The file is a symbolic link or not a regular file."));
}

}  // namespace

ParadoxFile::ParadoxFile(ParadoxFile&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      device_(other.device_),
      file_id_(other.file_id_),
      writable_(other.writable_),
      undo_generation_(other.undo_generation_),
      undo_(other.undo_) {
  other.fd_ = -1;
  other.writable_ = false;
}

ParadoxFile& ParadoxFile::operator=(ParadoxFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    device_ = other.device_;
    file_id_ = other.file_id_;
    writable_ = other.writable_;
    undo_generation_ = other.undo_generation_;
    undo_ = other.undo_;
    other.fd_ = -1;
    other.writable_ = false;
  }
  return *this;
}

ParadoxFile::~ParadoxFile() { Close(); }

void ParadoxFile::Close() {
  if (fd_ >= 0) CloseNative(fd_);
  fd_ = -1;
  writable_ = false;
  undo_ = nullptr;
}

void ParadoxFile::Identify() {
  const std::optional<NativeFileInfo> info = StatNative(fd_);
  if (!info) ThrowIo("Cannot open file.", path_, errno);
  device_ = info->device;
  file_id_ = info->file;
  // The log is looked up at the first write (see Undo).
  undo_generation_ = UINT64_MAX;
  undo_ = nullptr;
}

UndoLog* ParadoxFile::Undo() {
  if (!writable_) return nullptr;
  const uint64_t generation = UndoGeneration();
  if (generation != undo_generation_) {
    undo_generation_ = generation;
    undo_ = FindUndoLog(device_, file_id_);
  }
  return undo_;
}

ParadoxFile ParadoxFile::Open(const std::string& path, bool writable) {
  ParadoxFile f;
  f.path_ = path;
  PlainFile opened = OpenPlainFile(PathFromUtf8(path), writable ? O_RDWR : O_RDONLY);
  switch (opened.status()) {
    case PlainFileStatus::kOpened:
      break;
    case PlainFileStatus::kMissing:
      throw EngineError(EngineErrorKind::kFileNotFound, EngineMessage("File does not exist.", path));
    case PlainFileStatus::kNotPlain:
      ThrowNotPlain("Cannot open file.", path);
    case PlainFileStatus::kFailed:
      ThrowIo("Cannot open file.", path, opened.error());
  }
  f.fd_ = opened.Release();
  f.writable_ = writable;
  f.Identify();
  return f;
}

ParadoxFile ParadoxFile::Create(const std::string& path) {
  ParadoxFile f;
  f.path_ = path;
  // Emptied through Truncate rather than O_TRUNC, so that a file a run
  // protects has its bytes saved first.
  PlainFile opened = OpenPlainFile(PathFromUtf8(path), O_RDWR | O_CREAT);
  switch (opened.status()) {
    case PlainFileStatus::kOpened:
      break;
    case PlainFileStatus::kMissing:
      ThrowIo("Cannot create file.", path, ENOENT);
    case PlainFileStatus::kNotPlain:
      ThrowNotPlain("Cannot create file.", path);
    case PlainFileStatus::kFailed:
      ThrowIo("Cannot create file.", path, opened.error());
  }
  f.fd_ = opened.Release();
  f.writable_ = true;
  f.Identify();
  if (f.Size() > 0) f.Truncate(0);
  return f;
}

uint64_t ParadoxFile::Size() const {
  const std::optional<NativeFileInfo> info = StatNative(fd_);
  if (!info) ThrowIo("Cannot read file.", path_, errno);
  return info->size;
}

std::string ParadoxFile::ReadAt(uint64_t offset, size_t length) const {
  std::string out(length, '\0');
  out.resize(ReadInto(offset, out.data(), length));
  return out;
}

size_t ParadoxFile::ReadInto(uint64_t offset, char* out, size_t length) const {
  size_t done = 0;
  while (done < length) {
    const int64_t n = ReadNativeAt(fd_, out + done, length - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Cannot read file.", path_, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

std::string ParadoxFile::ReadAll() const { return ReadAt(0, static_cast<size_t>(Size())); }

void ParadoxFile::WriteAt(uint64_t offset, std::string_view bytes) {
  if (UndoLog* undo = Undo()) undo->SaveBefore(*this, {{offset, bytes.size()}});
  // Tests can make a write fail half-way (engine/fault_injection.h).
  const size_t allowed = AllowedWriteBytes(bytes.size());
  if (allowed < bytes.size()) {
    if (allowed > 0) (void)WriteNativeAt(fd_, bytes.data(), allowed, offset);
    ThrowIo("Cannot write file.", path_, EIO);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const int64_t n = WriteNativeAt(fd_, bytes.data() + done, bytes.size() - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIo("Cannot write file.", path_, errno);
    }
    done += static_cast<size_t>(n);
  }
}

void ParadoxFile::Truncate(uint64_t size) {
  if (UndoLog* undo = Undo()) undo->SaveBefore(*this, {{size, UINT64_MAX - size}});
  if (!TruncateNative(fd_, size)) ThrowIo("Cannot write file.", path_, errno);
}

void ParadoxFile::SaveBeforeWrites(const std::vector<ByteRange>& ranges) {
  if (UndoLog* undo = Undo()) undo->SaveBefore(*this, ranges);
}

void ParadoxFile::SaveBeforeRemoval() {
  if (UndoLog* undo = FindUndoLog(device_, file_id_)) undo->SaveBefore(*this, {{0, UINT64_MAX}});
}

void ParadoxFile::Sync() {
  if (!SyncNative(fd_)) ThrowIo("Cannot write file.", path_, errno);
}

bool ParadoxFile::TryLock(bool exclusive) {
  switch (TryLockNative(fd_, exclusive)) {
    case LockOutcome::kLocked:
      return true;
    case LockOutcome::kBusy:
      return false;
    case LockOutcome::kFailed:
      break;
  }
  ThrowIo("Cannot lock file.", path_, errno);
}

std::string SiblingFileName(const std::string& table_file, std::string_view extension) {
  const std::filesystem::path db = PathFromUtf8(table_file);
  const std::string db_ext = Utf8FromPath(db.extension());
  const bool lower = db_ext.size() > 1 && db_ext[1] >= 'a' && db_ext[1] <= 'z';
  std::string ext(extension);
  if (lower)
    for (char& c : ext) c = AsciiLower(c);
  return Utf8FromPath(db.stem()) + ext;
}

std::string ReadHeaderBytes(const ParadoxFile& file) {
  const std::string start = file.ReadAt(0, kHeaderFixedSize);
  const size_t size = start.size() >= 4 ? GetU16(start.data() + 2) : 0;
  return size > start.size() ? file.ReadAt(0, size) : start;
}

std::string FindFileNoCase(const std::string& directory, std::string_view name) {
  namespace fs = std::filesystem;
  const fs::path dir = directory.empty() ? fs::path(".") : PathFromUtf8(directory);
  if (const std::optional<std::string> exact = NameOnDisk(dir, name))
    return Utf8FromPath(dir / PathFromUtf8(*exact));
  std::error_code ec;
  std::string found;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = Utf8FromPath(it->path().filename());
    if (EqualsIgnoringAsciiCase(entry, name)) {
      found = Utf8FromPath(it->path());
      break;
    }
  }
  return found;
}

}  // namespace dalimor
