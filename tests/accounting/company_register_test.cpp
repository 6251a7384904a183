#include "accounting/company_register.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"
#include "platform/ini_file.h"
#include "platform/native_io.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

struct Company {
  int64_t id;
  const char* designation;
  const char* folder;
  bool shared;
};

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = dir.path() / "Kalmeo";
    fs::create_directories(exe / "DataPrg" / "GDATA" / "S");
    IniFile cfg((exe / "DataPrg" / "Kalmeo.cfg").string());
    cfg.WriteString("DataConnect", "IDStanice", "STANICE-1");
  }

  void WriteCompanies(const std::vector<Company>& companies,
                      const std::vector<std::pair<int64_t, std::string>>& stations) {
    const fs::path folder = exe / "DataPrg" / "GDATA" / "S";
    auto firms = ParadoxTable::Create((folder / "GFIRMY.DB").string(),
                                      {{"Id", FieldType::kLong, 0},
                                       {"Oznaceni", FieldType::kAlpha, 50},
                                       {"TypOrganizace", FieldType::kAlpha, 1},
                                       {"Adresar", FieldType::kAlpha, 128},
                                       {"SitovaData", FieldType::kLogical, 0}},
                                      1);
    for (const Company& c : companies)
      firms->Insert({c.id, std::string(c.designation), std::string("P"), std::string(c.folder),
                     c.shared});
    firms->Close();
    auto st = ParadoxTable::Create((folder / "GFIRMAST.DB").string(),
                                   {{"FirmaId", FieldType::kLong, 0},
                                    {"StaniceId", FieldType::kAlpha, 38}},
                                   2);
    for (const auto& [firm, station] : stations) st->Insert({firm, station});
    st->Close();
  }

  test::TempDir dir;
  fs::path exe;
};

TEST_F(Installation, CompanyListFollowsTheStationTableAndTheRememberedName) {
  WriteCompanies({{1, "Centrála Praha", "CENTRALA", true},
                  {2, "Pobočka Brno", "BRNO", false},
                  {3, "Cizí firma", "CIZI", false}},
                 {{2, "STANICE-1"}, {1, "STANICE-1"}, {3, "JINA"}, {9, "STANICE-1"},
                  {1, "stanice-1"}});
  CompanyRegister reg(exe.string());
  ASSERT_TRUE(reg.Open());
  int selected = -2;
  // Station-table order (FirmaId 1 before 2); FirmaId 9 has no company.
  EXPECT_EQ(reg.FillCompanyList("Pobočka Brno", &selected),
            (std::vector<std::string>{"Centrála Praha", "Pobočka Brno"}));
  EXPECT_EQ(selected, 1);
  EXPECT_EQ(reg.ActiveDesignation(), "Pobočka Brno");
  EXPECT_EQ(reg.CompanyDataFolder(), (exe / "DATA" / "BRNO").string() + kNativeSeparator);
  EXPECT_FALSE(reg.CompanyDataAvailable());
  fs::create_directories(exe / "DATA" / "brno");  // found without regard to case
  EXPECT_EQ(reg.CompanyDataFolder(), (exe / "DATA" / "brno").string() + kNativeSeparator);
  EXPECT_TRUE(reg.CompanyDataAvailable());

  CompanyRegister again(exe.string());
  ASSERT_TRUE(again.Open());
  EXPECT_EQ(again.FillCompanyList("Zrušená firma", &selected).size(), 2u);
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(again.ActiveDesignation(), "Centrála Praha");
  EXPECT_TRUE(again.SelectCompany("Pobočka Brno"));
  EXPECT_FALSE(again.SelectCompany("pobočka brno"));
  EXPECT_EQ(again.ActiveDesignation(), "Pobočka Brno");
}

TEST_F(Installation, UnknownStationGetsAnEmptyListAndTheFirstCompany) {
  WriteCompanies({{5, "První", "PRVNI", false}, {7, "Druhá", "DRUHA", false}}, {{5, "JINA"}});
  CompanyRegister reg(exe.string());
  ASSERT_TRUE(reg.Open());
  int selected = 0;
  EXPECT_TRUE(reg.FillCompanyList("", &selected).empty());
  EXPECT_EQ(selected, -1);
  EXPECT_EQ(reg.ActiveDesignation(), "První");
  EXPECT_EQ(WindowTitle(reg.ActiveDesignation()), "Dalimor  [První]");
}

TEST_F(Installation, MissingStationTableIsAnEmptyList) {
  WriteCompanies({{1, "A", "A", false}}, {});
  fs::remove(exe / "DataPrg" / "GDATA" / "S" / "GFIRMAST.DB");
  CompanyRegister reg(exe.string());
  ASSERT_TRUE(reg.Open());
  EXPECT_TRUE(reg.FillCompanyList("A", nullptr).empty());
}

TEST_F(Installation, NetFileDirNamesTheSharedInstallation) {
  const fs::path shared = dir.path() / "server" / "Kalmeo";
  fs::create_directories(shared / "DataPrg" / "GDATA" / "S");
  CompanyRegister reg(exe.string());
  EXPECT_EQ(reg.InstallationFolder(), exe.string() + kNativeSeparator);
  for (const std::string& text : {shared.string(), shared.string() + kNativeSeparator}) {
    IniFile((exe / "DataPrg" / "Kalmeo.cfg").string()).WriteString("DataConnect", "NetFileDir", text);
    EXPECT_EQ(reg.InstallationFolder(), shared.string() + kNativeSeparator);
  }
  IniFile((exe / "DataPrg" / "Kalmeo.cfg").string())
      .WriteString("DataConnect", "NetFileDir", (dir.path() / "missing").string());
  EXPECT_EQ(reg.InstallationFolder(), exe.string() + kNativeSeparator);

  // Shared companies lie below the shared folder, local ones below ours.
  IniFile((exe / "DataPrg" / "Kalmeo.cfg").string()).WriteString("DataConnect", "NetFileDir", shared.string());
  const fs::path saved_exe = exe;
  exe = shared;
  WriteCompanies({{1, "Sdílená", "SDIL", true}, {2, "Místní", "MISTNI", false}},
                 {{1, "STANICE-1"}, {2, "STANICE-1"}});
  exe = saved_exe;
  ASSERT_TRUE(reg.Open());
  reg.FillCompanyList("Sdílená", nullptr);
  EXPECT_EQ(reg.CompanyDataFolder(), (shared / "DATA" / "SDIL").string() + kNativeSeparator);
  reg.SelectCompany("Místní");
  EXPECT_EQ(reg.CompanyDataFolder(), (exe / "DATA" / "MISTNI").string() + kNativeSeparator);
  EXPECT_EQ(reg.DataLocationCaption(), shared.string() + kNativeSeparator);
}

TEST_F(Installation, WithoutTheCompanyRegisterEverythingIsEmpty) {
  CompanyRegister reg(exe.string());
  EXPECT_FALSE(reg.Open());
  EXPECT_EQ(reg.CompanyDataFolder(), "");
  EXPECT_EQ(reg.DataLocationCaption(), "");
  EXPECT_FALSE(reg.CompanyDataAvailable());
  EXPECT_EQ(WindowTitle(reg.ActiveDesignation()), "Dalimor  []");
  EXPECT_EQ(TransferFolderPath(""), "");
  EXPECT_EQ(TransferFolderPath("/tmp/x"), std::string("/tmp/x") + kNativeSeparator);
}

TEST_F(Installation, RegisterControlledByAnotherProgramIsRefused) {
  WriteCompanies({{1, "A", "A", false}}, {{1, "STANICE-1"}});
  std::string lock(0x200, '\0');
  const std::string other = "C:\\JINY\\";
  lock.replace(0x6E, other.size(), other);
  test::WriteFileBytes(exe / "DataPrg" / "GDATA" / "S" / "PDOXUSRS.LCK", lock);
  CompanyRegister reg(exe.string());
  try {
    reg.Open();
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 23), "Directory is controlled");
  }
  EXPECT_FALSE(reg.IsOpen());
}

}  // namespace
}  // namespace dalimor
