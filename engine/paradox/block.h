#pragma once
// The 6-byte header of a data block of a .DB, .PX, .Xnn or .Ynn file: the
// next and previous block of the chain and the offset of the last record
// (docs/paradox_format.md, "Data blocks").

#include <cstdint>

#include "engine/paradox/byte_order.h"

namespace dalimor {

inline constexpr int kBlockHeaderSize = 6;

struct BlockHeader {
  uint16_t next = 0;                // 0 = last block of the chain
  uint16_t prev = 0;                // 0 = first block
  int16_t last_record_offset = 0;   // (records - 1) * record size; -record size when empty
};

inline BlockHeader DecodeBlockHeader(const char* bytes) {
  BlockHeader h;
  h.next = GetU16(bytes);
  h.prev = GetU16(bytes + 2);
  h.last_record_offset = static_cast<int16_t>(GetU16(bytes + 4));
  return h;
}
void EncodeBlockHeader(const BlockHeader& header, char* bytes);

// Records a block of `block_size` bytes holds at most.
int BlockCapacity(int block_size, int record_size);
// The record count a header states, or -1 when its offset is no multiple of
// the record size or states more records than fit.
int BlockRecordCount(const BlockHeader& header, int block_size, int record_size);
// The last-record offset for `count` records.
int16_t LastRecordOffset(int count, int record_size);

}  // namespace dalimor
