#include "engine/paradox/block.h"

#include "engine/paradox/byte_order.h"

namespace dalimor {

void EncodeBlockHeader(const BlockHeader& header, char* bytes) {
  PutU16(bytes, header.next);
  PutU16(bytes + 2, header.prev);
  PutU16(bytes + 4, static_cast<uint16_t>(header.last_record_offset));
}

int BlockCapacity(int block_size, int record_size) {
  return record_size <= 0 ? 0 : (block_size - kBlockHeaderSize) / record_size;
}

int BlockRecordCount(const BlockHeader& header, int block_size, int record_size) {
  const int offset = header.last_record_offset;
  if (record_size <= 0 || offset < -record_size || offset % record_size != 0) return -1;
  const int count = offset / record_size + 1;
  return count > BlockCapacity(block_size, record_size) ? -1 : count;
}

int16_t LastRecordOffset(int count, int record_size) {
  return static_cast<int16_t>((count - 1) * record_size);
}

}  // namespace dalimor
