// Creating and writing Paradox tables: every field type, NULLs, memos short
// and long, thousands of rows in random order across many blocks, the
// primary index, header counters, free blocks, key violations, refusals.
// Every table written is read back by our reader and by pxlib.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "engine/paradox/byte_order.h"
#include "engine/paradox/collation.h"
#include "engine/engine_error.h"
#include "engine/paradox/block.h"
#include "engine/paradox/header.h"
#include "engine/paradox/table.h"
#include "tests/engine/pxlib_reader.h"
#include "tests/engine/value_printer.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::Show;
using test::TempDir;

const std::string kCzech = "Příliš žluťoučký kůň úpěl ďábelské ódy. ";

std::string LongCzechText(size_t at_least) {
  std::string s;
  while (s.size() < at_least) s += kCzech + std::to_string(s.size()) + "\n";
  return s;
}

// A table with every field type; the key is (Kod, Radek).
std::vector<FieldDef> AllTypes() {
  return {{"Kod", FieldType::kAlpha, 12},     {"Radek", FieldType::kShort, 0},
          {"Název", FieldType::kAlpha, 40},   {"Cislo", FieldType::kNumber, 0},
          {"Castka", FieldType::kMoney, 0},   {"Datum", FieldType::kDate, 0},
          {"Pocet", FieldType::kLong, 0},     {"Platny", FieldType::kLogical, 0},
          {"Cas", FieldType::kTime, 0},       {"Zapsano", FieldType::kTimestamp, 0},
          {"Poradi", FieldType::kAutoInc, 0}, {"Presne", FieldType::kBcd, 2},
          {"Surove", FieldType::kBytes, 6},   {"Poznámka", FieldType::kMemo, 20},
          {"Data", FieldType::kBlob, 0},      {"Format", FieldType::kFormattedMemo, 10},
          {"Obrazek", FieldType::kGraphic, 0}, {"Objekt", FieldType::kOle, 0}};
}

// Values of a row of AllTypes(); `n` decides which fields are NULL and how
// long the blobs are.
Record Row(const std::string& code, int line, int n, std::mt19937& rng) {
  auto pick = [&](int mod) { return static_cast<int>(rng() % static_cast<unsigned>(mod)); };
  Record r(AllTypes().size());
  r[0] = code;
  r[1] = int64_t{line};
  static const char* const kWords[] = {"kůň", "žluťoučký", "ďábel", "úpěl", "ódy", "Šárka", "–"};
  if (n % 7 != 0) r[2] = "Řádek " + std::to_string(n) + " " + kWords[pick(7)];
  if (n % 5 != 1) r[3] = (pick(2000000) - 1000000) / 64.0;
  if (n % 5 != 2) r[4] = (pick(2000000) - 1000000) / 100.0;
  if (n % 5 != 3) r[5] = Date{DateTimeFromDate(1900 + pick(200), 1 + pick(12), 1 + pick(28))};
  if (n % 6 != 0) r[6] = int64_t{pick(2000000000) - 1000000000};
  if (n % 3 != 0) r[7] = n % 2 == 0;
  if (n % 4 != 0) r[8] = Time{int64_t{pick(86400000)}};
  if (n % 4 != 1) {
    // Whole milliseconds, as Paradox stores them.
    const int64_t ms = (int64_t{693594} + 36000 + pick(20000)) * 86400000LL + pick(86400000);
    r[9] = Timestamp{static_cast<double>(ms) / 86400000.0 - 693594.0};
  }
  // r[10] auto-increment: assigned by the table
  if (n % 3 != 2) r[11] = (pick(20000000) - 10000000) / 100.0;
  if (n % 4 != 2) {
    std::string y(6, '\0');
    for (char& c : y) c = static_cast<char>(pick(256));
    y[0] = static_cast<char>(1 + pick(255));
    r[12] = Bytes{y};
  }
  switch (n % 6) {
    case 0: break;                                                   // NULL
    case 1: r[13] = std::string("krátká"); break;                    // in the leader
    case 2: r[13] = kCzech + kCzech; break;                          // sub-allocated
    case 3: r[13] = LongCzechText(3000); break;                      // own block
    case 4: r[13] = std::string("přesně dvacet bajtů"); break;       // fills the leader
    default: r[13] = LongCzechText(90000); break;                    // over 64 kB
  }
  if (n % 4 == 1) {
    std::string b(static_cast<size_t>(1 + pick(n % 8 == 1 ? 5000 : 300)), '\0');
    for (char& c : b) c = static_cast<char>(pick(256));
    r[14] = Bytes{b};
  }
  if (n % 5 == 0) r[15] = std::string("{\\rtf1 formátovaný text ") + std::to_string(n) + "}";
  if (n % 9 == 0) r[16] = Bytes{std::string("BM") + std::string(static_cast<size_t>(100 + pick(3000)), 'x')};
  if (n % 11 == 0) r[17] = Bytes{std::string(static_cast<size_t>(10 + pick(100)), 'o')};
  return r;
}

std::string Code(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "K%06d", i);
  return buf;
}

// Checks the header counters against the block chain and the free list.
void ExpectConsistentHeader(const std::string& db_path) {
  const std::string bytes = ReadFileBytes(db_path);
  const ParadoxHeader h = DecodeParadoxHeader(bytes, db_path);
  const size_t bs = static_cast<size_t>(h.block_size());
  ASSERT_EQ(bytes.size(), h.header_size + h.total_blocks * bs) << "whole blocks only";
  auto head = [&](uint16_t b) {
    return DecodeBlockHeader(bytes.data() + h.header_size + (b - 1u) * bs);
  };
  uint32_t records = 0;
  uint16_t in_use = 0, last = 0, prev = 0;
  for (uint16_t b = h.first_block; b != 0; b = head(b).next) {
    ASSERT_LE(b, h.total_blocks);
    ASSERT_LE(++in_use, h.total_blocks) << "chain loops";
    EXPECT_EQ(head(b).prev, prev) << "block " << b;
    const int n = BlockRecordCount(head(b), h.block_size(), h.record_size);
    ASSERT_GT(n, 0) << "empty or invalid block " << b << " in the chain";
    records += static_cast<uint32_t>(n);
    prev = last = b;
  }
  uint16_t free_blocks = 0;
  for (uint16_t b = h.first_free_block; b != 0; b = head(b).next) {
    ASSERT_NE(b, 1) << "block 1 on the free list";
    ASSERT_LE(++free_blocks, h.total_blocks);
  }
  EXPECT_EQ(records, h.record_count);
  EXPECT_EQ(in_use, h.blocks_in_use);
  EXPECT_EQ(last, h.last_block);
  EXPECT_EQ(in_use + free_blocks, h.total_blocks);
  if (h.total_blocks > 0) {
    EXPECT_EQ(h.first_block, 1);
  }
}

// The table read back fresh, by us (with its index checked) and by pxlib.
void ExpectReadBack(const std::string& db_path, const std::vector<Record>& expected) {
  const auto t = ParadoxTable::Open(db_path, OpenMode::kReadOnly);
  const std::vector<Record> rows = t->ReadAll();
  ASSERT_EQ(rows.size(), expected.size());
  int shown = 0;
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t f = 0; f < rows[i].size(); ++f)
      if (!(rows[i][f] == expected[i][f]) && shown++ < 5)
        ADD_FAILURE() << "row " << i << " field " << t->fields()[f].name << ": read "
                      << Show(rows[i][f]) << ", wrote " << Show(expected[i][f]);
  EXPECT_NO_THROW(t->CheckIndex());
  ExpectConsistentHeader(db_path);
  test::ExpectSameAsPxlib(*t, db_path);
}

// What reading gives back for a written value.
Record AsRead(Record r) {
  for (Value& v : r)
    if (const auto* s = std::get_if<std::string>(&v); s && s->empty()) v = Value{};
  return r;
}

TEST(ParadoxTable, CreatesEmptyTablesThatReadBackWithTheirDefinition) {
  TempDir dir;
  const std::string path = dir.File("PRAZDNA.DB");
  ParadoxTable::Create(path, AllTypes(), 2)->Close();
  EXPECT_EQ(ReadFileBytes(path).size(), 0x800u);
  EXPECT_EQ(ReadFileBytes(dir.File("PRAZDNA.PX")).size(), 0x800u);
  EXPECT_EQ(ReadFileBytes(dir.File("PRAZDNA.MB")).size(), 4096u);

  const auto t = ParadoxTable::Open(dir.File("prazdna"), OpenMode::kReadOnly);
  const std::vector<FieldDef> defs = AllTypes();
  ASSERT_EQ(t->fields().size(), defs.size());
  for (size_t i = 0; i < defs.size(); ++i) {
    EXPECT_EQ(t->fields()[i].name, defs[i].name);
    EXPECT_EQ(t->fields()[i].type, defs[i].type);
    EXPECT_EQ(t->fields()[i].size, defs[i].size);
  }
  EXPECT_EQ(t->key_field_count(), 2);
  EXPECT_EQ(t->record_count(), 0u);
  EXPECT_EQ(t->version(), 12);
  EXPECT_EQ(t->code_page(), 1250);
  EXPECT_EQ(t->sort_order_name(), "anczechw");
  EXPECT_EQ(t->sort_order_id(), 83);
  EXPECT_EQ(t->block_size(), 2048);
  EXPECT_FALSE(t->First().has_value());
  test::ExpectSameAsPxlib(*t, path);
  if (test::kHavePxlib) {
    test::PxlibDoc px;
    ASSERT_TRUE(px.Open(path));
    EXPECT_TRUE(px.UseIndex(dir.File("PRAZDNA.PX"))) << px.error();
  }
}

TEST(ParadoxTable, EveryFieldTypeRoundTripsWithNullsAndLongCzechMemos) {
  TempDir dir;
  const std::string path = dir.File("VSECHNO.DB");
  std::mt19937 rng(7);
  std::vector<Record> expected;
  {
    const auto t = ParadoxTable::Create(path, AllTypes(), 2);
    for (int n = 0; n < 60; ++n) {
      Record r = Row(Code(n / 3), n % 3, n, rng);
      t->Insert(r);
      r[10] = int64_t{n + 1};
      expected.push_back(AsRead(r));
    }
    EXPECT_EQ(t->last_auto_increment(), 60u);
  }
  ExpectReadBack(path, expected);
  // The long memos went to the blob file in type-2 blocks, the short ones
  // into sub-allocated blocks.
  const std::string mb = ReadFileBytes(dir.File("VSECHNO.MB"));
  EXPECT_EQ(mb.size() % 4096, 0u);
  EXPECT_GT(mb.size(), 10u * 65536u);
}

TEST(ParadoxTable, RandomInsertsAndDeletesKeepKeyOrderIndexAndCounters) {
  TempDir dir;
  const std::string path = dir.File("NAHODNE.DB");
  const std::vector<FieldDef> fields = {{"Cislo", FieldType::kLong, 0},
                                        {"Text", FieldType::kAlpha, 60},
                                        {"Poznamka", FieldType::kMemo, 8}};
  CreateOptions small_blocks;
  small_blocks.block_size = 1024;  // many blocks and a two-level index
  std::mt19937 rng(42);
  std::vector<int> keys(4000);
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<int>(i) * 3 - 5000;
  std::shuffle(keys.begin(), keys.end(), rng);
  std::map<int, Record> model;
  {
    const auto t = ParadoxTable::Create(path, fields, 1, small_blocks);
    for (int k : keys) {
      Record r = {int64_t{k}, "hodnota " + std::to_string(k),
                  k % 3 == 0 ? Value{std::string("poznámka č. ") + std::to_string(k)} : Value{}};
      t->Insert(r);
      model[k] = r;
    }
    // Ordinals asked between the changes (as a cursor deleting row after
    // row asks) stay those of the table order.
    const auto check_ordinals = [&] {
      uint32_t ordinal = 0;
      t->ForEachPosition([&](RecordPosition p) {
        EXPECT_EQ(t->OrdinalOf(p), ordinal);
        EXPECT_EQ(t->PositionAt(ordinal), p);
        ++ordinal;
        return !::testing::Test::HasFailure();
      });
      EXPECT_EQ(ordinal, t->record_count());
    };
    // Delete a random half, by key.
    std::shuffle(keys.begin(), keys.end(), rng);
    for (size_t i = 0; i < keys.size() / 2; ++i) {
      const auto at = t->Find({int64_t{keys[i]}});
      ASSERT_TRUE(at.has_value());
      (void)t->OrdinalOf(*at);
      t->Delete(*at);
      model.erase(keys[i]);
      if (i % 97 == 0) check_ordinals();
    }
    // And insert some again: freed blocks come back into use.
    const uint16_t total_before = t->header().total_blocks;
    for (size_t i = 0; i < 300; ++i) {
      Record r = {int64_t{keys[i]}, std::string("znovu"), Value{}};
      (void)t->PositionAt(0);
      t->Insert(r);
      model[keys[i]] = r;
      if (i % 29 == 0) check_ordinals();
    }
    EXPECT_EQ(t->header().total_blocks, total_before);
    EXPECT_EQ(t->record_count(), model.size());
  }
  std::vector<Record> expected;
  for (const auto& [k, r] : model) expected.push_back(r);
  ExpectReadBack(path, expected);

  const ParadoxHeader px = DecodeParadoxHeader(ReadFileBytes(dir.File("NAHODNE.PX")),
                                               dir.File("NAHODNE.PX"));
  EXPECT_GE(px.index_levels, 2);
  EXPECT_EQ(px.index_root, 1);
  if (px.index_levels == 2 && test::kHavePxlib) {
    // pxlib reads two-level indexes whose root is the first block.
    test::PxlibDoc doc;
    ASSERT_TRUE(doc.Open(path));
    EXPECT_TRUE(doc.UseIndex(dir.File("NAHODNE.PX"))) << doc.error();
  }
}

// Deleting many rows in one walk leaves the same bytes as deleting them one
// by one by key in table order, whichever blocks empty (block 1, whose
// successor then moves into it, included) and whatever blobs go.
TEST(ParadoxTable, DeletingByOrdinalsLeavesTheBytesOfDeletingOneByOne) {
  const std::vector<FieldDef> fields = {{"Cislo", FieldType::kLong, 0},
                                        {"Text", FieldType::kAlpha, 60},
                                        {"Poznamka", FieldType::kMemo, 8}};
  struct Case {
    const char* name;
    std::function<bool(uint32_t, uint32_t)> deleted;  // (ordinal, record count)
  } const cases[] = {
      {"every third row", [](uint32_t i, uint32_t) { return i % 3 == 0; }},
      {"the first blocks whole", [](uint32_t i, uint32_t) { return i < 200; }},
      {"runs that empty blocks here and there", [](uint32_t i, uint32_t) { return (i / 37) % 2 == 0; }},
      {"all but the last row", [](uint32_t i, uint32_t n) { return i + 1 < n; }},
      {"every row", [](uint32_t, uint32_t) { return true; }},
      {"the last row", [](uint32_t i, uint32_t n) { return i + 1 == n; }},
  };
  // The files of a table without their update times, which come from the clock.
  const auto files = [](const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::string bytes = ReadFileBytes(entry.path());
      if (bytes.size() >= 0x64) bytes.replace(0x60, 4, 4, '\0');
      out[entry.path().filename().string()] = bytes;
    }
    return out;
  };
  CreateOptions small_blocks;
  small_blocks.block_size = 1024;
  for (const Case& c : cases) {
    TempDir dir;
    std::mt19937 rng(7);
    std::vector<int> keys(1500);
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<int>(i) * 7;
    std::shuffle(keys.begin(), keys.end(), rng);
    for (const char* side : {"po_jednom", "najednou"}) {
      fs::create_directories(dir.path() / side);
      const auto t = ParadoxTable::Create((dir.path() / side / "T.DB").string(), fields, 1, small_blocks);
      for (int k : keys)
        t->Insert({int64_t{k}, "řádek " + std::to_string(k),
                   k % 5 == 0 ? Value{std::string(40 + k % 90, 'm')} : Value{}});
      t->AddSecondaryIndex({"", {"Text"}, false, false});
    }
    std::vector<uint64_t> ordinals;
    {
      const auto t = ParadoxTable::Open((dir.path() / "po_jednom" / "T.DB").string(), OpenMode::kExclusive);
      t->set_auto_flush(false);
      std::vector<Record> doomed;
      for (uint32_t i = 0; i < t->record_count(); ++i) {
        if (!c.deleted(i, t->record_count())) continue;
        ordinals.push_back(i);
        doomed.push_back({t->ReadField(t->PositionAt(i), 0)});
      }
      for (const Record& key : doomed) t->Delete(*t->Find(key));
      t->Close();
    }
    {
      const auto t = ParadoxTable::Open((dir.path() / "najednou" / "T.DB").string(), OpenMode::kExclusive);
      t->set_auto_flush(false);
      t->DeleteOrdinals(ordinals);
      EXPECT_EQ(t->record_count(), 1500u - ordinals.size()) << c.name;
      t->Close();
    }
    EXPECT_TRUE(files(dir.path() / "po_jednom") == files(dir.path() / "najednou")) << c.name;
  }
  // An ordinal past the end changes nothing.
  TempDir dir;
  const auto t = ParadoxTable::Create(dir.File("T.DB"), fields, 1);
  t->Insert({int64_t{1}, std::string("jediný"), Value{}});
  EXPECT_THROW(t->DeleteOrdinals({0, 1}), EngineError);
  EXPECT_EQ(t->record_count(), 1u);
}

TEST(ParadoxTable, SingleLevelIndexIsAcceptedByPxlib) {
  DALIMOR_REQUIRE_PXLIB();
  TempDir dir;
  const std::string path = dir.File("MALA.DB");
  {
    const auto t = ParadoxTable::Create(path, {{"Id", FieldType::kAutoInc, 0}, {"Jmeno", FieldType::kAlpha, 30}}, 1);
    for (int i = 0; i < 200; ++i) t->Insert({Value{}, "jméno " + std::to_string(i)});
  }
  const ParadoxHeader px = DecodeParadoxHeader(ReadFileBytes(dir.File("MALA.PX")), dir.File("MALA.PX"));
  EXPECT_EQ(px.index_levels, 1);
  test::PxlibDoc doc;
  ASSERT_TRUE(doc.Open(path));
  ASSERT_TRUE(doc.UseIndex(dir.File("MALA.PX"))) << doc.error();
  std::string raw;
  ASSERT_TRUE(doc.Record(199, raw)) << doc.error();
  const auto t = ParadoxTable::Open(path, OpenMode::kReadOnly);
  EXPECT_EQ(t->Read(t->PositionAt(199))[1], Value{std::string("jméno 199")});
  EXPECT_EQ(t->last_auto_increment(), 200u);
}

TEST(ParadoxTable, BatchedRowsAreWrittenWithOneFlush) {
  TempDir dir;
  const std::string path = dir.File("DAVKA.DB");
  std::vector<Record> expected;
  {
    const auto t = ParadoxTable::Create(path, {{"Klic", FieldType::kAlpha, 10}, {"Hodnota", FieldType::kNumber, 0}}, 1);
    t->set_auto_flush(false);
    for (int i = 20000; i-- > 0;) t->Insert({Code(i), i * 0.5});
    // Nothing reached the file yet.
    EXPECT_EQ(ReadFileBytes(path).size(), 0x800u);
    t->Flush();
    for (int i = 0; i < 20000; ++i) expected.push_back({Code(i), i * 0.5});
  }
  ExpectReadBack(path, expected);
}

TEST(ParadoxTable, KeyViolationChangesNoByte) {
  TempDir dir;
  const std::string path = dir.File("KLIC.DB");
  const auto t = ParadoxTable::Create(path, {{"Kod", FieldType::kAlpha, 10}, {"Text", FieldType::kMemo, 5}}, 1);
  t->Insert({std::string("A"), LongCzechText(5000)});
  t->Insert({std::string("B"), std::string("krátký")});
  const std::string db = ReadFileBytes(path), px = ReadFileBytes(dir.File("KLIC.PX")),
                    mb = ReadFileBytes(dir.File("KLIC.MB"));
  try {
    t->Insert({std::string("A"), LongCzechText(9000)});
    FAIL() << "no key violation";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
    EXPECT_STREQ(e.what(), "Key violation.");
  }
  EXPECT_THROW(t->Update(*t->Find({std::string("B")}), {std::string("A"), std::string("x")}),
               EngineError);
  EXPECT_EQ(ReadFileBytes(path), db);
  EXPECT_EQ(ReadFileBytes(dir.File("KLIC.PX")), px);
  EXPECT_EQ(ReadFileBytes(dir.File("KLIC.MB")), mb);
  EXPECT_EQ(t->record_count(), 2u);
}

TEST(ParadoxTable, UpdateInPlaceOrMovedByNewKeyAndBlobSpaceIsReused) {
  TempDir dir;
  const std::string path = dir.File("ZMENY.DB");
  const auto t = ParadoxTable::Create(path, {{"Kod", FieldType::kLong, 0}, {"Memo", FieldType::kMemo, 4}}, 1);
  for (int i = 0; i < 50; ++i) t->Insert({int64_t{i * 10}, LongCzechText(100 + 40 * static_cast<size_t>(i))});
  // Rewriting the memos many times does not make the blob file grow
  // without bound: freed space is used again.
  for (int round = 0; round < 20; ++round)
    for (int i = 0; i < 50; ++i) {
      const auto at = t->Find({int64_t{i * 10}});
      t->Update(*at, {int64_t{i * 10}, LongCzechText(100 + 40 * static_cast<size_t>((i + round) % 50))});
    }
  const size_t mb_after_updates = ReadFileBytes(dir.File("ZMENY.MB")).size();
  EXPECT_LT(mb_after_updates, 30u * 4096u);

  // A new key moves the record; the unchanged memo keeps its place.
  const auto at = t->Find({int64_t{20}});
  const RecordPosition moved = t->Update(*at, {int64_t{495}, t->Read(*at)[1]});
  EXPECT_EQ(t->OrdinalOf(moved), 49u);
  EXPECT_FALSE(t->Find({int64_t{20}}).has_value());
  EXPECT_EQ(ReadFileBytes(dir.File("ZMENY.MB")).size(), mb_after_updates);
  t->Close();

  std::vector<Record> expected;
  for (int i = 0; i < 50; ++i) {
    if (i == 2) continue;
    expected.push_back({int64_t{i * 10}, LongCzechText(100 + 40 * static_cast<size_t>((i + 19) % 50))});
  }
  expected.push_back({int64_t{495}, LongCzechText(100 + 40 * static_cast<size_t>((2 + 19) % 50))});
  ExpectReadBack(path, expected);
}

TEST(ParadoxTable, DeletingEveryRecordLeavesHeaderOnlyFiles) {
  TempDir dir;
  const std::string path = dir.File("VYMAZ.DB");
  const auto t = ParadoxTable::Create(path, {{"Kod", FieldType::kLong, 0}, {"Text", FieldType::kAlpha, 200}}, 1);
  for (int i = 0; i < 100; ++i) t->Insert({int64_t{i}, std::string(150, 'x')});
  EXPECT_GT(t->header().total_blocks, 5);
  while (auto first = t->First()) t->Delete(*first);
  EXPECT_EQ(ReadFileBytes(path).size(), 0x800u);
  EXPECT_EQ(ReadFileBytes(dir.File("VYMAZ.PX")).size(), 0x800u);
  const ParadoxHeader px = DecodeParadoxHeader(ReadFileBytes(dir.File("VYMAZ.PX")), "VYMAZ.PX");
  EXPECT_EQ(px.index_levels, 0);
  EXPECT_EQ(px.record_count, 0u);
  t->Insert({int64_t{7}, std::string("znovu")});
  t->Close();
  ExpectReadBack(path, {{int64_t{7}, std::string("znovu")}});
}

TEST(ParadoxTable, EmptiedFirstBlockTakesOverItsSuccessor) {
  TempDir dir;
  const std::string path = dir.File("PRVNI.DB");
  const auto t = ParadoxTable::Create(path, {{"Kod", FieldType::kLong, 0}, {"Text", FieldType::kAlpha, 200}}, 1);
  // 9 records of 204 bytes fill a 2 KB block; 30 ascending keys make four blocks.
  for (int i = 0; i < 30; ++i) t->Insert({int64_t{i}, std::string("r") + std::to_string(i)});
  const int in_first = [&] {
    int n = 0;
    for (auto p = t->First(); p && p->block == 1; p = t->Next(*p)) ++n;
    return n;
  }();
  for (int i = 0; i < in_first; ++i) t->Delete(*t->First());
  EXPECT_EQ(t->First()->block, 1);
  EXPECT_NE(t->header().first_free_block, 0);
  EXPECT_NE(t->header().first_free_block, 1);
  t->Close();
  std::vector<Record> expected;
  for (int i = in_first; i < 30; ++i) expected.push_back({int64_t{i}, std::string("r") + std::to_string(i)});
  ExpectReadBack(path, expected);
}

TEST(ParadoxTable, UnkeyedTablesAppendAndDeleteAnywhere) {
  TempDir dir;
  const std::string path = dir.File("bezklice.db");
  std::vector<Record> expected;
  {
    const auto t = ParadoxTable::Create(path, {{"Text", FieldType::kAlpha, 100}, {"N", FieldType::kShort, 0}}, 0);
    EXPECT_FALSE(t->keyed());
    for (int i = 0; i < 100; ++i) t->Insert({"řádek " + std::to_string(99 - i), int64_t{i}});
    for (int i = 0; i < 100; i += 3) t->Delete(t->PositionAt(static_cast<uint32_t>(i - i / 3)));
    for (int i = 0; i < 100; ++i)
      if (i % 3 != 0) expected.push_back({"řádek " + std::to_string(99 - i), int64_t{i}});
  }
  EXPECT_FALSE(fs::exists(dir.File("bezklice.px")));
  ExpectReadBack(path, expected);
}

TEST(ParadoxTable, CzechKeysFollowTheTableCollation) {
  TempDir dir;
  const std::string path = dir.File("SLOVA.DB");
  const std::vector<std::string> words = {"chata", "Čech", "cesta", "hrad", "žába", "zebra", "Šimon",
                                          "sad", "řeka", "ryba", "ucho", "Úl", "ámen", "anděl", "ch",
                                          "c", "h", "i", "CH", "Ch"};
  {
    const auto t = ParadoxTable::Create(path, {{"Slovo", FieldType::kAlpha, 20}}, 1);
    for (const std::string& w : words) t->Insert({w});
  }
  const auto t = ParadoxTable::Open(path, OpenMode::kReadOnly);
  EXPECT_NO_THROW(t->CheckIndex());
  std::vector<std::string> expected = words;
  const Collation& c = Collation::ForDriver("anczechw", 83);
  std::sort(expected.begin(), expected.end(), [&](const std::string& a, const std::string& b) {
    return c.Compare(FromUtf8(a, CodePage::k1250), FromUtf8(b, CodePage::k1250)) < 0;
  });
  std::vector<std::string> read;
  for (const Record& r : t->ReadAll()) read.push_back(std::get<std::string>(r[0]));
  EXPECT_EQ(read, expected);
  for (const std::string& w : words) EXPECT_TRUE(t->Find({w}).has_value()) << w;
  test::ExpectSameAsPxlib(*t, path);
}

TEST(ParadoxTable, AutoIncrementHandsOutNextValueAndKeepsGivenOnes) {
  TempDir dir;
  const std::string path = dir.File("CITAC.DB");
  const auto t = ParadoxTable::Create(path, {{"Id", FieldType::kAutoInc, 0}, {"T", FieldType::kAlpha, 5}}, 1);
  t->Insert({Value{}, std::string("a")});
  t->Insert({int64_t{10}, std::string("b")});
  t->Insert({Value{}, std::string("c")});
  const RecordPosition p = *t->Find({int64_t{1}});
  t->Update(p, {Value{}, std::string("a2")});  // NULL keeps the value
  t->Close();
  EXPECT_EQ(ParadoxTable::Open(path, OpenMode::kReadOnly)->last_auto_increment(), 11u);
  ExpectReadBack(path, {{int64_t{1}, std::string("a2")},
                        {int64_t{10}, std::string("b")},
                        {int64_t{11}, std::string("c")}});
}

TEST(ParadoxTable, RefusesDefinitionsParadoxCannotHold) {
  TempDir dir;
  struct Case {
    const char* what;
    std::vector<FieldDef> fields;
    int keys;
  };
  const std::vector<Case> cases = {
      {"no fields", {}, 0},
      {"key over more fields than exist", {{"A", FieldType::kLong, 0}}, 2},
      {"negative key count", {{"A", FieldType::kLong, 0}}, -1},
      {"unknown type", {{"A", static_cast<FieldType>(0x07), 0}}, 0},
      {"alpha size 0", {{"A", FieldType::kAlpha, 0}}, 0},
      {"alpha size 256", {{"A", FieldType::kAlpha, 256}}, 0},
      {"memo leader 0", {{"A", FieldType::kMemo, 0}}, 0},
      {"memo leader 241", {{"A", FieldType::kMemo, 241}}, 0},
      {"bcd decimals 33", {{"A", FieldType::kBcd, 33}}, 0},
      {"size on a fixed type", {{"A", FieldType::kLong, 7}}, 0},
      {"empty name", {{"", FieldType::kLong, 0}}, 0},
      {"name over 25 characters", {{std::string(26, 'n'), FieldType::kLong, 0}}, 0},
      {"duplicate name", {{"Kod", FieldType::kLong, 0}, {"KOD", FieldType::kAlpha, 3}}, 0},
      {"name outside the code page", {{"名前", FieldType::kLong, 0}}, 0},
      {"blob in the key", {{"M", FieldType::kMemo, 10}}, 1},
      {"record too big", {{"A", FieldType::kAlpha, 255}, {"B", FieldType::kAlpha, 255},
                          {"C", FieldType::kAlpha, 255}, {"D", FieldType::kAlpha, 255},
                          {"E", FieldType::kAlpha, 255}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ParadoxTable::Create(dir.File("SPATNA.DB"), c.fields, c.keys);
      ADD_FAILURE() << "created";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kInvalidDefinition) << e.what();
    }
    EXPECT_FALSE(fs::exists(dir.File("SPATNA.DB")));
  }
  CreateOptions bad_block;
  bad_block.block_size = 3000;
  EXPECT_THROW(ParadoxTable::Create(dir.File("SPATNA.DB"), {{"A", FieldType::kLong, 0}}, 0, bad_block),
               EngineError);
  CreateOptions bad_code_page;
  bad_code_page.code_page = 936;
  EXPECT_THROW(ParadoxTable::Create(dir.File("SPATNA.DB"), {{"A", FieldType::kLong, 0}}, 0, bad_code_page),
               EngineError);
}

TEST(ParadoxTable, RefusesValuesItCannotStoreWithoutChangingTheFiles) {
  TempDir dir;
  const std::string path = dir.File("HODNOTY.DB");
  const auto t = ParadoxTable::Create(path, {{"Kod", FieldType::kShort, 0}, {"Text", FieldType::kAlpha, 10}, {"M", FieldType::kMemo, 1}}, 1);
  t->Insert({int64_t{1}, std::string("a"), Value{}});
  const std::string before = ReadFileBytes(path);
  const std::vector<Record> bad = {
      {int64_t{40000}, std::string("a"), Value{}},             // out of range
      {int64_t{2}, std::string("漢字"), Value{}},              // not in code page 1250
      {int64_t{2}, int64_t{5}, Value{}},                       // wrong kind
      {int64_t{2}, std::string("a"), std::string("日本語のメモ")},
      {int64_t{2}, std::string("a")},                          // too few values
      {2.5, std::string("a"), Value{}},                        // not whole
  };
  for (const Record& r : bad) EXPECT_THROW(t->Insert(r), EngineError);
  EXPECT_EQ(ReadFileBytes(path), before);
  // Text longer than the field is cut to its size.
  t->Insert({int64_t{3}, std::string("dlouhý text přes deset"), Value{}});
  EXPECT_EQ(t->Read(*t->Find({int64_t{3}}))[1], Value{std::string("dlouhý tex")});
}

// A value a field cannot hold names the field and the table, so that a
// damaged table among many is found.
TEST(ParadoxTable, ValueErrorsNameTheFieldAndTheTable) {
  TempDir dir;
  const std::string path = dir.File("SCENIK.DB");
  const auto t = ParadoxTable::Create(
      path, {{"Kod", FieldType::kShort, 0}, {"MinZasoba", FieldType::kShort, 0}}, 1);
  const RecordPosition row = t->Insert({int64_t{1}, int64_t{5}});
  const std::function<void()> writes[] = {
      [&] { t->Insert({int64_t{2}, int64_t{40000}}); },
      [&] { t->Insert({int64_t{2}, 2.5}); },
      [&] { t->Insert({int64_t{2}, std::string("pět")}); },
      [&] { t->Update(row, {int64_t{1}, int64_t{-40000}}); },
      [&] { t->UpdateFields(row, {{1, int64_t{70000}}}); },
      [&] { t->Find({int64_t{99999}}); },
  };
  for (const auto& write : writes) {
    try {
      write();
      ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("\nField: "), std::string::npos) << message;
      EXPECT_NE(message.find("\nTable: " + path), std::string::npos) << message;
    }
  }
  try {
    t->ReadField(row, 7);
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()), "Field not found in table.\nTable: " + path);
  }
}

// A table may lie in a folder other people write: none of its files is
// opened through a link, as a pipe or as a device, and nothing a link
// points to is read, written, created or emptied.
#ifndef _WIN32  // symbolic links and pipes
TEST(ParadoxTable, FilesThatAreLinksOrNoPlainFilesAreRefused) {
  TempDir dir;
  fs::create_directories(dir.path() / "firma");
  fs::create_directories(dir.path() / "davka");
  const std::vector<FieldDef> fields = {
      {"DoklSRada", FieldType::kAlpha, 5}, {"Nazev", FieldType::kAlpha, 20},
      {"Poznamka", FieldType::kMemo, 10}};
  const auto make = [&](const fs::path& path) {
    const auto t = ParadoxTable::Create(path.string(), fields, 1);
    t->Insert({std::string("FP"), std::string("text"), std::string("poznámka")});
    t->AddSecondaryIndex({"", {"Nazev"}, false, false});
  };
  const fs::path company = dir.path() / "firma" / "SPFH.DB";
  make(company);
  std::map<std::string, std::string> company_files;
  for (const auto& entry : fs::directory_iterator(company.parent_path()))
    company_files[entry.path().string()] = ReadFileBytes(entry.path());

  const fs::path batch = dir.path() / "davka" / "SPFH.DB";
  for (const char* extension : {".DB", ".PX", ".MB", ".X02", ".Y02"}) {
    for (const char* kind : {"link", "dangling link", "pipe"}) {
      SCOPED_TRACE(std::string(extension) + " as " + kind);
      fs::remove_all(batch.parent_path());
      fs::create_directories(batch.parent_path());
      make(batch);
      const fs::path file = fs::path(batch).replace_extension(extension);
      fs::remove(file);
      if (std::string(kind) == "link")
        fs::create_symlink(fs::path(company).replace_extension(extension), file);
      else if (std::string(kind) == "dangling link")
        fs::create_symlink(dir.path() / "firma" / "NOVY.DAT", file);
      else
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
      // Reading ignores the secondary index (on Nazev, the second field:
      // .X02 and .Y02); writing keeps it up to date.
      const bool read_uses_it = std::string(extension) == ".DB" ||
                                std::string(extension) == ".PX" ||
                                std::string(extension) == ".MB";
      if (read_uses_it) {
        try {
          ParadoxTable::Open(batch.string(), OpenMode::kReadOnly)->ReadAll();
          ADD_FAILURE() << "read through it";
        } catch (const EngineError& e) {
          EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
        }
      }
      try {
        const auto t = ParadoxTable::Open(batch.string(), OpenMode::kShared);
        t->Insert({std::string("FV"), std::string("nový"), std::string("nová poznámka")});
        t->Close();
        ADD_FAILURE() << "wrote through it";
      } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
      }
      EXPECT_FALSE(fs::exists(dir.path() / "firma" / "NOVY.DAT"));
    }
  }
  // A new table is not created through a link in its place either.
  fs::create_symlink(company, dir.path() / "davka" / "CPOKL.DB");
  fs::create_symlink(dir.path() / "firma" / "NOVY.DAT", dir.path() / "davka" / "CBANKA.DB");
  for (const char* name : {"CPOKL.DB", "CBANKA.DB"})
    EXPECT_THROW(ParadoxTable::Create((dir.path() / "davka" / name).string(), fields, 1),
                 EngineError)
        << name;
  EXPECT_FALSE(fs::exists(dir.path() / "firma" / "NOVY.DAT"));
  for (const auto& [path, bytes] : company_files) EXPECT_EQ(ReadFileBytes(path), bytes) << path;
}
#endif

TEST(ParadoxTable, ModesAndLocks) {
  TempDir dir;
  const std::string path = dir.File("ZAMEK.DB");
  ParadoxTable::Create(path, {{"A", FieldType::kLong, 0}}, 1)->Insert({int64_t{1}});
  {
    const auto reader = ParadoxTable::Open(path, OpenMode::kReadOnly);
    try {
      reader->Insert({int64_t{2}});
      ADD_FAILURE() << "a read-only table took a write";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kGeneral);
      EXPECT_NE(std::string(e.what()).find("Table is read only."), std::string::npos);
    }
    const auto shared = ParadoxTable::Open(path, OpenMode::kShared);
    try {
      ParadoxTable::Open(path, OpenMode::kExclusive);
      ADD_FAILURE() << "exclusive open beside others";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kTableBusy);
    }
  }
  const auto exclusive = ParadoxTable::Open(path, OpenMode::kExclusive);
  EXPECT_THROW(ParadoxTable::Open(path, OpenMode::kReadOnly), EngineError);
  try {
    ParadoxTable::Open(dir.File("NENI.DB"), OpenMode::kReadOnly);
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kFileNotFound);
  }
}

// ------------------------------------------------ writing real tables

fs::path CopyFixtureTable(const TempDir& dir, const std::string& folder, const std::string& stem) {
  fs::path result;
  for (const auto& e : fs::directory_iterator(test::FixturesDir() / "paradox" / folder)) {
    if (e.path().stem().string() != stem) continue;
    const fs::path to = dir.path() / e.path().filename();
    fs::copy_file(e.path(), to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".db") result = to;
  }
  return result;
}

TEST(ParadoxTable, WritesIntoABdeTableWithATwoLevelIndex) {
  DALIMOR_REQUIRE_FIXTURES();
  TempDir dir;
  const fs::path db = CopyFixtureTable(dir, "leonhad-paradoxdriver/areas", "ZIPCODES");
  std::vector<Record> expected;
  {
    const auto t = ParadoxTable::Open(db.string(), OpenMode::kExclusive);
    expected = t->ReadAll();
    t->set_auto_flush(false);
    // Remove every 7th record, then put one of them back.
    for (size_t i = 0; i < expected.size(); i += 7) t->Delete(*t->Find({expected[i][0]}));
    t->Flush();
    EXPECT_NO_THROW(t->CheckIndex());
    t->Insert(expected[700]);
    t->Flush();
    std::vector<Record> kept;
    for (size_t i = 0; i < expected.size(); ++i)
      if (i % 7 != 0 || i == 700) kept.push_back(expected[i]);
    expected = kept;
  }
  const auto t = ParadoxTable::Open(db.string(), OpenMode::kReadOnly);
  EXPECT_EQ(t->ReadAll(), expected);
  EXPECT_NO_THROW(t->CheckIndex());
  ExpectConsistentHeader(db.string());
  test::ExpectSameAsPxlib(*t, db.string());
}

TEST(ParadoxTable, UpdatesMemosOfABdeTableAndClearsTheFreeSpaceList) {
  DALIMOR_REQUIRE_FIXTURES();
  TempDir dir;
  const fs::path db = CopyFixtureTable(dir, "leonhad-paradoxdriver/db", "HERCULES");
  fs::path mb = db;
  mb.replace_extension(".MB");
  ASSERT_NE(ReadFileBytes(mb).substr(0x38, 6), std::string(6, '\0'));
  std::vector<Record> expected;
  {
    const auto t = ParadoxTable::Open(db.string(), OpenMode::kShared);
    const int memo = [&] {
      for (size_t i = 0; i < t->fields().size(); ++i)
        if (t->fields()[i].type == FieldType::kMemo) return static_cast<int>(i);
      return -1;
    }();
    ASSERT_GE(memo, 0);
    expected = t->ReadAll();
    int n = 0;
    for (auto p = t->First(); p; p = t->Next(*p), ++n) {
      Record r = t->Read(*p);
      // The table's code page is 1252: German text.
      std::string text;
      while (n % 2 && text.size() < 3000) text += "Größere Übung für Bären. ";
      r[static_cast<size_t>(memo)] = n % 2 ? text : std::string("neue Bemerkung");
      t->Update(*p, r);
      expected[static_cast<size_t>(n)] = r;
    }
  }
  EXPECT_EQ(ReadFileBytes(mb).substr(0x38, 6), std::string(6, '\0'));
  const auto t = ParadoxTable::Open(db.string(), OpenMode::kReadOnly);
  EXPECT_EQ(t->ReadAll(), expected);
  EXPECT_NO_THROW(t->CheckIndex());
  ExpectConsistentHeader(db.string());
  test::ExpectSameAsPxlib(*t, db.string());
}

}  // namespace
}  // namespace dalimor

namespace dalimor {
namespace {

// Fields changed in place equal the same change through Update, keep every
// record where it was, and a refused change leaves the table as it was.
TEST(ParadoxTableInPlace, UpdateFieldsEqualsUpdateAndRefusesKeysBlobsAndBadValues) {
  TempDir dir;
  const std::string a = dir.File("A.DB"), b = dir.File("B.DB");
  for (const std::string& path : {a, b}) {
    auto t = ParadoxTable::Create(path, AllTypes(), 2);
    std::mt19937 same(5);
    for (int n = 0; n < 120; ++n) t->Insert(Row("K" + std::to_string(n % 37), n, n, same));
    t->Close();
  }
  auto ta = ParadoxTable::Open(a, OpenMode::kShared);
  auto tb = ParadoxTable::Open(b, OpenMode::kShared);
  ta->set_auto_flush(false);
  tb->set_auto_flush(false);
  std::vector<RecordPosition> before;
  ta->ForEachPosition([&](RecordPosition p) {
    before.push_back(p);
    return true;
  });
  int n = 0;
  for (auto p = tb->First(); p; p = tb->Next(*p), ++n) {
    const std::vector<std::pair<int, Value>> changes = {
        {2, n % 3 ? Value("Změněno " + std::to_string(n)) : Value()},
        {6, int64_t{n * 7}},
        {9, Timestamp{DateTimeFromDate(2011, 3, 15) + n / 1000.0}}};
    Record whole = tb->Read(*p);
    for (const auto& [field, value] : changes) whole[static_cast<size_t>(field)] = value;
    tb->Update(*p, whole);
    ta->UpdateFields(before[static_cast<size_t>(n)], changes);
  }
  std::vector<RecordPosition> after;
  ta->ForEachPosition([&](RecordPosition p) {
    after.push_back(p);
    return true;
  });
  EXPECT_EQ(after, before);
  EXPECT_EQ(ta->ReadAll(), tb->ReadAll());

  const Record first = ta->Read(before[0]);
  for (const int field : {0, 1, 10, 13}) {  // key fields, auto-increment, memo
    EXPECT_THROW(ta->UpdateFields(before[0], {{field, Value()}}), EngineError) << field;
  }
  // The first change fits, the second does not (the code page has no such
  // letters): neither is made.
  EXPECT_THROW(ta->UpdateFields(before[0], {{6, int64_t{1}}, {2, std::string("日本")}}),
               EngineError);
  EXPECT_EQ(ta->Read(before[0]), first);
  ta->Close();
  auto reread = ParadoxTable::Open(a, OpenMode::kReadOnly);
  EXPECT_NO_THROW(reread->CheckIndex());
  test::ExpectSameAsPxlib(*reread, a);
}

}  // namespace
}  // namespace dalimor

namespace dalimor {
namespace {

// Stored records copied into a table that already holds keys all over the
// key range (so that nearly every block takes rows and splits) give the
// same table as inserting the same rows one by one, in any source order; a
// key already there or given twice refuses the whole copy unchanged.
TEST(ParadoxTableCopy, CopiedRecordsEqualInsertedOnesAndViolationsChangeNothing) {
  TempDir dir;
  const std::vector<FieldDef> fields = {{"Rada", FieldType::kAlpha, 4},
                                        {"Cislo", FieldType::kLong, 0},
                                        {"Text", FieldType::kAlpha, 30},
                                        {"Poznamka", FieldType::kMemo, 10}};
  auto row = [](int n) {
    const std::string series = n % 3 == 0 ? "FV" : (n % 3 == 1 ? "ZL" : "Čá");
    return Record{series, int64_t{n}, "řádek " + std::to_string(n),
                  n % 4 ? Value(std::string(static_cast<size_t>(n % 50 * 9), 'm')) : Value()};
  };
  std::mt19937 rng(3);
  std::vector<int> existing, incoming;
  for (int n = 0; n < 3000; ++n) (n % 2 ? incoming : existing).push_back(n);
  std::shuffle(incoming.begin(), incoming.end(), rng);

  const std::string source = dir.File("S.DB");
  auto s = ParadoxTable::Create(source, fields, 0);  // unkeyed: rows in shuffled order
  s->set_auto_flush(false);
  for (const int n : incoming) s->Insert(row(n));
  s->Flush();
  std::vector<RecordPosition> positions;
  s->ForEachPosition([&](RecordPosition p) {
    positions.push_back(p);
    return true;
  });

  auto make_target = [&](const std::string& path) {
    auto t = ParadoxTable::Create(path, fields, 2);
    t->set_auto_flush(false);
    for (const int n : existing) t->Insert(row(n));
    t->Flush();
    return t;
  };
  auto copied = make_target(dir.File("C.DB"));
  auto inserted = make_target(dir.File("I.DB"));
  const std::vector<int> identity = {0, 1, 2, 3};
  ASSERT_TRUE(copied->CanCopyRecordsFrom(*s, identity));
  EXPECT_FALSE(copied->CanCopyRecordsFrom(*s, {0, 2, 1, 3}));  // a long from an alpha

  // A key twice among the rows, and a key the table has: nothing changes.
  const std::string before = ReadFileBytes(dir.File("C.DB"));
  std::vector<RecordPosition> twice = positions;
  twice.push_back(positions[100]);
  EXPECT_THROW(copied->CopyRecordsFrom(*s, twice, identity), EngineError);
  auto clash = ParadoxTable::Create(dir.File("X.DB"), fields, 0);
  clash->Insert(row(existing[700]));
  const auto clash_at = clash->First();
  EXPECT_THROW(copied->CopyRecordsFrom(*clash, {*clash_at}, identity), EngineError);
  copied->Flush();
  EXPECT_EQ(ReadFileBytes(dir.File("C.DB")), before);

  copied->CopyRecordsFrom(*s, positions, identity);
  for (const int n : incoming) inserted->Insert(row(n));
  copied->Close();
  inserted->Close();
  const auto a = ParadoxTable::Open(dir.File("C.DB"), OpenMode::kReadOnly);
  const auto b = ParadoxTable::Open(dir.File("I.DB"), OpenMode::kReadOnly);
  EXPECT_EQ(a->record_count(), 3000u);
  EXPECT_EQ(a->ReadAll(), b->ReadAll());
  EXPECT_NO_THROW(a->CheckIndex());
  test::ExpectSameAsPxlib(*a, dir.File("C.DB"));
}

}  // namespace
}  // namespace dalimor
