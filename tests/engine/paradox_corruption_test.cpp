// Damaged Paradox files: truncated, zero-length, flipped bytes, looping and
// out-of-range block pointers, blob references past the end.  Each must end
// in an EngineError (kCorrupt, naming the file), never a crash or a hang.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "engine/paradox/byte_order.h"
#include "engine/engine_error.h"
#include "engine/paradox/block.h"
#include "engine/paradox/header.h"
#include "engine/paradox/table.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr size_t kBlock = 1024;
constexpr size_t kHeader = 0x800;
// Records: Id (4 bytes), Name (90), Memo (5-byte leader + 10-byte reference).
constexpr size_t kRecord = 4 + 90 + 15;
constexpr size_t kMemoReference = 4 + 90 + 5;

// A keyed table of several blocks with memos in sub-allocated and single
// blocks of its .MB: the undamaged original of every case.
struct Original {
  std::string db, px, mb;
};

const Original& MakeOriginal() {
  static const Original original = [] {
    TempDir dir;
    const std::string path = dir.File("T.DB");
    CreateOptions options;
    options.block_size = static_cast<int>(kBlock);
    {
      const auto t = ParadoxTable::Create(
          path, {{"Id", FieldType::kLong, 0}, {"Name", FieldType::kAlpha, 90}, {"Memo", FieldType::kMemo, 5}},
          1, options);
      for (int i = 0; i < 60; ++i)
        t->Insert({int64_t{i}, "name " + std::to_string(i),
                   std::string(static_cast<size_t>(i % 3 == 0 ? 3000 : 10 + i), 'm')});
    }
    return Original{ReadFileBytes(path), ReadFileBytes(dir.File("T.PX")), ReadFileBytes(dir.File("T.MB"))};
  }();
  return original;
}

// Writes the (damaged) files and reads the whole table, index included.
void OpenAndReadAll(const TempDir& dir, const Original& files, OpenMode mode = OpenMode::kReadOnly) {
  WriteFileBytes(dir.path() / "T.DB", files.db);
  WriteFileBytes(dir.path() / "T.PX", files.px);
  WriteFileBytes(dir.path() / "T.MB", files.mb);
  const auto t = ParadoxTable::Open(dir.File("T.DB"), mode);
  t->ReadAll();
  t->CheckIndex();
}

size_t BlockAt(uint16_t block) { return kHeader + (block - 1u) * kBlock; }

struct Damage {
  const char* what;
  const char* file;  // the file the error must name
  std::function<void(Original&)> apply;
};

TEST(ParadoxCorruption, DamagedFilesGiveCorruptErrorsNamingTheFile) {
  const std::vector<Damage> cases = {
      {"empty .DB", "T.DB", [](Original& o) { o.db.clear(); }},
      {".DB cut inside the fixed header", "T.DB", [](Original& o) { o.db.resize(0x40); }},
      {".DB cut inside the field names", "T.DB", [](Original& o) { o.db.resize(0x300); }},
      {".DB cut after its first block", "T.DB", [](Original& o) { o.db.resize(kHeader + kBlock + 10); }},
      {"record size changed", "T.DB", [](Original& o) { PutU16(o.db.data(), 77); }},
      {"header size beyond the file", "T.DB", [](Original& o) { PutU16(o.db.data() + 2, 0xF800); }},
      {"header size below the fixed part", "T.DB", [](Original& o) { PutU16(o.db.data() + 2, 0x20); }},
      {"unknown file type", "T.DB", [](Original& o) { o.db[4] = 9; }},
      {"unknown block size code", "T.DB", [](Original& o) { o.db[5] = 7; }},
      {"unknown version", "T.DB", [](Original& o) { o.db[0x39] = 0x63; }},
      {"field count that does not fit", "T.DB", [](Original& o) { PutU16(o.db.data() + 0x21, 0x4000); }},
      {"no fields", "T.DB", [](Original& o) { PutU16(o.db.data() + 0x21, 0); }},
      {"unknown field type", "T.DB", [](Original& o) { o.db[0x78] = 0x07; }},
      {"more key fields than fields", "T.DB", [](Original& o) { PutU16(o.db.data() + 0x23, 9); }},
      {"unkeyed type with key fields", "T.DB", [](Original& o) { o.db[4] = 2; }},
      {"total blocks beyond the file", "T.DB", [](Original& o) { PutU16(o.db.data() + 0x0C, 0x7000); }},
      {"first block out of range", "T.DB", [](Original& o) { PutU16(o.db.data() + 0x0E, 0x7000); }},
      {"record count off by one", "T.DB",
       [](Original& o) { PutU32(o.db.data() + 6, GetU32(o.db.data() + 6) + 1); }},
      {"block chain looping back", "T.DB",
       [](Original& o) {
         const uint16_t last = GetU16(o.db.data() + 0x10);
         PutU16(o.db.data() + BlockAt(last), 1);
       }},
      {"block chain pointing past the blocks", "T.DB",
       [](Original& o) { PutU16(o.db.data() + BlockAt(1), 0x1234); }},
      {"block with an impossible record count", "T.DB",
       [](Original& o) { PutU16(o.db.data() + BlockAt(1) + 4, 0x7FFF); }},
      {"empty .PX", "T.PX", [](Original& o) { o.px.clear(); }},
      {".PX cut inside its header", "T.PX", [](Original& o) { o.px.resize(0x100); }},
      {".PX of another key", "T.PX", [](Original& o) { PutU16(o.px.data(), 20); }},
      {".PX root outside the file", "T.PX", [](Original& o) { PutU16(o.px.data() + 0x1E, 99); }},
      {".PX entry count wrong", "T.PX", [](Original& o) { PutU32(o.px.data() + 6, 1); }},
      {".PX block cut off", "T.PX", [](Original& o) { o.px.resize(kHeader + 3); }},
      {".PX entry naming the wrong block", "T.PX",
       [](Original& o) { o.px[BlockAt(1) + 6 + 4] ^= 0x01; }},
      {"empty .MB", "T.MB", [](Original& o) { o.mb.clear(); }},
      {".MB without its blocks", "T.MB", [](Original& o) { o.mb.resize(4096); }},
      {".MB header of the wrong type", "T.MB", [](Original& o) { o.mb[0] = 3; }},
      {"memo reference past the end of the .MB", "T.MB",
       [](Original& o) {
         // Memo of record 0 (3000 bytes, a single-blob block): offset 0x7FFF0000.
         PutU32(o.db.data() + BlockAt(1) + 6 + kMemoReference, 0x7FFF00FF);
       }},
      {"memo length disagreeing with its block", "T.MB",
       [](Original& o) { PutU32(o.db.data() + BlockAt(1) + 6 + kMemoReference + 4, 2999); }},
      {"memo slot out of range", "T.MB",
       [](Original& o) {
         // Record 1 has a 11-byte memo in a sub-allocated block.
         const size_t at = BlockAt(1) + 6 + kRecord + kMemoReference;
         PutU32(o.db.data() + at, (GetU32(o.db.data() + at) & 0xFFFFFF00u) | 0x50);
       }},
      {"memo too long for its leader without a reference", "T.DB",
       [](Original& o) { PutU32(o.db.data() + BlockAt(1) + 6 + kRecord + kMemoReference, 0); }},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Original damaged = MakeOriginal();
    c.apply(damaged);
    try {
      OpenAndReadAll(dir, damaged);
      ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kCorrupt) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.file), std::string::npos) << e.what();
    }
  }
}

TEST(ParadoxCorruption, UndamagedOriginalReads) {
  TempDir dir;
  EXPECT_NO_THROW(OpenAndReadAll(dir, MakeOriginal()));
}

TEST(ParadoxCorruption, DamagedFreeListIsRefusedForWriting) {
  TempDir dir;
  Original o = MakeOriginal();
  PutU16(o.db.data() + 0x4D, 1);  // block 1 is in the chain
  EXPECT_NO_THROW(OpenAndReadAll(dir, o));
  EXPECT_THROW(OpenAndReadAll(dir, o, OpenMode::kExclusive), EngineError);
}

// Random damage anywhere in the three files: reading, checking and writing
// either work or end in an EngineError.
TEST(ParadoxCorruption, RandomByteFlipsNeverCrash) {
  std::mt19937 rng(20110315);
  const Original& original = MakeOriginal();
  int errors = 0;
  for (int round = 0; round < 300; ++round) {
    Original o = original;
    std::string& target = round % 3 == 0 ? o.db : round % 3 == 1 ? o.px : o.mb;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) {
      // Mostly the header and the first blocks, where the structure is.
      const size_t span = rng() % 2 ? std::min<size_t>(target.size(), 0x1400) : target.size();
      target[rng() % span] ^= static_cast<char>(1u << (rng() % 8));
    }
    TempDir dir;
    try {
      OpenAndReadAll(dir, o);
      const auto t = ParadoxTable::Open(dir.File("T.DB"), OpenMode::kExclusive);
      t->Insert({int64_t{1000 + round}, std::string("new"), std::string(4000, 'n')});
      if (auto first = t->First()) t->Delete(*first);
      t->Close();
    } catch (const EngineError&) {
      ++errors;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
  EXPECT_GT(errors, 20);
}

}  // namespace
}  // namespace dalimor
