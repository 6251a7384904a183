#include "engine/undo_log.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/engine_error.h"
#include "engine/fault_injection.h"
#include "engine/paradox/byte_order.h"
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

UndoLog::UndoLog(fs::path log, uint64_t original_size) : original_size_(original_size) {
  JournalStep();
  log_ = ParadoxFile::Create(Utf8FromPath(log));
}

void UndoLog::SaveBefore(const ParadoxFile& file, const std::vector<ByteRange>& ranges) {
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
  if (broken_)
    throw EngineError(EngineErrorKind::kIo, "Cannot write run journal " + log_.path());
  std::vector<char> bytes;
  for (const auto& [from, to] : gaps) {
    for (uint64_t at = from; at < to;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(to - at, kMaxRecord));
      bytes.resize(n);
      const size_t got = file.ReadInto(at, bytes.data(), n);
      // A file the run cut shorter earlier has nothing more to save; what it
      // had there was saved before the cut.
      if (got > 0) Append(at, bytes.data(), got);
      at += n;
    }
  }
  JournalStep();
  try {
    log_.Sync();
  } catch (...) {
    broken_ = true;
    throw;
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
  try {
    log_.WriteAt(end_, std::string_view(record.data(), record.size()));
  } catch (...) {
    // What went out of the record ends the log; no record may follow it.
    broken_ = true;
    throw;
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
  ParadoxFile file;
  try {
    file = ParadoxFile::Open(Utf8FromPath(path), false);
  } catch (const EngineError&) {
    return;  // nothing there (or no plain file) to save
  }
  file.SaveBeforeRemoval();
}

void ApplyUndoLog(const fs::path& log, ParadoxFile& target, uint64_t original_size, bool whole) {
  const ParadoxFile in = ParadoxFile::Open(Utf8FromPath(log), false);
  const uint64_t size = in.Size();
  // Calls `visit` with each whole record in order, up to the first one cut
  // short or damaged.
  const auto for_each_record = [&](const auto& visit) {
    char head[kRecordHead];
    std::vector<char> bytes;
    for (uint64_t at = 0; at + kRecordHead <= size;) {
      if (in.ReadInto(at, head, kRecordHead) != kRecordHead) break;
      if (std::memcmp(head, kMagic, 4) != 0) break;
      const uint64_t offset = GetU64(head + 4);
      const uint32_t length = GetU32(head + 12);
      if (length > kMaxRecord || at + kRecordHead + length > size) break;
      bytes.resize(length);
      if (in.ReadInto(at + kRecordHead, bytes.data(), length) != length) break;
      if (GetU64(head + 16) != RecordSum(head, bytes.data(), length)) break;
      if (offset > original_size || length > original_size - offset)
        throw EngineError(EngineErrorKind::kCorrupt,
                          "Deník běhu je poškozený: " + Utf8FromPath(log));
      visit(offset, std::string_view(bytes.data(), length));
      at += kRecordHead + length;
    }
  };
  // The whole log is checked before anything is written: a record that is
  // not ours leaves the file as it is, and so does a log that cannot give a
  // file created anew every byte back.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for_each_record([&](uint64_t offset, std::string_view bytes) {
    ranges.emplace_back(offset, offset + bytes.size());
  });
  if (whole) {
    std::sort(ranges.begin(), ranges.end());
    uint64_t covered = 0;
    for (const auto& [from, to] : ranges)
      if (from <= covered) covered = std::max(covered, to);
    if (covered < original_size)
      throw EngineError(EngineErrorKind::kIo,
                        "Cannot restore table file " + target.path() +
                            ": the file is gone and the run journal does not hold all of it");
  }
  for_each_record([&](uint64_t offset, std::string_view bytes) {
    JournalStep();
    target.WriteAt(offset, bytes);
  });
  JournalStep();
  target.Truncate(original_size);
  JournalStep();
  target.Sync();
}

}  // namespace dalimor
