#include "engine/paradox/blob.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/paradox/byte_order.h"
#include "engine/engine_error.h"
#include "engine/paradox/errors.h"

namespace dalimor {
namespace {

constexpr size_t kOffModificationCounter = 0x03;
// The header holds a list of 6-byte free-space entries from 0x38 on (kind
// byte 2 = sub-allocated block with free chunks, 3 = free block, 1 unknown;
// u24 offset / 256; u16 amount).  We keep no such list; see PrepareForChange.
constexpr size_t kOffFreeSpaceList = 0x38;
constexpr size_t kFreeSpaceEntrySize = 6;

// The fixed bytes of the header block, identical in every .MB seen.
constexpr unsigned char kHeaderTemplate[] = {
    0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73, 0x02, 0x00, 0x29, 0x00,
    0x00, 0x10, 0x00, 0x10, 0x00, 0x10, 0x40, 0x00, 0x00, 0x08};
constexpr size_t kOff29 = 0x29;

struct Slot {
  uint8_t chunk = 0;     // data offset / 16; 0 = unused
  uint8_t chunks = 0;
  uint16_t modification = 0;
  uint8_t last = 0;      // bytes used in the last chunk, 1..16
};

Slot ReadSlot(const std::string& block, size_t index) {
  const char* p = block.data() + kMbSubHeaderSize + index * kMbSubSlotSize;
  return Slot{static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]), GetU16(p + 2),
              static_cast<uint8_t>(p[4])};
}

void WriteSlot(std::string& block, size_t index, const Slot& s) {
  char* p = block.data() + kMbSubHeaderSize + index * kMbSubSlotSize;
  p[0] = static_cast<char>(s.chunk);
  p[1] = static_cast<char>(s.chunks);
  PutU16(p + 2, s.modification);
  p[4] = static_cast<char>(s.last);
}

bool SlotInUse(const Slot& s) { return s.chunk != 0 && s.chunks != 0; }

// Chunk map of a type-3 block: true where a live blob has its data.
std::vector<bool> UsedChunks(const std::string& block) {
  std::vector<bool> used(kMbSubChunks, false);
  for (size_t c = 0; c < kMbSubFirstChunk; ++c) used[c] = true;
  for (size_t i = 0; i < kMbSubSlots; ++i) {
    const Slot s = ReadSlot(block, i);
    if (!SlotInUse(s)) continue;
    for (size_t c = s.chunk; c < size_t{s.chunk} + s.chunks && c < kMbSubChunks; ++c) used[c] = true;
  }
  return used;
}

// First run of `n` unused chunks, or 0 when there is none.
size_t FindGap(const std::vector<bool>& used, size_t n, size_t* largest) {
  size_t run = 0, best = 0, found = 0;
  for (size_t c = 0; c < used.size(); ++c) {
    run = used[c] ? 0 : run + 1;
    best = std::max(best, run);
    if (!found && n && run == n) found = c + 1 - n;
  }
  if (largest) *largest = best;
  return found;
}

std::string Hex(uint64_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v);
  return "0x" + s;
}

}  // namespace

BlobTrailer DecodeBlobTrailer(const char* bytes) {
  BlobTrailer t;
  const uint32_t raw = GetU32(bytes);
  t.offset = raw & 0xFFFFFF00u;
  t.slot = static_cast<uint8_t>(raw & 0xFF);
  t.length = GetU32(bytes + 4);
  t.modification = GetU16(bytes + 8);
  return t;
}

void EncodeBlobTrailer(const BlobTrailer& trailer, char* bytes) {
  PutU32(bytes, trailer.offset == 0 ? 0 : (trailer.offset | trailer.slot));
  PutU32(bytes + 4, trailer.length);
  PutU16(bytes + 8, trailer.modification);
}

std::string NewBlobFileHeader() {
  std::string header(kMbBlockUnit, '\0');
  std::memcpy(header.data(), kHeaderTemplate, sizeof(kHeaderTemplate));
  PutU16(header.data() + kOff29, 0x02A1);
  return header;
}

std::unique_ptr<BlobFile> BlobFile::Open(const std::string& path, bool writable) {
  std::unique_ptr<BlobFile> f(new BlobFile(ParadoxFile::Open(path, writable)));
  f->size_ = f->file_.Size();
  const std::string head = f->file_.ReadAt(0, 0x40);
  if (head.size() < 5 || head[0] != 0 || GetU16(head.data() + 1) == 0)
    f->Fail("the header block is missing or damaged");
  f->modification_counter_ = GetU16(head.data() + kOffModificationCounter);
  return f;
}

std::unique_ptr<BlobFile> BlobFile::Create(const std::string& path) {
  std::unique_ptr<BlobFile> f(new BlobFile(ParadoxFile::Create(path)));
  f->file_.WriteAt(0, NewBlobFileHeader());
  f->size_ = kMbBlockUnit;
  f->modification_counter_ = 1;
  f->prepared_ = true;
  return f;
}

void BlobFile::Fail(const std::string& what) const {
  ThrowCorrupt(kCorruptBlobText, file_.path(), what);
}

std::string BlobFile::Read(const BlobTrailer& t) const {
  const std::string where = "Blob of " + std::to_string(t.length) + " bytes at " + Hex(t.offset);
  if (t.offset % kMbBlockUnit != 0 || t.offset < kMbBlockUnit ||
      uint64_t{t.offset} + kMbSubHeaderSize > size_)
    Fail(where + ": the reference points outside the blocks of the file");
  const auto cached = pending_.find(t.offset);
  const std::string head = cached != pending_.end() ? cached->second.substr(0, kMbSubHeaderSize)
                                                    : file_.ReadAt(t.offset, kMbSubHeaderSize);
  const auto type = static_cast<MbBlockType>(static_cast<uint8_t>(head[0]));
  const uint16_t units = GetU16(head.data() + 1);
  if (t.slot == kMbSingleSlot) {
    if (type != MbBlockType::kSingle) Fail(where + ": the block is not a single-blob block");
    const uint32_t stored = GetU32(head.data() + 3);
    if (stored != t.length)
      Fail(where + ": the block holds a blob of " + std::to_string(stored) + " bytes");
    if (kMbSingleHeaderSize + t.length > uint64_t{units} * kMbBlockUnit ||
        t.offset + kMbSingleHeaderSize + t.length > size_)
      Fail(where + ": the blob extends past its block or the file");
    return file_.ReadAt(t.offset + kMbSingleHeaderSize, t.length);
  }
  if (t.slot >= kMbSubSlots) Fail(where + ": invalid slot " + std::to_string(t.slot));
  if (type != MbBlockType::kSubAllocated)
    Fail(where + ": the block is not a sub-allocated block");
  if (uint64_t{t.offset} + kMbBlockUnit > size_) Fail(where + ": the block extends past the file");
  const std::string block = ReadSubBlock(t.offset);
  const Slot s = ReadSlot(block, t.slot);
  const uint32_t length = s.chunks == 0 ? 0 : (s.chunks - 1u) * kMbChunkSize + s.last;
  if (!SlotInUse(s) || s.last == 0 || s.last > kMbChunkSize || length != t.length)
    Fail(where + ": slot " + std::to_string(t.slot) + " holds no blob of that length");
  if (s.chunk < kMbSubFirstChunk || size_t{s.chunk} * kMbChunkSize + length > kMbBlockUnit)
    Fail(where + ": slot " + std::to_string(t.slot) + " points outside its block");
  return block.substr(size_t{s.chunk} * kMbChunkSize, length);
}

std::string BlobFile::ReadSubBlock(uint32_t offset) const {
  const auto cached = pending_.find(offset);
  if (cached != pending_.end()) return cached->second;
  std::string block = file_.ReadAt(offset, kMbBlockUnit);
  block.resize(kMbBlockUnit, '\0');
  return block;
}

void BlobFile::StoreSubBlock(uint32_t offset, std::string block) {
  pending_[offset] = std::move(block);
}

void BlobFile::Flush() {
  // What the writes change, announced at once (see ParadoxFile::SaveBeforeWrites).
  std::vector<ByteRange> ranges;
  for (const auto& [offset, block] : pending_) ranges.push_back({offset, block.size()});
  if (modification_dirty_) ranges.push_back({kOffModificationCounter, 2});
  file_.SaveBeforeWrites(ranges);
  // Neighbouring blocks go out in one write.
  auto it = pending_.begin();
  while (it != pending_.end()) {
    const uint32_t start = it->first;
    std::string run = std::move(it->second);
    it = pending_.erase(it);
    while (it != pending_.end() && it->first == start + run.size()) {
      run += it->second;
      it = pending_.erase(it);
    }
    file_.WriteAt(start, run);
  }
  if (modification_dirty_) {
    char bytes[2];
    PutU16(bytes, modification_counter_);
    file_.WriteAt(kOffModificationCounter, std::string_view(bytes, 2));
    modification_dirty_ = false;
  }
}

BlobFile::~BlobFile() {
  try {
    Flush();
  } catch (...) {
    // A destructor cannot report; the table's Flush does.
  }
}

std::set<uint32_t>* BlobFile::IndexOf(const Block& b) {
  if (b.type == MbBlockType::kFree) return &free_blocks_;
  if (b.type == MbBlockType::kSubAllocated && b.free_slots > 0 && b.largest_gap > 0)
    return &open_sub_blocks_[std::min(b.largest_gap, kMbSubChunks)];
  return nullptr;
}

void BlobFile::SetBlock(uint32_t offset, const Block& block) {
  auto [it, inserted] = blocks_.try_emplace(offset, block);
  if (!inserted) {
    if (std::set<uint32_t>* old = IndexOf(it->second)) old->erase(offset);
    it->second = block;
  }
  if (std::set<uint32_t>* now = IndexOf(block)) now->insert(offset);
}

void BlobFile::EraseBlock(uint32_t offset) {
  const auto it = blocks_.find(offset);
  if (it == blocks_.end()) return;
  if (std::set<uint32_t>* old = IndexOf(it->second)) old->erase(offset);
  blocks_.erase(it);
}

uint32_t BlobFile::FileEnd() const {
  return static_cast<uint32_t>((size_ + kMbBlockUnit - 1) / kMbBlockUnit * kMbBlockUnit);
}

void BlobFile::Survey(uint32_t offset, const std::string& sub_block) {
  Block b{MbBlockType::kSubAllocated, 1};
  for (size_t i = 0; i < kMbSubSlots; ++i)
    if (!SlotInUse(ReadSlot(sub_block, i))) ++b.free_slots;
  FindGap(UsedChunks(sub_block), 0, &b.largest_gap);
  SetBlock(offset, b);
}

// Learns the blocks of the file before its first change.  The header's list
// of free space is cleared then: our allocator works from the blocks
// themselves, and a stale list would lead Paradox to hand out space we have
// since used.  Without a list, Paradox allocates at the end of the file.
void BlobFile::PrepareForChange() {
  if (prepared_) return;
  blocks_.clear();
  free_blocks_.clear();
  for (auto& index : open_sub_blocks_) index.clear();
  uint64_t offset = kMbBlockUnit;
  while (offset < size_) {
    const std::string head = file_.ReadAt(offset, 3);
    if (head.size() < 3) Fail("the block at " + Hex(offset) + " is cut off");
    const auto type = static_cast<MbBlockType>(static_cast<uint8_t>(head[0]));
    const uint16_t units = GetU16(head.data() + 1);
    if (type != MbBlockType::kSingle && type != MbBlockType::kSubAllocated &&
        type != MbBlockType::kFree)
      Fail("the block at " + Hex(offset) + " has the unknown type " +
           std::to_string(static_cast<int>(type)));
    if (units == 0 || (type == MbBlockType::kSubAllocated && units != 1))
      Fail("the block at " + Hex(offset) + " has an invalid length");
    if (offset + uint64_t{units} * kMbBlockUnit > FileEnd())
      Fail("the block at " + Hex(offset) + " extends past the end of the file");
    SetBlock(static_cast<uint32_t>(offset), Block{type, units});
    if (type == MbBlockType::kSubAllocated)
      Survey(static_cast<uint32_t>(offset), ReadSubBlock(static_cast<uint32_t>(offset)));
    offset += uint64_t{units} * kMbBlockUnit;
  }
  std::string list = file_.ReadAt(kOffFreeSpaceList, kMbBlockUnit - kOffFreeSpaceList);
  size_t used = 0;
  while (used + kFreeSpaceEntrySize <= list.size() && list[used] != 0) used += kFreeSpaceEntrySize;
  if (used) file_.WriteAt(kOffFreeSpaceList, std::string(used, '\0'));
  prepared_ = true;
}

uint16_t BlobFile::NextModification() {
  modification_counter_ = modification_counter_ == 0xFFFF ? 1 : modification_counter_ + 1;
  modification_dirty_ = true;
  return modification_counter_;
}

// Space for a block of `units`: the first free block large enough (the rest
// stays free), else the end of the file.
uint32_t BlobFile::Allocate(uint16_t units) {
  for (const uint32_t offset : free_blocks_) {
    const Block& block = blocks_.at(offset);
    if (block.units < units) continue;
    const uint32_t at = offset;
    const uint16_t rest = static_cast<uint16_t>(block.units - units);
    SetBlock(at, Block{MbBlockType::kFree, units});
    if (rest) {
      const uint32_t rest_at = at + uint32_t{units} * kMbBlockUnit;
      SetBlock(rest_at, Block{MbBlockType::kFree, rest});
      char head[3] = {static_cast<char>(MbBlockType::kFree), 0, 0};
      PutU16(head + 1, rest);
      file_.WriteAt(rest_at, std::string_view(head, 3));
    }
    return at;
  }
  const uint32_t at = FileEnd();
  if (uint64_t{at} + uint64_t{units} * kMbBlockUnit > 0xFFFFFF00ull)
    throw EngineError(EngineErrorKind::kGeneral,
                      EngineMessage("Table is full.", file_.path(), "The blob file has no room left."));
  SetBlock(at, Block{MbBlockType::kFree, units});
  return at;
}

// Turns a block into a free block and merges it with free neighbours.
void BlobFile::MarkFree(uint32_t offset) {
  auto it = blocks_.find(offset);
  if (it == blocks_.end()) return;
  pending_.erase(offset);
  uint32_t at = offset;
  uint32_t units = it->second.units;
  auto next = std::next(it);
  if (next != blocks_.end() && next->second.type == MbBlockType::kFree &&
      units + next->second.units <= 0xFFFF) {
    units += next->second.units;
    EraseBlock(next->first);
  }
  it = blocks_.find(offset);
  if (it != blocks_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.type == MbBlockType::kFree && prev->second.units + units <= 0xFFFF) {
      at = prev->first;
      units += prev->second.units;
      EraseBlock(offset);
    }
  }
  SetBlock(at, Block{MbBlockType::kFree, static_cast<uint16_t>(units)});
  char head[3] = {static_cast<char>(MbBlockType::kFree), 0, 0};
  PutU16(head + 1, static_cast<uint16_t>(units));
  file_.WriteAt(at, std::string_view(head, 3));
}

BlobTrailer BlobFile::Write(std::string_view data) {
  PrepareForChange();
  BlobTrailer t;
  t.length = static_cast<uint32_t>(data.size());
  if (data.size() > kMbSingleBlobThreshold) {
    const uint64_t units64 = (kMbSingleHeaderSize + data.size() + kMbBlockUnit - 1) / kMbBlockUnit;
    if (units64 > 0xFFFF)
      throw EngineError(EngineErrorKind::kGeneral,
                        EngineMessage("BLOB is too big.", file_.path()));
    const auto units = static_cast<uint16_t>(units64);
    const uint32_t at = Allocate(units);
    t.modification = NextModification();
    std::string block(size_t{units} * kMbBlockUnit, '\0');
    block[0] = static_cast<char>(MbBlockType::kSingle);
    PutU16(block.data() + 1, units);
    PutU32(block.data() + 3, t.length);
    PutU16(block.data() + 7, t.modification);
    std::memcpy(block.data() + kMbSingleHeaderSize, data.data(), data.size());
    file_.WriteAt(at, block);
    SetBlock(at, Block{MbBlockType::kSingle, units});
    size_ = std::max<uint64_t>(size_, uint64_t{at} + block.size());
    t.offset = at;
    t.slot = kMbSingleSlot;
    return t;
  }

  const size_t chunks = (data.size() + kMbChunkSize - 1) / kMbChunkSize;
  uint32_t at = 0;
  std::string block;
  // The first block (by offset) with a free slot and room enough.
  for (size_t gap = chunks; gap < open_sub_blocks_.size(); ++gap)
    if (!open_sub_blocks_[gap].empty() && (!at || *open_sub_blocks_[gap].begin() < at))
      at = *open_sub_blocks_[gap].begin();
  if (at) block = ReadSubBlock(at);
  if (!at) {
    at = Allocate(1);
    block.assign(kMbBlockUnit, '\0');
    block[0] = static_cast<char>(MbBlockType::kSubAllocated);
    PutU16(block.data() + 1, 1);
    SetBlock(at, Block{MbBlockType::kSubAllocated, 1});
  }
  // Slots are used from the highest index down, as Paradox does.
  size_t slot = kMbSubSlots;
  for (size_t i = kMbSubSlots; i-- > 0;) {
    if (!SlotInUse(ReadSlot(block, i))) {
      slot = i;
      break;
    }
  }
  const size_t first_chunk = FindGap(UsedChunks(block), chunks, nullptr);
  if (slot == kMbSubSlots || first_chunk == 0) Fail("the space survey of a block is wrong");
  t.modification = NextModification();
  Slot s;
  s.chunk = static_cast<uint8_t>(first_chunk);
  s.chunks = static_cast<uint8_t>(chunks);
  s.modification = t.modification;
  s.last = static_cast<uint8_t>(data.size() - (chunks - 1) * kMbChunkSize);
  WriteSlot(block, slot, s);
  char* dest = block.data() + first_chunk * kMbChunkSize;
  std::memset(dest, 0, chunks * kMbChunkSize);
  std::memcpy(dest, data.data(), data.size());
  size_ = std::max<uint64_t>(size_, uint64_t{at} + kMbBlockUnit);
  Survey(at, block);
  StoreSubBlock(at, std::move(block));
  t.offset = at;
  t.slot = static_cast<uint8_t>(slot);
  return t;
}

void BlobFile::Free(const BlobTrailer& t) {
  if (t.offset == 0) return;
  PrepareForChange();
  const auto it = blocks_.find(t.offset);
  if (it == blocks_.end()) return;
  if (t.slot == kMbSingleSlot) {
    if (it->second.type != MbBlockType::kSingle) return;
    const std::string head = file_.ReadAt(t.offset, kMbSingleHeaderSize);
    if (head.size() < kMbSingleHeaderSize || GetU32(head.data() + 3) != t.length) return;
    MarkFree(t.offset);
    NextModification();
    return;
  }
  if (it->second.type != MbBlockType::kSubAllocated || t.slot >= kMbSubSlots) return;
  std::string block = ReadSubBlock(t.offset);
  const Slot s = ReadSlot(block, t.slot);
  const uint32_t length = s.chunks == 0 ? 0 : (s.chunks - 1u) * kMbChunkSize + s.last;
  if (!SlotInUse(s) || length != t.length) return;
  WriteSlot(block, t.slot, Slot{});
  bool any = false;
  for (size_t i = 0; i < kMbSubSlots && !any; ++i) any = SlotInUse(ReadSlot(block, i));
  if (!any) {
    MarkFree(t.offset);
  } else {
    Survey(t.offset, block);
    StoreSubBlock(t.offset, std::move(block));
  }
  NextModification();
}

}  // namespace dalimor
