#pragma once
// The primary index (.PX) of a keyed table: a tree of index blocks whose
// level-1 entries hold the first key, block number and record count of each
// data block in chain order, and whose higher levels hold the first key of
// each lower index block (docs/paradox_format.md, "Primary index").

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/paradox_header.h"

namespace dalimor {

// Bytes after the key of an entry: child block, record count, a zero word,
// each a flipped 16-bit value.
inline constexpr int kIndexEntryTrailerSize = 6;

struct IndexEntry {
  std::string key;     // the key bytes exactly as in the data record
  uint16_t child = 0;  // level 1: .DB block; above: .PX block
  uint32_t count = 0;  // records below the entry (stored modulo 65536)
};

void EncodeIndexEntry(const IndexEntry& entry, char* out);
IndexEntry DecodeIndexEntry(const char* in, int key_size);

// Entries an index block holds; the index is written one entry short of
// that, as Paradox leaves its index blocks.
int IndexBlockCapacity(int block_size, int key_size);
int IndexBlockFill(int block_size, int key_size);

// The block images of a primary index, built from the level-1 entries.
// Block 1 is the root, the levels follow top-down, and all blocks form one
// chain in block-number order (the root first, which is also the layout
// pxlib expects of a two-level index).  Requires IndexBlockFill >= 2.
class IndexTree {
 public:
  void Build(std::vector<IndexEntry> level1, int key_size, int block_size);
  // Gives level-1 entry `i` a new key and count and updates the entries
  // above it; the blocks that change are marked dirty.
  void UpdateLevel1(size_t i, std::string_view key, uint32_t count);

  int levels() const { return static_cast<int>(levels_.size()); }
  uint16_t root() const { return levels_.empty() ? 0 : 1; }
  uint16_t block_count() const { return static_cast<uint16_t>(blocks_.size()); }
  uint32_t entry_count() const;
  size_t level1_size() const { return levels_.empty() ? 0 : levels_[0].size(); }
  // Block `number` (from 1).
  const std::string& block(uint16_t number) const { return blocks_.at(number - 1); }
  // Blocks changed since the last ClearDirty, as block numbers.
  std::vector<uint16_t> DirtyBlocks() const;
  void MarkAllDirty();
  void ClearDirty();

 private:
  uint16_t BlockNumber(size_t level, size_t entry) const;
  void EncodeEntryAt(size_t level, size_t entry);
  void EncodeBlock(uint16_t number);

  int key_size_ = 0;
  int block_size_ = 0;
  size_t fill_ = 0;
  std::vector<std::vector<IndexEntry>> levels_;  // [0] = level 1
  std::vector<uint16_t> level_base_;             // first block number of each level
  std::vector<std::string> blocks_;
  std::vector<bool> dirty_;
};

// Walks the index of a .PX file (`px` = the whole file) from its root and
// returns the level-1 entries in order.  Throws EngineError (kCorrupt)
// naming `file_name` when blocks lie outside the file, repeat, have a bad
// entry count, sit at inconsistent depths, or an upper entry's key or count
// disagrees with the block below it.
std::vector<IndexEntry> ReadIndexLevel1(const ParadoxHeader& header, std::string_view px,
                                        const std::string& file_name);

}  // namespace dalimor
