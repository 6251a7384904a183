// The installation and transfer commands as a scheduled job runs them: the
// real binary on a demo installation.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "engine/paradox/table.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

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

// --dry-run prints what the run would do and writes nothing: not a byte of
// the installation, the batch or the zip the receive would take it from,
// and no line in the history.
TEST_F(CliTransfer, DryRunPrintsTheFiguresAndWritesNothing) {
  ASSERT_EQ(Cli("send " + Common("Pobočka Brno") + " --all --archive --yes").code, 0);
  const std::string zip = folder() + "/přenos.zip";
  const auto folder_files = [&] {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
      if (entry.is_regular_file()) files[entry.path().string()] = test::ReadFileBytes(entry.path());
    return files;
  };
  const auto before = folder_files();
  for (const std::string& command :
       {"send " + Common("Pobočka Brno") + " --all --overwrite --dry-run",
        "receive " + Common("Centrála Praha") + " --all --dry-run",
        "receive --installation " + Q(installation()) + " --company " + Q("Centrála Praha") +
            " --archive " + Q(zip) + " --all --dry-run"}) {
    const CliResult result = Cli(command);
    EXPECT_EQ(result.code, 0) << command << "\n" << result.output;
    EXPECT_NE(result.output.find("Agenda"), std::string::npos) << result.output;
    EXPECT_EQ(folder_files(), before) << command;
  }
  // The receive's figures: of 24 received invoices the head office has 4.
  const CliResult receive = Cli("receive " + Common("Centrála Praha") + " --agenda PF --dry-run");
  EXPECT_NE(receive.output.find("Přijaté faktury  doklady     20        0        4"),
            std::string::npos)
      << receive.output;
  // A batch that is not there is refused as the receive refuses it.
  std::filesystem::create_directories(dir.File("prázdná"));
  const CliResult empty = Cli("receive --installation " + Q(installation()) + " --company " +
                              Q("Centrála Praha") + " --folder " + Q(dir.File("prázdná")) +
                              " --all --dry-run");
  EXPECT_EQ(empty.code, 3);
  EXPECT_NE(empty.output.find("Soubory pro import dat nejsou k dispozici."), std::string::npos);
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
    launcher = "timeout 20 ";
    const CliResult info = Cli("info --folder " + Q(folder()));
    launcher.clear();
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

// The dates of send and receive through RunCli, in this process.
class CliDates : public ::testing::Test {
 protected:
  struct Result {
    int code;
    std::string out, err;
  };
  void SetUp() override {
    setenv("DALIMOR_ENGINE_CONFIG", dir.File("engine.cfg").c_str(), 1);
    // The runs' log goes to the test's folder, not to the user's.
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
    ASSERT_EQ(Run({"demo", installation()}).code, kExitOk);
  }
  Result Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::istringstream in;
    const int code = RunCli(args, out, err, in);
    return {code, out.str(), err.str()};
  }
  // `command` on Pobočka Brno with the folder, then `rest`.
  std::vector<std::string> Line(const std::string& command, const std::string& folder,
                                const std::vector<std::string>& rest) const {
    std::vector<std::string> args = {command,        "--installation", installation(), "--company",
                                     "Pobočka Brno", "--folder",       folder};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
  }
  std::string installation() const { return dir.File("kalmeo"); }
  test::TempDir dir;
};

TEST_F(CliDates, InvalidDateIsAUsageErrorBeforeAnythingRuns) {
  const std::string folder = dir.File("prenos");
  fs::create_directories(folder);
  struct Placement {
    std::string command;
    std::vector<std::string> before;  // what comes before the date's option
    std::string option;
  };
  const std::vector<Placement> placements = {
      {"send", {"--all"}, "--from"},
      {"send", {"--agenda", "PF"}, "--to"},
      {"send", {"--all", "--from", "1.1.2011"}, "--to"},
      {"receive", {"--all"}, "--to"},
      {"receive", {"--agenda", "VF"}, "--from"},
  };
  for (const std::string text :
       {"32.1.2011", "2011-01-01", "31.4.2011", "1.1.2011x", "31.2.10", "1.13", "nesmysl"}) {
    for (const Placement& p : placements) {
      std::vector<std::string> rest = p.before;
      rest.push_back(p.option);
      rest.push_back(text);
      const Result r = Run(Line(p.command, folder, rest));
      const std::string what = p.command + " " + p.option + " " + text;
      EXPECT_EQ(r.code, kExitUsage) << what;
      EXPECT_EQ(r.err, "Neplatné datum.: " + text + "\n") << what;
      // No question (it would go to standard error), no progress, nothing
      // written.
      EXPECT_EQ(r.out, "") << what;
      EXPECT_TRUE(fs::is_empty(folder)) << what;
    }
  }
}

// The short forms of the date boxes bound the send as their full forms do.
// The demo's received invoices run from 2009 to 2011, and the system clock's
// today lies after them.
TEST_F(CliDates, ShortFormsBoundTheSendAsTheDateBoxesDo) {
  int sends = 0;
  // The received invoice headers a send of PF puts into a fresh folder.
  auto sent = [&](const std::vector<std::string>& rest) -> int64_t {
    const std::string folder = dir.File("prenos" + std::to_string(++sends));
    fs::create_directories(folder);
    std::vector<std::string> args = rest;
    args.push_back("--yes");
    const Result r = Run(Line("send", folder, args));
    if (r.code != kExitOk) {
      ADD_FAILURE() << testing::PrintToString(rest) << " exit " << r.code << ": " << r.err;
      return -1;
    }
    return ParadoxTable::Open(folder + "/SPFH.DB", OpenMode::kReadOnly)->record_count();
  };
  const int64_t all = sent({"--agenda", "PF"});
  const int64_t this_year = sent({"--agenda", "PF", "--from", "01.01.2011"});
  ASSERT_GT(this_year, 0);
  ASSERT_LT(this_year, all);

  struct Case {
    std::vector<std::string> rest;
    int64_t headers;
  };
  const std::vector<Case> cases = {
      {{"--agenda", "PF", "--from", "010111"}, this_year},
      {{"--from", "1.1.11", "--agenda", "PF"}, this_year},
      {{"--agenda", "PF", "--to", "311210"}, all - this_year},
      {{"--agenda", "PF", "--to", "31,12,2010"}, all - this_year},
      {{"--agenda", "PF", "--from", "*"}, 0},
      {{"--agenda", "PF", "--from", "+2"}, 0},
      {{"--agenda", "PF", "--from", "5.3"}, 0},
      {{"--agenda", "PF", "--to", "-1"}, all},
      {{"--agenda", "PF", "--from", ""}, all},
  };
  for (const Case& c : cases) EXPECT_EQ(sent(c.rest), c.headers) << testing::PrintToString(c.rest);
}

// ---------------------------------------------------------------------------
// Archives cut short by a kill or a full disk, and batches on read-only media.

// Checks an archive the way a receiver would: the zip is whole and holds
// exactly the plain files of its folder (hidden ones aside) with their bytes.
const char kMatchesBatchScript[] = R"PY(
import os, sys, zipfile
archive = sys.argv[1]
folder = os.path.dirname(archive)
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    if bad is not None:
        sys.exit('damaged entry ' + bad)
    names = sorted(z.namelist())
    files = sorted(n for n in os.listdir(folder)
                   if not n.startswith('.') and n != os.path.basename(archive)
                   and os.path.isfile(os.path.join(folder, n)))
    if names != files:
        sys.exit('entries %s, files %s' % (names, files))
    for n in names:
        with open(os.path.join(folder, n), 'rb') as f:
            if f.read() != z.read(n):
                sys.exit(n + ' differs')
print('matches')
)PY";

// Mounts the folder given first read-only in the mount namespace the script
// runs in, makes sure it cannot be written, then runs the rest of its
// arguments as a command.
const char kReadOnlyMountScript[] = R"SH(
mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 97
if touch "$1/.write-probe" 2>/dev/null; then exit 98; fi
shift
exec "$@"
)SH";

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// The records of a table as "dump" prints them: lines, except for line
// breaks inside quoted values.
std::vector<std::string> DumpRecords(const std::string& dump) {
  std::vector<std::string> records(1);
  bool quoted = false;
  for (const char c : dump) {
    if (c == '"') quoted = !quoted;
    if (c == '\n' && !quoted) {
      records.emplace_back();
      continue;
    }
    records.back() += c;
  }
  if (records.back().empty()) records.pop_back();
  return records;
}

class CliTransferMedia : public CliTransfer {
 protected:
  // Empty when `archive` passes "unzip -t" and matches its folder (see
  // kMatchesBatchScript); else what is wrong.
  std::string ArchiveMismatch(const fs::path& archive) {
    if (!fs::exists(archive)) return "no archive";
    std::string output;
    if (test::RunCommand("unzip -tq " + Q(archive.string()), &output) != 0)
      return "unzip -t: " + output;
    const std::string script = dir.File("matches.py");
    test::WriteFileBytes(script, kMatchesBatchScript);
    if (test::RunCommand("python3 " + Q(script) + " " + Q(archive.string()), &output) != 0 ||
        output != "matches\n")
      return "zipfile: " + output;
    return "";
  }

  static std::vector<std::string> HiddenEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.front() == '.') names.push_back(name);
    }
    return names;
  }

  // A prefix for a command that runs it in a mount namespace of its own,
  // where it may mount what nobody else sees: as the root of a user
  // namespace (no privileges needed where the kernel allows that), or as
  // it is when this process may mount.  Empty when neither works.
  std::string MountNamespaceLauncher() {
    const std::string probe = dir.File("mount-probe");
    fs::create_directories(probe);
    for (const std::string prefix :
         {"unshare --user --map-root-user --mount ", "unshare --mount "}) {
      if (test::RunCommand(prefix + "mount -t tmpfs tmpfs " + Q(probe)) == 0) return prefix;
    }
    return "";
  }

  // Leak checking stops a process that another one traces, so it is off
  // under strace.
  static std::string Strace(const std::string& options) {
    return "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq " + options +
           " ";
  }
};

// A send killed at any point while it writes its archive leaves under the
// archive's name either nothing or a complete archive of the batch; the
// next send removes what the killed one left and succeeds.  The kills are
// real: strace stops the binary with SIGKILL at one system call.
TEST_F(CliTransferMedia, SendKilledWhileWritingTheArchiveLeavesNoDamagedArchive) {
  if (test::RunCommand(Strace("-o /dev/null") + "true") != 0)
    GTEST_SKIP() << "strace is missing or cannot trace here";
  // An ASCII name: strace prints it as it is.
  const fs::path batch = dir.path() / "davka";
  const fs::path archive = batch / "davka.zip";
  fs::create_directory(batch);
  const std::string send = "send --installation " + Q(installation()) +
                           " --company 'Pobočka Brno' --folder " + Q(batch.string()) +
                           " --agenda PF --agenda VF --archive --yes";
  ASSERT_EQ(Cli("init --installation " + Q(installation()) + " --company 'Pobočka Brno' --folder " +
                Q(batch.string()) + " --yes")
                .code,
            0);
  // Every kill starts from this state, so that each run makes the same calls.
  const fs::path pristine = dir.path() / "pristine";
  fs::create_directory(pristine);
  fs::copy(installation(), pristine / "kalmeo", fs::copy_options::recursive);
  fs::copy(batch, pristine / "davka", fs::copy_options::recursive);
  const auto restore = [&] {
    fs::remove_all(installation());
    fs::remove_all(batch);
    fs::copy(pristine / "kalmeo", installation(), fs::copy_options::recursive);
    fs::copy(pristine / "davka", batch, fs::copy_options::recursive);
  };

  // Which calls write and place the archive, in a run that is not killed:
  // the writes to its temporary file, the flush of that file, its rename
  // and the flush of the folder after it.
  struct KillPoint {
    std::string call;
    int n;  // the call's number among the run's calls of that system call
    std::string what;
  };
  const std::string trace = dir.File("trace.txt");
  launcher = Strace("-y -e trace=pwrite64,fsync,rename,renameat,renameat2 -o " + Q(trace));
  const CliResult traced = Cli(send);
  launcher.clear();
  ASSERT_EQ(traced.code, 0) << traced.output;
  ASSERT_EQ(ArchiveMismatch(archive), "");
  std::vector<KillPoint> writes, placing;
  std::map<std::string, int> calls;
  std::istringstream lines(test::ReadFileBytes(trace));
  std::string line;
  while (std::getline(lines, line)) {
    // "<pid> <call>(<arguments>) = <result>", the pid padded with blanks
    // when there are several; a call resumed after another thread's is
    // counted where it began.
    const size_t parenthesis = line.find('(');
    const size_t space = line.rfind(' ', parenthesis);
    if (parenthesis == std::string::npos || space == std::string::npos) continue;
    const std::string call = line.substr(space + 1, parenthesis - space - 1);
    const int n = ++calls[call];
    const bool temporary = line.find("/.davka.zip.") != std::string::npos;
    if (call == "pwrite64" && temporary)
      writes.push_back({call, n, "archive write " + std::to_string(writes.size() + 1)});
    else if (call == "fsync" && temporary)
      placing.push_back({call, n, "the flush of the archive"});
    else if (call.rfind("rename", 0) == 0 && temporary)
      placing.push_back({call, n, "the rename into place"});
    else if (call == "fsync" && !placing.empty() &&
             line.find("<" + batch.string() + ">") != std::string::npos)
      placing.push_back({call, n, "the flush of the folder"});
  }
  ASSERT_GE(writes.size(), 20u);
  ASSERT_EQ(placing.size(), 3u) << test::ReadFileBytes(trace);

  // Every fourth write, the first and the last, then each step that puts
  // the archive in place.
  std::vector<KillPoint> points;
  for (size_t k = 0; k < writes.size(); k += 4) points.push_back(writes[k]);
  if ((writes.size() - 1) % 4 != 0) points.push_back(writes.back());
  points.insert(points.end(), placing.begin(), placing.end());
  for (const KillPoint& point : points) {
    SCOPED_TRACE("killed at " + point.what + " (" + point.call + " number " +
                 std::to_string(point.n) + ")");
    restore();
    launcher = Strace("-o /dev/null -e trace=" + point.call + " -e inject=" + point.call +
                      ":signal=SIGKILL:when=" + std::to_string(point.n));
    const CliResult killed = Cli(send);
    launcher.clear();
    EXPECT_NE(killed.code, 0) << killed.output;
    EXPECT_EQ(killed.output.find("Odeslání dat bylo úspěšně dokončeno."), std::string::npos)
        << killed.output;
    // Killed while archiving: the archive's temporary file or the archive
    // itself is there, and the archive, if there, is whole.
    EXPECT_TRUE(fs::exists(archive) || !HiddenEntries(batch).empty());
    if (fs::exists(archive)) {
      EXPECT_EQ(ArchiveMismatch(archive), "");
    }

    const CliResult next = Cli(send);
    EXPECT_EQ(next.code, 0) << next.output;
    EXPECT_EQ(ArchiveMismatch(archive), "");
    EXPECT_EQ(HiddenEntries(batch), std::vector<std::string>{});
  }
}

// A disk too full for the archive: the batch is sent, the archive is not
// written, the exit code says so (4) and neither an archive nor a part of
// one is left.  The transfer folder is a small tmpfs in a mount namespace.
TEST_F(CliTransferMedia, FullDiskWhileArchivingGivesExitCodeFourAndNoArchive) {
  const std::string mount_namespace = MountNamespaceLauncher();
  if (mount_namespace.empty())
    GTEST_SKIP() << "no mount namespace can be made here, so no small disk to fill";
  const std::string batch = dir.File("davka");
  fs::create_directory(batch);
  // Packed with the batch and barely compressible: the archive needs more
  // room than the batch, so that the send (with its run journal) has room
  // and the archive has not.
  const std::string attachment = dir.File("priloha.bin");
  test::WriteFileBytes(attachment, RandomBytes(2 * 1024 * 1024, 11));
  const std::string cli = "DALIMOR_ENGINE_CONFIG=" + Q(dir.File("engine.cfg")) +
                          " XDG_DATA_HOME=" + Q(data_home()) + " " + Q(DALIMOR_CLI_PATH);
  const std::string common =
      " --installation " + Q(installation()) + " --company 'Pobočka Brno' --folder " + Q(batch);
  const std::string script = dir.File("full-disk.sh");
  const std::string lines[] = {
      "mount -t tmpfs -o size=8m tmpfs " + Q(batch) + " || exit 97",
      cli + " init" + common + " --yes >/dev/null 2>&1 || exit 96",
      cli + " send" + common + " --all --price-all --yes >/dev/null 2>&1 || exit 95",
      "cp " + Q(attachment) + " " + Q(batch) + "/ || exit 94",
      // Fill the disk, then free the room of the batch and half a megabyte.
      "dd if=/dev/zero of=" + Q(batch + "/.zaplneno") + " bs=64k 2>/dev/null",
      "used=$(du -sk --exclude=.zaplneno --exclude=priloha.bin " + Q(batch) + " | cut -f1)",
      "truncate -s -$(( (used + 512) * 1024 )) " + Q(batch + "/.zaplneno") + " || exit 93",
      cli + " send" + common + " --all --price-all --overwrite --archive --yes </dev/null",
      "echo \"[status $?]\"",
      "ls -A " + Q(batch),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  test::WriteFileBytes(script, text);
  std::string output;
  ASSERT_EQ(test::RunCommand(mount_namespace + "bash " + Q(script), &output), 0) << output;
  const size_t status = output.find("[status 4]\n");
  ASSERT_NE(status, std::string::npos) << output;
  EXPECT_NE(output.find("Not enough room to write archive"), std::string::npos) << output;
  EXPECT_NE(output.find("Odeslání dat bylo úspěšně dokončeno."), std::string::npos) << output;
  std::set<std::string> left;
  std::istringstream listing(output.substr(status + 11));
  for (std::string name; std::getline(listing, name);) left.insert(name);
  EXPECT_EQ(left.count("davka.zip"), 0u);
  for (const std::string& name : left)
    EXPECT_NE(name.rfind(".davka.zip.", 0), 0u) << "temporary archive left: " << name;
  for (const char* sent : {"export.ini", "exportinfo.txt", "SPFH.DB", "SCenik.DB", "priloha.bin"})
    EXPECT_EQ(left.count(sent), 1u) << sent;
}

// A receive only reads the batch, so it works from read-only media (a CD, a
// write-protected stick or share): every agenda and the whole price list,
// with and without replacing documents, leaving the batch as it was.
TEST_F(CliTransferMedia, ReceiveReadsABatchOnReadOnlyMedia) {
  ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
  ASSERT_EQ(Cli("send " + Common("Pobočka Brno") + " --all --price-all --yes").code, 0);
  std::map<std::string, std::string> batch_before;
  for (const auto& entry : fs::directory_iterator(folder()))
    batch_before[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  // Read-only for everyone; restored before the temporary folder goes.
  struct WriteBitsBack {
    fs::path folder;
    ~WriteBitsBack() {
      std::error_code ignored;
      fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add, ignored);
      for (const auto& entry : fs::directory_iterator(folder, ignored))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
  } write_bits_back{folder()};
  const fs::perms write_bits =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const auto& entry : fs::directory_iterator(folder()))
    fs::permissions(entry.path(), write_bits, fs::perm_options::remove);
  fs::permissions(folder(), write_bits, fs::perm_options::remove);

  // Permission bits stop a user's writes, not root's; a read-only mount
  // stops everybody's.  Root without mount namespaces runs the binary as an
  // unprivileged user instead, with the installation left writable to it.
  const std::string mount_namespace = MountNamespaceLauncher();
  const std::string unprivileged = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (!mount_namespace.empty()) {
    const std::string script = dir.File("read-only.sh");
    test::WriteFileBytes(script, kReadOnlyMountScript);
    launcher = mount_namespace + "sh " + Q(script) + " " + Q(folder()) + " ";
  } else if (geteuid() == 0) {
    if (test::RunCommand(unprivileged + "true") != 0)
      GTEST_SKIP() << "root without mount namespaces or setpriv: permission bits do not stop its "
                      "writes and no read-only mount can be made";
    ASSERT_EQ(test::RunCommand("chmod a+rx " + Q(dir.path().string()) + " && chmod -R a+rwX " +
                               Q(installation()) + " " + Q(dir.File("engine.cfg"))),
              0);
    launcher = unprivileged;
  }
  for (const std::string overwrite : {"", " --overwrite"}) {
    SCOPED_TRACE("receive" + overwrite);
    const CliResult receive =
        Cli("receive " + Common("Centrála Praha") + " --all --price-all" + overwrite + " --yes");
    EXPECT_EQ(receive.code, 0) << receive.output;
    EXPECT_NE(receive.output.find("Příjem dat byl úspěšně dokončen."), std::string::npos)
        << receive.output;
  }
  launcher.clear();

  std::map<std::string, std::string> batch_after;
  for (const auto& entry : fs::directory_iterator(folder()))
    batch_after[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  EXPECT_TRUE(batch_after == batch_before);
  // With replacing, every price-list item of the batch is the company's as
  // the batch has it.
  const CliResult batch_prices = Cli("dump " + Q(folder() + "/SCenik.DB"));
  const CliResult company_prices =
      Cli("dump " + Q(installation() + "/DATA/PRAHA/SDATA/S/SCenik.DB"));
  ASSERT_EQ(batch_prices.code, 0) << batch_prices.output;
  ASSERT_EQ(company_prices.code, 0) << company_prices.output;
  const std::vector<std::string> sent = DumpRecords(batch_prices.output);
  const std::vector<std::string> received = DumpRecords(company_prices.output);
  const std::set<std::string> company(received.begin(), received.end());
  ASSERT_GT(sent.size(), 10u);
  for (const std::string& record : sent) EXPECT_EQ(company.count(record), 1u) << record;
}

}  // namespace
}  // namespace dalimor
