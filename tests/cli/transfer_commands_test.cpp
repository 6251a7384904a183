// The installation and transfer commands as a scheduled job runs them: the
// real binary on a demo installation.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

struct CliResult {
  int code;
  std::string output;
};

class CliTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder());
    ASSERT_EQ(Cli("demo " + Q(installation())).code, 0);
  }
  CliResult Cli(const std::string& arguments, const std::string& input = "") {
    CliResult result;
    const std::string env = (cwd.empty() ? std::string() : "cd " + Q(cwd) + " && ") +
                            "DALIMOR_ENGINE_CONFIG=" + Q(dir.File("engine.cfg")) + " ";
    const std::string feed = input.empty() ? " </dev/null" : " <<< " + Q(input);
    result.code = test::RunCommand("bash -c " + Q(env + wrapper + std::string(DALIMOR_CLI_PATH) +
                                                  " " + arguments + feed),
                                   &result.output);
    return result;
  }
  static std::string Q(const std::string& s) {
    std::string quoted = "'";
    for (const char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }
  std::string installation() const { return dir.File("kalmeo"); }
  std::string folder() const { return dir.File("přenos"); }
  std::string Common(const char* company) const {
    return "--installation " + Q(installation()) + " --company " + Q(company) + " --folder " +
           Q(folder());
  }
  // Every file below the installation with its bytes.
  std::map<std::string, std::string> InstallationFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(installation()))
      if (entry.is_regular_file())
        files[entry.path().string()] = test::ReadFileBytes(entry.path());
    return files;
  }
  test::TempDir dir;
  std::string cwd;  // the working folder of the command; empty: this process's
  std::string wrapper;  // a command the CLI runs under ("timeout 20 "); empty: none
};

TEST_F(CliTransfer, CompaniesInitSendInfoReceive) {
  const CliResult companies = Cli("companies --installation " + Q(installation()));
  EXPECT_EQ(companies.output, "Pobočka Brno\nCentrála Praha\n");

  EXPECT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
  // Asked again without --yes and nobody to answer: the safe answer, refused.
  const CliResult again = Cli("init " + Common("Pobočka Brno"));
  EXPECT_EQ(again.code, 3) << again.output;
  EXPECT_NE(again.output.find("Inicializace byla přerušena."), std::string::npos);

  const CliResult send =
      Cli("send " + Common("Pobočka Brno") + " --all --price-all --archive --message " +
          Q("Ahoj z Brna") + " --yes");
  EXPECT_EQ(send.code, 0) << send.output;
  EXPECT_NE(send.output.find("Odeslání dat bylo úspěšně dokončeno."), std::string::npos);
  EXPECT_NE(send.output.find("Probíhá odesílání záznamů agendy Přijaté faktury..."),
            std::string::npos);

  const CliResult info = Cli("info --folder " + Q(folder()));
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.output.find("CompanyName=Pobočka Brno\n"), std::string::npos);
  EXPECT_NE(info.output.find("\n\nAhoj z Brna\n"), std::string::npos) << info.output;
  EXPECT_EQ(info.output.find("SPFH=0\n"), std::string::npos);

  std::string zip_test;
  EXPECT_EQ(test::RunCommand("unzip -tq " + Q(folder() + "/přenos.zip"), &zip_test), 0)
      << zip_test;

  // The head office is asked about the other company's batch; No refuses.
  const CliResult declined = Cli("receive " + Common("Centrála Praha") + " --all", "a\nn\n");
  EXPECT_EQ(declined.code, 3) << declined.output;
  const CliResult receive =
      Cli("receive " + Common("Centrála Praha") + " --agenda PF --agenda VF --series FV --yes");
  EXPECT_EQ(receive.code, 0) << receive.output;
  EXPECT_NE(receive.output.find("Příjem dat byl úspěšně dokončen."), std::string::npos);
}

TEST_F(CliTransfer, RefusalsAndUsageErrorsHaveTheirExitCodes) {
  EXPECT_EQ(Cli("send " + Common("Cizí firma") + " --all --yes").code, 1);
  EXPECT_EQ(Cli("send " + Common("Pobočka Brno") + " --agenda XY --yes").code, 2);
  EXPECT_EQ(Cli("send --company x").code, 2);
  const CliResult nothing = Cli("send " + Common("Pobočka Brno") + " --yes");
  EXPECT_EQ(nothing.code, 3);
  EXPECT_NE(nothing.output.find("Ve výběru pro odeslání není obsažena žádná agenda."),
            std::string::npos);
  const CliResult incomplete = Cli("receive " + Common("Centrála Praha") + " --all --yes");
  EXPECT_EQ(incomplete.code, 3);
  EXPECT_NE(incomplete.output.find("Soubory pro import dat nejsou k dispozici."),
            std::string::npos);
  // Live accounting tables are never a transfer folder.
  const CliResult live = Cli("init --installation " + Q(installation()) +
                             " --company 'Pobočka Brno' --folder " +
                             Q(installation() + "/DATA/BRNO/SDATA/S") + " --yes");
  EXPECT_EQ(live.code, 3) << live.output;
  EXPECT_NE(live.output.find("obsahuje data programu Kalmeo"), std::string::npos) << live.output;
}

// No folder with live accounting data becomes a transfer folder, however
// it is named: not another company's tables, not the installation, not a
// folder holding them, not a link to them, not another spelling of them.
TEST_F(CliTransfer, LiveAccountingFoldersAreRefusedByEveryCommand) {
  const std::string praha = installation() + "/DATA/PRAHA";
  fs::create_directory_symlink(praha + "/SDATA/S", dir.path() / "odkaz");
  const std::map<std::string, std::string> before = InstallationFiles();
  const std::string folders[] = {
      praha + "/SDATA/S",                   // another company's tables
      praha,                                // another company's data folder
      installation() + "/DATA/OSTRAVA/CDATA/S",  // a company of another station
      installation() + "/data/praha/sdata/s",   // another spelling
      dir.File("odkaz"),                    // a link to them
      installation(),                       // the installation
      installation() + "/DATA",             // a folder holding company folders
      installation() + "/DataPrg/GDATA/S",  // the company register
      dir.path().string(),                  // a folder holding the installation
  };
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    const std::string common = "--installation " + Q(installation()) +
                               " --company 'Pobočka Brno' --folder " + Q(folder);
    for (const std::string& command :
         {"init " + common + " --yes", "send " + common + " --agenda PF --agenda VF --overwrite --yes",
          "send " + common + " --all --empty --yes", "receive " + common + " --all --overwrite --yes"}) {
      const CliResult refused = Cli(command);
      EXPECT_EQ(refused.code, 3) << command << "\n" << refused.output;
      EXPECT_NE(refused.output.find("obsahuje data programu Kalmeo"), std::string::npos)
          << refused.output;
    }
  }
  EXPECT_TRUE(InstallationFiles() == before);
}

// A batch file that is a link (or no plain file) is refused before anything
// reads or writes through it.
TEST_F(CliTransfer, BatchFilesThatAreLinksOrNoPlainFilesAreRefused) {
  ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
  ASSERT_EQ(Cli("send " + Common("Pobočka Brno") + " --all --yes").code, 0);
  const std::string company_table = installation() + "/DATA/PRAHA/SDATA/S/SPFH.DB";
  const std::map<std::string, std::string> before = InstallationFiles();
  const fs::path batch_table = fs::path(folder()) / "SPFH.DB";
  const fs::path kept = dir.path() / "SPFH.DB.kept";
  fs::rename(batch_table, kept);
  const std::function<void()> hostile[] = {
      [&] { fs::create_symlink(company_table, batch_table); },
      [&] { fs::create_hard_link(company_table, batch_table); },
      [&] { ASSERT_EQ(mkfifo(batch_table.c_str(), 0600), 0); },
      [&] {
        fs::copy_file(kept, batch_table);
        fs::create_symlink(company_table, fs::path(folder()) / "exportinfo.txt.tmp");
        fs::remove(fs::path(folder()) / "exportinfo.txt");
        fs::rename(fs::path(folder()) / "exportinfo.txt.tmp", fs::path(folder()) / "exportinfo.txt");
      },
  };
  for (const auto& make : hostile) {
    make();
    for (const std::string& command :
         {"receive " + Common("Centrála Praha") + " --all --overwrite --yes",
          "send " + Common("Pobočka Brno") + " --all --overwrite --message x --yes"}) {
      const CliResult refused = Cli(command);
      EXPECT_EQ(refused.code, 3) << command << "\n" << refused.output;
      EXPECT_NE(refused.output.find("je odkazem na jiný soubor nebo není obyčejným souborem"),
                std::string::npos)
          << refused.output;
    }
    fs::remove(batch_table);
  }
  EXPECT_TRUE(InstallationFiles() == before);
}

// "exportinfo.txt" planted as a link to a company's table or as a pipe:
// `info` neither shows the table's bytes nor waits, it names the file; a
// send leaves the table as it was.
TEST_F(CliTransfer, InfoNamesALinkedOrPipedMessageFileAndNeverWaits) {
  ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
  const std::string company_table = installation() + "/DATA/PRAHA/SDATA/S/SPFH.DB";
  const fs::path message = fs::path(folder()) / "exportinfo.txt";
  const std::map<std::string, std::string> before = InstallationFiles();
  const std::function<void()> hostile[] = {
      [&] { fs::create_symlink(company_table, message); },
      [&] { ASSERT_EQ(mkfifo(message.c_str(), 0600), 0); },
  };
  for (const auto& make : hostile) {
    make();
    // A time limit far above what the command needs, so that a wait on the
    // pipe ends the command (exit 124) instead of the test.
    wrapper = "timeout 20 ";
    const CliResult info = Cli("info --folder " + Q(folder()));
    wrapper.clear();
    EXPECT_EQ(info.code, 1) << info.output;
    EXPECT_NE(info.output.find(message.string() + "\" v přenosné složce je odkazem na jiný "
                                                   "soubor nebo není obyčejným souborem"),
              std::string::npos)
        << info.output;
    const CliResult send =
        Cli("send " + Common("Pobočka Brno") + " --agenda PF --message x --yes");
    EXPECT_EQ(send.code, 3) << send.output;
    fs::remove(message);
  }
  EXPECT_TRUE(InstallationFiles() == before);
}

// What a scheduled send reports is what happened: an archive that could
// not be written has its own exit code and leaves no stale archive; a
// relative folder names its archive; a message keeps its line breaks as
// CR LF; a designation two companies carry is refused.
TEST_F(CliTransfer, SendResultsAreHonest) {
  ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
  const fs::path archive = fs::path(folder()) / "přenos.zip";
  test::WriteFileBytes(archive, "the archive of an earlier send");
  fs::permissions(archive, fs::perms::owner_read);
  const CliResult send = Cli("send " + Common("Pobočka Brno") + " --agenda PF --archive --message " +
                             Q("první řádek\ndruhý\r\ntřetí") + " --yes");
  EXPECT_EQ(send.code, 4) << send.output;
  EXPECT_NE(send.output.find("read-only"), std::string::npos) << send.output;
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_EQ(test::ReadFileBytes(fs::path(folder()) / "exportinfo.txt"),
            "prvn\xED \xF8\xE1" "dek\r\ndruh\xFD\r\nt\xF8" "et\xED");

  fs::create_directory(dir.path() / "b9");
  cwd = dir.path().string();
  const CliResult relative = Cli("send --installation " + Q(installation()) +
                                 " --company 'Pobočka Brno' --folder b9 --agenda PF --archive --yes");
  cwd.clear();
  EXPECT_EQ(relative.code, 0) << relative.output;
  EXPECT_TRUE(fs::exists(dir.path() / "b9" / "b9.zip"));
  EXPECT_FALSE(fs::exists(dir.path() / "b9" / "zaloha.zip"));

  // A second company named like the branch, in a folder of its own.
  const std::string csv = dir.File("firma.csv");
  test::WriteFileBytes(csv, "Id,Oznaceni,Adresar,SitovaData\r\n7,Pobočka Brno,BRNO2,false\r\n");
  ASSERT_EQ(Cli("import " + Q(installation() + "/DataPrg/GDATA/S/GFIRMY.DB") + " " + Q(csv)).code, 0);
  const CliResult ambiguous = Cli("send " + Common("Pobočka Brno") + " --agenda PF --yes");
  EXPECT_EQ(ambiguous.code, 3) << ambiguous.output;
  EXPECT_NE(ambiguous.output.find("DATA/BRNO/"), std::string::npos) << ambiguous.output;
  EXPECT_NE(ambiguous.output.find("DATA/BRNO2/"), std::string::npos) << ambiguous.output;
}

}  // namespace
}  // namespace dalimor
