// Secondary indexes kept by writes: the BDE-written fixture indexes are laid
// out again byte for byte from their rows, and indexes of tables we create
// stay exactly what their rows give through inserts, updates, deletes,
// record copies and block splits, as an independent checker reads them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "engine/engine_error.h"
#include "engine/paradox/byte_order.h"
#include "engine/paradox/file.h"
#include "engine/paradox/secondary_index.h"
#include "engine/paradox/table.h"
#include "tests/support/index_checker.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::FixturesDir;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

fs::path ParadoxFixtures() {
  return FixturesDir() / "paradox";
}

// Copies every file of the table `stem` in `folder` into `to`.
void CopyTable(const fs::path& folder, const std::string& stem, const fs::path& to) {
  for (const auto& e : fs::directory_iterator(folder)) {
    std::string s = e.path().stem().string();
    std::string want = stem;
    std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    std::transform(want.begin(), want.end(), want.begin(), ::tolower);
    if (s == want) {
      fs::copy_file(e.path(), to / e.path().filename());
      fs::permissions(to / e.path().filename(), fs::perms::owner_read | fs::perms::owner_write);
    }
  }
}

void ExpectIndexesClean(const std::string& db) {
  const std::vector<std::string> problems = test::CheckAllSecondaryIndexes(db);
  for (const std::string& p : problems) ADD_FAILURE() << p;
}

uint8_t At(const std::string& bytes, size_t offset) {
  return static_cast<uint8_t>(bytes[offset]);
}

struct FixtureIndex {
  const char* folder;
  const char* table;
  std::vector<const char*> indexes;  // .X file, .Y file pairs
};

// A write to a BDE-written table lays its maintained indexes out anew; for
// rows back where they were, every block of the .X and .Y is the byte the
// Borland engine wrote, and the header counters move together.
TEST(SecondaryIndex, FixtureIndexesAreLaidOutAgainByteForByte) {
  DALIMOR_REQUIRE_FIXTURES();
  const std::vector<FixtureIndex> cases = {
      {"leonhad-paradoxdriver/db", "CUSTOMER", {"CUSTOMER.X06", "CUSTOMER.Y06"}},
      {"teverett-paradoxreader", "CUSTOMER", {"CUSTOMER.X06", "CUSTOMER.Y06"}},
      {"leonhad-paradoxdriver/joins", "C", {"C.X02", "C.Y02", "C.X03", "C.Y03"}},
      {"leonhad-paradoxdriver/joins", "fk1", {"fk1.x02", "fk1.y02"}},
      {"leonhad-paradoxdriver/joins",
       "multiple",
       {"multiple.X02", "multiple.Y02", "multiple.X04", "multiple.Y04"}},
  };
  for (const FixtureIndex& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + "/" + c.table);
    TempDir dir;
    CopyTable(ParadoxFixtures() / c.folder, c.table, dir.path());
    std::vector<std::string> before;
    for (const char* f : c.indexes) before.push_back(ReadFileBytes(dir.path() / f));
    const std::string px_before =
        ReadFileBytes(FindFileNoCase(dir.path().string(), std::string(c.table) + ".PX"));
    const std::string db_before =
        ReadFileBytes(FindFileNoCase(dir.path().string(), std::string(c.table) + ".DB"));
    {
      auto t = ParadoxTable::Open(FindFileNoCase(dir.path().string(), std::string(c.table) + ".DB"),
                                  OpenMode::kExclusive);
      ASSERT_EQ(t->SecondaryIndexPaths().size(), c.indexes.size() / 2);
      // A row in and out again: two flushes, the rows as before.
      Record r(t->fields().size(), Value{});
      if (t->fields()[0].type != FieldType::kAutoInc) r[0] = int64_t{30000};
      const RecordPosition p = t->Insert(r);
      t->Delete(p);
      t->Close();
    }
    const std::string px =
        ReadFileBytes(FindFileNoCase(dir.path().string(), std::string(c.table) + ".PX"));
    const std::string db =
        ReadFileBytes(FindFileNoCase(dir.path().string(), std::string(c.table) + ".DB"));
    for (size_t i = 0; i < c.indexes.size(); i += 2) {
      SCOPED_TRACE(c.indexes[i]);
      const std::string& x0 = before[i];
      const std::string& y0 = before[i + 1];
      const std::string x = ReadFileBytes(dir.path() / c.indexes[i]);
      const std::string y = ReadFileBytes(dir.path() / c.indexes[i + 1]);
      const size_t xh = GetU16(x.data() + 2);
      const size_t yh = GetU16(y.data() + 2);
      EXPECT_EQ(x.substr(xh), x0.substr(xh)) << "the .X blocks";
      EXPECT_EQ(y.substr(yh), y0.substr(yh)) << "the .Y blocks";
      // Header: the same but for the change counts and the update time.
      for (size_t off = 0; off < xh; ++off) {
        if (off == 0x2D || off == 0x2F || (off >= 0x60 && off < 0x64) ||
            (off >= 0x49 && off < 0x4D))
          continue;
        ASSERT_EQ(At(x, off), At(x0, off)) << ".X header byte " << off;
      }
      EXPECT_EQ(At(x, 0x2D), static_cast<uint8_t>(At(x0, 0x2D) + 2));
      EXPECT_EQ(At(x, 0x2F), At(px, 0x2C)) << "the .X knows the state of the .PX";
      if (GetU32(x0.data() + 0x49) == GetU32(db_before.data() + 0x49))
        EXPECT_EQ(GetU32(x.data() + 0x49), GetU32(db.data() + 0x49)) << "the auto-increment value";
      else
        EXPECT_EQ(GetU32(x.data() + 0x49), GetU32(x0.data() + 0x49));
      EXPECT_EQ(x.substr(0x60, 4), db.substr(0x60, 4)) << "the update time";
      EXPECT_EQ(At(px, 0x2C), static_cast<uint8_t>(At(px_before, 0x2C) + 2));
      for (size_t off = 0; off < yh; ++off) {
        if (off == 0x2C) continue;
        ASSERT_EQ(At(y, off), At(y0, off)) << ".Y header byte " << off;
      }
      EXPECT_EQ(static_cast<uint8_t>(At(y, 0x2C) - At(x, 0x2D)),
                static_cast<uint8_t>(At(y0, 0x2C) - At(x0, 0x2D)));
    }
  }
}

// Writes to BDE-written tables with indexes go through, and the indexes
// stay what their rows give as the table grows over many blocks.
TEST(SecondaryIndex, BdeWrittenTablesWithIndexesTakeManyWrites) {
  DALIMOR_REQUIRE_FIXTURES();
  TempDir dir;
  CopyTable(ParadoxFixtures() / "leonhad-paradoxdriver/db", "CUSTOMER", dir.path());
  const std::string db = dir.File("CUSTOMER.DB");
  {
    auto t = ParadoxTable::Open(db, OpenMode::kShared);
    const int city = t->FieldIndex("City");
    ASSERT_GE(city, 0);
    const char* cities[] = {"Aptos", "Los Gatos", "Santa Cruz", "Kapaa Kauai", "Freeport", ""};
    for (int i = 0; i < 400; ++i) {
      Record r(t->fields().size(), Value{});
      if (*cities[i % 6]) r[static_cast<size_t>(city)] = std::string(cities[i % 6]) + std::to_string(i % 13);
      t->Insert(r);
    }
    for (int i = 0; i < 150; ++i) t->Delete(t->PositionAt(static_cast<uint32_t>((i * 37) % t->record_count())));
  }
  const std::string x = ReadFileBytes(dir.path() / "CUSTOMER.X06");
  EXPECT_GE(GetU16(x.data() + 0x0C), 3) << "the index spans several blocks";
  ExpectIndexesClean(db);
}

// The non-maintained index of a fixture is left as it is.
TEST(SecondaryIndex, NonMaintainedIndexIsLeftAlone) {
  DALIMOR_REQUIRE_FIXTURES();
  TempDir dir;
  CopyTable(ParadoxFixtures() / "leonhad-paradoxdriver/joins", "case", dir.path());
  const std::string x0 = ReadFileBytes(dir.path() / "case.x01");
  auto t = ParadoxTable::Open(dir.File("case.db"), OpenMode::kExclusive);
  EXPECT_TRUE(t->SecondaryIndexPaths().empty());
  EXPECT_EQ(ReadFileBytes(dir.path() / "case.x01"), x0);
}

// Every file of a folder, by name.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

void Patch(const fs::path& file, size_t offset, std::string_view bytes) {
  std::string b = ReadFileBytes(file);
  b.replace(offset, bytes.size(), bytes);
  WriteFileBytes(file, b);
}

// An index whose header cannot be read or does not describe an index of its
// table refuses every write, naming the file, and no byte changes; reading
// the table still works.  Damaged entries, or a damaged or missing .Y, are
// laid out anew by the next write.
TEST(SecondaryIndex, DamagedIndexHeaderRefusesWritesDamagedContentIsRebuilt) {
  DALIMOR_REQUIRE_FIXTURES();
  struct Damage {
    const char* what;
    std::function<void(const fs::path&)> apply;
    bool refused;
    EngineErrorKind kind;
  };
  const std::vector<Damage> cases = {
      {"truncated header",
       [](const fs::path& d) { WriteFileBytes(d / "CUSTOMER.X06", std::string(10, '\0')); }, true,
       EngineErrorKind::kCorrupt},
      {"wrong record size",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 0, std::string("\x16\x00", 2)); }, true,
       EngineErrorKind::kCorrupt},
      {"key field of another type",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 0x7A, std::string("\x04\x04", 2)); }, true,
       EngineErrorKind::kCorrupt},
      {"indexed field number out of range",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 0x1A7, std::string("\x60\x00", 2)); },
       true, EngineErrorKind::kCorrupt},
      {"unknown option bits",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 0x55, std::string("\x40", 1)); }, true,
       EngineErrorKind::kUnsupported},
      {"another language driver",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 0x29, std::string("\x00", 1)); }, true,
       EngineErrorKind::kCorrupt},
      {"not an index",
       [](const fs::path& d) { Patch(d / "CUSTOMER.X06", 4, std::string("\x01", 1)); }, true,
       EngineErrorKind::kCorrupt},
      {"garbage entries",
       [](const fs::path& d) {
         std::string b = ReadFileBytes(d / "CUSTOMER.X06");
         for (size_t i = 0x806; i < b.size(); i += 7) b[i] = static_cast<char>(i);
         WriteFileBytes(d / "CUSTOMER.X06", b);
       },
       false, EngineErrorKind::kGeneral},
      {"entries cut off", [](const fs::path& d) { fs::resize_file(d / "CUSTOMER.X06", 0x900); },
       false, EngineErrorKind::kGeneral},
      {".Y missing", [](const fs::path& d) { fs::remove(d / "CUSTOMER.Y06"); }, false,
       EngineErrorKind::kGeneral},
      {".Y truncated", [](const fs::path& d) { WriteFileBytes(d / "CUSTOMER.Y06", "xx"); }, false,
       EngineErrorKind::kGeneral},
  };
  const fs::path source = ParadoxFixtures() / "leonhad-paradoxdriver/db";
  const std::string good_x = ReadFileBytes(source / "CUSTOMER.X06");
  const std::string good_y = ReadFileBytes(source / "CUSTOMER.Y06");
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CopyTable(source, "CUSTOMER", dir.path());
    c.apply(dir.path());
    const auto before = Snapshot(dir.path());
    auto t = ParadoxTable::Open(dir.File("CUSTOMER.DB"), OpenMode::kExclusive);
    EXPECT_EQ(t->ReadAll().size(), 20u);
    Record r(t->fields().size(), Value{});
    if (c.refused) {
      try {
        t->Insert(r);
        ADD_FAILURE() << "written";
      } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), c.kind) << e.what();
        EXPECT_NE(std::string(e.what()).find("CUSTOMER.X06"), std::string::npos) << e.what();
      }
      EXPECT_THROW(t->Delete(*t->First()), EngineError);
      t->Close();
      EXPECT_EQ(Snapshot(dir.path()), before);
    } else {
      t->Delete(t->Insert(r));
      t->Close();
      const std::string x = ReadFileBytes(dir.path() / "CUSTOMER.X06");
      const std::string y = ReadFileBytes(dir.path() / "CUSTOMER.Y06");
      EXPECT_EQ(x.substr(0x800), good_x.substr(0x800));
      ASSERT_GE(y.size(), 0x800u);
      EXPECT_EQ(y.substr(0x800), good_y.substr(0x800));
      EXPECT_TRUE(test::CheckAllSecondaryIndexes(dir.File("CUSTOMER.DB")).empty());
    }
  }
}

// A table of the shape of a company's document headers, Czech text with
// mixed case under the Czech driver.
std::vector<FieldDef> HeaderFields() {
  return {{"Cislo", FieldType::kAlpha, 13}, {"Datum", FieldType::kDate, 0},
          {"Firma", FieldType::kAlpha, 40}, {"Castka", FieldType::kMoney, 0},
          {"Rada", FieldType::kAlpha, 4},   {"Poznamka", FieldType::kMemo, 20}};
}

const char* const kPartners[] = {
    "Čermák a syn", "ČERMÁK A SYN", "cermak", "Chalupa s.r.o.", "Hora", "Ďáblice", "Žabka", "žabka",
    "Šťastný",      "Řezník",       "árie",   "Zeman",          "",     "Alfa",    "alfa",  "ALFA"};

Record HeaderRow(int n, std::mt19937& rng) {
  char number[16];
  std::snprintf(number, sizeof number, "FP%011d", n);
  Record r;
  r.push_back(std::string(number));
  r.push_back(Date{static_cast<double>(40000 + static_cast<int>(rng() % 800))});
  const char* partner = kPartners[rng() % std::size(kPartners)];
  r.push_back(*partner ? Value{std::string(partner)} : Value{});
  r.push_back(static_cast<double>(rng() % 100000) / 100.0);
  r.push_back(std::string(rng() % 2 ? "FP" : "FV"));
  r.push_back(rng() % 3 ? Value{std::string("poznámka ") + number} : Value{});
  return r;
}


// Rows inserted in random order, with flushes batched and single, until the
// indexes span many blocks and the .Y several levels; then updates, deletes
// and record copies.  After every flush an independent checker finds every
// index exactly what the rows give.
TEST(SecondaryIndex, IndexesFollowEveryKindOfWriteAcrossBlocksAndLevels) {
  TempDir dir;
  CreateOptions options;
  options.block_size = 1024;
  const std::string db = dir.File("Sfakt.DB");
  {
    auto t = ParadoxTable::Create(db, HeaderFields(), 1, options);
    t->AddSecondaryIndex({"", {"Datum"}, false, false});
    t->AddSecondaryIndex({"Firma", {"Firma"}, true, false});
    t->AddSecondaryIndex({"RadaDatum", {"Rada", "Datum", "Castka"}, false, false});
    EXPECT_EQ(t->SecondaryIndexPaths().size(), 3u);
  }
  EXPECT_TRUE(fs::exists(dir.path() / "Sfakt.X02"));
  EXPECT_TRUE(fs::exists(dir.path() / "Sfakt.XG0"));
  EXPECT_TRUE(fs::exists(dir.path() / "Sfakt.YG1"));
  ExpectIndexesClean(db);

  std::mt19937 rng(7);
  std::vector<int> keys(3000);
  for (int i = 0; i < 3000; ++i) keys[static_cast<size_t>(i)] = i * 7 % 3001;
  std::shuffle(keys.begin(), keys.end(), rng);
  {
    auto t = ParadoxTable::Open(db, OpenMode::kExclusive);
    t->set_auto_flush(false);
    for (size_t i = 0; i < 2500; ++i) t->Insert(HeaderRow(keys[i], rng));
    t->Flush();
  }
  ExpectIndexesClean(db);
  {
    auto t = ParadoxTable::Open(db, OpenMode::kExclusive);
    for (size_t i = 2500; i < 2600; ++i) t->Insert(HeaderRow(keys[i], rng));  // a flush each
    // Updates: a changed partner, a changed key (the row moves), fields in place.
    for (int i = 0; i < 50; ++i) {
      const RecordPosition p = t->PositionAt(static_cast<uint32_t>(rng() % t->record_count()));
      Record r = t->Read(p);
      r[2] = std::string(kPartners[rng() % std::size(kPartners)]);
      if (i % 5 == 0) r[0] = std::string("ZZ") + std::to_string(i);
      t->Update(p, r);
      t->UpdateFields(t->PositionAt(static_cast<uint32_t>(rng() % t->record_count())),
                      {{3, Value{1.5 * i}}, {4, Value{std::string("FX")}}});
    }
    t->set_auto_flush(false);
    for (int i = 0; i < 1200; ++i)
      t->Delete(t->PositionAt(static_cast<uint32_t>(rng() % t->record_count())));
    t->Flush();
  }
  ExpectIndexesClean(db);
  {
    // Stored-record copies from a table of the same layout.
    const std::string other = dir.File("Batch.DB");
    auto src = ParadoxTable::Create(other, HeaderFields(), 1, options);
    src->set_auto_flush(false);
    for (size_t i = 2600; i < 3000; ++i) src->Insert(HeaderRow(keys[i], rng));
    src->Flush();
    auto t = ParadoxTable::Open(db, OpenMode::kExclusive);
    std::vector<RecordPosition> positions;
    src->ForEachPosition([&](RecordPosition p) {
      positions.push_back(p);
      return true;
    });
    t->CopyRecordsFrom(*src, positions, {0, 1, 2, 3, 4, 5});
    EXPECT_GT(GetU16(ReadFileBytes(dir.path() / "Sfakt.XG0").data() + 0x0C), 20)
        << "many .X blocks";
    EXPECT_GE(ReadFileBytes(dir.path() / "Sfakt.YG0")[0x20], 2) << "a .Y of several levels";
  }
  ExpectIndexesClean(db);
  {
    // Emptied and filled again.
    auto t = ParadoxTable::Open(db, OpenMode::kExclusive);
    t->set_auto_flush(false);
    while (t->record_count() > 0) t->Delete(*t->First());
    t->Flush();
    ExpectIndexesClean(db);
    t->Insert(HeaderRow(5, rng));
    t->Flush();
  }
  ExpectIndexesClean(db);
}

// A unique index refuses a duplicate value as a key violation that changes
// no byte; NULL values may repeat; case folds when the index ignores case.
TEST(SecondaryIndex, UniqueIndexRefusesDuplicatesWithoutChangingAByte) {
  TempDir dir;
  const std::string db = dir.File("Firmy.DB");
  const std::vector<FieldDef> fields = {{"Klic", FieldType::kLong, 0},
                                        {"ICO", FieldType::kAlpha, 10},
                                        {"Nazev", FieldType::kAlpha, 30}};
  auto t = ParadoxTable::Create(db, fields, 1);
  t->AddSecondaryIndex({"ICO", {"ICO"}, false, true});
  t->AddSecondaryIndex({"Nazev", {"Nazev"}, true, true});
  t->Insert({int64_t{1}, std::string("123"), std::string("Žabka")});
  t->Insert({int64_t{2}, Value{}, Value{}});
  t->Insert({int64_t{3}, Value{}, Value{}});
  const RecordPosition p4 = t->Insert({int64_t{4}, std::string("456"), std::string("Hora")});
  const auto before = Snapshot(dir.path());
  auto refused = [&](const std::function<void()>& write) {
    try {
      write();
      ADD_FAILURE() << "written";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation) << e.what();
    }
    EXPECT_EQ(Snapshot(dir.path()), before);
  };
  refused([&] { t->Insert({int64_t{5}, std::string("123"), std::string("Jiná")}); });
  refused([&] { t->Insert({int64_t{5}, std::string("789"), std::string("ŽABKA")}); });
  refused([&] {
    t->UpdateFields(t->Find({int64_t{4}}).value(), {{1, Value{std::string("123")}}});
  });
  refused([&] { t->Update(p4, {int64_t{4}, std::string("456"), std::string("žabka")}); });
  {
    const std::string other = dir.File("Nove.DB");
    auto src = ParadoxTable::Create(other, fields, 1);
    src->Insert({int64_t{8}, std::string("800"), std::string("Nová")});
    src->Insert({int64_t{9}, std::string("800"), std::string("Novější")});
    std::vector<RecordPosition> all;
    src->ForEachPosition([&](RecordPosition p) {
      all.push_back(p);
      return true;
    });
    const auto with_batch = Snapshot(dir.path());
    try {
      t->CopyRecordsFrom(*src, all, {0, 1, 2});
      ADD_FAILURE() << "copied";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
    }
    EXPECT_EQ(Snapshot(dir.path()), with_batch);
  }
  // The row's own value stays allowed, a freed value can be taken again.
  t->Update(*t->Find({int64_t{4}}), {int64_t{4}, std::string("456"), std::string("HORA")});
  t->Delete(*t->Find({int64_t{1}}));
  t->Insert({int64_t{6}, std::string("123"), std::string("žabka")});
  t->Close();
  ExpectIndexesClean(db);
  // A unique index cannot be added over values that repeat; no file stays.
  auto plain = ParadoxTable::Create(dir.File("Dup.DB"), fields, 1);
  plain->Insert({int64_t{1}, std::string("1"), std::string("Hora")});
  plain->Insert({int64_t{2}, std::string("2"), std::string("hora")});
  plain->AddSecondaryIndex({"Nazev", {"Nazev"}, false, true});
  const auto files = Snapshot(dir.path());
  try {
    plain->AddSecondaryIndex({"NazevCi", {"Nazev"}, true, true});
    ADD_FAILURE() << "added";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kKeyViolation);
  }
  EXPECT_EQ(Snapshot(dir.path()), files);
}

// A write that leaves every indexed value and every row where it was keeps
// the index's entries and only brings its header's ties forward; one that
// changes an indexed value in place lays the index out again.
TEST(SecondaryIndex, InPlaceChangesOfOtherFieldsOnlyRefreshTheHeader) {
  TempDir dir;
  const std::string db = dir.File("Memo.DB");
  auto t = ParadoxTable::Create(
      db,
      {{"Klic", FieldType::kLong, 0}, {"Kdy", FieldType::kDate, 0}, {"UID", FieldType::kLong, 0}},
      1);
  t->AddSecondaryIndex({"", {"Kdy"}, false, false});
  for (int i = 1; i <= 300; ++i) t->Insert({int64_t{i}, Date{40000.0 + i % 17}, int64_t{i}});
  const fs::path x = dir.path() / "Memo.X02";
  const std::string before = ReadFileBytes(x);
  t->UpdateFields(*t->Find({int64_t{5}}), {{2, Value{int64_t{999}}}});
  const std::string after = ReadFileBytes(x);
  EXPECT_EQ(after.substr(0x800), before.substr(0x800));
  EXPECT_EQ(At(after, 0x2D), At(before, 0x2D)) << "the entries did not change";
  EXPECT_EQ(At(after, 0x2F), At(ReadFileBytes(dir.path() / "Memo.PX"), 0x2C));
  t->UpdateFields(*t->Find({int64_t{5}}), {{1, Value{Date{39000.0}}}});
  EXPECT_NE(ReadFileBytes(x).substr(0x800), before.substr(0x800));
  t->Close();
  ExpectIndexesClean(db);
}

// Creating indexes: what a definition may not hold.
TEST(SecondaryIndex, RefusesDefinitionsParadoxCannotHold) {
  TempDir dir;
  const std::string db = dir.File("T.DB");
  auto t = ParadoxTable::Create(db, HeaderFields(), 1);
  const std::vector<SecondaryIndexDef> bad = {
      {"", {"Nic"}, false, false},             // no such field
      {"", {"Poznamka"}, false, false},        // a memo
      {"", {"Cislo"}, false, false},           // the key's first field first
      {"", {"Datum", "Firma"}, false, false},  // several fields without a name
      {"X", {}, false, false},                 // no field
      {"Dvakrat", {"Datum", "Datum"}, false, false},
  };
  for (const SecondaryIndexDef& d : bad) {
    EXPECT_THROW(t->AddSecondaryIndex(d), EngineError)
        << d.name << " " << (d.fields.empty() ? "" : d.fields[0]);
  }
  t->AddSecondaryIndex({"", {"Datum"}, false, false});
  EXPECT_THROW(t->AddSecondaryIndex({"", {"Datum"}, false, false}), EngineError);
  t->AddSecondaryIndex({"Firma", {"Firma"}, true, false});
  EXPECT_THROW(t->AddSecondaryIndex({"FIRMA", {"Rada"}, false, false}), EngineError);
  auto unkeyed = ParadoxTable::Create(dir.File("U.DB"), HeaderFields(), 0);
  EXPECT_THROW(unkeyed->AddSecondaryIndex({"", {"Datum"}, false, false}), EngineError);
}

}  // namespace
}  // namespace dalimor
