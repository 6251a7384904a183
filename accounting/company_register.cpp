#include "accounting/company_register.h"

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "engine/network_control.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"

namespace dalimor {

CompanyRegister::CompanyRegister(std::string executable_folder)
    : executable_folder_(WithTrailingBackslash(std::move(executable_folder))) {}

std::string CompanyRegister::AccountingConfigFile() const {
  return Utf8FromPath(
      ResolvePathIgnoringCase(PathFromUtf8(executable_folder_), kAccountingConfigPath));
}

std::string CompanyRegister::ReadConfig(const char* key) const {
  const std::string path = AccountingConfigFile();
  if (!FileExists(PathFromUtf8(path))) return "";
  return IniFile(path).ReadString(kDataConnectSection, key, "");
}

std::string CompanyRegister::InstallationFolder() const {
  const std::string net_file_dir = ReadConfig("NetFileDir");
  if (!net_file_dir.empty() && DirectoryExists(PathFromUtf8(net_file_dir)))
    return WithTrailingBackslash(net_file_dir);
  return executable_folder_;
}

bool CompanyRegister::Open() {
  Close();
  const std::string installation = InstallationFolder();
  const std::string folder =
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(installation), kCompanyRegisterFolder));
  if (!FileExists(PathFromUtf8(folder) / "GFIRMY.DB")) return false;
  CheckDirectoryControl(folder, installation);
  companies_.SetDatabaseName(folder);
  companies_.SetTableName("GFIRMY.DB");
  companies_.Open(OpenMode::kReadOnly);
  return true;
}

void CompanyRegister::Close() {
  stations_.Close();
  companies_.Close();
}

std::vector<std::string> CompanyRegister::FillCompanyList(const std::string& remembered_company,
                                                          int* selected) {
  std::vector<std::string> items;
  if (selected) *selected = -1;
  if (!companies_.Active()) return items;
  const std::string station = ReadConfig("IDStanice");
  const std::string folder = companies_.database_name();
  if (!stations_.Active() && FileExists(PathFromUtf8(folder) / "GFIRMAST.DB")) {
    stations_.SetDatabaseName(folder);
    stations_.SetTableName("GFIRMAST.DB");
    stations_.Open(OpenMode::kReadOnly);
  }
  if (stations_.Active()) {
    for (stations_.First(); !stations_.Eof(); stations_.Next()) {
      if (stations_.FieldByName("StaniceId").AsString() != station) continue;
      if (companies_.Locate("Id", {stations_.FieldByName("FirmaId").AsVariant()}))
        items.push_back(companies_.FieldByName("Oznaceni").AsString());
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] != remembered_company) continue;
    companies_.Locate("Oznaceni", {items[i]});
    if (selected) *selected = static_cast<int>(i);
    return items;
  }
  if (!items.empty()) {
    if (selected) *selected = 0;
    companies_.Locate("Oznaceni", {items[0]});
  } else {
    companies_.Locate("Oznaceni", {std::string()});
  }
  return items;
}

bool CompanyRegister::SelectCompany(const std::string& designation) {
  if (!companies_.Active()) return false;
  return companies_.Locate("Oznaceni", {designation});
}

std::string CompanyRegister::ActiveDesignation() {
  if (!companies_.Active() || companies_.IsEmpty()) return "";
  return companies_.FieldByName("Oznaceni").AsString();
}

std::string CompanyRegister::ActiveTypOrganizace() {
  if (!companies_.Active() || companies_.IsEmpty()) return "";
  return companies_.FieldByName("TypOrganizace").AsString();
}

std::string CompanyRegister::CompanyDataFolder() {
  if (!companies_.Active() || companies_.IsEmpty()) return "";
  const std::string base = companies_.FieldByName("SitovaData").AsBoolean() ? InstallationFolder()
                                                                            : executable_folder_;
  const std::string adresar = companies_.FieldByName("Adresar").AsString();
  return WithTrailingBackslash(
      Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(base), "DATA\\" + adresar)));
}

std::vector<RegisteredCompany> CompanyRegister::AllCompanies() {
  std::vector<RegisteredCompany> result;
  if (!companies_.Active()) return result;
  // A table of its own, so that the cursor stays on the active company.
  const auto table = ParadoxTable::Open(companies_.TablePath(), OpenMode::kReadOnly);
  const int designation = table->FieldIndex("Oznaceni");
  const int folder = table->FieldIndex("Adresar");
  const int shared = table->FieldIndex("SitovaData");
  if (designation < 0 || folder < 0) return result;
  const std::string installation = InstallationFolder();
  for (auto row = table->First(); row; row = table->Next(*row)) {
    RegisteredCompany company;
    company.designation = ValueAsString(table->ReadField(*row, designation));
    company.folder_name = ValueAsString(table->ReadField(*row, folder));
    const Value is_shared = shared < 0 ? Value{} : table->ReadField(*row, shared);
    company.shared = std::holds_alternative<bool>(is_shared) && std::get<bool>(is_shared);
    company.data_folder = WithTrailingBackslash(Utf8FromPath(
        ResolvePathIgnoringCase(PathFromUtf8(company.shared ? installation : executable_folder_),
                                "DATA\\" + company.folder_name)));
    result.push_back(std::move(company));
  }
  return result;
}

AccountingFolders CompanyRegister::LiveFolders() {
  AccountingFolders live;
  const std::vector<RegisteredCompany> companies = AllCompanies();
  for (const std::string& base : {InstallationFolder(), executable_folder_}) {
    live.roots.push_back(base);
    live.trees.push_back(Utf8FromPath(ResolvePathIgnoringCase(PathFromUtf8(base), "DataPrg")));
    // Under both bases: a company moved between shared and local keeps its
    // folder name, and neither copy may become a transfer folder.
    for (const RegisteredCompany& company : companies)
      live.trees.push_back(Utf8FromPath(
          ResolvePathIgnoringCase(PathFromUtf8(base), "DATA\\" + company.folder_name)));
  }
  return live;
}

bool IsAccountingDataFolder(const std::string& folder, const AccountingFolders& live) {
  for (const std::string& tree : live.trees)
    if (IsSameOrInside(PathFromUtf8(folder), PathFromUtf8(tree)) ||
        IsSameOrInside(PathFromUtf8(tree), PathFromUtf8(folder)))
      return true;
  for (const std::string& root : live.roots)
    if (IsSameOrInside(PathFromUtf8(root), PathFromUtf8(folder))) return true;
  return false;
}

std::string CompanyRegister::DataLocationCaption() {
  return companies_.Active() ? InstallationFolder() : "";
}

bool CompanyRegister::CompanyDataAvailable() {
  const std::string folder = CompanyDataFolder();
  return !folder.empty() && DirectoryExists(PathFromUtf8(folder));
}

std::string WindowTitle(const std::string& designation) {
  return "Dalimor  [" + designation + "]";
}

std::string TransferFolderPath(const std::string& box_text) {
  return box_text.empty() ? "" : WithTrailingBackslash(box_text);
}

}  // namespace dalimor
