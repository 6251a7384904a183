#pragma once
// A complete demo installation of Kalmeo, written as real Paradox tables:
// the configuration file, the company register and station table, and for
// each company its data folder with every agenda table, memo texts, the key
// counter and the register of document series.  What it holds is described
// in docs/demo_installation.md.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace dalimor {

struct DemoOptions {
  // Multiplies the document counts of the two companies of this
  // workstation (1: a few hundred documents each); at least 1.
  int scale = 1;
  // The same seed and scale give the same data.
  uint64_t seed = 1;
  // The most item lines a document of the two companies of this
  // workstation has: 0 keeps each kind's own range (1-3 up to 1-6 lines,
  // bank statements 2-7); any other number N makes every kind of document
  // with items draw 1 to N of them (bank statements 2 to N where N allows;
  // exchange-rate documents keep their single line).  At least 0.
  int max_lines = 0;
};

// The workstation identifier written to "DataPrg/Kalmeo.cfg" ("IDStanice")
// and assigned to the companies of this workstation in "GFIRMAST.DB".
inline constexpr std::string_view kDemoStationId = "{6F2A9C41-0B7D-4E55-9A13-DA1E7C30B2F8}";
// Another workstation, to which the third company is assigned.
inline constexpr std::string_view kDemoOtherStationId = "{0C5D8E27-3F46-4B9A-8E02-71B4F6A9D3C5}";

struct DemoCompany {
  int id;                        // GFIRMY.Id
  std::string_view designation;  // Oznaceni
  std::string_view folder;       // Adresar: the data folder is DIR/DATA/<folder>
  bool shared_data;              // SitovaData
  char organisation_type;        // TypOrganizace
  bool on_this_station;          // assigned to kDemoStationId
};

// The companies in the order of their Id (the register's key order): the
// third company first, then "Pobočka Brno" and "Centrála Praha", which the
// station table lists for this workstation in that order.
std::span<const DemoCompany> DemoCompanies();

// Writes the installation below `dir`, creating the folders it needs.
// Tables of the same names are replaced; other files are left alone.
// Throws EngineError for a table that cannot be written, IniFileError for
// the configuration file, std::filesystem::filesystem_error for a folder
// that cannot be created, std::invalid_argument for a scale below 1 or a
// negative max_lines.
void WriteDemoInstallation(const std::string& dir, const DemoOptions& options);

// The block size that WriteDemoInstallation gives each company table under
// `options`, by file name ("Cdenik.DB").  Tables get larger blocks than
// their usual ones when the rows of both companies of this workstation
// would come near the 65535 blocks a Paradox table can have, so that
// either company can receive all of the other's rows.  Throws as
// WriteDemoInstallation for bad options.
std::map<std::string, int, std::less<>> DemoBlockSizes(const DemoOptions& options);

}  // namespace dalimor
