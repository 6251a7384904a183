// The on-disk structures one by one: value encodings, the header codec,
// the blob file's allocation, the index tree's incremental changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/paradox/byte_order.h"
#include "engine/engine_error.h"
#include "engine/paradox/blob.h"
#include "engine/paradox/block.h"
#include "engine/paradox/field.h"
#include "engine/paradox/header.h"
#include "engine/paradox/index.h"
#include "engine/paradox/table.h"
#include "tests/engine/value_printer.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

using test::ReadFileBytes;
using test::TempDir;

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    out += kDigits[static_cast<uint8_t>(c) >> 4];
    out += kDigits[static_cast<uint8_t>(c) & 0xF];
  }
  return out;
}

TEST(ParadoxField, FlippedIntegers) {
  struct Case {
    int64_t value;
    int width;
    const char* hex;
  };
  const Case cases[] = {{1, 2, "8001"},          {-1, 2, "7FFF"},         {256, 2, "8100"},
                        {-40, 2, "7FD8"},        {0, 2, "8000"},          {32767, 2, "FFFF"},
                        {-32767, 2, "0001"},     {1, 4, "80000001"},      {-1, 4, "7FFFFFFF"},
                        {719163, 4, "800AF93B"}, {-2147483647, 4, "00000001"}};
  for (const Case& c : cases) {
    char out[4];
    EncodeFlippedInt(c.value, c.width, out);
    EXPECT_EQ(Hex(std::string_view(out, static_cast<size_t>(c.width))), c.hex) << c.value;
    EXPECT_EQ(DecodeFlippedInt(out, c.width), c.value) << c.hex;
  }
}

TEST(ParadoxField, FlippedDoubles) {
  struct Case {
    double value;
    const char* hex;
  };
  const Case cases[] = {{-40.0, "3FBBFFFFFFFFFFFF"}, {40.0, "C044000000000000"},
                        {0.0, "8000000000000000"},   {-0.0, "8000000000000000"},
                        {1.0, "BFF0000000000000"},   {-1.0, "400FFFFFFFFFFFFF"}};
  for (const Case& c : cases) {
    char out[8];
    EncodeFlippedDouble(c.value, out);
    EXPECT_EQ(Hex(std::string_view(out, 8)), c.hex) << c.value;
    EXPECT_EQ(DecodeFlippedDouble(out), c.value == 0 ? 0.0 : c.value) << c.hex;
  }
}

TEST(ParadoxField, EncodedNumbersCompareLikeTheNumbers) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> real(-1e9, 1e9);
  std::vector<double> doubles = {0.0, -1e-300, 1e-300, -1e300, 1e300};
  std::vector<int64_t> longs = {0, 1, -1, 2147483647, -2147483647};
  for (int i = 0; i < 500; ++i) {
    doubles.push_back(real(rng));
    longs.push_back(static_cast<int32_t>(rng()) | 1);
  }
  std::sort(doubles.begin(), doubles.end());
  std::sort(longs.begin(), longs.end());
  for (size_t i = 1; i < doubles.size(); ++i) {
    char a[8], b[8];
    EncodeFlippedDouble(doubles[i - 1], a);
    EncodeFlippedDouble(doubles[i], b);
    EXPECT_LE(std::memcmp(a, b, 8), 0) << doubles[i - 1] << " " << doubles[i];
  }
  for (size_t i = 1; i < longs.size(); ++i) {
    char a[4], b[4];
    EncodeFlippedInt(longs[i - 1], 4, a);
    EncodeFlippedInt(longs[i], 4, b);
    EXPECT_LE(std::memcmp(a, b, 4), 0) << longs[i - 1] << " " << longs[i];
  }
}

TEST(ParadoxField, Bcd) {
  struct Case {
    double value;
    int decimals;
    const char* hex;
  };
  const std::string zeros(28, '0'), ones(28, 'F');
  const Case cases[] = {
      {1.23, 2, "C2"},
      {-1.23, 2, "42"},
      {0.0, 4, "C4"},
  };
  const std::string tails[] = {zeros + "0123", ones + "FEDC", zeros + "0000"};
  for (size_t i = 0; i < 3; ++i) {
    char out[kBcdRecordSize];
    ASSERT_TRUE(EncodeBcd(cases[i].value, cases[i].decimals, out));
    EXPECT_EQ(Hex(std::string_view(out, kBcdRecordSize)), cases[i].hex + tails[i]) << cases[i].value;
    double back = 0;
    ASSERT_TRUE(DecodeBcd(out, cases[i].decimals, back));
    EXPECT_EQ(back, cases[i].value);
  }
  char out[kBcdRecordSize];
  EXPECT_TRUE(EncodeBcd(12345678901234567890.0, 0, out));
  EXPECT_FALSE(EncodeBcd(1e30, 4, out)) << "30 integer digits do not fit beside 4 decimals";
  EXPECT_FALSE(EncodeBcd(std::nan(""), 2, out));
  // NULL: the decimals without the 0x40 flag, or all zero.
  std::string null_bcd(kBcdRecordSize, '\0');
  double v = 0;
  EXPECT_FALSE(DecodeBcd(null_bcd.data(), 2, v));
  null_bcd[0] = 6;
  EXPECT_FALSE(DecodeBcd(null_bcd.data(), 6, v));
}

TEST(ParadoxField, DatesTimesAndTimestamps) {
  const CodePage cp = CodePage::k1250;
  char out[8];
  const FieldDef date{"D", FieldType::kDate, 0};
  EncodeFieldValue(date, 4, Date{DateTimeFromDate(1970, 1, 1)}, cp, out);
  EXPECT_EQ(Hex(std::string_view(out, 4)), "800AF93B");  // day 719163 of the Paradox count
  EXPECT_EQ(DecodeFieldValue(FieldType::kDate, out, 4, cp), Value{Date{25569}});
  // A date-time number with a time of day keeps its date.
  EncodeFieldValue(date, 4, Timestamp{25569.75}, cp, out);
  EXPECT_EQ(DecodeFieldValue(FieldType::kDate, out, 4, cp), Value{Date{25569}});

  const FieldDef stamp{"T", FieldType::kTimestamp, 0};
  const Timestamp noon{DateTimeFromDate(2011, 3, 15) + 0.5};
  EncodeFieldValue(stamp, 8, noon, cp, out);
  EXPECT_EQ(DecodeFlippedDouble(out), (734211.0 + 0.5) * kMillisecondsPerDay);
  EXPECT_EQ(DecodeFieldValue(FieldType::kTimestamp, out, 8, cp), Value{noon});

  const FieldDef time{"C", FieldType::kTime, 0};
  EncodeFieldValue(time, 4, Time{0}, cp, out);
  EXPECT_EQ(DecodeFieldValue(FieldType::kTime, out, 4, cp), Value{Time{0}}) << "midnight is no NULL";
  EncodeFieldValue(time, 4, Value{}, cp, out);
  EXPECT_TRUE(IsNull(DecodeFieldValue(FieldType::kTime, out, 4, cp)));
}

TEST(ParadoxField, AlphaLogicalAndNulls) {
  const CodePage cp = CodePage::k1250;
  char out[10];
  const FieldDef alpha{"A", FieldType::kAlpha, 10};
  EncodeFieldValue(alpha, 10, std::string("Žluť"), cp, out);
  EXPECT_EQ(Hex(std::string_view(out, 10)), "8E6C759D000000000000");
  EXPECT_EQ(DecodeFieldValue(FieldType::kAlpha, out, 10, cp), Value{std::string("Žluť")});
  EncodeFieldValue(alpha, 10, std::string(), cp, out);
  EXPECT_TRUE(IsNull(DecodeFieldValue(FieldType::kAlpha, out, 10, cp))) << "empty alpha is NULL";
  EncodeFieldValue(alpha, 10, Bytes{std::string("\x8A\x9A", 2)}, cp, out);  // raw code-page bytes
  EXPECT_EQ(DecodeFieldValue(FieldType::kAlpha, out, 10, cp), Value{std::string("Šš")});

  const FieldDef logical{"L", FieldType::kLogical, 0};
  EncodeFieldValue(logical, 1, true, cp, out);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 0x81);
  EncodeFieldValue(logical, 1, false, cp, out);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 0x80);
  EXPECT_EQ(DecodeFieldValue(FieldType::kLogical, out, 1, cp), Value{false});

  const FieldDef number{"N", FieldType::kNumber, 0};
  EncodeFieldValue(number, 8, 0.0, cp, out);
  EXPECT_EQ(DecodeFieldValue(FieldType::kNumber, out, 8, cp), Value{0.0}) << "zero is no NULL";
  EncodeFieldValue(number, 8, int64_t{7}, cp, out);
  EXPECT_EQ(DecodeFieldValue(FieldType::kNumber, out, 8, cp), Value{7.0});
}

TEST(ParadoxField, RefusedValues) {
  const CodePage cp = CodePage::k1250;
  char out[8];
  struct Case {
    FieldDef def;
    int width;
    Value value;
  };
  const std::vector<Case> cases = {
      {{"S", FieldType::kShort, 0}, 2, int64_t{-32768}},
      {{"S", FieldType::kShort, 0}, 2, int64_t{32768}},
      {{"I", FieldType::kLong, 0}, 4, int64_t{-2147483648LL}},
      {{"I", FieldType::kLong, 0}, 4, 1.5},
      {{"I", FieldType::kLong, 0}, 4, std::string("1")},
      {{"N", FieldType::kNumber, 0}, 8, std::nan("")},
      {{"N", FieldType::kNumber, 0}, 8, true},
      {{"L", FieldType::kLogical, 0}, 1, int64_t{1}},
      {{"D", FieldType::kDate, 0}, 4, Time{5}},
      {{"T", FieldType::kTime, 0}, 4, Time{-1}},
      {{"A", FieldType::kAlpha, 8}, 8, std::string("日本")},
      {{"Y", FieldType::kBytes, 8}, 8, std::string("text")},
  };
  for (const Case& c : cases) {
    try {
      EncodeFieldValue(c.def, c.width, c.value, cp, out);
      ADD_FAILURE() << "accepted " << test::Show(c.value) << " for " << FieldTypeLetter(c.def.type);
    } catch (const EngineError& e) {
      EXPECT_EQ(e.kind(), EngineErrorKind::kGeneral);
      EXPECT_NE(std::string(e.what()).find("Field: " + c.def.name), std::string::npos);
    }
  }
}

TEST(ParadoxField, ValidFieldNames) {
  struct Case {
    std::string name;
    bool valid;
  };
  const Case cases[] = {
      {"DoklSRada", true},
      {"Číslo účtu", true},
      {"ŽLUŤOUČKÝ kůň", true},
      {"Cena#1", true},
      {"A_b$c%d&e*f+g-h.i/j", true},
      {"k:l;m<n=o>p?q@r!s^t`u|v~\\", true},
      {"Abcdefghijklmnopqrstuvwxy", true},    // 25 characters
      {"Ábcdefghijklmnopqrstuvwxý", true},    // 25 characters, 27 bytes
      {"Abcdefghijklmnopqrstuvwxyz", false},  // 26 characters
      {"", false},
      {" Text", false},
      {"#", false},
      {"Cena->DPH", false},
      {"DoklSRada) SELECT 1 --", false},
      {"Text, DoklSRada", false},
      {"Te'xt", false},
      {"\"Text\"", false},
      {"Text[1]", false},
      {"Text{1}", false},
      {"Text\t", false},
      {"Text\r\nDELETE", false},
      {"Text\x7F", false},
      {"Text\xC2\x85", false},     // U+0085, a control character
      {"Text\xC2\xA0", false},     // U+00A0, no blank Paradox knows
      {"Cena \xC3\x97 2", false},  // U+00D7, the multiplication sign
      {"\xE6\xBC\xA2", false},    // a letter no Czech code page holds
      {"Text\xFF", false},         // no UTF-8
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidFieldName(c.name), c.valid) << c.name;
}

TEST(ParadoxHeader, RewritingKeepsUnknownBytesAndChangesOnlyCounters) {
  DALIMOR_REQUIRE_FIXTURES();
  const auto path = test::FixturesDir() / "paradox/leonhad-paradoxdriver/db/CUSTOMER.DB";
  const std::string bytes = ReadFileBytes(path);
  ParadoxHeader h = DecodeParadoxHeader(bytes, path.string());
  EXPECT_EQ(EncodeParadoxHeader(h), bytes.substr(0, h.header_size)) << "unchanged header, same bytes";
  h.record_count = 12345;
  h.first_free_block = 3;
  h.auto_increment = 99;
  const std::string out = EncodeParadoxHeader(h);
  size_t differing = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == bytes[i]) continue;
    ++differing;
    const bool expected = (i >= 0x06 && i < 0x0A) || (i >= 0x4D && i < 0x4F) || (i >= 0x49 && i < 0x4D);
    EXPECT_TRUE(expected) << "byte 0x" << std::hex << i;
  }
  EXPECT_GT(differing, 0u);
  const ParadoxHeader again = DecodeParadoxHeader(out, "again");
  EXPECT_EQ(again.record_count, 12345u);
  EXPECT_EQ(again.field_names, h.field_names);
  EXPECT_EQ(again.sort_order_name, "ANSII850");
}

TEST(ParadoxHeader, NewLevel7HeaderHasTheLayoutOfBdeMadeTables) {
  TempDir dir;
  ParadoxTable::Create(dir.File("NOVA.DB"),
                       {{"Cislo", FieldType::kAutoInc, 0}, {"Jméno", FieldType::kAlpha, 51}}, 1)
      ->Close();
  const std::string db = ReadFileBytes(dir.File("NOVA.DB"));
  const ParadoxHeader h = DecodeParadoxHeader(db, "NOVA.DB");
  EXPECT_EQ(h.header_size, 0x800);
  EXPECT_EQ(GetU32(db.data() + 0x25), kLevel4EncryptionMarker);
  EXPECT_EQ(GetU16(db.data() + 0x58), 0x010C);
  EXPECT_EQ(GetU16(db.data() + 0x64), 3);  // fields + 1
  EXPECT_EQ(static_cast<uint8_t>(db[0x56]), 0x20);
  EXPECT_EQ(Hex(db.substr(0x3E, 2)), "1F0F");
  // Used bytes end at the sort-order name, which 0x6E locates.
  const size_t sort_at = 0x58 + GetU16(db.data() + 0x6E);
  EXPECT_EQ(db.substr(sort_at, 9), std::string("anczechw\0", 9));
  EXPECT_EQ(GetU16(db.data() + 0x51), sort_at + 9);
  // Field numbers 1, 2 right after the names, which 0x66 locates.
  const size_t numbers_at = 0x58 + GetU16(db.data() + 0x66);
  EXPECT_EQ(GetU16(db.data() + numbers_at), 1);
  EXPECT_EQ(GetU16(db.data() + numbers_at + 2), 2);
  EXPECT_EQ(db.substr(numbers_at - 6, 6), std::string("Jm\xE9no\0", 6));
  EXPECT_EQ(h.table_name, "NOVA.DB");

  const std::string px = ReadFileBytes(dir.File("NOVA.PX"));
  const ParadoxHeader x = DecodeParadoxHeader(px, "NOVA.PX");
  EXPECT_EQ(x.file_type, 1);
  EXPECT_EQ(x.record_size, 4 + 6);
  EXPECT_EQ(x.fields.size(), 1u);
  EXPECT_EQ(GetU16(px.data() + 0x51), 0x58 + 2 + 4 + 261);
  EXPECT_EQ(x.sort_order_id, 83);
}

TEST(ParadoxBlob, SmallBlobsShareABlockFromTheLastSlotDown) {
  TempDir dir;
  auto mb = BlobFile::Create(dir.File("B.MB"));
  std::vector<BlobTrailer> refs;
  for (int i = 0; i < 10; ++i) refs.push_back(mb->Write(std::string(static_cast<size_t>(20 + i), static_cast<char>('a' + i))));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(refs[static_cast<size_t>(i)].offset, 4096u);
    EXPECT_EQ(refs[static_cast<size_t>(i)].slot, 0x3F - i);
    EXPECT_EQ(mb->Read(refs[static_cast<size_t>(i)]), std::string(static_cast<size_t>(20 + i), static_cast<char>('a' + i)));
  }
  // Short blobs reach the file when it is flushed.
  EXPECT_EQ(ReadFileBytes(dir.File("B.MB")).size(), 4096u);
  mb->Flush();
  const std::string file = ReadFileBytes(dir.File("B.MB"));
  ASSERT_EQ(file.size(), 8192u);
  EXPECT_EQ(file[4096], 3);
  // Slot 0x3F: data at chunk 0x15 (offset 0x150), 2 chunks, 4 bytes in the last.
  const char* slot = file.data() + 4096 + 12 + 0x3F * 5;
  EXPECT_EQ(static_cast<uint8_t>(slot[0]), 0x15);
  EXPECT_EQ(static_cast<uint8_t>(slot[1]), 2);
  EXPECT_EQ(static_cast<uint8_t>(slot[4]), 4);
  EXPECT_EQ(GetU16(slot + 2), refs[0].modification);
  // A freed slot's space takes the next blob of its size.
  mb->Free(refs[3]);
  const BlobTrailer again = mb->Write(std::string(23, 'z'));
  EXPECT_EQ(again.offset, 4096u);
  EXPECT_EQ(ReadFileBytes(dir.File("B.MB")).size(), 8192u);
  EXPECT_EQ(mb->Read(again), std::string(23, 'z'));
  BlobTrailer wrong = again;
  wrong.length = 22;
  EXPECT_THROW(mb->Read(wrong), EngineError);
}

TEST(ParadoxBlob, LargeBlobsGetTheirOwnBlocksAndFreedBlocksMergeAndAreReused) {
  TempDir dir;
  auto mb = BlobFile::Create(dir.File("B.MB"));
  const BlobTrailer a = mb->Write(std::string(5000, 'a'));  // 9 + 5000 bytes: 2 units
  const BlobTrailer b = mb->Write(std::string(6000, 'b'));  // 2 units
  const BlobTrailer c = mb->Write(std::string(100, 'c'));   // sub-allocated, 1 unit
  EXPECT_EQ(a.slot, kMbSingleSlot);
  EXPECT_EQ(a.offset, 4096u);
  EXPECT_EQ(b.offset, 3u * 4096u);
  EXPECT_EQ(c.offset, 5u * 4096u);
  mb->Flush();
  std::string file = ReadFileBytes(dir.File("B.MB"));
  EXPECT_EQ(file.size(), 6u * 4096u);
  EXPECT_EQ(file[4096], 2);
  EXPECT_EQ(GetU16(file.data() + 4097), 2);
  EXPECT_EQ(GetU32(file.data() + 4099), 5000u);
  mb->Free(a);
  mb->Free(b);
  file = ReadFileBytes(dir.File("B.MB"));
  EXPECT_EQ(file[4096], 4);
  EXPECT_EQ(GetU16(file.data() + 4097), 4) << "the two free blocks merged";
  const BlobTrailer d = mb->Write(std::string(12000, 'd'));  // 3 units, from the free space
  EXPECT_EQ(d.offset, 4096u);
  mb->Flush();
  EXPECT_EQ(ReadFileBytes(dir.File("B.MB")).size(), 6u * 4096u);
  EXPECT_EQ(mb->Read(d), std::string(12000, 'd'));
  EXPECT_EQ(mb->Read(c), std::string(100, 'c'));
  EXPECT_GT(d.modification, c.modification);
}

// Many short and long blobs written and freed at random: every live blob
// reads back before and after the file is flushed and reopened, freed space
// is taken again before the file grows, and the blocks stay well formed.
TEST(ParadoxBlob, RandomWritesAndFreesReadBackAndReuseSpace) {
  TempDir dir;
  std::mt19937 random(7);
  std::vector<std::pair<BlobTrailer, std::string>> live;
  auto mb = BlobFile::Create(dir.File("B.MB"));
  auto payload = [&](size_t n) {
    std::string text(n, ' ');
    for (char& c : text) c = static_cast<char>('a' + random() % 26);
    return text;
  };
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 400; ++i) {
      const size_t n = random() % 10 == 0 ? 2100 + random() % 5000 : 1 + random() % 300;
      std::string text = payload(n);
      live.emplace_back(mb->Write(text), std::move(text));
    }
    std::shuffle(live.begin(), live.end(), random);
    for (size_t i = 0; i < live.size() / 2; ++i) mb->Free(live[i].first);
    live.erase(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(live.size() / 2));
    for (const auto& [ref, text] : live) ASSERT_EQ(mb->Read(ref), text);
  }
  mb->Flush();
  const size_t size = ReadFileBytes(dir.File("B.MB")).size();
  // Freed space is used again: what was freed in the last round holds as
  // much as the next blobs need, so the file does not grow.
  mb->Free(live.back().first);
  const std::string same = live.back().second;
  live.pop_back();
  live.emplace_back(mb->Write(same), same);
  mb.reset();
  EXPECT_EQ(ReadFileBytes(dir.File("B.MB")).size(), size);
  mb = BlobFile::Open(dir.File("B.MB"), true);
  for (const auto& [ref, text] : live) ASSERT_EQ(mb->Read(ref), text);
  const std::string more = payload(100);
  const BlobTrailer ref = mb->Write(more);
  mb.reset();
  EXPECT_EQ(ReadFileBytes(dir.File("B.MB")).size(), size) << "a gap of an earlier block is used";
  mb = BlobFile::Open(dir.File("B.MB"), false);
  EXPECT_EQ(mb->Read(ref), more);
}

// Applies random insertions, updates and removals to an index tree and to
// a plain list, and checks the written blocks against the list.
TEST(ParadoxIndex, IncrementalChangesMatchTheDataChain) {
  constexpr int kKey = 4;
  constexpr int kBlockSize = 1024;  // 101 entries, 100 filled
  std::mt19937 rng(11);
  struct Entry {
    uint16_t block;
    uint32_t key;
    uint32_t count;
  };
  auto key_of = [](uint32_t k) {
    char out[kKey];
    EncodeFlippedInt(k, kKey, out);
    return std::string(out, kKey);
  };
  std::vector<Entry> chain;
  std::vector<IndexEntry> level1;
  for (uint16_t b = 1; b <= 50; ++b) {  // one block: the root grows later
    chain.push_back({b, b * 1000000u, 5});
    level1.push_back({key_of(b * 1000000u), b, 5});
  }
  IndexTree tree;
  tree.Build(level1, kKey, kBlockSize);
  EXPECT_EQ(tree.levels(), 1);
  std::string px(0x800 + 0x400 * 1000, '\0');
  uint16_t next_block = 51;
  auto check = [&](int round) {
    SCOPED_TRACE(round);
    for (const auto& [n, bytes] : tree.TakeChangedBlocks()) px.replace(0x800 + (n - 1u) * kBlockSize, kBlockSize, bytes);
    ParadoxHeader h;
    h.header_size = 0x800;
    h.record_size = kKey + kIndexEntryTrailerSize;
    h.block_size_kb = 1;
    h.total_blocks = tree.block_count();
    h.index_root = tree.root();
    h.index_levels = static_cast<uint8_t>(tree.levels());
    h.record_count = tree.entry_count();
    const std::vector<IndexEntry> read = ReadIndexLevel1(h, px, "test.PX");
    ASSERT_EQ(read.size(), chain.size());
    for (size_t i = 0; i < chain.size(); ++i) {
      EXPECT_EQ(read[i].child, chain[i].block);
      EXPECT_EQ(read[i].key, key_of(chain[i].key));
      EXPECT_EQ(read[i].count, chain[i].count);
    }
  };
  check(0);
  for (int round = 1; round <= 3000; ++round) {
    const size_t i = rng() % chain.size();
    const int what = static_cast<int>(rng() % 10);
    if (what < 6) {
      // A split: a new block after chain[i] takes a key between.
      if (next_block >= 1000) continue;
      const uint32_t lo = chain[i].key;
      const uint32_t hi = i + 1 < chain.size() ? chain[i + 1].key : lo + 1000000;
      if (hi - lo < 2) continue;
      const Entry e{next_block++, lo + (hi - lo) / 2, 1 + static_cast<uint32_t>(rng() % 9)};
      tree.InsertAfter(chain[i].block, e.block);
      tree.Update(e.block, key_of(e.key), e.count);
      chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(i) + 1, e);
    } else if (what < 8) {
      if (chain.size() <= 2 || i == 0) continue;
      if (!tree.Erase(chain[i].block)) {
        chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(i));
        std::vector<IndexEntry> all;
        for (const Entry& e : chain) all.push_back({key_of(e.key), e.block, e.count});
        tree.Build(all, kKey, kBlockSize);
      } else {
        chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(i));
      }
    } else {
      chain[i].count = 1 + static_cast<uint32_t>(rng() % 20);
      tree.Update(chain[i].block, key_of(chain[i].key), chain[i].count);
    }
    if (round % 100 == 0) check(round);
  }
  check(3001);
  EXPECT_GE(tree.levels(), 2) << chain.size() << " entries";
}

}  // namespace
}  // namespace dalimor
