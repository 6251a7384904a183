// Tables kept by their overwritten bytes instead of whole copies: an undo
// log puts a file back byte for byte whatever the engine wrote, cut or
// emptied; a run over a real keyed table with a secondary index and memos
// is put back byte for byte, in place, when it fails at any write, and is
// before-or-after when killed at any step; and the journal holds far less
// than the table.

#include "engine/undo_log.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "engine/engine_error.h"
#include "engine/fault_injection.h"
#include "engine/paradox/file.h"
#include "engine/paradox/table.h"
#include "engine/run_journal.h"
#include "platform/file_system.h"
#include "platform/native_io.h"
#include "tests/engine/value_printer.h"
#include "tests/support/index_checker.h"
#include "tests/engine/killed_child.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
#ifndef _WIN32
using test::Ending;
using test::InChild;
#endif
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string Pattern(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

NativeFileInfo Info(const fs::path& path) {
  const std::optional<NativeFileInfo> info = StatNative(path, false);
  EXPECT_TRUE(info.has_value()) << path;
  return info.value_or(NativeFileInfo{});
}

// Registers a log for the file while it lives, as the run journal does.
struct Registered {
  Registered(const fs::path& file, const fs::path& log_path)
      : info(Info(file)), log(log_path, info.size) {
    RegisterUndoLog(info.device, info.file, &log);
  }
  ~Registered() { DropUndoLog(info.device, info.file); }
  NativeFileInfo info;
  UndoLog log;
};

void Apply(const fs::path& log, const fs::path& file, uint64_t size) {
  ParadoxFile out = ParadoxFile::Open(file.string(), true);
  ApplyUndoLog(log, out, size, false);
}

// Whatever the engine's file layer does to a file, its log puts it back;
// small changes save little.
TEST(UndoLog, PutsTheFileBackByteForByteWhateverWasWritten) {
  constexpr size_t kSize = 100000;
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    uint64_t most_saved;  // bytes the log may hold at most
  } const cases[] = {
      {"one byte in the middle",
       [](const fs::path& p) { ParadoxFile::Open(p.string(), true).WriteAt(50000, "x"); }, 4096},
      {"the same page twice, then its neighbour",
       [](const fs::path& p) {
         ParadoxFile f = ParadoxFile::Open(p.string(), true);
         f.WriteAt(8200, "first");
         f.WriteAt(8190, std::string(20, 'y'));
         f.WriteAt(12288, "next page");
       },
       3 * 4096},
      {"appended only",
       [](const fs::path& p) {
         ParadoxFile f = ParadoxFile::Open(p.string(), true);
         f.WriteAt(kSize, std::string(30000, 'a'));
         f.WriteAt(kSize + 40000, "beyond a hole");
       },
       0},
      {"across the old end",
       [](const fs::path& p) { ParadoxFile::Open(p.string(), true).WriteAt(kSize - 10, std::string(5000, 'e')); },
       4096 + 10},
      {"cut short, then written past the cut",
       [](const fs::path& p) {
         ParadoxFile f = ParadoxFile::Open(p.string(), true);
         f.Truncate(30000);
         f.WriteAt(60000, "after the cut");
         f.WriteAt(10, "and the start");
       },
       kSize - 28672 + 4096},
      {"emptied and written anew by a create",
       [](const fs::path& p) {
         ParadoxFile f = ParadoxFile::Create(p.string());
         f.WriteAt(0, "a new small file");
       },
       kSize},
      {"removed by the engine and created again",
       [](const fs::path& p) {
         SaveBeforeRemoval(p);
         fs::remove(p);
         WriteFileBytes(p, "another file");
       },
       kSize},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path file = dir.path() / "SPFH.DB";
    const std::string before = Pattern(kSize, 7);
    WriteFileBytes(file, before);
    uint64_t saved = 0;
    {
      Registered kept(file, dir.path() / "SPFH.DB.undo");
      c.change(file);
      saved = kept.log.saved_bytes();
    }
    EXPECT_LE(saved, c.most_saved) << c.name;
    EXPECT_NE(ReadFileBytes(file), before) << c.name;
    const bool gone = c.name == std::string("removed by the engine and created again");
    // A file that is gone is created anew, as the journal does.
    ParadoxFile out = gone ? ParadoxFile::Create(file.string()) : ParadoxFile::Open(file.string(), true);
    ApplyUndoLog(dir.path() / "SPFH.DB.undo", out, kSize, gone);
    EXPECT_EQ(ReadFileBytes(file), before) << c.name;
    // Again, as a recovery killed half-way would do it.
    ApplyUndoLog(dir.path() / "SPFH.DB.undo", out, kSize, gone);
    EXPECT_EQ(ReadFileBytes(file), before) << c.name;
  }
}

// A record cut short or damaged ends the log: the run was killed while
// writing it, before the change it protects.  A record claiming bytes past
// the file's old end was not written by us.
TEST(UndoLog, ATornLastRecordIsIgnoredAndAForeignOneRefused) {
  TempDir dir;
  const fs::path file = dir.path() / "T.DB", log = dir.path() / "T.DB.undo";
  const std::string before = Pattern(20000, 3);
  WriteFileBytes(file, before);
  {
    Registered kept(file, log);
    ParadoxFile f = ParadoxFile::Open(file.string(), true);
    f.WriteAt(100, "first change");
    f.WriteAt(9000, "second change");
  }
  const std::string whole = ReadFileBytes(log);
  ASSERT_GT(whole.size(), 2u * 4096);
  const std::string changed = ReadFileBytes(file);
  // The second record torn at several places: only the first page comes back.
  const size_t first_record = whole.size() / 2;
  for (size_t cut : {first_record + 1, first_record + 20, first_record + 30, whole.size() - 1}) {
    WriteFileBytes(file, changed);
    WriteFileBytes(log, whole.substr(0, cut));
    Apply(log, file, before.size());
    std::string expected = changed;
    expected.replace(0, 4096, before.substr(0, 4096));
    EXPECT_EQ(ReadFileBytes(file), expected) << "cut at " << cut;
  }
  // A damaged byte in the second record's data: the same.
  std::string damaged = whole;
  damaged[whole.size() - 5] ^= 1;
  WriteFileBytes(log, damaged);
  WriteFileBytes(file, changed);
  Apply(log, file, before.size());
  EXPECT_EQ(ReadFileBytes(file).substr(4096, 8192), changed.substr(4096, 8192));
  // Beyond the old end: refused, nothing written.
  WriteFileBytes(log, whole);
  WriteFileBytes(file, changed);
  ParadoxFile out = ParadoxFile::Open(file.string(), true);
  try {
    ApplyUndoLog(log, out, 5000, false);
    ADD_FAILURE() << "a record past the end was applied";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kCorrupt);
  }
  EXPECT_EQ(ReadFileBytes(file), changed);
}

// ---------------------------------------------------------------- a real table

std::vector<FieldDef> Fields() {
  return {{"Doklad", FieldType::kAlpha, 10},
          {"Radek", FieldType::kShort, 0},
          {"Text", FieldType::kAlpha, 40},
          {"Castka", FieldType::kMoney, 0},
          {"Poznamka", FieldType::kMemo, 10}};
}

Record Row(int doc, int line, int version = 1) {
  Record r(5);
  char code[16];
  std::snprintf(code, sizeof code, "FV%06d", doc);
  r[0] = std::string(code);
  r[1] = int64_t{line};
  r[2] = "Položka " + std::to_string(line) + " dokladu " + std::to_string(doc);
  r[3] = (doc * 37 % 1000) + line / 100.0;
  // Every seventh row has a memo too long for the record: it goes to the .MB.
  if ((doc + line) % 7 == 0)
    r[4] = "Poznámka v" + std::to_string(version) + " " + std::string(200 + line, 'p');
  return r;
}

std::string Dump(const fs::path& db) {
  const auto table = ParadoxTable::Open(db.string(), OpenMode::kReadOnly);
  std::string out;
  for (const Record& r : table->ReadAll()) {
    for (const Value& v : r) {
      const auto* s = std::get_if<std::string>(&v);
      out += s ? *s : test::Show(v);
      out += '|';
    }
    out += '\n';
  }
  return out;
}

std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  return files;
}

// The files that differ between two snapshots, each with the first offset
// where it does ("SPFP.MB at 20480"), for readable failures.
std::string Differences(const std::map<std::string, std::string>& a,
                        const std::map<std::string, std::string>& b) {
  std::string out;
  for (const auto& [name, bytes] : a) {
    const auto other = b.find(name);
    if (other == b.end()) {
      out += name + " only on the left; ";
      continue;
    }
    if (other->second == bytes) continue;
    size_t at = 0;
    while (at < bytes.size() && at < other->second.size() && bytes[at] == other->second[at]) ++at;
    out += name + " at " + std::to_string(at) + " (sizes " + std::to_string(bytes.size()) + ", " +
           std::to_string(other->second.size()) + "); ";
  }
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) out += name + " only on the right; ";
  return out;
}

uint64_t FolderBytes(const fs::path& folder) {
  uint64_t bytes = 0;
  if (!fs::exists(folder)) return 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) bytes += entry.file_size();
  return bytes;
}

struct KeptTable : ::testing::Test {
  void SetUp() override {
    fs::create_directories(home());
    auto table = ParadoxTable::Create(db().string(), Fields(), 2);
    table->set_auto_flush(false);
    for (int doc = 1; doc <= 1000; doc += 2)
      for (int line = 1; line <= 10; ++line) table->Insert(Row(doc, line));
    table->AddSecondaryIndex({"", {"Castka"}, false, false});
    table->Close();
    before = Files(home());
    before_rows = Dump(db());
  }
  fs::path home() const { return dir.path() / "Účtárna Brno"; }
  fs::path db() const { return home() / "SPFP.DB"; }

  // What a receive does to the table: rows added at the end and between
  // the old ones, rows of replaced documents deleted, memos rewritten.
  static void ChangeRows(const fs::path& db, RunJournal* journal = nullptr) {
    auto table = ParadoxTable::Open(db.string(), OpenMode::kExclusive);
    // As the run does: the table counts as changed once it is open.
    if (journal) journal->Touch(db, TableKeeping::kChangedBytes);
    table->set_auto_flush(false);
    for (int line = 1; line <= 10; ++line) table->Insert(Row(1001, line));
    for (int doc : {2, 150, 300})
      for (int line = 1; line <= 5; ++line) table->Insert(Row(doc, line));
    for (int i = 0; i < 10; ++i) table->Delete(*table->Find({std::string("FV000099")}));
    for (int line = 1; line <= 10; ++line) {
      const auto at = table->Find({std::string("FV000201"), int64_t{line}});
      table->Update(*at, Row(201, line, 2));
    }
    table->Close();
  }
  void Change(RunJournal& journal) const {
    journal.Protect(db(), TableKeeping::kChangedBytes);
    ChangeRows(db(), &journal);
    journal.Settle();
  }
  std::string AfterRows() {
    TempDir other;
    for (const auto& [name, bytes] : before) WriteFileBytes(other.path() / name, bytes);
    ChangeRows(other.path() / "SPFP.DB");
    return Dump(other.path() / "SPFP.DB");
  }
  void Reset() {
    fs::remove_all(home());
    fs::create_directories(home());
    for (const auto& [name, bytes] : before) WriteFileBytes(home() / name, bytes);
  }
  bool JournalLeft() const { return fs::exists(home() / kJournalFolderName); }

  TempDir dir;
  std::map<std::string, std::string> before;
  std::string before_rows;
};

TEST_F(KeptTable, AFailedRunIsPutBackInPlaceFromFarLessThanACopy) {
  ASSERT_GE(before.size(), 4u) << "the table, its primary and secondary index and its memos";
  std::map<std::string, uint64_t> inodes;
  for (const auto& [name, bytes] : before) inodes[name] = Info(home() / name).file;
  uint64_t table_bytes = 0;
  for (const auto& [name, bytes] : before) table_bytes += bytes.size();
  {
    RunJournal journal(home());
    Change(journal);
    EXPECT_NE(Files(home()), before);
    const uint64_t kept = FolderBytes(home() / kJournalFolderName);
    std::printf("table files %llu bytes, journal %llu bytes\n",
                static_cast<unsigned long long>(table_bytes), static_cast<unsigned long long>(kept));
    EXPECT_LT(kept * 4, table_bytes);
    journal.Rollback();
  }
  EXPECT_EQ(Differences(Files(home()), before), "");
  for (const auto& [name, inode] : inodes) EXPECT_EQ(Info(home() / name).file, inode) << name;
  EXPECT_FALSE(JournalLeft());
}

// A file with a second name could be written under the other name, which
// the log would not see: such a table is copied whole, and put back all
// the same.
TEST_F(KeptTable, ATableWithASecondNameIsCopiedWhole) {
  DALIMOR_SKIP_ON_WINDOWS("hard links are made differently there");
  fs::create_hard_link(home() / "SPFP.MB", dir.path() / "druhe-jmeno.MB");
  {
    RunJournal journal(home());
    Change(journal);
    const fs::path kept = home() / kJournalFolderName / "1";
    EXPECT_TRUE(fs::exists(kept / "SPFP.DB"));
    EXPECT_FALSE(fs::exists(kept / "SPFP.DB.undo"));
    journal.Rollback();
  }
  EXPECT_EQ(Differences(Files(home()), before), "");
}

TEST_F(KeptTable, AFinishedRunKeepsItsRowsAndTheIndexesHold) {
  RunJournal journal(home());
  Change(journal);
  journal.Commit();
  EXPECT_FALSE(JournalLeft());
  EXPECT_EQ(Dump(db()), AfterRows());
  EXPECT_EQ(test::CheckAllSecondaryIndexes(db().string()), std::vector<std::string>{});
}

// A write that fails at any point, in the table's files or in the log
// itself: the run fails and every byte is put back.
TEST_F(KeptTable, AWriteFailingAnywhereLeavesEveryByteAsBefore) {
  int failures = 0;
  for (int64_t n = 0;; n += 1 + n / 8) {
    Reset();
    bool failed = false;
    {
      RunJournal journal(home());
      FailWriteAfter(n);
      try {
        Change(journal);
      } catch (const EngineError&) {
        failed = true;
      }
      FailWriteAfter(-1);
      if (failed) {
        EXPECT_NO_THROW(journal.Rollback()) << "failed at write " << n;
      } else {
        journal.Commit();
      }
    }
    EXPECT_FALSE(JournalLeft()) << n;
    if (!failed) {
      EXPECT_EQ(Dump(db()), AfterRows());
      break;
    }
    ++failures;
    EXPECT_EQ(Differences(Files(home()), before), "") << "failed at write " << n;
  }
  std::printf("failed at %d points of the run, every one put back\n", failures);
  EXPECT_GT(failures, 10);
}

#ifndef _WIN32  // forked children killed on purpose
// Killed at every step of the journal (each log record, each sync, each
// manifest write, each write back), then recovered: the table is exactly
// as before, or holds exactly the rows of the finished run.
TEST_F(KeptTable, KilledAtEveryStepTheTableIsBeforeOrAfter) {
  const std::string after_rows = AfterRows();
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
      {"run killed, then its recovery",
       [&] {
         if (!JournalLeft()) {
           RunJournal journal(home());
           Change(journal);
           raise(SIGKILL);
         }
       }},
  };
  for (const Phase& phase : phases) {
    int killed = 0, as_before = 0;
    for (int64_t step = 0;; ++step) {
      Reset();
      Ending ending;
      if (phase.name == std::string("run killed, then its recovery")) {
        ASSERT_EQ(InChild(-1, phase.work), Ending::kKilled);
        ending = InChild(step, [&] { RecoverJournal(home()); });
      } else {
        ending = InChild(step, phase.work);
      }
      ASSERT_NE(ending, Ending::kFailed) << phase.name << " at " << step;
      EXPECT_NO_THROW(RecoverJournal(home())) << phase.name << " at " << step;
      EXPECT_FALSE(JournalLeft()) << phase.name << " killed at step " << step;
      if (Files(home()) == before) {
        ++as_before;
      } else {
        std::string rows;
        try {
          rows = Dump(db());
        } catch (const EngineError& e) {
          rows = e.what();
        }
        EXPECT_EQ(rows, after_rows) << phase.name << " killed at step " << step << ": "
                                    << Differences(Files(home()), before);
        EXPECT_EQ(test::CheckAllSecondaryIndexes(db().string()), std::vector<std::string>{})
            << phase.name << " killed at step " << step;
      }
      if (ending == Ending::kFinished) break;
      ++killed;
    }
    std::printf("%s: killed at each of %d journal steps, %d of them back to before\n", phase.name,
                killed, as_before);
    EXPECT_GT(killed, 10) << phase.name;
  }
}
#endif

}  // namespace
}  // namespace dalimor
