#pragma once
// The blob file (.MB) of a Paradox table and the 10-byte reference a blob
// field keeps after its leader in the record (docs/paradox_format.md,
// "Blob file").  The file is made of 4 KB units: a header block, single-blob
// blocks (type 2) for blobs over 2048 bytes, sub-allocated blocks (type 3)
// holding up to 64 shorter blobs in 16-byte chunks, and free blocks (type 4).

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <string_view>

#include "engine/paradox/file.h"

namespace dalimor {

inline constexpr uint32_t kMbBlockUnit = 4096;
// Blobs longer than this get a type-2 block of their own.
inline constexpr uint32_t kMbSingleBlobThreshold = 2048;
inline constexpr size_t kMbSingleHeaderSize = 9;
inline constexpr size_t kMbSubHeaderSize = 12;
inline constexpr size_t kMbSubSlots = 64;
inline constexpr size_t kMbSubSlotSize = 5;
inline constexpr size_t kMbChunkSize = 16;
// First chunk of the data area of a type-3 block (offset 0x150).
inline constexpr size_t kMbSubFirstChunk = 0x150 / kMbChunkSize;
inline constexpr size_t kMbSubChunks = kMbBlockUnit / kMbChunkSize;
// The slot byte of a reference to a type-2 block.
inline constexpr uint8_t kMbSingleSlot = 0xFF;

enum class MbBlockType : uint8_t { kHeader = 0, kSingle = 2, kSubAllocated = 3, kFree = 4 };

// The reference after a blob field's leader.  `offset` is the MB block's
// offset with the slot byte cleared; 0 means the value lives in the leader.
struct BlobTrailer {
  uint32_t offset = 0;
  uint8_t slot = 0;
  uint32_t length = 0;
  uint16_t modification = 0;
};

BlobTrailer DecodeBlobTrailer(const char* bytes);
void EncodeBlobTrailer(const BlobTrailer& trailer, char* bytes);

// The 4 KB header block of a new, empty .MB file.
std::string NewBlobFileHeader();

class BlobFile {
 public:
  // Opens an existing .MB file.  Throws EngineError: kFileNotFound / kIo
  // from the file system, kCorrupt when it has no valid header block.
  static std::unique_ptr<BlobFile> Open(const std::string& path, bool writable);
  // Creates an empty .MB file (header block only), replacing any file there.
  static std::unique_ptr<BlobFile> Create(const std::string& path);

  const std::string& path() const { return file_.path(); }

  // The bytes a reference stored in the file points to.  Throws EngineError
  // (kCorrupt) naming the file when the reference points outside the file,
  // at a block of the wrong kind, or at a blob of another length.
  std::string Read(const BlobTrailer& trailer) const;

  // Stores a blob (at least one byte) in newly allocated space and returns
  // the reference for the record, with a new modification number.  Space of
  // freed blobs is reused.  Throws EngineError (kIo, kCorrupt).
  BlobTrailer Write(std::string_view data);

  // Releases the space of a blob.  A reference that matches no stored blob
  // is ignored (the space it names may already belong to another blob).
  void Free(const BlobTrailer& trailer);

  // Short blobs are gathered in memory, block by block, and written by
  // Flush (the table flushes its blob file before its own blocks); the
  // destructor writes what is left, swallowing errors.  Throws EngineError
  // (kIo).
  void Flush();
  ~BlobFile();

 private:
  struct Block {
    MbBlockType type = MbBlockType::kFree;
    uint16_t units = 0;
    // Type 3 only: unused slots and the longest run of unused chunks.
    size_t free_slots = 0;
    size_t largest_gap = 0;
  };

  explicit BlobFile(ParadoxFile file) : file_(std::move(file)) {}
  void PrepareForChange();
  // Every change of `blocks_` goes through these two, which keep the
  // indexes of free and of partly used blocks in step.
  void SetBlock(uint32_t offset, const Block& block);
  void EraseBlock(uint32_t offset);
  std::set<uint32_t>* IndexOf(const Block& block);
  uint16_t NextModification();
  uint32_t Allocate(uint16_t units);
  void MarkFree(uint32_t offset);
  std::string ReadSubBlock(uint32_t offset) const;
  void StoreSubBlock(uint32_t offset, std::string block);
  void Survey(uint32_t offset, const std::string& sub_block);
  uint32_t FileEnd() const;
  [[noreturn]] void Fail(const std::string& what) const;

  ParadoxFile file_;
  uint64_t size_ = 0;
  uint16_t modification_counter_ = 0;
  bool prepared_ = false;
  bool modification_dirty_ = false;
  std::map<uint32_t, Block> blocks_;  // every block after the header, by offset
  std::set<uint32_t> free_blocks_;    // offsets of the free blocks
  // Offsets of the type-3 blocks with an unused slot, by their longest run
  // of unused chunks (none when it is 0).
  std::array<std::set<uint32_t>, kMbSubChunks + 1> open_sub_blocks_;
  // Type-3 blocks changed since the last Flush, with their bytes.
  std::map<uint32_t, std::string> pending_;
};

}  // namespace dalimor
