#include "engine/undo_log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/engine_error.h"
#include "engine/fault_injection.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[4] = {'D', 'U', 'N', 'R'};
constexpr size_t kRecordHead = 4 + 8 + 4 + 8;
// Saved ranges are whole pages of the file, so that neighbouring small
// writes (a header, then the block after it) share one record.
constexpr uint64_t kGrain = 4096;
// A long range is saved in records of at most this many bytes.
constexpr size_t kMaxRecord = size_t{1} << 20;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  std::string message = what + " " + path;
  if (error != 0) message += ": " + std::string(std::strerror(error));
  throw EngineError(EngineErrorKind::kIo, message);
}

void PutU64(char* at, uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<char>(v >> (8 * i));
}
void PutU32(char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(v >> (8 * i));
}
uint64_t GetU64(const char* at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(at[i]);
  return v;
}
uint32_t GetU32(const char* at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(at[i]);
  return v;
}

// A checksum that takes eight bytes a step (a log saves megabytes): each
// word is mixed in by a multiplication and a shift, the tail byte by byte.
uint64_t Mix(uint64_t hash, const char* data, size_t size) {
  constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    hash = (hash ^ word) * kPrime;
    hash ^= hash >> 29;
  }
  for (; i < size; ++i) {
    hash = (hash ^ static_cast<unsigned char>(data[i])) * kPrime;
    hash ^= hash >> 29;
  }
  return hash;
}

// The checksum of a record: its offset and length, then its bytes.
uint64_t RecordSum(const char* head, const char* data, size_t length) {
  return Mix(Mix(1469598103934665603ull, head + 4, 12), data, length);
}

bool WriteAll(int fd, const char* data, size_t size, uint64_t offset) {
  for (size_t done = 0; done < size;) {
    const int64_t put = WriteNativeAt(fd, data + done, size - done, offset + done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

size_t ReadAll(int fd, char* data, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    const int64_t got = ReadNativeAt(fd, data + done, size - done, offset + done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return SIZE_MAX;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

struct Register {
  std::mutex mutex;
  std::map<std::pair<uint64_t, uint64_t>, UndoLog*> logs;
  std::atomic<uint64_t> generation{0};
};

Register& Logs() {
  static Register* r = new Register;  // lives as long as the process
  return *r;
}

}  // namespace

UndoLog::UndoLog(fs::path log, uint64_t original_size)
    : log_(std::move(log)), original_size_(original_size) {
  JournalStep();
  PlainFile file = OpenPlainFile(log_, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (file.status() != PlainFileStatus::kOpened)
    Fail("Cannot create run journal", Utf8FromPath(log_),
         file.status() == PlainFileStatus::kFailed ? file.error() : ELOOP);
  fd_ = file.Release();
}

UndoLog::~UndoLog() {
  if (fd_ >= 0) CloseNative(fd_);
}

void UndoLog::SaveBefore(int fd, const std::string& path, const std::vector<ByteRange>& ranges) {
  // The parts of the ranges, in whole pages within the original length,
  // not saved yet.
  std::map<uint64_t, uint64_t> wanted;
  for (const ByteRange& r : ranges) {
    if (r.length == 0 || r.offset >= original_size_) continue;
    const uint64_t begin = r.offset / kGrain * kGrain;
    const uint64_t end = std::min(
        original_size_, (r.offset + std::min(r.length, original_size_) + kGrain - 1) / kGrain * kGrain);
    uint64_t& stop = wanted[begin];
    stop = std::max(stop, end);
  }
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
  uint64_t reached = 0;
  for (const auto& [first, end] : wanted) {
    uint64_t begin = std::max(first, reached);
    if (begin >= end) continue;
    reached = end;
    auto it = saved_.upper_bound(begin);
    if (it != saved_.begin() && std::prev(it)->second > begin) begin = std::prev(it)->second;
    for (uint64_t at = begin; at < end;) {
      if (it != saved_.end() && it->first <= at) {
        at = std::max(at, it->second);
        ++it;
        continue;
      }
      const uint64_t stop = it != saved_.end() ? std::min(end, it->first) : end;
      if (stop > at) {
        if (!gaps.empty() && gaps.back().second == at)
          gaps.back().second = stop;
        else
          gaps.emplace_back(at, stop);
      }
      at = stop;
    }
  }
  if (gaps.empty()) return;
  if (broken_) Fail("Cannot write run journal", Utf8FromPath(log_), EIO);
  std::vector<char> bytes;
  for (const auto& [from, to] : gaps) {
    for (uint64_t at = from; at < to;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(to - at, kMaxRecord));
      bytes.resize(n);
      const size_t got = ReadAll(fd, bytes.data(), n, at);
      if (got == SIZE_MAX) Fail("Cannot read file", path, errno);
      // A file the run cut shorter earlier has nothing more to save; what it
      // had there was saved before the cut.
      if (got > 0) Append(at, bytes.data(), got);
      at += n;
    }
  }
  JournalStep();
  if (!SyncNative(fd_)) {
    broken_ = true;
    Fail("Cannot write run journal", Utf8FromPath(log_), errno);
  }
  for (const auto& [from, to] : gaps) {
    uint64_t a = from, b = to;
    auto next = saved_.lower_bound(a);
    if (next != saved_.begin() && std::prev(next)->second >= a) {
      --next;
      a = next->first;
    }
    while (next != saved_.end() && next->first <= b) {
      b = std::max(b, next->second);
      next = saved_.erase(next);
    }
    saved_[a] = b;
    saved_bytes_ += to - from;
  }
}

void UndoLog::Append(uint64_t offset, const char* data, size_t length) {
  std::vector<char> record(kRecordHead + length);
  std::memcpy(record.data(), kMagic, 4);
  PutU64(record.data() + 4, offset);
  PutU32(record.data() + 12, static_cast<uint32_t>(length));
  PutU64(record.data() + 16, RecordSum(record.data(), data, length));
  std::memcpy(record.data() + kRecordHead, data, length);
  JournalStep();
  // Tests can make the write fail half-way (engine/fault_injection.h).
  const size_t allowed = AllowedWriteBytes(record.size());
  const bool ok = allowed == record.size() && WriteAll(fd_, record.data(), record.size(), end_);
  if (!ok) {
    const int error = allowed < record.size() ? EIO : errno;
    if (allowed < record.size() && allowed > 0) (void)WriteAll(fd_, record.data(), allowed, end_);
    broken_ = true;
    Fail("Cannot write run journal", Utf8FromPath(log_), error);
  }
  end_ += record.size();
}

void RegisterUndoLog(uint64_t device, uint64_t file, UndoLog* log) {
  Register& r = Logs();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.logs[{device, file}] = log;
  r.generation.fetch_add(1);
}

void DropUndoLog(uint64_t device, uint64_t file) {
  Register& r = Logs();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.logs.erase({device, file});
  r.generation.fetch_add(1);
}

bool HasUndoLog(uint64_t device, uint64_t file) { return FindUndoLog(device, file) != nullptr; }

UndoLog* FindUndoLog(uint64_t device, uint64_t file) {
  Register& r = Logs();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.logs.find({device, file});
  return it == r.logs.end() ? nullptr : it->second;
}

uint64_t UndoGeneration() { return Logs().generation.load(); }

void SaveBeforeRemoval(const fs::path& path) {
  {
    Register& r = Logs();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.logs.empty()) return;
  }
  PlainFile file = OpenPlainFile(path, O_RDONLY);
  if (file.status() != PlainFileStatus::kOpened) return;
  const std::optional<NativeFileInfo> info = StatNative(file.fd());
  if (!info) return;
  if (UndoLog* log = FindUndoLog(info->device, info->file))
    log->SaveBefore(file.fd(), Utf8FromPath(path), {{0, UINT64_MAX}});
}

void ApplyUndoLog(const fs::path& log, int target_fd, const fs::path& target,
                  uint64_t original_size, bool whole) {
  PlainFile in = OpenPlainFile(log, O_RDONLY);
  if (in.status() != PlainFileStatus::kOpened)
    Fail("Cannot read run journal", Utf8FromPath(log),
         in.status() == PlainFileStatus::kFailed ? in.error() : ELOOP);
  const std::optional<NativeFileInfo> info = StatNative(in.fd());
  if (!info) Fail("Cannot read run journal", Utf8FromPath(log), errno);
  // The whole records, in order: where each lies in the log and what it covers.
  struct Record {
    uint64_t at, offset;
    uint32_t length;
  };
  std::vector<Record> records;
  std::vector<char> head(kRecordHead), bytes;
  for (uint64_t at = 0; at + kRecordHead <= info->size;) {
    if (ReadAll(in.fd(), head.data(), kRecordHead, at) != kRecordHead) break;
    if (std::memcmp(head.data(), kMagic, 4) != 0) break;
    const uint64_t offset = GetU64(head.data() + 4);
    const uint32_t length = GetU32(head.data() + 12);
    if (length > kMaxRecord || at + kRecordHead + length > info->size) break;
    bytes.resize(length);
    if (ReadAll(in.fd(), bytes.data(), length, at + kRecordHead) != length) break;
    if (GetU64(head.data() + 16) != RecordSum(head.data(), bytes.data(), length)) break;
    if (offset > original_size || length > original_size - offset)
      throw EngineError(EngineErrorKind::kCorrupt,
                        "Deník běhu je poškozený: " + Utf8FromPath(log));
    records.push_back({at + kRecordHead, offset, length});
    at += kRecordHead + length;
  }
  if (whole) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const Record& r : records) ranges.emplace_back(r.offset, r.offset + r.length);
    std::sort(ranges.begin(), ranges.end());
    uint64_t covered = 0;
    for (const auto& [from, to] : ranges)
      if (from <= covered) covered = std::max(covered, to);
    if (covered < original_size)
      throw EngineError(EngineErrorKind::kIo,
                        "Cannot restore table file " + Utf8FromPath(target) +
                            ": the file is gone and the run journal does not hold all of it");
  }
  for (const Record& r : records) {
    bytes.resize(r.length);
    if (ReadAll(in.fd(), bytes.data(), r.length, r.at) != r.length)
      Fail("Cannot read run journal", Utf8FromPath(log), errno);
    JournalStep();
    if (!WriteAll(target_fd, bytes.data(), r.length, r.offset))
      Fail("Cannot restore table file", Utf8FromPath(target), errno);
  }
  JournalStep();
  if (!TruncateNative(target_fd, original_size))
    Fail("Cannot restore table file", Utf8FromPath(target), errno);
  JournalStep();
  if (!SyncNative(target_fd)) Fail("Cannot restore table file", Utf8FromPath(target), errno);
}

}  // namespace dalimor
