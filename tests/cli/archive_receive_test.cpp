// receive --archive and history as a scheduled job runs them: the real
// binary on a demo installation, with archives of our own, of Info-ZIP and
// of 7-Zip, and with hostile ones.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "tests/cli/cli_fixture.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

class CliArchiveReceive : public CliTransfer {
 protected:
  void SetUp() override {
    CliTransfer::SetUp();
    ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
    const CliResult send =
        Cli("send " + Common("Pobočka Brno") + " --all --price-all --archive --yes");
    ASSERT_EQ(send.code, 0) << send.output;
    praha_before = PrahaTables();
  }
  std::string Head(const std::string& source) const {
    return "--installation " + Q(installation()) + " --company 'Centrála Praha' " + source +
           " --all --price-all --yes";
  }
  // Every row of every table of the head office, as dump prints them,
  // without the time stamps a receive gives the headers it processes
  // ("Zmeneno" is the clock's, different in every run).
  std::map<std::string, std::string> PrahaTables() {
    std::map<std::string, std::string> tables;
    for (const auto& entry : fs::recursive_directory_iterator(installation() + "/DATA/PRAHA")) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".DB" && ext != ".db") continue;
      tables[entry.path().string()] = Cli("dump " + Q(entry.path().string())).output;
    }
    return tables;
  }
  std::map<std::string, std::string> PrahaFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(installation() + "/DATA/PRAHA"))
      if (entry.is_regular_file()) files[entry.path().string()] = test::ReadFileBytes(entry.path());
    return files;
  }
  void RestorePraha(const std::map<std::string, std::string>& files) {
    fs::remove_all(installation() + "/DATA/PRAHA");
    for (const auto& [path, bytes] : files) {
      fs::create_directories(fs::path(path).parent_path());
      test::WriteFileBytes(path, bytes);
    }
  }
  // Names the tables that differ and their first differing line.
  static void ExpectSameTables(const std::map<std::string, std::string>& actual,
                               const std::map<std::string, std::string>& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    for (const auto& [path, dump] : expected) {
      const auto it = actual.find(path);
      if (it == actual.end()) {
        ADD_FAILURE() << "missing " << path;
        continue;
      }
      if (it->second == dump) continue;
      size_t at = 0;
      while (at < dump.size() && at < it->second.size() && dump[at] == it->second[at]) ++at;
      const size_t from = at < 60 ? 0 : at - 60;
      ADD_FAILURE() << path << " differs:\n  expected " << dump.substr(from, 120)
                    << "\n  actual   " << it->second.substr(from, 120);
    }
  }
  std::map<std::string, std::string> praha_before;
};

TEST_F(CliArchiveReceive, ArchivesOfEveryZipProgramReceiveAsTheFolderDoes) {
  const auto files_before = PrahaFiles();
  // From the folder: the reference, without its time stamps.
  const CliResult from_folder = Cli("receive " + Head("--folder " + Q(folder())));
  ASSERT_EQ(from_folder.code, 0) << from_folder.output;
  // The time stamps of processed headers differ per run: compare dumps with
  // the "Zmeneno" values masked.
  const auto mask = [](std::map<std::string, std::string> tables) {
    // A time stamp reads "04.01.2009 10:50:55" or "04.01.2009 10:50:55.504".
    const std::regex moment(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d(\.\d+)?)");
    for (auto& [path, dump] : tables) dump = std::regex_replace(dump, moment, "(čas)");
    return tables;
  };
  const auto reference = mask(PrahaTables());
  ASSERT_TRUE(reference != mask(praha_before));

  const std::string ours = folder() + "/přenos.zip";
  const std::string made = dir.File("made.zip");
  const std::string in_folder = "cd " + Q(folder()) + " && ";
  struct Maker {
    const char* what;
    std::string command;  // empty: our own archive
  };
  const Maker makers[] = {
      {"ours", ""},
      {"zip -j", "zip -q -j " + Q(made) + " " + Q(folder()) + "/*.DB " + Q(folder()) + "/*.PX " +
                     Q(folder()) + "/*.MB " + Q(folder()) + "/export*"},
      {"7z a", in_folder + "7z a -tzip -bd " + Q(made) + " *.DB *.PX *.MB export* >/dev/null"},
  };
  for (const Maker& maker : makers) {
    SCOPED_TRACE(maker.what);
    RestorePraha(files_before);
    std::string archive = ours;
    if (!maker.command.empty()) {
      fs::remove(made);
      std::string output;
      ASSERT_EQ(test::RunCommand("bash -c " + Q(maker.command), &output), 0) << output;
      archive = made;
    }
    const CliResult received = Cli("receive " + Head("--archive " + Q(archive)));
    ASSERT_EQ(received.code, 0) << received.output;
    EXPECT_NE(received.output.find("Příjem dat byl úspěšně dokončen."), std::string::npos);
    ExpectSameTables(mask(PrahaTables()), reference);
    EXPECT_TRUE(fs::is_empty(temporary()));
  }
}

TEST_F(CliArchiveReceive, HostileArchivesAreRefusedWithNothingWritten) {
  const auto files_before = PrahaFiles();
  const std::string zip = dir.File("hostile.zip");
  const struct {
    const char* what;
    std::string python;
    const char* expected;
  } cases[] = {
      {"path traversal", "z.writestr('../Spfp.DB', b'x')", "\"..\""},
      {"absolute path", "z.writestr('/tmp/Spfp.DB', b'x')", "absolutní cestu"},
      {"not a batch file", "z.writestr('autorun.sh', b'x')", "do dávky nepatří"},
      {"zip bomb", "z.writestr('SPFH.DB', bytes(100 * 1024 * 1024))", "zip bombu"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string output;
    ASSERT_EQ(test::RunCommand("python3 -c " +
                                   Q("import zipfile\nwith zipfile.ZipFile('" + zip +
                                     "', 'w', zipfile.ZIP_DEFLATED) as z: " + c.python),
                               &output),
              0)
        << output;
    const CliResult refused = Cli("receive " + Head("--archive " + Q(zip)));
    EXPECT_EQ(refused.code, 3) << refused.output;
    EXPECT_NE(refused.output.find(c.expected), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("Data zůstala beze změny."), std::string::npos);
    EXPECT_EQ(refused.output.find("Chcete dávku skutečně přijmout?"), std::string::npos);
    EXPECT_EQ(PrahaFiles(), files_before);
    EXPECT_TRUE(fs::is_empty(temporary()));
  }
  // A missing archive, and both --folder and --archive.
  const CliResult missing = Cli("receive " + Head("--archive " + Q(dir.File("nic.zip"))));
  EXPECT_EQ(missing.code, 3) << missing.output;
  EXPECT_NE(missing.output.find("soubor nelze otevřít"), std::string::npos) << missing.output;
  EXPECT_EQ(Cli("receive " + Head("--folder " + Q(folder()) + " --archive " + Q(zip))).code, 2);
}

TEST_F(CliArchiveReceive, HistoryListsEveryRunAndALogThatCannotBeWrittenOnlyWarns) {
  ASSERT_EQ(Cli("receive " + Head("--archive " + Q(folder() + "/přenos.zip"))).code, 0);
  // Refused: the batch is no batch of this folder.
  ASSERT_EQ(Cli("receive " + Head("--folder " + Q(dir.File("kalmeo")))).code, 3);

  const CliResult all = Cli("history");
  ASSERT_EQ(all.code, 0) << all.output;
  // The header, init is no run; the send, both receives.
  EXPECT_NE(all.output.find("Začátek;Konec;Uživatel;Instalace;Firma;Složka;Směr;Volby;Počty;"
                            "Výsledek;Chyba\n"),
            std::string::npos)
      << all.output;
  EXPECT_NE(all.output.find(";Pobočka Brno;"), std::string::npos);
  EXPECT_NE(all.output.find(";odeslání;"), std::string::npos);
  EXPECT_NE(all.output.find("přenos.zip;příjem;\"agendy PF VF"), std::string::npos) << all.output;
  EXPECT_NE(all.output.find("Přijaté faktury: "), std::string::npos);
  EXPECT_NE(all.output.find("odmítnuto: nevhodná přenosná složka"), std::string::npos)
      << all.output;

  const CliResult head = Cli("history --company 'Centrála Praha'");
  EXPECT_EQ(head.output.find(";odeslání;"), std::string::npos) << head.output;
  EXPECT_NE(head.output.find(";příjem;"), std::string::npos);
  const CliResult other_year = Cli("history --year 1999");
  EXPECT_EQ(other_year.code, 0);
  EXPECT_NE(other_year.output.find("V historii přenosů za rok 1999 není žádný záznam."),
            std::string::npos)
      << other_year.output;
  EXPECT_EQ(Cli("history --year 99").code, 2);

  // The log's folder taken by a file: the run still succeeds, with a warning.
  fs::remove_all(data_home() + "/dalimor");
  test::WriteFileBytes(data_home() + "/dalimor", "x");
  const CliResult unlogged = Cli("send " + Common("Pobočka Brno") + " --agenda PF --yes");
  EXPECT_EQ(unlogged.code, 0) << unlogged.output;
  EXPECT_NE(unlogged.output.find("se nepodařilo zapsat do historie přenosů"), std::string::npos)
      << unlogged.output;
}

}  // namespace
}  // namespace dalimor
