// How the demo installation grows: more item lines per document with
// headers that still agree with their items, row estimates that follow the
// generator, and larger blocks for tables that would otherwise come near
// the 65535 blocks a Paradox table can have.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "batch/catalogue.h"
#include "cli/cli.h"
#include "demo/demo_company.h"
#include "demo/demo_installation.h"
#include "demo/demo_table_writer.h"
#include "demo/demo_tables.h"
#include "engine/paradox/table.h"
#include "platform/file_system.h"
#include "tests/engine/pxlib_reader.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::string Table(const fs::path& company, std::string_view relative) {
  const auto path = FindRelativePathIgnoringCase(company, relative);
  if (!path) throw std::runtime_error("missing " + std::string(relative));
  return path->string();
}

std::string_view Folder(const Agenda& a) {
  return a.kind == AgendaKind::kS ? "SDATA/S/" : "CDATA/S/";
}

double Number(const Record& row, const ParadoxTable& table, std::string_view field) {
  const int i = table.FieldIndex(field);
  if (i < 0) throw std::logic_error(table.path() + " has no field " + std::string(field));
  const Value& v = row[static_cast<size_t>(i)];
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* n = std::get_if<int64_t>(&v)) return static_cast<double>(*n);
  return 0;
}

std::string DocumentKey(const Record& row, const ParadoxTable& table, const Agenda& a) {
  const auto text = [&](std::string_view field) {
    return std::get<std::string>(row[static_cast<size_t>(table.FieldIndex(field))]);
  };
  return text(a.series_field) + "/" + text(a.number_field);
}

// A document of an agenda with items: its header and its item rows.
struct Document {
  Record header;
  std::vector<Record> items;
};

struct AgendaData {
  std::unique_ptr<ParadoxTable> header_table, item_table;
  std::map<std::string, Document> documents;
};

AgendaData ReadAgenda(const fs::path& company, const Agenda& a) {
  AgendaData data;
  const std::string folder(Folder(a));
  data.header_table =
      ParadoxTable::Open(Table(company, folder + std::string(a.header_table)), OpenMode::kReadOnly);
  data.item_table =
      ParadoxTable::Open(Table(company, folder + std::string(a.item_table)), OpenMode::kReadOnly);
  for (Record& h : data.header_table->ReadAll()) {
    const std::string key = DocumentKey(h, *data.header_table, a);
    data.documents[key].header = std::move(h);
  }
  for (Record& item : data.item_table->ReadAll()) {
    const std::string key = DocumentKey(item, *data.item_table, a);
    data.documents.at(key).items.push_back(std::move(item));
  }
  return data;
}

std::vector<const Agenda*> AgendasWithItems() {
  std::vector<const Agenda*> out;
  for (const Agenda& a : Agendas())
    if (!a.item_table.empty()) out.push_back(&a);
  return out;
}

// The most item lines each agenda's documents have without max_lines.
int BuiltInMaximum(std::string_view agenda) {
  static const std::map<std::string_view, int> kMaxima = {
      {"PF", 4}, {"VF", 5}, {"SklOper", 6}, {"Obj", 5}, {"Pokl", 3}, {"Banka", 7}, {"IntDokl", 4},
  };
  return kMaxima.at(agenda);
}

// Header fields that are the sum of an item field (less a second header
// field where one is given: a statement's income less its expenses, its
// closing less its opening balance); no item field: the item count.
struct SumRule {
  std::string_view agenda, header_field, item_field, header_less = {};
};
constexpr SumRule kSums[] = {
    {"PF", "CelkemBezDPH", "CelkemBezDPH"},
    {"PF", "CelkemDPH", "DPH"},
    {"VF", "CelkemBezDPH", "CelkemBezDPH"},
    {"VF", "CelkemDPH", "DPH"},
    {"SklOper", "CelkemBezDPH", "CelkemBezDPH"},
    {"SklOper", "CelkemSDPH", "CelkemSDPH"},
    {"SklOper", "PocetPolozek", {}},
    {"Obj", "CelkemBezDPH", "CelkemBezDPH"},
    {"Obj", "CelkemSDPH", "CelkemSDPH"},
    {"Pokl", "Castka", "Castka"},
    {"Banka", "Prijmy", "Castka", "Vydaje"},
    {"Banka", "KonecnyZustatek", "Castka", "PocatecniZustatek"},
    {"IntDokl", "Castka", "Castka"},
};

// Every header of the company agrees with its item rows.
void ExpectHeadersAgreeWithItems(const fs::path& company) {
  for (const Agenda* a : AgendasWithItems()) {
    SCOPED_TRACE(std::string(a->code));
    const AgendaData data = ReadAgenda(company, *a);
    for (const SumRule& rule : kSums) {
      if (rule.agenda != a->code) continue;
      for (const auto& [key, doc] : data.documents) {
        double expected = 0;
        if (rule.item_field.empty()) expected = static_cast<double>(doc.items.size());
        for (const Record& item : doc.items)
          if (!rule.item_field.empty()) expected += Number(item, *data.item_table, rule.item_field);
        double actual = Number(doc.header, *data.header_table, rule.header_field);
        if (!rule.header_less.empty())
          actual -= Number(doc.header, *data.header_table, rule.header_less);
        EXPECT_NEAR(actual, expected, 0.005) << key << " " << rule.header_field;
      }
    }
  }
}

// The most and the fewest item rows of a document, per agenda.
std::map<std::string, std::pair<size_t, size_t>> LineRange(const fs::path& company) {
  std::map<std::string, std::pair<size_t, size_t>> out;
  for (const Agenda* a : AgendasWithItems()) {
    const AgendaData data = ReadAgenda(company, *a);
    auto& [fewest, most] = out[std::string(a->code)];
    fewest = SIZE_MAX;
    for (const auto& [key, doc] : data.documents) {
      fewest = std::min(fewest, doc.items.size());
      most = std::max(most, doc.items.size());
    }
  }
  return out;
}

uint64_t ItemRows(const fs::path& company) {
  uint64_t rows = 0;
  for (const Agenda* a : AgendasWithItems())
    rows += ParadoxTable::Open(Table(company, std::string(Folder(*a)) + std::string(a->item_table)),
                               OpenMode::kReadOnly)
                ->record_count();
  return rows;
}

// ------------------------------------------------------------ item lines

TEST(DemoLines, DefaultHeadersAgreeWithTheirItems) {
  test::TempDir dir;
  WriteDemoInstallation(dir.path().string(), DemoOptions{});
  ExpectHeadersAgreeWithItems(dir.path() / "DATA" / "BRNO");
  ExpectHeadersAgreeWithItems(dir.path() / "DATA" / "OSTRAVA");
}

TEST(DemoLines, MaxLinesBoundsTheLinesOfEveryDocumentKind) {
  test::TempDir base_dir;
  WriteDemoInstallation(base_dir.path().string(), DemoOptions{});
  const uint64_t base_rows = ItemRows(base_dir.path() / "DATA" / "BRNO");
  const auto ostrava_rows = ItemRows(base_dir.path() / "DATA" / "OSTRAVA");

  for (const int lines : {1, 12}) {
    SCOPED_TRACE("max_lines " + std::to_string(lines));
    test::TempDir dir;
    WriteDemoInstallation(dir.path().string(), DemoOptions{1, 1, lines});
    for (const char* company : {"BRNO", "PRAHA"}) {
      SCOPED_TRACE(company);
      for (const auto& [agenda, range] : LineRange(dir.path() / "DATA" / company)) {
        SCOPED_TRACE(agenda);
        EXPECT_GE(range.first, 1u);
        EXPECT_LE(range.second, static_cast<size_t>(lines));
        // The bound reaches every kind: some document draws more lines
        // than the kind's own maximum.
        if (lines > 7) {
          EXPECT_GT(range.second, static_cast<size_t>(BuiltInMaximum(agenda)));
        }
        if (lines == 1) {
          EXPECT_EQ(range.second, 1u);
        }
      }
    }
    const uint64_t rows = ItemRows(dir.path() / "DATA" / "BRNO");
    if (lines == 1) {
      EXPECT_LT(rows, base_rows);
    } else {
      EXPECT_GT(rows, 2 * base_rows);
    }
    ExpectHeadersAgreeWithItems(dir.path() / "DATA" / "BRNO");
    // The third company is the same whatever the options.
    EXPECT_EQ(ItemRows(dir.path() / "DATA" / "OSTRAVA"), ostrava_rows);
  }
}

TEST(DemoLines, NegativeMaxLinesIsRefused) {
  test::TempDir dir;
  EXPECT_THROW(WriteDemoInstallation(dir.File("x"), DemoOptions{1, 1, -1}), std::invalid_argument);
  EXPECT_THROW(DemoBlockSizes(DemoOptions{1, 1, -1}), std::invalid_argument);
  EXPECT_THROW(DemoBlockSizes(DemoOptions{0, 1, 0}), std::invalid_argument);
  EXPECT_FALSE(fs::exists(dir.path() / "x"));
}

// The estimates the block sizes rest on follow what the generator writes:
// never much below the rows written, never far above.
TEST(DemoLines, ExpectedRowsFollowTheRowsWritten) {
  for (const int lines : {0, 10}) {
    SCOPED_TRACE("max_lines " + std::to_string(lines));
    test::TempDir dir;
    WriteDemoInstallation(dir.path().string(), DemoOptions{2, 1, lines});
    DemoCompanyPlan brno;
    brno.scale = 2;
    brno.max_lines = lines;
    brno.journal_invoices = false;
    const auto expected = ExpectedDemoRows(brno);
    for (const DemoTableDef& def : DemoCompanyTableDefs()) {
      SCOPED_TRACE(std::string(def.file_name));
      const uint64_t rows =
          ParadoxTable::Open(Table(dir.path() / "DATA" / "BRNO",
                                   std::string(def.folder) + "/" + std::string(def.file_name)),
                             OpenMode::kReadOnly)
              ->record_count();
      const double estimate = static_cast<double>(expected.at(std::string(def.file_name)));
      EXPECT_LE(static_cast<double>(rows), 1.25 * estimate + 5);
      EXPECT_LE(estimate, 2.5 * static_cast<double>(rows) + 20);
    }
  }
}

// ------------------------------------------------------------ block sizes

TEST(DemoBlocks, SmallInstallationsKeepTheUsualBlockSizes) {
  for (const DemoOptions& options :
       {DemoOptions{}, DemoOptions{100, 1, 0}, DemoOptions{1, 1, 20}}) {
    SCOPED_TRACE(options.scale);
    const auto sizes = DemoBlockSizes(options);
    ASSERT_EQ(sizes.size(), DemoCompanyTableDefs().size());
    for (const DemoTableDef& def : DemoCompanyTableDefs())
      EXPECT_EQ(sizes.at(std::string(def.file_name)), def.block_size) << def.file_name;
  }
  // And what is written has them.
  test::TempDir dir;
  WriteDemoInstallation(dir.path().string(), DemoOptions{});
  for (const DemoTableDef& def : DemoCompanyTableDefs()) {
    const fs::path path = Table(dir.path() / "DATA" / "PRAHA",
                                std::string(def.folder) + "/" + std::string(def.file_name));
    EXPECT_EQ(ParadoxTable::Open(path.string(), OpenMode::kReadOnly)->block_size(), def.block_size)
        << def.file_name;
  }
}

TEST(DemoBlocks, LargeInstallationsGetLargerBlocksWithRoomForBothCompanies) {
  const DemoOptions options{530, 1, 20};
  const auto sizes = DemoBlockSizes(options);
  // The journal receives the most rows; the item tables too need more than 2 KB.
  EXPECT_GE(sizes.at("Cdenik.DB"), 16384);
  for (const char* items : {"Svfp.DB", "CPoklSD.DB", "CBankap.DB"})
    EXPECT_GT(sizes.at(items), 2048);
  EXPECT_EQ(sizes.at("LKlice.DB"), 2048);

  // Both companies' rows, in blocks filled to two thirds, take at most half
  // of what a table can hold.
  DemoCompanyPlan brno, praha;
  brno.scale = praha.scale = options.scale;
  brno.max_lines = praha.max_lines = options.max_lines;
  brno.journal_invoices = false;
  const auto brno_rows = ExpectedDemoRows(brno), praha_rows = ExpectedDemoRows(praha);
  for (const DemoTableDef& def : DemoCompanyTableDefs()) {
    SCOPED_TRACE(std::string(def.file_name));
    const std::string name(def.file_name);
    const int size = sizes.at(name);
    EXPECT_GE(size, def.block_size);
    const double per_block = static_cast<double>((size - 6) / DemoRecordSize(def));
    const double blocks =
        static_cast<double>(brno_rows.at(name) + praha_rows.at(name)) / (per_block * 2 / 3);
    EXPECT_LE(blocks, 65535 / 2);
  }
  // A larger installation never gets smaller blocks.
  const auto larger = DemoBlockSizes(DemoOptions{1000, 1, 20});
  for (const auto& [name, size] : sizes) EXPECT_GE(larger.at(name), size) << name;
  EXPECT_GT(larger.at("Cdenik.DB"), sizes.at("Cdenik.DB"));
}

TEST(DemoBlocks, RuleStepsUpOnlyWhenTheRowsNeedIt) {
  const DemoTableDef& journal = *FindDemoTableDef("Cdenik.DB");
  const DemoTableDef& register_def = DemoCompanyRegisterDef();  // 4 KB usual blocks
  EXPECT_EQ(DemoBlockSize(journal, 0), 2048);
  EXPECT_EQ(DemoBlockSize(journal, 100000), 2048);
  EXPECT_EQ(DemoBlockSize(register_def, 10), 4096);
  int previous = 0;
  for (const uint64_t rows :
       {0ull, 250000ull, 500000ull, 1000000ull, 3000000ull, 5000000ull, 100000000ull}) {
    const int size = DemoBlockSize(journal, rows);
    EXPECT_GE(size, previous) << rows;
    previous = size;
  }
  EXPECT_EQ(DemoBlockSize(journal, 500000), 4096);
  EXPECT_EQ(DemoBlockSize(journal, 2000000), 16384);
  EXPECT_EQ(DemoBlockSize(journal, 3000000), 32768);
  // Beyond what even 32 KB blocks hold, the largest size.
  EXPECT_EQ(DemoBlockSize(journal, 100000000), 32768);
}

// Tables written with larger blocks read the same in our engine and in pxlib.
TEST(DemoBlocks, TablesWithLargerBlocksReadBackInPxlib) {
  DALIMOR_REQUIRE_PXLIB();
  test::TempDir dir;
  const DemoTableDef& def = *FindDemoTableDef("Cdenik.DB");
  for (const int size : {4096, 16384, 32768}) {
    SCOPED_TRACE(size);
    const fs::path base = dir.path() / std::to_string(size);
    DemoTableWriter writer(base.string(), def, size);
    // Several blocks' worth, inserted out of key order.
    const int rows = 3 * size / DemoRecordSize(def);
    for (int i = 0; i < rows; ++i) {
      const int n = (i * 7919) % rows;
      DemoRow row(writer);
      row["DoklRada"] = std::string(n % 2 ? "P1" : "B2");
      row["DoklCislo"] = "201102" + std::to_string(10000 + n / 4);
      row["Klic"] = int64_t{n + 1};
      row["Poradi"] = int64_t{1};
      row["UcetMD"] = std::string("211000");
      row["UcetDal"] = std::string("602000");
      row["Castka"] = RoundToHellers(n * 1.25);
      row["Text"] = std::string("Tržba za zboží – řádek ") + std::to_string(n);
      writer.Insert(row.values());
    }
    writer.Finish();
    const fs::path path = base / "CDATA" / "S" / "Cdenik.DB";
    const auto table = ParadoxTable::Open(path.string(), OpenMode::kReadOnly);
    EXPECT_EQ(table->block_size(), size);
    EXPECT_EQ(table->record_count(), static_cast<uint32_t>(rows));
    EXPECT_GT(table->header().total_blocks, 1);
    EXPECT_NO_THROW(table->CheckIndex());
    test::ExpectSameAsPxlib(*table, path.string());
    test::PxlibDoc px;
    ASSERT_TRUE(px.Open(path.string())) << px.error();
    EXPECT_TRUE(px.UseIndex(fs::path(path).replace_extension(".PX").string())) << px.error();
  }
}

// ------------------------------------------------------------------- CLI

int RunDemo(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  std::istringstream in;
  std::vector<std::string> full = {"demo"};
  full.insert(full.end(), args.begin(), args.end());
  return RunCli(full, out, err, in);
}

TEST(DemoCommandLines, LinesOptionSetsTheMostLinesOfADocument) {
  test::TempDir dir;
  ASSERT_EQ(RunDemo({dir.File("dva"), "--lines", "2"}), kExitOk);
  for (const auto& [agenda, range] : LineRange(dir.path() / "dva" / "DATA" / "BRNO"))
    EXPECT_LE(range.second, 2u) << agenda;
  for (const char* bad : {"-3", "201", "dva", ""}) {
    EXPECT_EQ(RunDemo({dir.File("a"), "--lines", bad}), kExitUsage) << bad;
  }
  EXPECT_EQ(RunDemo({dir.File("a"), "--lines"}), kExitUsage);
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
}

}  // namespace
}  // namespace dalimor
