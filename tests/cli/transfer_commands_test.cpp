// The installation and transfer commands as a scheduled job runs them: the
// real binary on a demo installation.

#include <gtest/gtest.h>

#include <filesystem>

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
    const std::string env = "DALIMOR_ENGINE_CONFIG=" + Q(dir.File("engine.cfg")) + " ";
    const std::string feed = input.empty() ? " </dev/null" : " <<< " + Q(input);
    result.code = test::RunCommand("bash -c " + Q(env + std::string(DALIMOR_CLI_PATH) + " " +
                                                  arguments + feed),
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
  test::TempDir dir;
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

}  // namespace
}  // namespace dalimor
