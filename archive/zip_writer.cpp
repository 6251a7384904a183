#include "archive/zip_writer.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Raw deflate (no zlib header or trailer): negative window bits.
constexpr int kWindowBits = -15;
constexpr int kMemoryLevel = 8;
// The central directory is written in pieces of about this size.
constexpr size_t kCentralChunk = 64 * 1024;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsNoRoom(int error) {
#ifdef EDQUOT
  if (error == EDQUOT) return true;
#endif
  return error == ENOSPC;
}

[[noreturn]] void ThrowWriteError(int error, const std::filesystem::path& path) {
  if (IsNoRoom(error)) throw ArchiveError(std::string(kArchiveDiskFullText));
  throw ArchiveError("Cannot write archive " + Quoted(Utf8FromPath(path)) + ": " +
                     std::strerror(error));
}

std::string TooLargeText(const std::string& what) {
  return what + " 4 GiB or more; a zip archive without Zip64 extensions cannot hold it";
}

// At most this many bytes of the archive's name go into a temporary name,
// so that a long name cannot make the temporary one too long for the file
// system.
constexpr size_t kTemporaryStemLength = 100;
constexpr std::string_view kTemporarySuffix = ".tmp";

// ".<archive name>." with the name cut at a character boundary.
std::string TemporaryPrefix(const fs::path& path) {
  std::string name = Utf8FromPath(path.filename());
  if (name.size() > kTemporaryStemLength) {
    size_t cut = kTemporaryStemLength;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "." + name + ".";
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// True when `name` is "<prefix><process>.<n>.tmp", the prefix compared
// without regard to case: the folder may have been named in another case
// by the send that left the file.
bool IsTemporaryName(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() + kTemporarySuffix.size()) return false;
  if (!SameNameIgnoringCase(name.substr(0, prefix.size()), prefix)) return false;
  if (name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) return false;
  const std::string_view middle =
      name.substr(prefix.size(), name.size() - prefix.size() - kTemporarySuffix.size());
  const size_t dot = middle.find('.');
  return dot != std::string_view::npos && AllDigits(middle.substr(0, dot)) &&
         AllDigits(middle.substr(dot + 1));
}

}  // namespace

void RemoveUnfinishedArchives(const fs::path& path) {
  const fs::path folder = path.parent_path();
  const std::string prefix = TemporaryPrefix(path);
  for (const FolderEntry& entry : ListFolder(folder.empty() ? fs::path(".") : folder, "*")) {
    if (entry.is_folder || !IsTemporaryName(entry.name, prefix)) continue;
    const fs::path leftover = folder / PathFromUtf8(entry.name);
    const int fd = OpenNative(leftover, O_RDONLY | kOpenNoFollow | kOpenNonBlock);
    if (fd < 0) continue;
    // The lock is free once its writer has died; the name must still be
    // the file that was locked.
    const std::optional<NativeFileInfo> opened = StatNative(fd);
    if (opened && opened->kind == NativeKind::kRegular &&
        TryLockNative(fd, true) == LockOutcome::kLocked) {
      const std::optional<NativeFileInfo> named = StatNative(leftover, false);
      if (named && named->device == opened->device && named->file == opened->file)
        RemoveNative(leftover);
    }
    CloseNative(fd);
  }
}

ZipWriter::ZipWriter(const std::filesystem::path& path, ArchiveWriteFunction write,
                     ArchiveReadFunction read)
    : path_(path), write_(std::move(write)), read_(std::move(read)),
      input_(kArchiveBufferSize), output_(kArchiveBufferSize) {
  if (!write_) write_ = WriteNativeAt;
  if (!read_) read_ = ReadNative;
  if (deflateInit2(&stream_, kArchiveCompressionLevel, Z_DEFLATED, kWindowBits, kMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw ArchiveError("Cannot start the compression: out of memory");
  }
  stream_ready_ = true;
  // A new name for every writer, so that two sends into one folder never
  // write one file; a name taken by a file of another writer is skipped.
  static std::atomic<unsigned> counter{0};
  const std::string prefix = TemporaryPrefix(path_);
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && fd_ < 0 && error == EEXIST; ++attempt) {
    temporary_ = path_.parent_path() /
                 PathFromUtf8(prefix + std::to_string(CurrentProcessId()) + "." +
                              std::to_string(counter++) + std::string(kTemporarySuffix));
    fd_ = OpenNative(temporary_, O_WRONLY | O_CREAT | O_EXCL, 0666);
    error = errno;
  }
  if (fd_ < 0) {
    deflateEnd(&stream_);
    stream_ready_ = false;
    if (IsNoRoom(error)) throw ArchiveError(std::string(kArchiveDiskFullText));
    throw ArchiveError("Cannot create archive " + Quoted(Utf8FromPath(path_)) + ": " +
                       std::strerror(error));
  }
  // The lock tells RemoveUnfinishedArchives of another send that the file
  // is in use.  A file system without locks gets the file without one.
  (void)TryLockNative(fd_, true);
  if (const std::optional<NativeFileInfo> info = StatNative(fd_)) {
    device_ = info->device;
    inode_ = info->file;
  }
}

ZipWriter::~ZipWriter() {
  if (stream_ready_) deflateEnd(&stream_);
  if (fd_ >= 0) CloseNative(fd_);
  if (!finished_) RemoveNative(renamed_ ? path_ : temporary_);
}

void ZipWriter::CheckArchiveSize(uint64_t more) const {
  if (end_ + more > kZipMaxPlainValue) throw ArchiveError(TooLargeText("The archive would reach"));
}

void ZipWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const int64_t written = write_(fd_, bytes, size, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowWriteError(errno, path_);
    }
    // A write that makes no progress is a full disk that did not say so.
    if (written == 0) ThrowWriteError(ENOSPC, path_);
    bytes += written;
    offset += static_cast<uint64_t>(written);
    size -= static_cast<size_t>(written);
  }
}

void ZipWriter::Append(const void* data, size_t size) {
  CheckArchiveSize(size);
  WriteAt(end_, data, size);
  end_ += size;
}

void ZipWriter::Compress(int fd, const std::string& source, const std::function<void()>& progress,
                         uint32_t& crc, uint64_t& read_total, uint64_t& written_total) {
  if (deflateReset(&stream_) != Z_OK) throw ArchiveError("Cannot restart the compression");
  crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
  read_total = 0;
  written_total = 0;
  size_t used = 0;  // bytes waiting in output_
  for (;;) {
    int64_t got;
    do {
      got = read_(fd, input_.data(), input_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      throw ArchiveError("Cannot read file " + Quoted(source) + ": " + std::strerror(errno));
    }
    read_total += static_cast<uint64_t>(got);
    if (read_total > kZipMaxPlainValue) throw ArchiveError(TooLargeText("File " + Quoted(source) + " has grown to"));
    const uInt piece = static_cast<uInt>(got);
    crc = static_cast<uint32_t>(crc32(crc, input_.data(), piece));
    stream_.next_in = input_.data();
    stream_.avail_in = piece;
    const int flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
      stream_.next_out = output_.data() + used;
      stream_.avail_out = static_cast<uInt>(output_.size() - used);
      const int result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) throw ArchiveError("Compression failed for " + Quoted(source));
      used = output_.size() - stream_.avail_out;
      if (used == output_.size()) {
        // The buffer is full: write it out, there may be more to come.
        Append(output_.data(), used);
        written_total += used;
        used = 0;
        continue;
      }
      // Room left means the input is used up; at the end it also means
      // the stream is complete.
      if (flush == Z_FINISH && result != Z_STREAM_END)
        throw ArchiveError("Compression failed for " + Quoted(source));
      break;
    }
    if (progress) progress();
    if (flush == Z_FINISH) break;
  }
  if (used > 0) {
    Append(output_.data(), used);
    written_total += used;
  }
  if (written_total > kZipMaxPlainValue)
    throw ArchiveError(TooLargeText("The compressed data of " + Quoted(source) + " reach"));
}

void ZipWriter::AddEntry(const ZipEntryInfo& info, int fd, const std::string& source,
                         const std::function<void()>& progress) {
  if (central_.size() >= kZipMaxPlainEntries) {
    throw ArchiveError("More than " + std::to_string(kZipMaxPlainEntries) +
                       " files; a zip archive without Zip64 extensions cannot hold them");
  }
  ZipLocalHeader local;
  local.fields.flags = info.flags;
  local.fields.dos_time = info.dos_time;
  local.fields.dos_date = info.dos_date;
  local.fields.name = info.name;
  const uint64_t offset = end_;
  const std::string provisional = EncodeZipLocalHeader(local);
  Append(provisional.data(), provisional.size());

  uint32_t crc = 0;
  uint64_t read_total = 0;
  uint64_t written_total = 0;
  Compress(fd, source, progress, crc, read_total, written_total);

  local.fields.crc32 = crc;
  local.fields.compressed_size = static_cast<uint32_t>(written_total);
  local.fields.uncompressed_size = static_cast<uint32_t>(read_total);
  const std::string final_header = EncodeZipLocalHeader(local);
  WriteAt(offset, final_header.data(), final_header.size());

  ZipCentralHeader central;
  central.fields = std::move(local.fields);
  central.external_attributes = info.external_attributes;
  central.local_header_offset = static_cast<uint32_t>(offset);
  central_.push_back(std::move(central));
}

void ZipWriter::Finish() {
  const uint64_t directory_offset = end_;
  std::string chunk;
  for (const ZipCentralHeader& header : central_) {
    chunk += EncodeZipCentralHeader(header);
    if (chunk.size() >= kCentralChunk) {
      Append(chunk.data(), chunk.size());
      chunk.clear();
    }
  }
  ZipEndRecord record;
  record.entries_on_disk = static_cast<uint16_t>(central_.size());
  record.total_entries = record.entries_on_disk;
  record.central_directory_size = static_cast<uint32_t>(end_ + chunk.size() - directory_offset);
  record.central_directory_offset = static_cast<uint32_t>(directory_offset);
  chunk += EncodeZipEndRecord(record);
  Append(chunk.data(), chunk.size());

  // Some file systems (network shares) report a full disk only when the
  // data are flushed or the file is closed.  The file is renamed while it
  // is still open and locked, so that no other send takes it for a leftover.
  bool synced;
  do {
    synced = SyncNative(fd_);
  } while (!synced && errno == EINTR);
  if (!synced) ThrowWriteError(errno, path_);
  if (!RenameNative(temporary_, path_)) ThrowWriteError(errno, path_);
  renamed_ = true;
  const bool closed = CloseNative(fd_);
  fd_ = -1;
  if (!closed && errno != EINTR) ThrowWriteError(errno, path_);
  finished_ = true;
  SyncFolder(path_.parent_path());
}

}  // namespace dalimor
