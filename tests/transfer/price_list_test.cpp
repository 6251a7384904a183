#include "transfer/price_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_config.h"
#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/sql/paradox_catalog.h"
#include "platform/native_io.h"
#include "tests/support/test_support.h"
#include "util/clock.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

std::vector<FieldDef> PriceFields() {
  return {{"Sklad", FieldType::kAlpha, 5},
          {"PolozkaSkladu", FieldType::kAlpha, 20},
          {"Nazev", FieldType::kAlpha, 40},
          {"Cena", FieldType::kMoney, 0}};
}
std::vector<FieldDef> ItemFields() {
  return {{"DoklSRada", FieldType::kAlpha, 5},
          {"DoklSCislo", FieldType::kAlpha, 11},
          {"Klic", FieldType::kLong, 0},
          {"Sklad", FieldType::kAlpha, 5},
          {"PolozkaSkladu", FieldType::kAlpha, 20}};
}

class PriceList : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(company / "SDATA" / "S");
    fs::create_directories(batch);
    Prices(company / "SDATA" / "S" / "SCenik.DB",
           {{"HL", "001", "Cement", 100.0}, {"HL", "002", "Písek", 50.0},
            {"hl", "001", "Jiný sklad", 1.0}, {"HL", "003", "Štěrk", 70.0}});
  }
  void Prices(const fs::path& path, const std::vector<std::tuple<const char*, const char*, const char*, Value>>& rows) {
    auto t = ParadoxTable::Create(path.string(), PriceFields(), 2);
    for (const auto& [s, p, n, c] : rows) t->Insert({std::string(s), std::string(p), std::string(n), c});
  }
  void Items(const char* table, const std::vector<std::pair<const char*, const char*>>& named) {
    auto t = ParadoxTable::Create((batch / table).string(), ItemFields(), 3);
    int64_t k = 0;
    for (const auto& [s, p] : named)
      t->Insert({std::string("FP"), std::string("1"), ++k, std::string(s), std::string(p)});
  }
  std::vector<Record> Rows(const fs::path& path) {
    return ParadoxTable::Open(path.string(), OpenMode::kReadOnly)->ReadAll();
  }
  // The row of an item (keys in the table's collation order, so found by value).
  static const Record& Item(const std::vector<Record>& rows, const char* sklad, const char* item) {
    for (const Record& r : rows)
      if (r[0] == Value(std::string(sklad)) && r[1] == Value(std::string(item))) return r;
    static const Record kNone(4);
    ADD_FAILURE() << "no item " << sklad << " " << item;
    return kNone;
  }
  std::string CompanyFolder() const { return company.string() + "/"; }
  std::string BatchFolder() const { return batch.string() + kNativeSeparator; }

  test::TempDir dir;
  fs::path company = dir.path() / "firma";
  fs::path batch = dir.path() / "davka";
  ParadoxSqlCatalog catalog;
  EngineConfig config{dir.File("engine.cfg")};
  FixedClock clock{{2011, 3, 15, 12, 0, 0, 0}};
  TransferContext context{catalog, config, clock, nullptr, nullptr, nullptr};
};

TEST_F(PriceList, SendAllCreatesTheBatchTableAndKeepsRowsUnlessReplacing) {
  Prices(batch / "SCenik.DB", {{"HL", "002", "Písek starý", 45.0}});
  PriceListOptions options;
  options.all = true;
  SendPriceList(context, CompanyFolder(), BatchFolder(), options);
  auto rows = Rows(batch / "SCenik.DB");
  ASSERT_EQ(rows.size(), 4u);  // keys compare exactly: "hl" is another warehouse
  EXPECT_EQ(Item(rows, "HL", "002")[2], Value(std::string("Písek starý")));

  options.replace = true;
  SendPriceList(context, CompanyFolder(), BatchFolder(), options);
  rows = Rows(batch / "SCenik.DB");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(Item(rows, "HL", "002")[2], Value(std::string("Písek")));
}

TEST_F(PriceList, UsedModeCopiesOnlyNamedItemsTheSourceHas) {
  Items("SPFP.DB", {{"HL", "001"}, {"HL", "001"}, {"HL", "999"}});
  Items("SVFP.DB", {{"HL", "003"}});
  PriceListOptions options;
  options.item_tables = {"SPFP.DB", "SVFP.DB"};
  SendPriceList(context, CompanyFolder(), BatchFolder(), options);
  const auto rows = Rows(batch / "SCenik.DB");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], Value(std::string("001")));
  EXPECT_EQ(rows[1][1], Value(std::string("003")));
}

// Item rows without a warehouse or an item (services, text lines) copy
// what the source has under the same empty parts, and nothing else, however
// often they come.
TEST_F(PriceList, ItemRowsWithEmptyKeyPartsCopyOnlyWhatTheSourceHas) {
  std::vector<std::pair<const char*, const char*>> named;
  for (int i = 0; i < 600; ++i) {
    named.emplace_back("", "");
    named.emplace_back("HL", "");
    named.emplace_back("", "001");
  }
  named.emplace_back("HL", "002");
  Items("SPFP.DB", named);
  PriceListOptions options;
  options.item_tables = {"SPFP.DB"};
  SendPriceList(context, CompanyFolder(), BatchFolder(), options);
  auto rows = Rows(batch / "SCenik.DB");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], Value(std::string("002")));

  // A source row with an empty item part is found for the rows naming it.
  {
    auto t = ParadoxTable::Open((company / "SDATA" / "S" / "SCenik.DB").string(), OpenMode::kExclusive);
    t->Insert({std::string("HL"), std::monostate{}, std::string("Doprava"), 10.0});
  }
  options.replace = true;
  SendPriceList(context, CompanyFolder(), BatchFolder(), options);
  rows = Rows(batch / "SCenik.DB");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][2], Value(std::string("Doprava")));
}

TEST_F(PriceList, NothingTickedCreatesNothing) {
  SendPriceList(context, CompanyFolder(), BatchFolder(), PriceListOptions{});
  EXPECT_FALSE(fs::exists(batch / "SCenik.DB"));
}

TEST_F(PriceList, ReceiveReplacesWithTheBatchRowAndNeverDropsWhatTheBatchLacks) {
  Prices(batch / "SCenik.DB", {{"HL", "001", "Cement nový", std::monostate{}}});
  Items("SPFP.DB", {{"HL", "001"}, {"HL", "002"}});
  PriceListOptions options;
  options.item_tables = {"SPFP.DB"};
  options.replace = true;
  ReceivePriceList(context, CompanyFolder(), BatchFolder(), options);
  const auto rows = Rows(company / "SDATA" / "S" / "SCenik.DB");
  ASSERT_EQ(rows.size(), 4u);  // HL 002 is not in the batch's list: kept
  EXPECT_EQ(Item(rows, "HL", "001")[2], Value(std::string("Cement nový")));
  EXPECT_TRUE(IsNull(Item(rows, "HL", "001")[3]));  // NULL in the batch: empty now
  EXPECT_EQ(Item(rows, "HL", "002")[2], Value(std::string("Písek")));
}

TEST_F(PriceList, ReceiveWithoutTheBatchListFails) {
  PriceListOptions options;
  options.all = true;
  EXPECT_ANY_THROW(ReceivePriceList(context, CompanyFolder(), BatchFolder(), options));
}

// A value the company's table cannot hold (a batch header that declares a
// field wider than the company has it) names the field, the company's table
// and the batch table the value came from.
TEST_F(PriceList, AValueTheCompanyCannotHoldNamesBothTables) {
  const auto prices = [](const fs::path& path, FieldType stock_type, Value stock) {
    auto t = ParadoxTable::Create(path.string(),
                                  {{"Sklad", FieldType::kAlpha, 5},
                                   {"PolozkaSkladu", FieldType::kAlpha, 20},
                                   {"MinZasoba", stock_type, 0}},
                                  2);
    t->Insert({std::string("HL"), std::string("001"), stock});
  };
  const fs::path company_prices = company / "SDATA" / "S" / "SCenik.DB";
  fs::remove(company_prices);
  fs::remove(fs::path(company_prices).replace_extension(".PX"));
  prices(company_prices, FieldType::kShort, int64_t{10});
  prices(batch / "SCenik.DB", FieldType::kNumber, 40000.0);
  PriceListOptions options;
  options.all = true;
  options.replace = true;
  try {
    ReceivePriceList(context, CompanyFolder(), BatchFolder(), options);
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()), "Value out of range.\nField: MinZasoba\nTable: " +
                                         company_prices.string() + "\nSource table: " +
                                         (batch / "SCenik.DB").string());
  }
}

}  // namespace
}  // namespace dalimor
