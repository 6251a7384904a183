#include "demo/demo_installation.h"

#include <array>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "demo/demo_company.h"
#include "demo/demo_table_writer.h"
#include "demo/demo_tables.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

constexpr std::array<DemoCompany, 3> kCompanies = {{
    {1, "Velkoobchod Ostrava", "OSTRAVA", false, 'P', false},
    {2, "Pobočka Brno", "BRNO", false, 'J', true},
    {5, "Centrála Praha", "PRAHA", true, 'P', true},
}};

// The register's own data of each company, beyond what DemoCompany says.
struct CompanyDetails {
  std::string_view name;
  std::string_view trade_name;
  std::string_view name_suffix;
  std::string_view department;
  std::string_view street;
  std::string_view house_number;
  std::string_view postcode;
  std::string_view city;
  std::string_view district;
  std::string_view ico;
  std::string_view dic;
  std::string_view tax_office;
  std::string_view phone;
  std::string_view email;
  std::string_view bank_code;
  std::string_view bank_place;
  int opened_year;
  bool quarterly_vat;
  std::string_view note;  // empty: NULL
};

constexpr std::array<CompanyDetails, 3> kDetails = {{
    {"STAVMAT Ostrava s.r.o.", "STAVMAT Ostrava s.r.o.", "", "Velkoobchod", "Místecká 1120",
     "1120/45", "703 00", "Ostrava", "Ostrava-město", "28617234", "CZ28617234", "3208",
     "596 612 300", "ostrava@stavmat-demo.cz", "2700", "Ostrava", 2010, true,
     "Firma vedená pro stanici skladu v Ostravě."},
    {"STAVMAT CZ s.r.o. – pobočka Brno", "STAVMAT CZ s.r.o.", "pobočka Brno", "Prodejna",
     "Vídeňská 112", "112/7", "619 00", "Brno", "Brno-město", "25634127", "CZ25634127", "3003",
     "543 210 987", "brno@stavmat-demo.cz", "0100", "Brno", 2009, false, ""},
    {"STAVMAT CZ s.r.o.", "STAVMAT CZ s.r.o.", "", "Účtárna", "Českomoravská 2408", "2408/1a",
     "190 00", "Praha 9", "Praha", "25634127", "CZ25634127", "2009", "266 031 111",
     "ucetni@stavmat-demo.cz", "0100", "Praha", 2009, false,
     "Centrála – sem se přijímají dávky z poboček.\r\nZálohu dat dělat každý pátek "
     "po uzávěrce pokladny."},
}};

void WriteConfiguration(const fs::path& dir) {
  fs::create_directories(dir / "DataPrg");
  // No "NetFileDir": the installation folder is the program's folder, for
  // the shared company as for the local ones, wherever the demo lies.
  IniFile(Utf8FromPath(dir / "DataPrg" / "Kalmeo.cfg"))
      .WriteString("DataConnect", "IDStanice", kDemoStationId);
}

void WriteCompanyRegister(const fs::path& dir) {
  DemoTableWriter t(Utf8FromPath(dir), DemoCompanyRegisterDef());
  for (size_t i = 0; i < kCompanies.size(); ++i) {
    const DemoCompany& c = kCompanies[i];
    const CompanyDetails& d = kDetails[i];
    DemoRow row(t);
    row["Id"] = int64_t{c.id};
    row["Oznaceni"] = std::string(c.designation);
    row["Nazev"] = std::string(d.name);
    row["TypOrganizace"] = std::string(1, c.organisation_type);
    row["DatumOtevUcetKnih"] = Date{DateTimeFromDate(d.opened_year, 1, 1)};
    row["Adresar"] = std::string(c.folder);
    row["KdyPouziti"] = Timestamp{DateTimeFromDate(2011, 12, 30) + (16 * 60 + 42 + c.id) / 1440.0};
    if (c.on_this_station)
      row["KdyZaloha"] = Timestamp{DateTimeFromDate(2011, 12, 23) + (17 * 60 + 5) / 1440.0};
    row["SitovaData"] = c.shared_data;
    row["ObchJmeno"] = std::string(d.trade_name);
    row["DodatekObJmena"] = DemoText(d.name_suffix);
    row["Oddeleni"] = DemoText(d.department);
    row["Jmeno"] = std::string(c.id == 2 ? "Lenka" : "Miroslav");
    row["Prijmeni"] = std::string(c.id == 2 ? "Havlíčková" : c.id == 5 ? "Kopecký" : "Štěpánek");
    if (c.id == 2) row["RodnePrijmeni"] = std::string("Pokorná");
    if (c.id == 5) row["Titul"] = std::string("Ing.");
    row["StatniPrislusnost"] = std::string("CZ");
    row["Ulice"] = std::string(d.street.substr(0, d.street.rfind(' ')));
    row["CisloPopisne"] = std::string(d.house_number);
    row["PSC"] = std::string(d.postcode);
    row["Misto"] = std::string(d.city);
    row["Okres"] = std::string(d.district);
    row["Stat"] = std::string("Česká republika");
    row["ICO"] = std::string(d.ico);
    row["DIC"] = std::string(d.dic);
    row["UTO"] = std::string(d.tax_office);
    row["Telefon"] = std::string(d.phone);
    if (c.id != 1) row["Fax"] = std::string(d.phone.substr(0, d.phone.size() - 3)) + "999";
    if (c.id == 5) row["Mobil"] = std::string("+420 603 111 222");
    row["Email"] = std::string(d.email);
    row["WWW"] = std::string("www.stavmat-demo.cz");
    row["KodBanky"] = std::string(d.bank_code);
    row["BaUcet"] = std::string(c.id == 1 ? "27" : "19");
    row["NazevBaUctu"] = std::string(c.id == 1 ? "UCB" : "KB");
    row["MistoBaUctu"] = std::string(d.bank_place);
    row["PlatDPH"] = true;
    row["CtvrtletniPlatceDPH"] = d.quarterly_vat;
    row["PravnickaOsoba"] = true;
    row["Poznamka"] = DemoText(d.note);
    t.Insert(row.values());
  }
  t.Finish();
}

void WriteStationTable(const fs::path& dir) {
  DemoTableWriter t(Utf8FromPath(dir), DemoStationTableDef());
  auto add = [&](int company, std::string_view station) {
    DemoRow row(t);
    row["FirmaId"] = int64_t{company};
    row["StaniceId"] = std::string(station);
    t.Insert(row.values());
  };
  add(1, kDemoOtherStationId);
  add(2, kDemoStationId);
  add(2, kDemoOtherStationId);
  add(5, kDemoStationId);
  // A company that was deleted from the register but not from this table.
  add(9, kDemoStationId);
  t.Finish();
}

void CheckOptions(const DemoOptions& options) {
  if (options.scale < 1) throw std::invalid_argument("the demo scale must be at least 1");
  if (options.max_lines < 0)
    throw std::invalid_argument("the demo's line count must not be negative");
}

// The plans of the three companies, in the order they are written: the
// branch first, as its first documents of the last year are also in the
// head office (sent earlier and edited in the branch since).
struct Plans {
  DemoCompanyPlan brno, praha, ostrava;
};

Plans MakePlans(const DemoOptions& options) {
  Plans p;
  p.brno.office = 2;
  p.brno.scale = options.scale;
  p.brno.seed = options.seed;
  p.brno.max_lines = options.max_lines;
  // Single-entry: the journal holds cash, bank and internal documents.
  p.brno.journal_invoices = false;
  p.brno.missing_item_modulus = 7;
  p.brno.missing_item_offset = 2;
  p.brno.raised_prices = true;
  p.brno.memo_counter_gap = 0;

  p.praha.office = 1;
  p.praha.scale = options.scale;
  p.praha.seed = options.seed;
  p.praha.max_lines = options.max_lines;
  p.praha.journal_invoices = true;
  p.praha.missing_item_modulus = 9;
  p.praha.missing_item_offset = 4;
  p.praha.memo_counter_gap = 6;

  // The third company has the same documents whatever the options.
  p.ostrava.office = 3;
  p.ostrava.scale = 1;
  p.ostrava.seed = options.seed;
  p.ostrava.journal_invoices = true;
  p.ostrava.missing_item_modulus = 5;
  p.ostrava.missing_item_offset = 0;

  return p;
}

// Every company's tables have room for the rows of both companies of this
// workstation, so that a receive of all of one's rows into the other fits.
std::map<std::string, int, std::less<>> BlockSizesFor(const Plans& plans) {
  const auto brno_rows = ExpectedDemoRows(plans.brno);
  const auto praha_rows = ExpectedDemoRows(plans.praha);
  std::map<std::string, int, std::less<>> sizes;
  for (const DemoTableDef& def : DemoCompanyTableDefs()) {
    const std::string name(def.file_name);
    const uint64_t rows = brno_rows.at(name) + praha_rows.at(name);
    sizes.emplace(name, DemoBlockSize(def, rows));
  }
  return sizes;
}

}  // namespace

std::span<const DemoCompany> DemoCompanies() {
  return kCompanies;
}

std::map<std::string, int, std::less<>> DemoBlockSizes(const DemoOptions& options) {
  CheckOptions(options);
  return BlockSizesFor(MakePlans(options));
}

void WriteDemoInstallation(const std::string& dir, const DemoOptions& options) {
  CheckOptions(options);
  Plans plans = MakePlans(options);
  plans.brno.block_sizes = plans.praha.block_sizes = plans.ostrava.block_sizes =
      BlockSizesFor(plans);
  const fs::path root = PathFromUtf8(dir);
  WriteConfiguration(root);
  WriteCompanyRegister(root);
  WriteStationTable(root);

  std::vector<DemoCarriedDocument> carried;
  WriteDemoCompany(Utf8FromPath(root / "DATA" / std::string(kCompanies[1].folder)), plans.brno, {},
                   &carried);
  WriteDemoCompany(Utf8FromPath(root / "DATA" / std::string(kCompanies[2].folder)), plans.praha,
                   carried, nullptr);
  WriteDemoCompany(Utf8FromPath(root / "DATA" / std::string(kCompanies[0].folder)), plans.ostrava,
                   {}, nullptr);
}

}  // namespace dalimor
