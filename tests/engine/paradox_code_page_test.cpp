// The code page of a Paradox table: text of every known code page stored as
// iconv encodes it and read back, and tables whose header names a code page
// the engine does not know, which are read with a guessed code page and
// refused for writing.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/paradox/block.h"
#include "engine/paradox/byte_order.h"
#include "engine/paradox/table.h"
#include "tests/engine/value_printer.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::Show;
using test::TempDir;

// The header's code page number (level 4+ tables).
constexpr size_t kCodePageOffset = 0x6A;

// iconv's encoding of UTF-8 text into a code page; empty when iconv fails.
std::string IconvEncode(const TempDir& dir, const std::string& utf8, int code_page) {
  test::WriteFileBytes(dir.path() / "iconv_in.txt", utf8);
  fs::remove(dir.path() / "iconv_out.txt");
  if (test::RunCommand("iconv -f UTF-8 -t CP" + std::to_string(code_page) + " -o " +
                       dir.File("iconv_out.txt") + " " + dir.File("iconv_in.txt")) != 0)
    return {};
  return ReadFileBytes(dir.path() / "iconv_out.txt");
}

// Every file of the folder with its bytes.
std::map<std::string, std::string> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  return files;
}

struct NationalText {
  int code_page;
  const char* field;  // a field name in the code page's letters
  const char* text;   // none of it fits code page 437 as a whole
};

constexpr NationalText kNationalTexts[] = {
    {737, "Ψυχή", "Αθήνα, Θεσσαλονίκη"},
    {857, "Şehir", "İstanbul, Çağrı, Şişli"},
    {860, "Cidade", "São João, Conceição"},
    {861, "Bær", "Þórshöfn, Ísafjörður"},
    {862, "עיר", "שלום עולם"},
    {863, "Ville", "Île d'Orléans, Hôtel-Dieu"},
    {865, "Sted", "Østland, Ærø, Tromsø"},
    {869, "Ψυχή", "Αθήνα, Θεσσαλονίκη"},
    {874, "เมือง", "ภาษาไทย"},
    {1253, "Πόλη", "Καλημέρα, Ψυχή"},
    {1255, "עיר", "שלום עולם"},
    {1256, "مدينة", "مرحبا بالعالم"},
    {1257, "Miestas", "Šiauliai, Klaipėda, Rīga"},
};

// A table created in each code page keeps its national letters: the .DB
// and the .MB hold iconv's bytes for them, the field name comes back, and
// the text reads back unchanged after the table is opened again.
TEST(ParadoxCodePage, NationalTextIsStoredAsIconvEncodesIt) {
  DALIMOR_SKIP_ON_WINDOWS("iconv is a Linux tool");
  for (const NationalText& c : kNationalTexts) {
    SCOPED_TRACE("code page " + std::to_string(c.code_page));
    TempDir dir;
    const std::string path = dir.File("MESTA.DB");
    const std::string encoded = IconvEncode(dir, c.text, c.code_page);
    ASSERT_FALSE(encoded.empty()) << "iconv cannot encode the text";
    ASSERT_TRUE(IconvEncode(dir, c.text, 437).empty()) << "the text fits 437 too";
    const std::string memo = std::string(c.text) + " / " + c.text + " / " + c.text;
    {
      const auto t = ParadoxTable::Create(
          path,
          {{"Cislo", FieldType::kShort, 0},
           {c.field, FieldType::kAlpha, 60},
           {"Poznamka", FieldType::kMemo, 1}},
          1,
          CreateOptions{.code_page = c.code_page, .sort_order_name = "ascii", .sort_order_id = 0});
      t->Insert({int64_t{1}, std::string(c.text), memo});
      t->Close();
    }

    const std::string db = ReadFileBytes(path);
    ASSERT_GT(db.size(), 0x80u);
    EXPECT_EQ(GetU16(db.data() + kCodePageOffset), c.code_page);
    // The only record: first slot of the first data block, after the key.
    const size_t record = GetU16(db.data() + 2) + static_cast<size_t>(kBlockHeaderSize) + 2;
    ASSERT_GE(db.size(), record + 60);
    EXPECT_EQ(db.substr(record, encoded.size()), encoded);
    EXPECT_EQ(db.substr(record + encoded.size(), 60 - encoded.size()),
              std::string(60 - encoded.size(), '\0'));
    const std::string memo_encoded = IconvEncode(dir, memo, c.code_page);
    EXPECT_NE(ReadFileBytes(dir.path() / "MESTA.MB").find(memo_encoded), std::string::npos);

    const auto t = ParadoxTable::Open(path, OpenMode::kReadOnly);
    EXPECT_EQ(static_cast<int>(t->text_code_page()), c.code_page);
    EXPECT_EQ(t->fields()[1].name, c.field);
    const Record r = t->Read(*t->First());
    EXPECT_EQ(r[1], Value(std::string(c.text))) << Show(r[1]);
    EXPECT_EQ(r[2], Value(memo)) << Show(r[2]);
  }
}

// A header naming a code page the engine has no table for: the table opens
// and reads with the sort order's code page (1250 for anczechw), but every
// kind of write is refused, naming the file and the code page, and no file
// changes.  A code page given by the caller makes it writable again.
TEST(ParadoxCodePage, UnknownCodePageIsReadButNotWritten) {
  for (const int unknown : {1258, 9999, 0}) {
    SCOPED_TRACE("code page " + std::to_string(unknown));
    TempDir dir;
    const std::string path = dir.File("POBOCKY.DB");
    const std::vector<FieldDef> fields = {{"Cislo", FieldType::kShort, 0},
                                          {"Nazev", FieldType::kAlpha, 30},
                                          {"Poznamka", FieldType::kMemo, 1}};
    const Record row = {int64_t{1}, std::string("Pobočka Brno"), std::string("Účetní doklady")};
    {
      const auto t = ParadoxTable::Create(path, fields, 1);
      t->Insert(row);
      t->Close();
      const auto source = ParadoxTable::Create(dir.File("ZDROJ.DB"), fields, 1);
      source->Insert({int64_t{2}, std::string("Centrála Praha"), Value{}});
      source->Close();
    }
    std::string db = ReadFileBytes(path);
    PutU16(db.data() + kCodePageOffset, static_cast<uint16_t>(unknown));
    test::WriteFileBytes(path, db);
    const std::map<std::string, std::string> before = FolderBytes(dir.path());

    {
      const auto t = ParadoxTable::Open(path, OpenMode::kShared);
      EXPECT_EQ(t->code_page(), unknown);
      EXPECT_EQ(t->text_code_page(), CodePage::k1250);
      const RecordPosition first = *t->First();
      EXPECT_EQ(t->Read(first), row);

      const auto source = ParadoxTable::Open(dir.File("ZDROJ.DB"), OpenMode::kReadOnly);
      const std::vector<std::pair<const char*, std::function<void()>>> writes = {
          {"Insert", [&] { t->Insert({int64_t{3}, std::string("Nová"), Value{}}); }},
          {"Update", [&] { t->Update(first, {int64_t{1}, std::string("Jiná"), Value{}}); }},
          {"UpdateFields", [&] { t->UpdateFields(first, {{1, std::string("Jiná")}}); }},
          {"Delete", [&] { t->Delete(first); }},
          {"CopyRecordsFrom", [&] { t->CopyRecordsFrom(*source, {*source->First()}, {0, 1, 2}); }},
      };
      for (const auto& [name, write] : writes) {
        try {
          write();
          ADD_FAILURE() << name << " wrote";
        } catch (const EngineError& e) {
          EXPECT_EQ(e.kind(), EngineErrorKind::kUnsupported) << name << ": " << e.what();
          const std::string message = e.what();
          EXPECT_NE(message.find("code page " + std::to_string(unknown) + " "), std::string::npos)
              << name << ": " << message;
          EXPECT_NE(message.find("POBOCKY.DB"), std::string::npos) << name << ": " << message;
        }
      }
      EXPECT_EQ(t->record_count(), 1u);
      EXPECT_EQ(t->Read(first), row);
      t->Close();
    }
    EXPECT_EQ(FolderBytes(dir.path()), before);

    const auto t =
        ParadoxTable::Open(path, OpenMode::kShared, OpenOptions{.code_page = CodePage::k1250});
    t->Insert({int64_t{3}, std::string("Nová pobočka"), Value{}});
    EXPECT_EQ(t->record_count(), 2u);
    EXPECT_EQ(t->Read(*t->Last())[1], Value(std::string("Nová pobočka")));
  }
}

}  // namespace
}  // namespace dalimor
