#include "engine/paradox_index.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/paradox_block.h"
#include "engine/paradox_errors.h"
#include "engine/paradox_field.h"

namespace dalimor {

void EncodeIndexEntry(const IndexEntry& entry, char* out) {
  std::memcpy(out, entry.key.data(), entry.key.size());
  char* tail = out + entry.key.size();
  EncodeFlippedInt(entry.child, 2, tail);
  EncodeFlippedInt(static_cast<int16_t>(entry.count & 0xFFFF), 2, tail + 2);
  EncodeFlippedInt(0, 2, tail + 4);
}

IndexEntry DecodeIndexEntry(const char* in, int key_size) {
  IndexEntry e;
  e.key.assign(in, static_cast<size_t>(key_size));
  const char* tail = in + key_size;
  e.child = static_cast<uint16_t>(DecodeFlippedInt(tail, 2));
  e.count = static_cast<uint16_t>(DecodeFlippedInt(tail + 2, 2));
  return e;
}

int IndexBlockCapacity(int block_size, int key_size) {
  return BlockCapacity(block_size, key_size + kIndexEntryTrailerSize);
}

int IndexBlockFill(int block_size, int key_size) {
  const int capacity = IndexBlockCapacity(block_size, key_size);
  return capacity > 2 ? capacity - 1 : capacity;
}

void IndexTree::Build(std::vector<IndexEntry> level1, int key_size, int block_size) {
  key_size_ = key_size;
  block_size_ = block_size;
  fill_ = static_cast<size_t>(IndexBlockFill(block_size, key_size));
  levels_.clear();
  level_base_.clear();
  blocks_.clear();
  dirty_.clear();
  if (level1.empty() || fill_ < 2) return;

  levels_.push_back(std::move(level1));
  while (levels_.back().size() > fill_) {
    const std::vector<IndexEntry>& lower = levels_.back();
    std::vector<IndexEntry> upper;
    for (size_t start = 0; start < lower.size(); start += fill_) {
      IndexEntry e;
      e.key = lower[start].key;
      for (size_t i = start; i < lower.size() && i < start + fill_; ++i) e.count += lower[i].count;
      upper.push_back(std::move(e));
    }
    levels_.push_back(std::move(upper));
  }

  // Number the blocks top-down: the root is block 1.
  const size_t n = levels_.size();
  level_base_.assign(n, 0);
  uint16_t next = 1;
  for (size_t l = n; l-- > 0;) {
    level_base_[l] = next;
    next = static_cast<uint16_t>(next + (levels_[l].size() + fill_ - 1) / fill_);
  }
  for (size_t l = 1; l < n; ++l)
    for (size_t j = 0; j < levels_[l].size(); ++j)
      levels_[l][j].child = static_cast<uint16_t>(level_base_[l - 1] + j);

  const uint16_t total = static_cast<uint16_t>(next - 1);
  blocks_.assign(total, std::string(static_cast<size_t>(block_size), '\0'));
  dirty_.assign(total, true);
  for (uint16_t b = 1; b <= total; ++b) EncodeBlock(b);
}

uint32_t IndexTree::entry_count() const {
  uint32_t n = 0;
  for (const auto& level : levels_) n += static_cast<uint32_t>(level.size());
  return n;
}

uint16_t IndexTree::BlockNumber(size_t level, size_t entry) const {
  return static_cast<uint16_t>(level_base_[level] + entry / fill_);
}

void IndexTree::EncodeBlock(uint16_t number) {
  size_t level = 0;
  for (size_t l = 0; l < levels_.size(); ++l) {
    const size_t blocks_in_level = (levels_[l].size() + fill_ - 1) / fill_;
    if (number >= level_base_[l] && number < level_base_[l] + blocks_in_level) {
      level = l;
      break;
    }
  }
  const std::vector<IndexEntry>& entries = levels_[level];
  const size_t first = (number - level_base_[level]) * fill_;
  const size_t count = std::min(fill_, entries.size() - first);
  std::string& block = blocks_[number - 1];
  std::fill(block.begin(), block.end(), '\0');
  BlockHeader header;
  header.next = number < blocks_.size() ? static_cast<uint16_t>(number + 1) : 0;
  header.prev = static_cast<uint16_t>(number - 1);
  const int entry_size = key_size_ + kIndexEntryTrailerSize;
  header.last_record_offset = LastRecordOffset(static_cast<int>(count), entry_size);
  EncodeBlockHeader(header, block.data());
  for (size_t i = 0; i < count; ++i)
    EncodeIndexEntry(entries[first + i],
                     block.data() + kBlockHeaderSize + i * static_cast<size_t>(entry_size));
  dirty_[number - 1] = true;
}

void IndexTree::EncodeEntryAt(size_t level, size_t entry) {
  const uint16_t number = BlockNumber(level, entry);
  const size_t entry_size = static_cast<size_t>(key_size_ + kIndexEntryTrailerSize);
  EncodeIndexEntry(levels_[level][entry],
                   blocks_[number - 1].data() + kBlockHeaderSize + (entry % fill_) * entry_size);
  dirty_[number - 1] = true;
}

void IndexTree::UpdateLevel1(size_t i, std::string_view key, uint32_t count) {
  if (levels_.empty() || i >= levels_[0].size()) return;
  IndexEntry& e = levels_[0][i];
  if (e.key == key && e.count == count) return;
  e.key.assign(key);
  e.count = count;
  EncodeEntryAt(0, i);
  for (size_t l = 0; l + 1 < levels_.size(); ++l) {
    const size_t j = i / fill_;
    const size_t start = j * fill_;
    const std::vector<IndexEntry>& lower = levels_[l];
    uint32_t sum = 0;
    for (size_t k = start; k < lower.size() && k < start + fill_; ++k) sum += lower[k].count;
    IndexEntry& parent = levels_[l + 1][j];
    if (parent.key == lower[start].key && parent.count == sum) break;
    parent.key = lower[start].key;
    parent.count = sum;
    EncodeEntryAt(l + 1, j);
    i = j;
  }
}

std::vector<uint16_t> IndexTree::DirtyBlocks() const {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < dirty_.size(); ++i)
    if (dirty_[i]) out.push_back(static_cast<uint16_t>(i + 1));
  return out;
}

void IndexTree::MarkAllDirty() { dirty_.assign(blocks_.size(), true); }

void IndexTree::ClearDirty() { dirty_.assign(blocks_.size(), false); }

std::vector<IndexEntry> ReadIndexLevel1(const ParadoxHeader& header, std::string_view px,
                                        const std::string& file_name) {
  auto fail = [&](const std::string& what) -> void {
    ThrowCorrupt(kCorruptIndexText, file_name, "Index: " + what);
  };
  std::vector<IndexEntry> out;
  if (header.index_levels == 0) {
    if (header.record_count != 0) fail("no index levels but entries are counted");
    return out;
  }
  const int entry_size = header.record_size;
  const int key_size = entry_size - kIndexEntryTrailerSize;
  const int block_size = header.block_size();
  if (key_size <= 0) fail("entry size " + std::to_string(entry_size));
  const size_t total = header.total_blocks;
  if (header.index_root == 0 || header.index_root > total)
    fail("root block " + std::to_string(header.index_root) + " of " + std::to_string(total));
  std::vector<bool> visited(total + 1, false);
  uint32_t entries_seen = 0;

  // Returns the number of records below the block and its first key.
  std::function<uint32_t(uint16_t, int, std::string*)> walk = [&](uint16_t number, int level,
                                                                  std::string* first_key) {
    if (number == 0 || number > total)
      fail("block " + std::to_string(number) + " lies outside the file");
    if (visited[number]) fail("block " + std::to_string(number) + " is referred to twice");
    visited[number] = true;
    const size_t start = header.header_size + size_t{number - 1u} * static_cast<size_t>(block_size);
    if (start + kBlockHeaderSize > px.size())
      fail("block " + std::to_string(number) + " lies beyond the end of the file");
    std::string block(px.substr(start, static_cast<size_t>(block_size)));
    block.resize(static_cast<size_t>(block_size), '\0');
    const int count = BlockRecordCount(DecodeBlockHeader(block.data()), block_size, entry_size);
    if (count <= 0)
      fail("block " + std::to_string(number) + " has an invalid entry count");
    entries_seen += static_cast<uint32_t>(count);
    uint32_t records = 0;
    for (int i = 0; i < count; ++i) {
      IndexEntry e = DecodeIndexEntry(
          block.data() + kBlockHeaderSize + static_cast<size_t>(i * entry_size), key_size);
      if (i == 0 && first_key) *first_key = e.key;
      if (level == 1) {
        records += e.count;
        out.push_back(std::move(e));
      } else {
        std::string child_key;
        const uint32_t below = walk(e.child, level - 1, &child_key);
        if ((below & 0xFFFF) != e.count)
          fail("an entry of block " + std::to_string(number) + " counts " +
               std::to_string(e.count) + " records, its block below holds " +
               std::to_string(below));
        if (child_key != e.key)
          fail("an entry of block " + std::to_string(number) +
               " does not carry the first key of the block below");
        records += below;
      }
    }
    return records;
  };
  walk(header.index_root, header.index_levels, nullptr);
  if (entries_seen != header.record_count)
    fail("the header counts " + std::to_string(header.record_count) + " entries, the tree holds " +
         std::to_string(entries_seen));
  return out;
}

}  // namespace dalimor
