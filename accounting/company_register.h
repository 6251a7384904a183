#pragma once
// The accounting installation beside which the program runs: Kalmeo's
// installation folder and configuration file, the company register
// "GFIRMY.DB" with the company this workstation works on, the companies the
// station table "GFIRMAST.DB" allows this workstation, and the data folder
// of the active company.  Every folder it hands out ends in the separator.

#include <string>
#include <vector>

#include "engine/table_cursor.h"

namespace dalimor {

inline constexpr const char* kAccountingConfigPath = "DataPrg\\Kalmeo.cfg";
inline constexpr const char* kDataConnectSection = "DataConnect";
inline constexpr const char* kCompanyRegisterFolder = "DataPrg\\GDATA\\S";

// The folders that hold live accounting data of an installation, which a
// transfer folder must keep away from: a batch is emptied, overwritten and
// merged from, so a transfer folder on top of live tables would destroy them.
struct AccountingFolders {
  // Refused as the transfer folder, anywhere below it and anywhere above it:
  // the data folder of every company of the register and "DataPrg".
  std::vector<std::string> trees;
  // Refused as the transfer folder and anywhere above it: the installation
  // folder and the executable's folder (the bases of the data folders).
  std::vector<std::string> roots;
};

// True when `folder` is, lies inside or contains one of the folders, after
// following links and without regard to letter case.
bool IsAccountingDataFolder(const std::string& folder, const AccountingFolders& live);

// One company of the register, whichever workstations may use it.
struct RegisteredCompany {
  std::string designation;  // Oznaceni
  std::string folder_name;  // Adresar
  bool shared = false;      // SitovaData
  std::string data_folder;  // as CompanyDataFolder gives it for this company
};

class CompanyRegister {
 public:
  // `executable_folder` is the folder the program runs from (the desktop
  // program passes its own, the CLI takes --installation).
  explicit CompanyRegister(std::string executable_folder);

  const std::string& executable_folder() const { return executable_folder_; }

  // Kalmeo's configuration file below the executable's folder.
  std::string AccountingConfigFile() const;
  // The "NetFileDir" folder of the configuration file when it names an
  // existing folder, else the executable's folder; with a trailing separator.
  std::string InstallationFolder() const;

  // Opens the company register when "GFIRMY.DB" exists in the installation
  // folder's "DataPrg\GDATA\S", after checking that the folder is not controlled by
  // another network control folder than the installation folder.  Throws
  // EngineError (kDirectoryControlled "Directory is controlled ..." among
  // others); the register then stays closed.  Returns whether it is open.
  bool Open();
  bool IsOpen() const { return companies_.Active(); }
  void Close();

  // Builds the company list of this workstation (its "IDStanice"): the
  // designations of the companies of the station table's records for that
  // station, in that table's order; then stands on the remembered company,
  // else on the first of the list.  A missing station table gives an empty
  // list.  Returns the list; `selected` receives the index of the chosen
  // item (-1 for an empty list).  Throws EngineError from the tables.
  std::vector<std::string> FillCompanyList(const std::string& remembered_company, int* selected);

  // Stands on the company of that designation (exact); false, staying
  // where it was, when there is none.
  bool SelectCompany(const std::string& designation);

  // Fields of the active company; empty while the register is closed or empty.
  std::string ActiveDesignation();
  std::string ActiveTypOrganizace();

  // The active company's data folder: for a company with SitovaData the
  // installation folder + "DATA\" + Adresar, else the executable's folder +
  // "DATA\" + Adresar (components matched without regard to case); empty
  // unless the register is open and holds a record.
  std::string CompanyDataFolder();
  // The installation folder while the register is open, else empty.
  std::string DataLocationCaption();
  // Whether the company data folder names an existing folder.
  bool CompanyDataAvailable();

  // Every company of the register in its order, with its data folder;
  // empty while the register is closed.  Leaves the active company as it is.
  // Throws EngineError from the table.
  std::vector<RegisteredCompany> AllCompanies();

  // The live folders of this installation: every registered company's data
  // folder below both the installation folder and the executable's folder,
  // "DataPrg" below both, and the two folders themselves.
  AccountingFolders LiveFolders();

  // The company register cursor (taFirmy).
  TableCursor& companies() { return companies_; }

 private:
  std::string ReadConfig(const char* key) const;

  std::string executable_folder_;
  TableCursor companies_;
  TableCursor stations_;
};

// The window title: "Dalimor  [<designation>]".
std::string WindowTitle(const std::string& designation);

// The transfer folder box's text with a trailing separator; empty for an
// empty text.
std::string TransferFolderPath(const std::string& box_text);

}  // namespace dalimor
