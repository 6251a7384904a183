#pragma once
// The header of a Paradox file (.DB, .PX, .Xnn, .Ynn ...), levels 3.0 to 7:
// a fixed part at 0x00-0x57, for level 4+ tables an extension at 0x58-0x77,
// then the variable part (field descriptors, table name, field names, field
// numbers, sort-order name).  Layout in docs/paradox_format.md, "Header".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dalimor {

inline constexpr size_t kHeaderFixedSize = 0x58;
inline constexpr size_t kHeaderExtensionEnd = 0x78;
// Table-name areas of the variable part, by level.
inline constexpr size_t kTableNameSizeLevel7 = 261;
inline constexpr size_t kTableNameSizeOld = 79;
// Headers are laid out in units of 0x800 bytes (level 3.0 tables excepted).
inline constexpr size_t kHeaderSizeUnit = 0x800;
// Level 4+ .DB and .Xnn files carry this in place of the level-3 encryption code.
inline constexpr uint32_t kLevel4EncryptionMarker = 0xFF00FF00;
// Version bytes (0x39).
inline constexpr uint8_t kVersionParadox7 = 12;

enum class ParadoxFileType : uint8_t {
  kKeyedTable = 0,
  kPrimaryIndex = 1,
  kUnkeyedTable = 2,
  kSecondaryNonIncremental = 3,
  kSecondaryIndex = 4,
  kSecondaryIncremental = 5,
  kCompositeNonIncremental = 6,
  kCompositeIndex = 7,
  kCompositeIncremental = 8,
};

// One field descriptor of the variable part: type code and size byte.
struct FieldDescriptor {
  uint8_t type = 0;
  uint8_t size = 0;
};

struct ParadoxHeader {
  uint16_t record_size = 0;        // 0x00 (.PX: key length + 6)
  uint16_t header_size = 0;        // 0x02
  uint8_t file_type = 0;           // 0x04, a ParadoxFileType
  uint8_t block_size_kb = 0;       // 0x05
  uint32_t record_count = 0;       // 0x06 (.PX: entries in all index blocks)
  uint16_t blocks_in_use = 0;      // 0x0A
  uint16_t total_blocks = 0;       // 0x0C
  uint16_t first_block = 0;        // 0x0E
  uint16_t last_block = 0;         // 0x10
  uint16_t index_root = 0;         // 0x1E (.PX)
  uint8_t index_levels = 0;        // 0x20 (.PX)
  uint16_t key_field_count = 0;    // 0x23
  uint32_t encryption = 0;         // 0x25 or, for level 4+ tables, 0x5C; 0 = none
  uint8_t sort_order_id = 0;       // 0x29
  uint8_t index_change_count = 0;  // 0x2C (.PX: the table's change count when written)
  uint8_t change_count = 0;        // 0x2D
  uint8_t version = 0;             // 0x39
  uint32_t auto_increment = 0;     // 0x49: last value handed out
  uint16_t first_free_block = 0;   // 0x4D
  uint32_t update_time = 0;        // 0x60 (level 4+ tables)
  uint16_t code_page = 0;          // 0x6A (level 4+ tables); 0 when absent
  std::vector<FieldDescriptor> fields;
  std::vector<std::string> field_names;  // raw code-page bytes; none in .PX/.Ynn
  std::string table_name;                // raw bytes of the table-name area, NULs cut
  std::string sort_order_name;           // level 4+ tables; empty otherwise
  // The header bytes as read.  Encoding starts from them so that bytes whose
  // meaning is unknown survive a rewrite; empty for a header built anew.
  std::string raw;

  int block_size() const { return block_size_kb * 1024; }
  // .PX, .Ynn and .YGn files: no field names, no extension.
  bool is_index_file() const;
  // True when the 0x58-0x77 extension and the trailing field numbers and
  // sort-order name are present (level 4+ .DB, .Xnn, .XGn).
  bool has_extension() const;
};

// Decodes the header from the first bytes of a file (at least `header_size`
// of them, fewer only for a damaged file).  Throws EngineError (kCorrupt)
// naming `file_name` and what is wrong when the bytes are no Paradox header.
ParadoxHeader DecodeParadoxHeader(std::string_view bytes, const std::string& file_name);

// The `header_size` bytes of a header.  With `raw` set, its bytes are kept
// and only the counters (record count, blocks, first/last block, index root
// and levels, change counts, auto-increment value, first free block, update
// time) are written over them.  Without `raw`, a complete header is laid out
// from the fields, descriptors and names (with the extension of level 4+
// tables; meant for level 7 tables and for the .PX of any level);
// `header_size` must then be at least RequiredHeaderSize(header).
std::string EncodeParadoxHeader(const ParadoxHeader& header);

// The header size a new header needs: the used bytes rounded up to a
// multiple of 0x800.
uint16_t RequiredHeaderSize(const ParadoxHeader& header);

}  // namespace dalimor
