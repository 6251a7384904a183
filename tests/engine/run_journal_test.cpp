#include "engine/run_journal.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "engine/fault_injection.h"
#include "engine/folder_lock.h"
#include "platform/native_io.h"
#include "tests/engine/killed_child.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
#ifndef _WIN32
using test::Ending;
using test::InChild;
#endif

// Every regular file below a folder with its bytes, the journal left out.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->path().filename() == kJournalFolderName) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && it->path().filename() != kFolderLockName)
      files[fs::relative(it->path(), folder).generic_string()] = test::ReadFileBytes(it->path());
  }
  return files;
}

uint64_t Inode(const fs::path& path) {
  const std::optional<NativeFileInfo> info = StatNative(path, true);
  return info ? info->file : 0;
}


struct JournalFolder : ::testing::Test {
  void SetUp() override {
    fs::create_directories(home() / "SDATA" / "S");
    fs::create_directories(home() / "LDATA" / "S");
    test::WriteFileBytes(home() / "SDATA" / "S" / "SPFH.DB", std::string(9000, 'h'));
    test::WriteFileBytes(home() / "SDATA" / "S" / "SPFH.PX", "index v1");
    test::WriteFileBytes(home() / "SDATA" / "S" / "Spfp.DB", "items v1");
    test::WriteFileBytes(home() / "SDATA" / "S" / "SPFHOLD.DB", "not the table");
    test::WriteFileBytes(home() / "LDATA" / "S" / "LMEMO.DB", "memos v1");
    before = Snapshot(home());
  }
  fs::path home() const { return dir.path() / "firma"; }
  fs::path S(const char* name) const { return home() / "SDATA" / "S" / name; }

  // What a run does to the tables, in two folders, with its journal.
  void Change(RunJournal& journal) {
    journal.Touch(S("SPFH.DB"));
    journal.Touch(S("spfp.db"));
    journal.Touch(S("SPFH.DB"));  // twice is once
    journal.Touch(S("SCenik.DB"));  // did not exist yet
    journal.Touch(home() / "LDATA" / "S" / "LMEMO.DB");
    test::WriteFileBytes(S("SPFH.DB"), std::string(9000, 'H') + "longer");
    fs::remove(S("SPFH.PX"));
    test::WriteFileBytes(S("spfh.MB"), "new memo file");
    test::WriteFileBytes(S("Spfp.DB"), "items v2");
    test::WriteFileBytes(S("SCenik.DB"), "created by the run");
    test::WriteFileBytes(home() / "LDATA" / "S" / "LMEMO.DB", "memos v2");
    journal.Settle();
  }
  std::map<std::string, std::string> After() {
    std::map<std::string, std::string> after = before;
    after.erase("SDATA/S/SPFH.PX");
    after["SDATA/S/SPFH.DB"] = std::string(9000, 'H') + "longer";
    after["SDATA/S/spfh.MB"] = "new memo file";
    after["SDATA/S/Spfp.DB"] = "items v2";
    after["SDATA/S/SCenik.DB"] = "created by the run";
    after["LDATA/S/LMEMO.DB"] = "memos v2";
    return after;
  }
  bool JournalLeft() const { return fs::exists(home() / kJournalFolderName); }

  test::TempDir dir;
  std::map<std::string, std::string> before;
};

TEST_F(JournalFolder, FailedRunPutsEveryTableBackInPlace) {
  const uint64_t header = Inode(S("SPFH.DB"));
  {
    RunJournal journal(home().string() + "/");
    Change(journal);
    // A table the run protected but never opened is not the run's to put back.
    journal.Protect(S("SklOperH.DB"));
    test::WriteFileBytes(S("SklOperH.DB"), "written by another program");
    // A file the run was replacing through a temporary file goes with the
    // temporary; another table's stays.
    test::WriteFileBytes(S(".SPFH.DB.4242.0.tmp"), "half a new header");
    test::WriteFileBytes(S(".SPFHOLD.DB.4242.1.tmp"), "someone else's");
    journal.Rollback();
  }
  auto expected = before;
  expected["SDATA/S/SklOperH.DB"] = "written by another program";
  expected["SDATA/S/.SPFHOLD.DB.4242.1.tmp"] = "someone else's";
  EXPECT_EQ(Snapshot(home()), expected);
  // The same file: a program holding it open keeps writing to the live one.
  EXPECT_EQ(Inode(S("SPFH.DB")), header);
  EXPECT_FALSE(JournalLeft());
}

TEST_F(JournalFolder, JournalLeftInScopeRollsBackOnDestruction) {
  {
    RunJournal journal(home());
    Change(journal);
  }
  EXPECT_EQ(Snapshot(home()), before);
  EXPECT_FALSE(JournalLeft());
}

TEST_F(JournalFolder, FinishedRunKeepsItsChangesAndLeavesNoJournal) {
  RunJournal journal(home());
  Change(journal);
  journal.Commit();
  EXPECT_EQ(Snapshot(home()), After());
  EXPECT_FALSE(JournalLeft());
}

TEST_F(JournalFolder, TablesOutsideTheHomeFolderAreRefused) {
  RunJournal journal(home() / "SDATA");
  EXPECT_THROW(journal.Protect(home() / "LDATA" / "S" / "LMEMO.DB"), EngineError);
  EXPECT_FALSE(JournalLeft());
}

// A killed run's tables are put back while they are as it left them; a
// table changed since keeps its later work until the user decides.
#ifndef _WIN32  // forked children killed on purpose
TEST_F(JournalFolder, KilledRunIsPutBackUnlessATableChangedSince) {
  const auto killed_run = [&] {
    RunJournal journal(home());
    Change(journal);
    raise(SIGKILL);
  };
  ASSERT_EQ(InChild(-1, killed_run), Ending::kKilled);
  JournalReport report;
  EXPECT_EQ(RecoverJournal(home(), &report), RecoveryOutcome::kRestored);
  EXPECT_EQ(Snapshot(home()), before);
  EXPECT_FALSE(JournalLeft());

  ASSERT_EQ(InChild(-1, killed_run), Ending::kKilled);
  test::WriteFileBytes(S("Spfp.DB"), "items v3, typed in Kalmeo after the crash");
  const auto later = Snapshot(home());
  EXPECT_EQ(RecoverJournal(home(), &report), RecoveryOutcome::kChangedSince);
  EXPECT_EQ(Snapshot(home()), later);
  ASSERT_EQ(report.changed.size(), 1u);
  EXPECT_EQ(report.changed[0], S("Spfp.DB").string());
  EXPECT_EQ(report.journal, home() / kJournalFolderName);
  EXPECT_NE(report.run.find("proces "), std::string::npos) << report.run;
  EXPECT_TRUE(InspectJournal(home()).pending);
  // Asked again, the same answer; a run cannot start meanwhile.
  EXPECT_EQ(RecoverJournal(home()), RecoveryOutcome::kChangedSince);
  RunJournal blocked(home());
  EXPECT_THROW(blocked.Protect(S("SPFH.DB")), EngineError);

  ResolveJournal(home(), JournalDecision::kDiscard);
  EXPECT_EQ(Snapshot(home()), later);
  EXPECT_FALSE(JournalLeft());

  // Restoring puts back the state before the killed run, whatever changed.
  ASSERT_EQ(InChild(-1, killed_run), Ending::kKilled);
  test::WriteFileBytes(S("SPFH.DB"), "changed since");
  ResolveJournal(home(), JournalDecision::kRestore);
  EXPECT_EQ(Snapshot(home()), later);
  EXPECT_FALSE(JournalLeft());
}
#endif

// Killed at every file operation of a run, of its commit, of its rollback,
// of a recovery and of the recovery's recovery: the next recovery leaves
// the folders exactly as before the run or exactly as the run finished
// them, and no journal behind.
#ifndef _WIN32  // forked children killed on purpose
TEST_F(JournalFolder, KilledAtEveryStepTheTablesAreBeforeOrAfterNeverBetween) {
  const auto after = After();
  const auto reset = [&] {
    fs::remove_all(home());
    for (const auto& [name, bytes] : before) {
      fs::create_directories((home() / name).parent_path());
      test::WriteFileBytes(home() / name, bytes);
    }
  };
  struct Phase {
    const char* name;
    std::function<void()> work;
  } const phases[] = {
      {"run and commit",
       [&] {
         RunJournal journal(home());
         Change(journal);
         journal.Commit();
       }},
      {"run and rollback",
       [&] {
         RunJournal journal(home());
         Change(journal);
         journal.Rollback();
       }},
  };
  for (const Phase& phase : phases) {
    int killed = 0;
    for (int64_t step = 0;; ++step) {
      reset();
      const Ending ending = InChild(step, phase.work);
      ASSERT_NE(ending, Ending::kFailed) << phase.name << " at " << step;
      EXPECT_NO_THROW(RecoverJournal(home())) << phase.name << " at " << step;
      const auto now = Snapshot(home());
      EXPECT_TRUE(now == before || now == after) << phase.name << " killed at step " << step;
      EXPECT_FALSE(JournalLeft()) << phase.name << " killed at step " << step;
      if (ending == Ending::kFinished) break;
      ++killed;
    }
    std::printf("%s: killed at each of %d journal steps, every one before or after\n", phase.name,
                killed);
    EXPECT_GT(killed, 20) << phase.name;
  }

  // A recovery killed at each of its steps, then recovered again.
  int killed = 0;
  for (int64_t step = 0;; ++step) {
    reset();
    ASSERT_EQ(InChild(-1, [&] {
                RunJournal journal(home());
                Change(journal);
                raise(SIGKILL);
              }),
              Ending::kKilled);
    const Ending ending = InChild(step, [&] { RecoverJournal(home()); });
    ASSERT_NE(ending, Ending::kFailed) << "recovery at " << step;
    // The recovery of the recovery, itself killed one step later each time.
    InChild(step + 1, [&] { RecoverJournal(home()); });
    EXPECT_NO_THROW(RecoverJournal(home())) << step;
    EXPECT_EQ(Snapshot(home()), before) << "recovery killed at step " << step;
    EXPECT_FALSE(JournalLeft()) << "recovery killed at step " << step;
    if (ending == Ending::kFinished) break;
    ++killed;
  }
  std::printf("recovery: killed at each of %d journal steps (and its recovery one step later), "
              "every one back to before\n", killed);
  EXPECT_GT(killed, 15);
}
#endif

// A journal planted in a shared folder cannot lead a recovery's writes out
// of the folder, through ".." or through a linked sub-folder.
TEST_F(JournalFolder, APlantedJournalNeverWritesOutsideItsFolder) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  const fs::path outside = dir.path() / "cizi";
  fs::create_directories(outside);
  test::WriteFileBytes(outside / "SPFH.DB", "someone else's table");
  fs::create_directory_symlink(outside, home() / "odkaz");
  for (const std::string folder : {"../cizi", "odkaz"}) {
    fs::create_directories(home() / kJournalFolderName / "1");
    test::WriteFileBytes(home() / kJournalFolderName / "1" / "SPFH.DB", "planted");
    test::WriteFileBytes(home() / kJournalFolderName / "manifest",
                         "dalimor-journal 2\nrun\tx\ntable\t1\twriting\t" + folder +
                             "\tSPFH\nsaved\t1\tSPFH.DB\nend\n");
    EXPECT_THROW(RecoverJournal(home()), EngineError) << folder;
    EXPECT_EQ(test::ReadFileBytes(outside / "SPFH.DB"), "someone else's table");
    ResolveJournal(home(), JournalDecision::kDiscard);
  }
}

// A disk too full for the copies: the run does not start, and the error
// says so with the free and the needed space.
TEST(JournalDiskFull, TheErrorSaysTheDiskIsFullWithFreeAndNeededSpace) {
  DALIMOR_SKIP_ON_WINDOWS("a small disk is mounted with mount(8)");
  test::TempDir dir;
  const fs::path disk = dir.path() / "maly disk";
  fs::create_directories(disk);
  if (test::RunCommand("mount -t tmpfs -o size=1m tmpfs '" + disk.string() + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
  test::WriteFileBytes(disk / "SPFH.DB", std::string(700 * 1024, 'x'));
  std::string message;
  {
    RunJournal journal(disk);
    try {
      journal.Touch(disk / "SPFH.DB");
    } catch (const EngineError& e) {
      message = e.what();
    }
  }
  const auto left = test::ReadFileBytes(disk / "SPFH.DB");
  const bool journal_left = fs::exists(disk / kJournalFolderName / "manifest");
  test::RunCommand("umount '" + disk.string() + "'");
  EXPECT_NE(message.find("Na disku není dost místa"), std::string::npos) << message;
  EXPECT_NE(message.find("volné místo"), std::string::npos) << message;
  EXPECT_NE(message.find("potřeba 1 MiB"), std::string::npos) << message;
  EXPECT_EQ(left, std::string(700 * 1024, 'x'));
  EXPECT_FALSE(journal_left);
}

// One process at a time per folder; the holder is named; a killed holder
// holds nothing.
#ifndef _WIN32  // forked children killed on purpose
TEST(FolderLockTest, OneHolderAtATimeAndNoneAfterItsDeath) {
  test::TempDir dir;
  const std::string folder = dir.path().string();
  {
    std::optional<FolderLock> mine = FolderLock::TryAcquire(folder, "příjem dávky");
    ASSERT_TRUE(mine.has_value());
    std::string holder;
    const Ending other = InChild(-1, [&] {
      std::string seen;
      if (FolderLock::TryAcquire(folder, "odeslání dávky", &seen)) _exit(3);
      test::WriteFileBytes(dir.path() / "seen.txt", seen);
    });
    EXPECT_EQ(other, Ending::kFinished);
    const std::string seen = test::ReadFileBytes(dir.path() / "seen.txt");
    EXPECT_NE(seen.find("proces " + std::to_string(getpid())), std::string::npos) << seen;
    EXPECT_NE(seen.find("příjem dávky"), std::string::npos) << seen;
  }
  // A holder killed while it holds the lock leaves it free.
  EXPECT_EQ(InChild(-1, [&] {
              std::optional<FolderLock> lock = FolderLock::TryAcquire(folder, "x");
              if (!lock) _exit(3);
              raise(SIGKILL);
            }),
            Ending::kKilled);
  EXPECT_TRUE(FolderLock::TryAcquire(folder, "").has_value());
  // A link in the lock's place is not followed.
  fs::remove(dir.path() / kFolderLockName);
  fs::create_symlink(dir.path() / "seen.txt", dir.path() / kFolderLockName);
  EXPECT_THROW(FolderLock::TryAcquire(folder, ""), EngineError);
}
#endif

}  // namespace
}  // namespace dalimor
