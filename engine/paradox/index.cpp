#include "engine/paradox/index.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/paradox/block.h"
#include "engine/paradox/errors.h"
#include "engine/paradox/field.h"

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
  if (key_size != key_size_ || block_size != block_size_) images_.clear();
  key_size_ = key_size;
  block_size_ = block_size;
  fill_ = static_cast<size_t>(IndexBlockFill(block_size, key_size));
  nodes_.clear();
  leaf_of_.assign(0x10000, 0);
  levels_ = 0;
  built_ = true;
  if (level1.empty() || fill_ < 2) {
    dirty_.clear();
    return;
  }

  // Packed levels, bottom up.
  std::vector<std::vector<IndexEntry>> levels;
  levels.push_back(std::move(level1));
  while (levels.back().size() > fill_) {
    const std::vector<IndexEntry>& lower = levels.back();
    std::vector<IndexEntry> upper;
    for (size_t start = 0; start < lower.size(); start += fill_) {
      IndexEntry e;
      e.key = lower[start].key;
      for (size_t i = start; i < lower.size() && i < start + fill_; ++i) e.count += lower[i].count;
      upper.push_back(std::move(e));
    }
    levels.push_back(std::move(upper));
  }
  levels_ = static_cast<int>(levels.size());

  // Number the blocks top-down: the root is block 1, each level follows the
  // one above it.
  std::vector<uint16_t> base(levels.size(), 0);
  uint16_t next = 1;
  for (size_t l = levels.size(); l-- > 0;) {
    base[l] = next;
    next = static_cast<uint16_t>(next + (levels[l].size() + fill_ - 1) / fill_);
  }
  nodes_.resize(next - 1u);
  for (size_t l = 0; l < levels.size(); ++l) {
    for (size_t i = 0; i < levels[l].size(); ++i) {
      const uint16_t number = static_cast<uint16_t>(base[l] + i / fill_);
      Node& n = node(number);
      n.level = static_cast<int>(l) + 1;
      if (l > 0) {
        levels[l][i].child = static_cast<uint16_t>(base[l - 1] + i);
        node(levels[l][i].child).parent = number;
      } else {
        leaf_of_[levels[l][i].child] = number;
      }
      n.entries.push_back(std::move(levels[l][i]));
    }
  }
  for (uint16_t b = 1; b <= nodes_.size(); ++b) {
    node(b).prev = static_cast<uint16_t>(b - 1);
    node(b).next = b < nodes_.size() ? static_cast<uint16_t>(b + 1) : 0;
  }
  dirty_.assign(nodes_.size(), true);
}

uint32_t IndexTree::entry_count() const {
  uint32_t n = 0;
  for (const Node& node : nodes_) n += static_cast<uint32_t>(node.entries.size());
  return n;
}

size_t IndexTree::EntryIndex(const Node& n, uint16_t child) const {
  for (size_t i = 0; i < n.entries.size(); ++i)
    if (n.entries[i].child == child) return i;
  return n.entries.size();
}

void IndexTree::Touch(uint16_t number) {
  if (dirty_.size() < nodes_.size()) dirty_.resize(nodes_.size(), true);
  dirty_[number - 1u] = true;
}

// Carries the first key and record count of a block up to the root.
void IndexTree::Propagate(uint16_t number) {
  while (node(number).parent != 0) {
    const Node& n = node(number);
    Node& p = node(n.parent);
    const size_t i = EntryIndex(p, number);
    if (i == p.entries.size()) return;
    uint32_t sum = 0;
    for (const IndexEntry& e : n.entries) sum += e.count;
    IndexEntry& e = p.entries[i];
    if (e.key == n.entries.front().key && e.count == sum) return;
    e.key = n.entries.front().key;
    e.count = sum;
    Touch(n.parent);
    number = n.parent;
  }
}

void IndexTree::Update(uint16_t data_block, std::string_view key, uint32_t count) {
  if (!built_ || nodes_.empty()) return;
  const uint16_t leaf = leaf_of_[data_block];
  if (leaf == 0) return;
  Node& n = node(leaf);
  const size_t i = EntryIndex(n, data_block);
  if (i == n.entries.size()) return;
  IndexEntry& e = n.entries[i];
  if (e.key == key && e.count == count) return;
  e.key.assign(key);
  e.count = count;
  Touch(leaf);
  Propagate(leaf);
}

uint16_t IndexTree::NewNode(int level) {
  nodes_.push_back(Node{});
  nodes_.back().level = level;
  Touch(static_cast<uint16_t>(nodes_.size()));
  return static_cast<uint16_t>(nodes_.size());
}

void IndexTree::LinkAfter(uint16_t existing, uint16_t added) {
  Node& e = node(existing);
  Node& a = node(added);
  a.prev = existing;
  a.next = e.next;
  if (e.next) {
    node(e.next).prev = added;
    Touch(e.next);
  }
  e.next = added;
  Touch(existing);
  Touch(added);
}

// Points the children (or data blocks) of a node at it.
void IndexTree::Adopt(uint16_t number) {
  for (const IndexEntry& e : node(number).entries) {
    if (node(number).level == 1)
      leaf_of_[e.child] = number;
    else
      node(e.child).parent = number;
  }
}

void IndexTree::Split(uint16_t number) {
  if (node(number).parent == 0) {
    // The root splits: its entries move to a new block below it, and block
    // 1 stays the root, one level higher.
    const uint16_t moved = NewNode(node(number).level);
    node(moved).entries = std::move(node(number).entries);
    node(number).entries.clear();
    Adopt(moved);
    LinkAfter(number, moved);
    node(moved).parent = number;
    IndexEntry e;
    e.child = moved;
    node(number).entries.push_back(std::move(e));
    node(number).level += 1;
    levels_ = node(number).level;
    Touch(number);
    Propagate(moved);
    number = moved;
  }
  const uint16_t added = NewNode(node(number).level);
  std::vector<IndexEntry>& entries = node(number).entries;
  const size_t keep = entries.size() - entries.size() / 2;
  node(added).entries.assign(std::make_move_iterator(entries.begin() + static_cast<std::ptrdiff_t>(keep)),
                             std::make_move_iterator(entries.end()));
  entries.resize(keep);
  Adopt(added);
  LinkAfter(number, added);
  const uint16_t parent = node(number).parent;
  node(added).parent = parent;
  Node& p = node(parent);
  const size_t at = EntryIndex(p, number);
  IndexEntry e;
  e.child = added;
  p.entries.insert(p.entries.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::move(e));
  Touch(parent);
  Propagate(added);
  Propagate(number);
  if (node(parent).entries.size() > fill_) Split(parent);
}

void IndexTree::InsertAfter(uint16_t previous, uint16_t data_block) {
  if (!built_ || nodes_.empty()) {
    built_ = false;
    return;
  }
  const uint16_t leaf = leaf_of_[previous];
  if (leaf == 0) {
    built_ = false;
    return;
  }
  Node& n = node(leaf);
  const size_t at = EntryIndex(n, previous);
  IndexEntry e;
  e.child = data_block;
  e.key = n.entries[at].key;  // a placeholder until Update
  n.entries.insert(n.entries.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::move(e));
  leaf_of_[data_block] = leaf;
  Touch(leaf);
  if (n.entries.size() > fill_) Split(leaf);
}

bool IndexTree::Erase(uint16_t data_block) {
  if (!built_) return false;
  const uint16_t leaf = leaf_of_[data_block];
  if (leaf == 0) return built_ = false;
  Node& n = node(leaf);
  const size_t at = EntryIndex(n, data_block);
  if (at == n.entries.size() || n.entries.size() == 1) return built_ = false;
  n.entries.erase(n.entries.begin() + static_cast<std::ptrdiff_t>(at));
  leaf_of_[data_block] = 0;
  Touch(leaf);
  Propagate(leaf);
  return true;
}

std::string IndexTree::Encode(uint16_t number) const {
  const Node& n = nodes_[number - 1u];
  std::string block(static_cast<size_t>(block_size_), '\0');
  BlockHeader header;
  header.next = n.next;
  header.prev = n.prev;
  const int entry_size = key_size_ + kIndexEntryTrailerSize;
  header.last_record_offset = LastRecordOffset(static_cast<int>(n.entries.size()), entry_size);
  EncodeBlockHeader(header, block.data());
  for (size_t i = 0; i < n.entries.size(); ++i)
    EncodeIndexEntry(n.entries[i], block.data() + kBlockHeaderSize + i * static_cast<size_t>(entry_size));
  return block;
}

std::vector<std::pair<uint16_t, std::string>> IndexTree::TakeChangedBlocks() {
  std::vector<std::pair<uint16_t, std::string>> out;
  dirty_.resize(nodes_.size(), true);
  images_.resize(nodes_.size());
  for (uint16_t b = 1; b <= nodes_.size(); ++b) {
    if (!dirty_[b - 1u]) continue;
    std::string bytes = Encode(b);
    if (bytes != images_[b - 1u]) {
      images_[b - 1u] = bytes;
      out.emplace_back(b, std::move(bytes));
    }
  }
  dirty_.assign(nodes_.size(), false);
  return out;
}

void IndexTree::WriteChanges(ParadoxFile& file, ParadoxHeader& header, uint16_t* written_blocks) {
  const uint64_t hs = header.header_size;
  const uint64_t bs = static_cast<uint64_t>(header.block_size());
  const std::vector<std::pair<uint16_t, std::string>> changed = TakeChangedBlocks();
  // The blocks, the header the caller writes next and a cut tail, announced
  // at once (see ParadoxFile::SaveBeforeWrites).
  std::vector<ByteRange> ranges{{0, hs}};
  for (const auto& [n, bytes] : changed) ranges.push_back({hs + (n - 1u) * bs, bytes.size()});
  if (block_count() < *written_blocks)
    ranges.push_back({hs + block_count() * bs, UINT64_MAX - (hs + block_count() * bs)});
  file.SaveBeforeWrites(ranges);
  for (const auto& [n, bytes] : changed) file.WriteAt(hs + (n - 1u) * bs, bytes);
  if (block_count() < *written_blocks) file.Truncate(hs + block_count() * bs);
  *written_blocks = block_count();
  header.record_count = entry_count();
  header.blocks_in_use = block_count();
  header.total_blocks = block_count();
  header.first_block = block_count() ? 1 : 0;
  header.last_block = block_count();
  header.first_free_block = 0;
  header.index_root = block_count() ? root() : 1;
  header.index_levels = static_cast<uint8_t>(levels());
}

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
