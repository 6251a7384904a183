#include "engine/run_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// Every regular file of a folder with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      files[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  return files;
}

struct JournalFolder : ::testing::Test {
  void SetUp() override {
    test::WriteFileBytes(dir.path() / "SPFH.DB", "header v1");
    test::WriteFileBytes(dir.path() / "SPFH.PX", "index v1");
    test::WriteFileBytes(dir.path() / "Spfp.DB", "items v1");
    test::WriteFileBytes(dir.path() / "SPFHOLD.DB", "not the table");
    before = Snapshot(dir.path());
  }
  void Damage() {
    test::WriteFileBytes(dir.path() / "SPFH.DB", "header v2, half written");
    fs::remove(dir.path() / "SPFH.PX");
    test::WriteFileBytes(dir.path() / "spfh.MB", "new memo file");
    test::WriteFileBytes(dir.path() / "Spfp.DB", "items v2");
    test::WriteFileBytes(dir.path() / "SCenik.DB", "created by the run");
  }
  void ProtectAll(RunJournal& journal) {
    journal.Protect(dir.path() / "SPFH.DB");
    journal.Protect(dir.path() / "spfp.db");
    journal.Protect(dir.path() / "SPFH.DB");  // twice is once
    journal.Protect(dir.path() / "SCenik.DB");  // did not exist yet
  }
  test::TempDir dir;
  std::map<std::string, std::string> before;
};

TEST_F(JournalFolder, FailedRunRestoresEveryTableAndRemovesWhatItCreated) {
  {
    RunJournal journal;
    ProtectAll(journal);
    Damage();
    journal.Rollback();
  }
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_FALSE(fs::exists(dir.path() / kJournalFolderName));
}

TEST_F(JournalFolder, JournalLeftInScopeRollsBackOnDestruction) {
  try {
    RunJournal journal;
    ProtectAll(journal);
    Damage();
    throw std::runtime_error("run failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Snapshot(dir.path()), before);
}

TEST_F(JournalFolder, FinishedRunKeepsItsChangesAndLeavesNoJournal) {
  RunJournal journal;
  ProtectAll(journal);
  Damage();
  const auto after = Snapshot(dir.path());
  journal.Commit();
  EXPECT_EQ(Snapshot(dir.path()), after);
  EXPECT_FALSE(fs::exists(dir.path() / kJournalFolderName));
}

TEST_F(JournalFolder, JournalOfACrashedRunIsRecoveredNextTime) {
  {
    // Simulate a crash: the journal object never gets to run its destructor
    // logic, so copy its folder aside before "dying" and put it back.
    RunJournal journal;
    ProtectAll(journal);
    Damage();
    fs::copy(dir.path() / kJournalFolderName, dir.path() / "saved-journal",
             fs::copy_options::recursive);
    journal.Commit();
    fs::rename(dir.path() / "saved-journal", dir.path() / kJournalFolderName);
  }
  EXPECT_EQ(RecoverJournal(dir.path()), 3);
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_EQ(RecoverJournal(dir.path()), 0);
}

TEST_F(JournalFolder, CrashWhileCopyingLeavesOnlyCompleteEntries) {
  // A table folder in the journal without its manifest line was not yet
  // changed by the run; recovery must not touch it.
  fs::create_directories(dir.path() / kJournalFolderName / "spfh");
  test::WriteFileBytes(dir.path() / kJournalFolderName / "spfh" / "SPFH.DB", "partial");
  EXPECT_EQ(RecoverJournal(dir.path()), 0);
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_FALSE(fs::exists(dir.path() / kJournalFolderName));
}

TEST_F(JournalFolder, NewRunFirstUndoesALeftoverJournal) {
  {
    RunJournal crashed;
    crashed.Protect(dir.path() / "SPFH.DB");
    test::WriteFileBytes(dir.path() / "SPFH.DB", "garbage of a crash");
    fs::copy(dir.path() / kJournalFolderName, dir.path() / "saved", fs::copy_options::recursive);
    crashed.Commit();
    fs::rename(dir.path() / "saved", dir.path() / kJournalFolderName);
  }
  RunJournal next;
  next.Protect(dir.path() / "Spfp.DB");
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "SPFH.DB"), "header v1");
  next.Commit();
}

}  // namespace
}  // namespace dalimor
