#pragma once
// The primary index (.PX) of a keyed table: a tree of index blocks whose
// level-1 entries hold the first key, block number and record count of each
// data block in chain order, and whose higher levels hold the first key of
// each lower index block (docs/paradox_format.md, "Primary index").

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/paradox/file.h"
#include "engine/paradox/header.h"

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

// The blocks of a primary index, kept in memory and changed along with the
// data chain.  Build lays out a packed tree from the level-1 entries (each
// block one entry short of full, as Paradox leaves its index blocks); later
// changes follow the data chain incrementally, splitting a full index block
// into two as Paradox does.  Block 1 is always the root; all blocks form one
// chain with the root first and each level's blocks in key order after the
// level above (which is also the layout pxlib expects of a two-level index).
// Requires IndexBlockFill >= 2.
class IndexTree {
 public:
  // Lays out the tree anew.  Blocks whose bytes do not change are not
  // reported by TakeChangedBlocks.
  void Build(std::vector<IndexEntry> level1, int key_size, int block_size);
  bool built() const { return built_; }
  // Forgets the tree; the next use must Build.
  void Invalidate() { built_ = false; }

  // Gives the level-1 entry of a data block its key and record count and
  // updates the entries above it.
  void Update(uint16_t data_block, std::string_view key, uint32_t count);
  // Adds a level-1 entry for `data_block`, linked into the data chain right
  // after `previous`; its key and count follow with Update.
  void InsertAfter(uint16_t previous, uint16_t data_block);
  // Removes the level-1 entry of a data block.  False when an index block
  // would become empty; the tree is then invalid and must be built anew.
  bool Erase(uint16_t data_block);

  int levels() const { return levels_; }
  uint16_t root() const { return nodes_.empty() ? 0 : 1; }
  uint16_t block_count() const { return static_cast<uint16_t>(nodes_.size()); }
  uint32_t entry_count() const;

  // The blocks (number, bytes) whose bytes changed since the last call.
  std::vector<std::pair<uint16_t, std::string>> TakeChangedBlocks();

  // Writes the blocks that changed to the index file whose header is
  // `header` (`*written_blocks`: blocks the file held; the file shrinks
  // when fewer are left) and sets the header's counts, chain and root from
  // the tree.  An empty index keeps its root at block 1, as Paradox leaves
  // it.  The header itself is the caller's to write.
  void WriteChanges(ParadoxFile& file, ParadoxHeader& header, uint16_t* written_blocks);

 private:
  struct Node {
    int level = 1;
    std::vector<IndexEntry> entries;
    uint16_t parent = 0;
    uint16_t next = 0;
    uint16_t prev = 0;
  };

  Node& node(uint16_t number) { return nodes_[number - 1u]; }
  size_t EntryIndex(const Node& n, uint16_t child) const;
  void Touch(uint16_t number);
  void Propagate(uint16_t number);
  void Split(uint16_t number);
  void Adopt(uint16_t number);
  uint16_t NewNode(int level);
  void LinkAfter(uint16_t existing, uint16_t added);
  std::string Encode(uint16_t number) const;

  bool built_ = false;
  int key_size_ = 0;
  int block_size_ = 0;
  size_t fill_ = 0;
  int levels_ = 0;
  std::vector<Node> nodes_;        // block n at n - 1
  std::vector<uint16_t> leaf_of_;  // data block -> level-1 index block
  std::vector<bool> dirty_;
  std::vector<std::string> images_;  // bytes last handed out by TakeChangedBlocks
};

// Walks the index of a .PX file (`px` = the whole file) from its root and
// returns the level-1 entries in order.  Throws EngineError (kCorrupt)
// naming `file_name` when blocks lie outside the file, repeat, have a bad
// entry count, sit at inconsistent depths, or an upper entry's key or count
// disagrees with the block below it.
std::vector<IndexEntry> ReadIndexLevel1(const ParadoxHeader& header, std::string_view px,
                                        const std::string& file_name);

}  // namespace dalimor
