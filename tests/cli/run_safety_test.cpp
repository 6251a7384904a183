// Runs that lose nothing, tried the way they break: a receive killed with
// SIGKILL at system calls throughout, a second run while one is at work, a
// table another program holds, and work done on a table after a killed run.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "engine/folder_lock.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/index_checker.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Every file of a company's data folder with its bytes; the journal and
// the lock left out.
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().filename().string();
    if (name == kJournalFolderName) it.disable_recursion_pending();
    if (name == kJournalFolderName || name == kFolderLockName || !it->is_regular_file()) continue;
    files[fs::relative(it->path(), folder).string()] = test::ReadFileBytes(it->path());
  }
  return files;
}

// The rows of every table of a company's data folder, without "Zmeneno",
// which a receive sets to the time it processes a row.
std::map<std::string, std::vector<Record>> Tables(const fs::path& folder) {
  std::map<std::string, std::vector<Record>> tables;
  for (const auto& [name, bytes] : Files(folder)) {
    if (name.size() < 3 || (name.substr(name.size() - 3) != ".DB" && name.substr(name.size() - 3) != ".db"))
      continue;
    const auto table = ParadoxTable::Open((folder / name).string(), OpenMode::kReadOnly);
    std::vector<Record> rows = table->ReadAll();
    const int changed = table->FieldIndex("Zmeneno");
    if (changed >= 0)
      for (Record& row : rows) row[static_cast<size_t>(changed)] = std::monostate{};
    tables[name] = std::move(rows);
  }
  return tables;
}

class RunSafety : public CliTransfer {
 protected:
  void SetUp() override {
    CliTransfer::SetUp();
    ASSERT_EQ(Cli("init " + Common("Pobočka Brno") + " --yes").code, 0);
    ASSERT_EQ(Cli("send " + Common("Pobočka Brno") + " --agenda PF --agenda Banka --agenda VF --yes").code, 0);
  }
  std::string Praha() const { return installation() + "/DATA/PRAHA"; }
  std::string Receive() const {
    return "receive " + Common("Centrála Praha") + " --agenda PF --agenda Banka --agenda VF --overwrite --yes";
  }
  // The receive under strace with `options`.
  CliResult Traced(const std::string& options) {
    CliResult result{};
    result.code = test::RunCommand(
        // LeakSanitizer cannot work under a tracer; the sanitized build's
        // other checks stay on.
        "bash -c " + Q("ASAN_OPTIONS=detect_leaks=0 DALIMOR_ENGINE_CONFIG=" +
                       Q(dir.File("engine.cfg")) + " XDG_DATA_HOME=" + Q(data_home()) +
                       " strace -f -qq " +
                       (options.find(" -o ") == std::string::npos ? "-o /dev/null " : "") +
                       options + " " + DALIMOR_CLI_PATH + " " + Receive() + " </dev/null"),
        &result.output);
    return result;
  }
  // Puts the head office's files back as `files` has them.
  void Reset(const std::map<std::string, std::string>& files) {
    fs::remove_all(Praha());
    for (const auto& [name, bytes] : files) {
      fs::create_directories((fs::path(Praha()) / name).parent_path());
      test::WriteFileBytes(fs::path(Praha()) / name, bytes);
    }
  }
  bool CanTrace() { return test::RunCommand("strace -f -qq -o /dev/null true") == 0; }
};

TEST_F(RunSafety, ASecondRunIsRefusedNamingTheOneAtWork) {
  const auto before = Files(Praha());
  struct Case {
    std::string folder, command;
  } const cases[] = {
      {Praha(), Receive()},
      {folder(), Receive()},
      {folder(), "send " + Common("Pobočka Brno") + " --agenda PF --yes"},
      {folder(), "init " + Common("Pobočka Brno") + " --yes"},
      {folder(), "info --folder " + Q(folder())},
      {Praha(), "recover --installation " + Q(installation()) + " --company 'Centrála Praha' --discard"},
  };
  for (const Case& c : cases) {
    std::optional<FolderLock> held = FolderLock::TryAcquire(c.folder, "příjem dávky");
    ASSERT_TRUE(held.has_value());
    const CliResult refused = Cli(c.command);
    EXPECT_EQ(refused.code, 3) << c.command << "\n" << refused.output;
    EXPECT_NE(refused.output.find("právě pracuje jiný běh programu Dalimor (proces " +
                                  std::to_string(getpid())),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("příjem dávky"), std::string::npos) << refused.output;
  }
  EXPECT_TRUE(Files(Praha()) == before);
  // Once the other run is gone, the run goes ahead.
  const CliResult receive = Cli(Receive());
  EXPECT_EQ(receive.code, 0) << receive.output;
}

// A table another program holds makes the receive fail; putting the run's
// tables back writes into the same files, and the held table, which the run
// never opened, is not touched at all.
TEST_F(RunSafety, ARolledBackRunLeavesTablesOthersHoldAlone) {
  const fs::path held_table = Praha() + "/SDATA/S/Spfp.DB";
  const auto before = Files(Praha());
  std::map<std::string, ino_t> inodes;
  for (const auto& [name, bytes] : before) {
    struct stat info{};
    ::stat((fs::path(Praha()) / name).c_str(), &info);
    inodes[name] = info.st_ino;
  }
  const int fd = ::open(held_table.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const CliResult failed = Cli(Receive());
  EXPECT_EQ(failed.code, 1) << failed.output;
  EXPECT_NE(failed.output.find("Data zůstala beze změny."), std::string::npos) << failed.output;
  // The holder writes on; its write lands in the live file.
  ASSERT_EQ(::pwrite(fd, "X", 1, 0), 1);
  ::close(fd);
  auto expected = before;
  expected["SDATA/S/Spfp.DB"][0] = 'X';
  EXPECT_TRUE(Files(Praha()) == expected);
  for (const auto& [name, inode] : inodes) {
    struct stat info{};
    ::stat((fs::path(Praha()) / name).c_str(), &info);
    EXPECT_EQ(info.st_ino, inode) << name;
  }
}

// Work done on a table after a run was killed is never reverted silently:
// the next run refuses until the user decides.
TEST_F(RunSafety, WorkDoneAfterAKilledRunWaitsForTheUsersDecision) {
  if (!CanTrace()) GTEST_SKIP() << "strace cannot trace here";
  const auto before = Files(Praha());
  // How many renames a whole receive makes, then the same receive killed at
  // its last one: every table written, the journal not yet dropped.
  const std::string trace = dir.File("renames.txt");
  ASSERT_EQ(Traced("-e trace=rename -o " + Q(trace)).code, 0);
  const std::string renames = test::ReadFileBytes(trace);
  const long count = std::count(renames.begin(), renames.end(), '\n');
  ASSERT_GT(count, 5);
  Reset(before);
  const CliResult killed =
      Traced("-e inject=rename:signal=SIGKILL:when=" + std::to_string(count));
  EXPECT_NE(killed.code, 0) << killed.output;
  ASSERT_TRUE(InspectJournal(Praha()).pending) << killed.output;

  // Someone types an invoice into Kalmeo: the header table changes.
  {
    auto table = ParadoxTable::Open(Praha() + "/SDATA/S/SPFH.DB", OpenMode::kExclusive);
    Record row = table->Read(*table->First());
    std::get<std::string>(row[1]) = "99999999999";
    table->Insert(row);
  }
  const auto later = Files(Praha());
  const CliResult refused = Cli(Receive());
  EXPECT_EQ(refused.code, 3) << refused.output;
  EXPECT_NE(refused.output.find("SPFH.DB"), std::string::npos) << refused.output;
  EXPECT_NE(refused.output.find("recover"), std::string::npos) << refused.output;
  const CliResult undecided =
      Cli("recover --installation " + Q(installation()) + " --company 'Centrála Praha'");
  EXPECT_EQ(undecided.code, 3) << undecided.output;
  EXPECT_TRUE(Files(Praha()) == later);

  const CliResult kept =
      Cli("recover --installation " + Q(installation()) + " --company 'Centrála Praha' --discard");
  EXPECT_EQ(kept.code, 0) << kept.output;
  EXPECT_TRUE(Files(Praha()) == later);
  EXPECT_FALSE(InspectJournal(Praha()).pending);
  const CliResult again = Cli(Receive());
  EXPECT_EQ(again.code, 0) << again.output;
}

// Ctrl+C during a receive stops it at its next step: everything is put
// back and the command says so.
TEST_F(RunSafety, CtrlCStopsAReceiveAndPutsEverythingBack) {
  if (!CanTrace()) GTEST_SKIP() << "strace cannot trace here";
  const auto before = Files(Praha());
  const CliResult stopped = Traced("-e inject=fsync:signal=SIGINT:when=20");
  EXPECT_EQ(stopped.code, 3) << stopped.output;
  EXPECT_NE(stopped.output.find("Příjem dávky byl zastaven."), std::string::npos) << stopped.output;
  EXPECT_NE(stopped.output.find("Data zůstala beze změny."), std::string::npos) << stopped.output;
  EXPECT_TRUE(Files(Praha()) == before);
  EXPECT_FALSE(fs::exists(fs::path(Praha()) / kJournalFolderName));
}

// A receive killed at many of its system calls: the next command leaves the
// company exactly as before the receive or exactly as a whole receive does,
// with every index in step, and no journal behind.
TEST_F(RunSafety, AReceiveKilledAnywhereIsBeforeOrAfterNeverBetween) {
  if (!CanTrace()) GTEST_SKIP() << "strace cannot trace here";
  const auto before = Files(Praha());
  // The rows a whole receive leaves (the files differ in their time stamps).
  ASSERT_EQ(Cli(Receive()).code, 0);
  const auto after = Tables(Praha());
  int tried = 0, killed_runs = 0;
  for (const char* call : {"rename", "unlinkat", "unlink", "fsync", "pwrite64", "ftruncate"}) {
    for (int n = 1;; n = n < 3 ? n + 1 : n * 2) {
      Reset(before);
      const int code = Traced("-e inject=" + std::string(call) +
                              ":signal=SIGKILL:when=" + std::to_string(n))
                           .code;
      ++tried;
      // The next command puts back what the killed one left.
      const CliResult next =
          Cli("recover --installation " + Q(installation()) + " --company 'Centrála Praha'");
      EXPECT_EQ(next.code, 0) << call << " " << n << "\n" << next.output;
      const bool as_before = Files(Praha()) == before;
      EXPECT_TRUE(as_before || Tables(Praha()) == after) << call << " killed at " << n;
      EXPECT_FALSE(fs::exists(fs::path(Praha()) / kJournalFolderName)) << call << " " << n;
      for (const auto& [name, rows] : after)
        for (const std::string& problem : test::CheckAllSecondaryIndexes(Praha() + "/" + name))
          ADD_FAILURE() << call << " " << n << ": " << problem;
      if (code == 0) break;
      EXPECT_EQ(code, 128 + 9) << call << " " << n << ": not killed, failed";
      ++killed_runs;
      if (n > 4096) break;
    }
  }
  RecordProperty("kill_points_tried", tried);
  std::printf("receive killed at %d of %d system calls tried; every one came back whole\n",
              killed_runs, tried);
  EXPECT_GT(killed_runs, 20);
}

}  // namespace
}  // namespace dalimor
