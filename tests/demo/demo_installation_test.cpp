// The demo installation read back as the program and other Paradox software
// read it: every file in its place, every table readable by our engine and
// by pxlib, keys in order, the fields the transfer relies on, and data that
// hang together (items and their headers, memo keys, price-list items, the
// documents both companies hold).

#include "demo/demo_installation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <sstream>

#include "batch/catalogue.h"
#include "cli/cli.h"
#include "engine/paradox/table.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "tests/engine/pxlib_reader.h"
#include "tests/support/index_checker.h"
#include "tests/support/test_support.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// The installation most tests read, written once.
class DemoInstallationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    WriteDemoInstallation(dir_->path().string(), DemoOptions{});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path Root() { return dir_->path(); }
  static fs::path CompanyFolder(const DemoCompany& c) {
    return Root() / "DATA" / std::string(c.folder);
  }
  static const DemoCompany& Company(std::string_view designation) {
    for (const DemoCompany& c : DemoCompanies())
      if (c.designation == designation) return c;
    throw std::logic_error("no demo company " + std::string(designation));
  }
  static fs::path SourceTable(const DemoCompany& c, std::string_view relative) {
    const auto path = FindRelativePathIgnoringCase(CompanyFolder(c), relative);
    if (!path) throw std::runtime_error("missing " + std::string(relative));
    return *path;
  }

  static test::TempDir* dir_;
};

test::TempDir* DemoInstallationTest::dir_ = nullptr;

std::unique_ptr<ParadoxTable> OpenTable(const fs::path& path) {
  return ParadoxTable::Open(path.string(), OpenMode::kReadOnly);
}

// The rows of a table as maps from field name to value, in table order.
using NamedRow = std::map<std::string, Value, std::less<>>;
std::vector<NamedRow> NamedRows(const fs::path& path) {
  const auto table = OpenTable(path);
  std::vector<NamedRow> rows;
  for (const Record& record : table->ReadAll()) {
    NamedRow row;
    for (size_t i = 0; i < record.size(); ++i) row.emplace(table->fields()[i].name, record[i]);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string TextOf(const NamedRow& row, std::string_view field) {
  const auto it = row.find(field);
  if (it == row.end()) throw std::logic_error("no field " + std::string(field));
  const auto* s = std::get_if<std::string>(&it->second);
  return s ? *s : std::string();
}

const Value& ValueOf(const NamedRow& row, std::string_view field) {
  const auto it = row.find(field);
  if (it == row.end()) throw std::logic_error("no field " + std::string(field));
  return it->second;
}

std::vector<std::string> SplitKeys(std::string_view list) {
  std::vector<std::string> out;
  std::stringstream in{std::string(list)};
  for (std::string name; std::getline(in, name, ',');) out.push_back(name);
  return out;
}

// The values of the named fields joined, to compare document keys.
std::string KeyOf(const NamedRow& row, const std::vector<std::string>& fields) {
  std::string key;
  for (const std::string& f : fields) {
    const Value& v = ValueOf(row, f);
    if (const auto* s = std::get_if<std::string>(&v))
      key += *s;
    else if (const auto* i = std::get_if<int64_t>(&v))
      key += std::to_string(*i);
    key += '\x1f';
  }
  return key;
}

std::vector<fs::path> AllTables(const fs::path& root) {
  std::vector<fs::path> tables;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() == ".DB")
      tables.push_back(entry.path());
  std::sort(tables.begin(), tables.end());
  return tables;
}

// ----------------------------------------------------------------- files

TEST_F(DemoInstallationTest, ConfigurationNamesThisStationAndNoNetworkFolder) {
  const IniFile cfg((Root() / "DataPrg" / "Kalmeo.cfg").string());
  EXPECT_EQ(cfg.ReadString("DataConnect", "IDStanice", ""), kDemoStationId);
  EXPECT_LE(kDemoStationId.size(), 38u);
  EXPECT_EQ(cfg.ReadString("DataConnect", "NetFileDir", "<none>"), "<none>");
}

TEST_F(DemoInstallationTest, EveryCompanyHasEveryTableUnderItsCatalogueName) {
  EXPECT_TRUE(fs::is_regular_file(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMY.DB"));
  EXPECT_TRUE(fs::is_regular_file(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMAST.DB"));
  for (const DemoCompany& c : DemoCompanies()) {
    std::vector<std::string> expected;
    for (const BatchTable& t : BatchTables()) {
      std::string relative(t.source_path);
      std::replace(relative.begin(), relative.end(), '\\', '/');
      expected.push_back(relative);
    }
    expected.push_back("LDATA/S/LKlice.DB");
    expected.push_back("LDATA/S/Ldoklady.DB");
    for (const std::string& relative : expected) {
      // Spelled exactly as the catalogue spells it, with its primary index.
      const fs::path db = CompanyFolder(c) / relative;
      EXPECT_TRUE(fs::is_regular_file(db)) << db;
      EXPECT_TRUE(fs::is_regular_file(fs::path(db).replace_extension(".PX"))) << db;
    }
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(CompanyFolder(c)))
      count += entry.path().extension() == ".DB";
    EXPECT_EQ(count, expected.size()) << c.designation;
  }
}

// As a real company's, the agenda tables carry maintained secondary
// indexes: by date, by number, by partner ignoring case, composite ones;
// each is exactly what its rows give.
TEST_F(DemoInstallationTest, CompanyTablesCarrySecondaryIndexesInStepWithTheirRows) {
  for (const DemoCompany& c : DemoCompanies()) {
    SCOPED_TRACE(std::string(c.designation));
    std::map<std::string, std::set<std::string>> indexes;  // table -> index extensions
    for (const auto& entry : fs::recursive_directory_iterator(CompanyFolder(c))) {
      const std::string ext = entry.path().extension().string();
      if (ext.size() == 4 && ext[1] == 'X') indexes[entry.path().stem().string()].insert(ext);
      if (ext == ".DB")
        for (const std::string& problem : test::CheckAllSecondaryIndexes(entry.path().string()))
          ADD_FAILURE() << problem;
    }
    EXPECT_EQ(indexes["SPFH"], (std::set<std::string>{".X05", ".X02", ".XG0", ".XG1", ".XG2"}));
    EXPECT_EQ(indexes["Svfp"], (std::set<std::string>{".X05", ".XG0"}));
    EXPECT_EQ(indexes["SCenik"].size(), 4u);
    EXPECT_EQ(indexes["LMemo"], (std::set<std::string>{".X03"}));
    size_t total = 0;
    for (const auto& [table, files] : indexes) total += files.size();
    EXPECT_EQ(total, 44u);
    // The named index of partners ignores case; its .X says so.
    const std::string firma = test::ReadFileBytes(CompanyFolder(c) / "SDATA/S/SPFH.XG0");
    EXPECT_EQ(firma[0x55] & 1, 1);
    EXPECT_NE(firma.find(std::string("anczechw\0Firma", 14)), std::string::npos);
  }
}

TEST_F(DemoInstallationTest, EveryTableReadsTheSameWithPxlibAndKeepsItsKeysInOrder) {
  const std::vector<fs::path> tables = AllTables(Root());
  EXPECT_EQ(tables.size(), 2 + 20 * DemoCompanies().size());
  for (const fs::path& path : tables) {
    SCOPED_TRACE(path.string());
    const auto table = OpenTable(path);
    EXPECT_EQ(table->code_page(), 1250);
    EXPECT_EQ(table->sort_order_name(), "anczechw");
    EXPECT_TRUE(table->keyed());
    EXPECT_GT(table->record_count(), 0u);
    EXPECT_NO_THROW(table->CheckIndex());
    test::ExpectSameAsPxlib(*table, path.string());
    if (!test::kHavePxlib) continue;
    test::PxlibDoc px;
    ASSERT_TRUE(px.Open(path.string())) << px.error();
    EXPECT_TRUE(px.UseIndex(fs::path(path).replace_extension(".PX").string())) << px.error();
  }
}

// ---------------------------------------------------------------- fields

struct FieldExpectation {
  std::string_view name;
  FieldType type;
  int size = 0;  // 0: any
};

constexpr FieldType A = FieldType::kAlpha, I = FieldType::kLong, D = FieldType::kDate,
                    TS = FieldType::kTimestamp, L = FieldType::kLogical, M = FieldType::kMemo,
                    MONEY = FieldType::kMoney;

void ExpectFields(const ParadoxTable& table, std::span<const FieldExpectation> expected) {
  for (const FieldExpectation& e : expected) {
    const int i = table.FieldIndex(e.name);
    if (i < 0) {
      ADD_FAILURE() << table.path() << " lacks " << e.name;
      continue;
    }
    const FieldDef& f = table.fields()[static_cast<size_t>(i)];
    EXPECT_EQ(f.name, e.name) << table.path();
    EXPECT_EQ(f.type, e.type) << table.path() << " " << e.name;
    if (e.size) {
      EXPECT_EQ(f.size, e.size) << table.path() << " " << e.name;
    }
  }
}

TEST_F(DemoInstallationTest, CompanyRegisterHasEveryFieldWithItsTypeAndSize) {
  const std::vector<FieldExpectation> expected = {
      {"Id", I},
      {"Oznaceni", A, 50},
      {"Nazev", A, 255},
      {"TypOrganizace", A, 1},
      {"DatumOtevUcetKnih", D},
      {"Adresar", A, 128},
      {"KdyPouziti", TS},
      {"KdyZaloha", TS},
      {"SitovaData", L},
      {"ObchJmeno", A, 50},
      {"DodatekObJmena", A, 30},
      {"Oddeleni", A, 30},
      {"Jmeno", A, 20},
      {"Prijmeni", A, 25},
      {"RodnePrijmeni", A, 25},
      {"Titul", A, 20},
      {"RodneCislo", A, 11},
      {"CisloOP", A, 12},
      {"StatniPrislusnost", A, 10},
      {"Ulice", A, 40},
      {"CisloPopisne", A, 10},
      {"POBox", A, 15},
      {"PSC", A, 10},
      {"Misto", A, 30},
      {"Okres", A, 20},
      {"Stat", A, 20},
      {"ICO", A, 8},
      {"DIC", A, 14},
      {"UTO", A, 4},
      {"Telefon", A, 25},
      {"Fax", A, 25},
      {"Mobil", A, 25},
      {"Email", A, 35},
      {"WWW", A, 35},
      {"KodBanky", A, 4},
      {"BaUcet", A, 5},
      {"SpecSym", A, 10},
      {"NazevBaUctu", A, 5},
      {"MistoBaUctu", A, 30},
      {"PlatDPH", L},
      {"CtvrtletniPlatceDPH", L},
      {"PravnickaOsoba", L},
      {"Poznamka", M},
  };
  const auto firmy = OpenTable(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMY.DB");
  EXPECT_EQ(firmy->fields().size(), expected.size());
  ExpectFields(*firmy, expected);
  EXPECT_EQ(firmy->key_field_count(), 1);

  const auto stations = OpenTable(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMAST.DB");
  const FieldExpectation station_fields[] = {{"FirmaId", I}, {"StaniceId", A, 38}};
  ExpectFields(*stations, station_fields);
  EXPECT_EQ(stations->key_field_count(), 2);
}

TEST_F(DemoInstallationTest, CompanyTablesHaveTheCatalogueKeysAndFilterFields) {
  const DemoCompany& c = Company("Pobočka Brno");
  for (const BatchTable& bt : BatchTables()) {
    SCOPED_TRACE(std::string(bt.file_name));
    const auto table = OpenTable(SourceTable(c, bt.source_path));
    const std::vector<std::string> keys = SplitKeys(bt.creation_keys);
    ASSERT_EQ(table->key_field_count(), static_cast<int>(keys.size()));
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(table->fields()[i].name, keys[i]);

    std::vector<FieldExpectation> expected;
    const Agenda* agenda = FindAgenda(bt.agenda);
    if (agenda && !agenda->series_field.empty()) {
      expected.push_back({agenda->series_field, A, 5});
      expected.push_back({agenda->number_field, A, 11});
      const bool items = bt.file_name == agenda->item_table;
      if (!items) expected.push_back({agenda->date_field, D});
      if (items || bt.file_name == "Cdenik.DB") expected.push_back({"Klic", I});
    }
    if (bt.file_name == "Cdenik.DB") expected.push_back({"Poradi", I});
    if (bt.file_name == "Svfh.DB" || bt.file_name == "SObjH.DB") {
      expected.push_back({"TextNahoruKlic", I});
      expected.push_back({"TextDoluKlic", I});
      expected.push_back({"Zmeneno", TS});
    }
    for (const std::string_view stock_items :
         {"Spfp.DB", "Svfp.DB", "SklOperP.DB", "SObjP.DB", "SCenik.DB"})
      if (bt.file_name == stock_items) {
        expected.push_back({"Sklad", A});
        expected.push_back({"PolozkaSkladu", A});
      }
    if (bt.file_name == "LMemo.DB") {
      expected.push_back({"Klic", I});
      expected.push_back({"Poznamka", M});
      expected.push_back({"Zmeneno", TS});
      expected.push_back({"UID", I});
    }
    ExpectFields(*table, expected);

    // Amounts are money fields wherever they occur.
    for (const FieldDef& f : table->fields()) {
      if (f.name == "Castka" || f.name.starts_with("Celkem") || f.name.starts_with("Zaklad") ||
          f.name == "DPH" || f.name == "Zaplaceno") {
        EXPECT_EQ(f.type, MONEY) << f.name;
      }
    }
  }

  const auto counters = OpenTable(SourceTable(c, "LDATA/S/LKlice.DB"));
  const FieldExpectation counter_fields[] = {{"Nazev", A}, {"DalsiHodnota", I}, {"UID", I}};
  ExpectFields(*counters, counter_fields);
  const auto series = OpenTable(SourceTable(c, "LDATA/S/Ldoklady.DB"));
  const FieldExpectation series_fields[] = {{"AGENDA", A}, {"RADA", A, 5}};
  ExpectFields(*series, series_fields);
}

// -------------------------------------------------------------- companies

TEST_F(DemoInstallationTest, StationSeesBranchThenHeadOfficeAndNotTheThirdCompany) {
  const auto firmy = NamedRows(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMY.DB");
  std::map<int64_t, NamedRow> by_id;
  for (const NamedRow& row : firmy) by_id[std::get<int64_t>(ValueOf(row, "Id"))] = row;

  std::vector<std::string> box;
  for (const NamedRow& row : NamedRows(Root() / "DataPrg" / "GDATA" / "S" / "GFIRMAST.DB")) {
    if (TextOf(row, "StaniceId") != kDemoStationId) continue;
    const auto company = by_id.find(std::get<int64_t>(ValueOf(row, "FirmaId")));
    if (company != by_id.end()) box.push_back(TextOf(company->second, "Oznaceni"));
  }
  EXPECT_EQ(box, (std::vector<std::string>{"Pobočka Brno", "Centrála Praha"}));

  ASSERT_EQ(firmy.size(), DemoCompanies().size());
  int shared = 0, elsewhere = 0;
  for (const DemoCompany& c : DemoCompanies()) {
    SCOPED_TRACE(std::string(c.designation));
    const NamedRow& row = by_id.at(c.id);
    EXPECT_EQ(TextOf(row, "Oznaceni"), c.designation);
    EXPECT_EQ(TextOf(row, "Adresar"), c.folder);
    EXPECT_EQ(std::get<bool>(ValueOf(row, "SitovaData")), c.shared_data);
    EXPECT_EQ(TextOf(row, "TypOrganizace"), std::string(1, c.organisation_type));
    EXPECT_TRUE(fs::is_directory(CompanyFolder(c)));
    shared += c.shared_data;
    elsewhere += !c.on_this_station;
  }
  EXPECT_EQ(shared, 1);
  EXPECT_EQ(elsewhere, 1);
}

// ------------------------------------------------------------------ data

// Header and item tables of the agendas that have items.
std::vector<const Agenda*> AgendasWithItems() {
  std::vector<const Agenda*> out;
  for (const Agenda& a : Agendas())
    if (!a.item_table.empty()) out.push_back(&a);
  return out;
}

std::string_view Folder(const Agenda& a) {
  return a.kind == AgendaKind::kS ? "SDATA/S/" : "CDATA/S/";
}

TEST_F(DemoInstallationTest, EveryItemRowHasItsHeaderAndEveryHeaderItems) {
  for (const DemoCompany& c : DemoCompanies()) {
    for (const Agenda* a : AgendasWithItems()) {
      SCOPED_TRACE(std::string(c.designation) + " " + std::string(a->code));
      const std::vector<std::string> key = {std::string(a->series_field),
                                            std::string(a->number_field)};
      std::map<std::string, int> items_of;
      for (const NamedRow& h :
           NamedRows(SourceTable(c, std::string(Folder(*a)) + std::string(a->header_table))))
        items_of[KeyOf(h, key)] = 0;
      const auto items =
          NamedRows(SourceTable(c, std::string(Folder(*a)) + std::string(a->item_table)));
      for (const NamedRow& item : items) {
        const auto header = items_of.find(KeyOf(item, key));
        ASSERT_NE(header, items_of.end()) << "item without header: " << KeyOf(item, key);
        ++header->second;
      }
      for (const auto& [header, count] : items_of) EXPECT_GT(count, 0) << header;
    }
  }
}

TEST_F(DemoInstallationTest, JournalRowsBelongToDocumentsOfTheCompany) {
  for (const DemoCompany& c : DemoCompanies()) {
    SCOPED_TRACE(std::string(c.designation));
    std::set<std::string> documents;
    std::set<std::string> series_of_journal_agendas;
    for (const Agenda& a : Agendas()) {
      if (a.item_table.empty()) continue;
      const bool booked = a.kind == AgendaKind::kC || c.organisation_type != 'J';
      if (a.code == "SklOper" || a.code == "Obj" || !booked) continue;
      for (const NamedRow& h :
           NamedRows(SourceTable(c, std::string(Folder(a)) + std::string(a.header_table))))
        documents.insert(TextOf(h, a.series_field) + "/" + TextOf(h, a.number_field));
    }
    const auto journal = NamedRows(SourceTable(c, "CDATA/S/Cdenik.DB"));
    ASSERT_FALSE(journal.empty());
    for (const NamedRow& j : journal) {
      EXPECT_TRUE(documents.count(TextOf(j, "DoklRada") + "/" + TextOf(j, "DoklCislo")))
          << TextOf(j, "DoklRada") << "/" << TextOf(j, "DoklCislo");
      EXPECT_FALSE(IsNull(ValueOf(j, "KdyUcPripad")));
      EXPECT_GT(std::get<int64_t>(ValueOf(j, "Poradi")), 0);
    }
  }
}

TEST_F(DemoInstallationTest, HeaderTextKeysNameMemoRowsAndTheCounterIsBeyondThem) {
  for (const DemoCompany& c : DemoCompanies()) {
    SCOPED_TRACE(std::string(c.designation));
    std::map<int64_t, std::string> memos;
    for (const NamedRow& m : NamedRows(SourceTable(c, "LDATA/S/LMemo.DB")))
      memos[std::get<int64_t>(ValueOf(m, "Klic"))] = TextOf(m, "Poznamka");
    ASSERT_FALSE(memos.empty());
    int with_text = 0, zero = 0, null = 0;
    for (const char* header : {"SDATA/S/Svfh.DB", "SDATA/S/SObjH.DB"}) {
      for (const NamedRow& h : NamedRows(SourceTable(c, header))) {
        // Kalmeo stamps every header it writes; an empty stamp would mark
        // a row just received.
        EXPECT_TRUE(std::holds_alternative<Timestamp>(ValueOf(h, "Zmeneno")));
        for (const char* field : {"TextNahoruKlic", "TextDoluKlic"}) {
          const Value& key = ValueOf(h, field);
          if (IsNull(key)) {
            ++null;
          } else if (std::get<int64_t>(key) <= 0) {
            ++zero;
          } else {
            ++with_text;
            EXPECT_TRUE(memos.count(std::get<int64_t>(key)))
                << header << " " << field << " " << std::get<int64_t>(key);
          }
        }
      }
    }
    EXPECT_GT(with_text, 0);
    EXPECT_GT(zero, 0);
    EXPECT_GT(null, 0);

    // Texts from one line to several kilobytes over many lines.
    size_t longest = 0;
    bool one_line = false;
    for (const auto& [key, text] : memos) {
      if (text.find("\r\n") != std::string::npos) longest = std::max(longest, text.size());
      one_line = one_line || text.find('\n') == std::string::npos;
    }
    EXPECT_GT(longest, 4096u);
    EXPECT_TRUE(one_line);

    int64_t counter = -1;
    for (const NamedRow& k : NamedRows(SourceTable(c, "LDATA/S/LKlice.DB")))
      if (TextOf(k, "Nazev") == "LMemo.DB") counter = std::get<int64_t>(ValueOf(k, "DalsiHodnota"));
    EXPECT_GT(counter, memos.rbegin()->first);
  }
}

TEST_F(DemoInstallationTest, ItemRowsNamePriceListItemsOfTheirCompany) {
  for (const DemoCompany& c : DemoCompanies()) {
    SCOPED_TRACE(std::string(c.designation));
    const std::vector<std::string> key = {"Sklad", "PolozkaSkladu"};
    std::set<std::string> price_list;
    for (const NamedRow& p : NamedRows(SourceTable(c, "SDATA/S/SCenik.DB")))
      price_list.insert(KeyOf(p, key));
    int named = 0, unnamed = 0;
    for (const char* items :
         {"SDATA/S/Spfp.DB", "SDATA/S/Svfp.DB", "SDATA/S/SklOperP.DB", "SDATA/S/SObjP.DB"}) {
      for (const NamedRow& item : NamedRows(SourceTable(c, items))) {
        if (IsNull(ValueOf(item, "PolozkaSkladu"))) {
          ++unnamed;
          continue;
        }
        ++named;
        EXPECT_TRUE(price_list.count(KeyOf(item, key)))
            << items << " " << TextOf(item, "PolozkaSkladu");
      }
    }
    EXPECT_GT(named, 10 * unnamed);
    EXPECT_GT(unnamed, 0);  // transport and work lines name no item
  }
}

TEST_F(DemoInstallationTest, DocumentsSpreadOverYearsAndSeriesThatTheRegisterHolds) {
  const DemoCompany& c = Company("Centrála Praha");
  std::map<std::string, std::set<std::string>> registered;  // AGENDA -> RADA
  std::set<std::string> all_registered;
  for (const NamedRow& r : NamedRows(SourceTable(c, "LDATA/S/Ldoklady.DB"))) {
    registered[TextOf(r, "AGENDA")].insert(TextOf(r, "RADA"));
    all_registered.insert(TextOf(r, "RADA"));
  }
  for (const char* code : {"PF", "VF", "SO", "O", "P", "B", "ID", "PZ", "PP"})
    EXPECT_GE(registered[code].size(), 2u) << code;

  for (const Agenda& a : Agendas()) {
    if (a.series_field.empty()) continue;
    SCOPED_TRACE(std::string(a.code));
    std::set<std::string> series;
    std::set<int64_t> years;
    for (const NamedRow& h :
         NamedRows(SourceTable(c, std::string(Folder(a)) + std::string(a.header_table)))) {
      series.insert(TextOf(h, a.series_field));
      years.insert(DateFromDateTime(std::get<Date>(ValueOf(h, a.date_field)).value).year);
      EXPECT_TRUE(all_registered.count(TextOf(h, a.series_field))) << TextOf(h, a.series_field);
    }
    EXPECT_GE(series.size(), 2u);
    EXPECT_EQ(years, (std::set<int64_t>{2009, 2010, 2011}));
  }
}

TEST_F(DemoInstallationTest, TextsAreCzechWithAnApostropheAndNullsWhereNothingWasFilled) {
  const DemoCompany& c = Company("Pobočka Brno");
  bool apostrophe = false, czech = false, null_vat_id = false, unpaid = false;
  for (const NamedRow& h : NamedRows(SourceTable(c, "SDATA/S/Svfh.DB"))) {
    const std::string partner = TextOf(h, "FirmaNazev");
    apostrophe = apostrophe || partner.find('\'') != std::string::npos;
    czech =
        czech || partner.find("ř") != std::string::npos || partner.find("ž") != std::string::npos;
    null_vat_id = null_vat_id || IsNull(ValueOf(h, "FirmaDIC"));
    unpaid = unpaid || IsNull(ValueOf(h, "KdyZaplaceno"));
  }
  EXPECT_TRUE(apostrophe);
  EXPECT_TRUE(czech);
  EXPECT_TRUE(null_vat_id);
  EXPECT_TRUE(unpaid);
}

// What a transfer from the branch to the head office meets: some documents
// and price-list items exist on both sides under the same keys, with other
// contents; most exist only in the branch.
TEST_F(DemoInstallationTest, HeadOfficeAlreadyHoldsSomeBranchDocumentsInAnOlderVersion) {
  const DemoCompany& brno = Company("Pobočka Brno");
  const DemoCompany& praha = Company("Centrála Praha");
  for (const BatchTable& bt : BatchTables()) {
    if (bt.document_keys.empty()) continue;
    SCOPED_TRACE(std::string(bt.file_name));
    const std::vector<std::string> key = SplitKeys(bt.document_keys);
    std::map<std::string, NamedRow> branch;
    for (NamedRow& r : NamedRows(SourceTable(brno, bt.source_path)))
      branch[KeyOf(r, key)] = std::move(r);
    std::set<std::string> common_keys;
    int differing = 0;
    for (const NamedRow& r : NamedRows(SourceTable(praha, bt.source_path))) {
      const auto it = branch.find(KeyOf(r, key));
      if (it == branch.end()) continue;
      common_keys.insert(it->first);
      differing += it->second != r;
    }
    const int common = static_cast<int>(common_keys.size());
    EXPECT_GT(common, 0);
    if (bt.agenda == "Cenik") {
      EXPECT_LT(common, static_cast<int>(branch.size()));
    } else {
      EXPECT_LT(common, static_cast<int>(branch.size()) / 2);
    }
    // Headers and price-list items were edited since; the journal rows
    // and item rows that both hold are the same.
    const bool header = FindAgenda(bt.agenda)->header_table == bt.file_name;
    if (header && bt.file_name != "Cdenik.DB") {
      EXPECT_GT(differing, 0);
    }
  }
}

// ----------------------------------------------------------- determinism

// Files below `root` with their bytes; the .DB header's update time (the
// moment the file was last written, offset 0x60) is blanked.
std::map<std::string, std::string> Contents(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string bytes = test::ReadFileBytes(entry.path());
    // The update time of tables and their secondary indexes is the clock's.
    const std::string ext = entry.path().extension().string();
    if ((ext == ".DB" || (ext.size() == 4 && ext[1] == 'X')) && bytes.size() >= 0x64)
      bytes.replace(0x60, 4, 4, '\0');
    files[fs::relative(entry.path(), root).generic_string()] = std::move(bytes);
  }
  return files;
}

TEST(DemoInstallation, SameSeedGivesTheSameFilesAndAnotherSeedOtherData) {
  test::TempDir a, b, c;
  WriteDemoInstallation(a.path().string(), DemoOptions{1, 7});
  WriteDemoInstallation(b.path().string(), DemoOptions{1, 7});
  WriteDemoInstallation(c.path().string(), DemoOptions{1, 8});
  const auto first = Contents(a.path());
  const auto second = Contents(b.path());
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) {
    const auto it = second.find(name);
    ASSERT_NE(it, second.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " differs";
  }
  const auto other = Contents(c.path());
  EXPECT_NE(other.at("DATA/BRNO/SDATA/S/Svfh.DB"), first.at("DATA/BRNO/SDATA/S/Svfh.DB"));
  // The register and the station table do not depend on the seed.
  EXPECT_EQ(other.at("DataPrg/GDATA/S/GFIRMAST.DB"), first.at("DataPrg/GDATA/S/GFIRMAST.DB"));
}

TEST(DemoInstallation, ScaleMultipliesTheDocumentsOfThisStationsCompanies) {
  test::TempDir one, three;
  WriteDemoInstallation(one.path().string(), DemoOptions{1, 1});
  WriteDemoInstallation(three.path().string(), DemoOptions{3, 1});
  for (const char* table : {"DATA/BRNO/SDATA/S/Svfh.DB", "DATA/BRNO/CDATA/S/CPokl.DB"}) {
    const uint32_t base = OpenTable(one.path() / table)->record_count();
    EXPECT_EQ(OpenTable(three.path() / table)->record_count(), 3 * base) << table;
  }
  EXPECT_GT(OpenTable(three.path() / "DATA/PRAHA/SDATA/S/SCenik.DB")->record_count(),
            2 * OpenTable(one.path() / "DATA/PRAHA/SDATA/S/SCenik.DB")->record_count());
  // The third company is the same size at every scale.
  EXPECT_EQ(OpenTable(three.path() / "DATA/OSTRAVA/SDATA/S/Svfh.DB")->record_count(),
            OpenTable(one.path() / "DATA/OSTRAVA/SDATA/S/Svfh.DB")->record_count());
  EXPECT_THROW(WriteDemoInstallation(one.File("x"), DemoOptions{0, 1}), std::invalid_argument);
}

// ------------------------------------------------------------------- CLI

struct CliResult {
  int code;
  std::string out, err;
};

CliResult RunDemo(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  std::istringstream in;
  std::vector<std::string> full = {"demo"};
  full.insert(full.end(), args.begin(), args.end());
  const int code = RunCli(full, out, err, in);
  return {code, out.str(), err.str()};
}

TEST(DemoCommand, WritesIntoANewOrEmptyFolderOnly) {
  test::TempDir dir;
  const std::string fresh = dir.File("nova");
  const CliResult made = RunDemo({fresh, "--scale", "1", "--seed", "3"});
  EXPECT_EQ(made.code, kExitOk) << made.err;
  EXPECT_NE(made.out.find("Pobočka Brno"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(fs::path(fresh) / "DataPrg" / "Kalmeo.cfg"));

  fs::create_directory(dir.path() / "prazdna");
  EXPECT_EQ(RunDemo({dir.File("prazdna")}).code, kExitOk);

  // A folder with anything in it is refused and stays as it was.
  fs::create_directory(dir.path() / "data");
  test::WriteFileBytes(dir.path() / "data" / "SPFH.DB", "moje data");
  const CliResult refused = RunDemo({dir.File("data")});
  EXPECT_EQ(refused.code, kExitFailed);
  EXPECT_NE(refused.err.find("není prázdná"), std::string::npos) << refused.err;
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "data" / "SPFH.DB"), "moje data");
  EXPECT_FALSE(fs::exists(dir.path() / "data" / "DataPrg"));
  test::WriteFileBytes(dir.path() / "soubor", "x");
  EXPECT_EQ(RunDemo({dir.File("soubor")}).code, kExitFailed);
}

TEST(DemoCommand, RefusesABadCommandLine) {
  test::TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {dir.File("a"), dir.File("b")},
      {dir.File("a"), "--scale"},
      {dir.File("a"), "--scale", "0"},
      {dir.File("a"), "--scale", "dva"},
      {dir.File("a"), "--seed", "-1"},
      {dir.File("a"), "--verbose"},
  };
  for (const auto& args : cases) {
    const CliResult r = RunDemo(args);
    EXPECT_EQ(r.code, kExitUsage) << testing::PrintToString(args);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
}

}  // namespace
}  // namespace dalimor
