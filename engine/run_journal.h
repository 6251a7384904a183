#pragma once
// All-or-nothing runs over Paradox tables.  A run keeps one journal in its
// home folder (the company data folder for a receive, the transfer folder
// for a send) for every table it writes below that folder.  Before the run
// first changes a table, the journal keeps what is needed to put the
// table's files (every file of its base name, whatever the extension) back:
//   - whole copies of the files, for a table whose files the run may remove
//     or replace by other means;
//   - or, for a table the run changes only through the table engine's own
//     writes, the length of each file and an undo log of the bytes the run
//     overwrites, saved before each change (engine/undo_log.h), so that a
//     run that adds a thousand rows to a large table does not copy it.
// A run that fails puts the files back, a finished run discards the
// journal, and a journal left behind by a killed run is restored before
// anything reads the folders again — unless a table changed since, which
// the user then decides.
//
// Layout: a hidden folder ".dalimor-journal" in the home folder with one
// sub-folder of copies or undo logs per table and a file "manifest".  The
// manifest lists the tables whose copies are complete or whose logs are
// begun, each in one of these states:
//   saved      copied or logged; the run has not opened it for writing (a
//              table the run could not open is never put back; such a
//              table is written down only along with another's change)
//   writing    the run may be changing it; put back unconditionally
//   written    the run has closed it; the manifest holds a stamp of each
//              file (size, modification time, a checksum of its first and
//              last 4 KiB) as the run left it; put back only while the files
//              still carry those stamps, otherwise someone worked on the
//              table since and nothing is put back without the user
//   restoring  being put back; put back unconditionally
// The manifest is only ever replaced whole (written under a temporary name,
// synced, renamed over the old one), so every state on disk has one
// meaning.  Its removal is the commit point of a finished run and of a
// recovery: a journal folder without a manifest is garbage.  Copies and
// saved bytes are written back into the same files (same inode), so a
// program that holds a table open keeps writing to the live file.  Recovery can itself be killed
// at any point and run again.
//
// The journal takes no locks: the caller holds the folder locks of the run
// (engine/folder_lock.h) for as long as a journal lives, and around every
// recovery, so that no journal of a live run is ever taken for a killed one.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_error.h"

namespace dalimor {

inline constexpr const char* kJournalFolderName = ".dalimor-journal";

// What a left-over journal says.
struct JournalReport {
  bool pending = false;               // an unfinished run left its journal
  std::filesystem::path journal;      // the folder of the pre-run copies
  std::string run;                    // who wrote it ("proces 123, spuštěn 9.12.2026 22:10:05")
  std::vector<std::string> tables;    // every table it would put back (paths)
  std::vector<std::string> changed;   // those changed since the run stopped
};

// Rolling back or recovering found tables that changed after the run last
// wrote them; nothing was put back and the journal stays for the user.
class JournalChangedError : public EngineError {
 public:
  explicit JournalChangedError(JournalReport report);
  const JournalReport& report() const { return report_; }

 private:
  JournalReport report_;
};

class UndoLog;

// How the journal keeps a table.
enum class TableKeeping {
  kCopies,        // whole copies of its files: the run may remove or replace them
  kChangedBytes,  // the bytes the table engine overwrites (an undo log per file)
};

class RunJournal {
 public:
  // Nothing is written until the first table is protected.  `run` names the
  // run for a later report (the process and its start are added).
  explicit RunJournal(std::filesystem::path home, std::string run = "");
  // Rolls back unless Commit was called.  Never throws.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Copies the files of the table (a path to its .DB file, or its base name
  // with any extension) into the journal before its first change in this
  // run; later calls for the same table do nothing.  A table without files
  // is recorded as absent, so that putting it back removes what the run
  // created.  Throws EngineError (kIo) when the copies cannot be made
  // (with the free and the needed space when the disk is full); nothing was
  // changed then.  A journal of an unfinished run in the home folder is an
  // error: recover it first.
  // With TableKeeping::kChangedBytes only the files' lengths are recorded,
  // and the table engine's writes save what they overwrite; the run must
  // then change the files through the engine alone.  A file with more than
  // one name is kept as a copy all the same.
  void Protect(const std::filesystem::path& table_path,
               TableKeeping keeping = TableKeeping::kCopies);

  // Protects the table and records that the run now changes it: call after
  // the table is open for writing (or before the run changes its files
  // itself), before the first change.
  void Touch(const std::filesystem::path& table_path,
             TableKeeping keeping = TableKeeping::kCopies);

  // Records how the run left every table it changed since the last call; call
  // where the run holds no table open for writing.
  void Settle();

  // The run finished: the journal is discarded (its manifest first).
  void Commit();

  // Puts every changed table back as it was before the run and discards the
  // journal.  Throws JournalChangedError (nothing put back) when a table
  // changed after the run last wrote it, EngineError (kIo) naming the first
  // file that could not be written back; the journal then stays.
  void Rollback();

  bool empty() const { return entries_.empty(); }
  const std::filesystem::path& home() const { return home_; }

  struct FileStamp {
    std::string name;
    uint64_t size = 0;
    int64_t modified_ns = 0;
    uint64_t checksum = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };
  struct LoggedFile {
    std::string name;
    uint64_t size = 0;  // its length before the run
    friend bool operator==(const LoggedFile&, const LoggedFile&) = default;
  };
  struct Entry {
    int id = 0;
    std::string state;                 // saved, writing, written, restoring
    std::string folder;                // relative to the home folder, "/" separated
    std::string base;                  // the table's base name as given
    std::vector<std::string> saved;    // names of the files copied
    std::vector<LoggedFile> logged;    // files kept by an undo log
    std::vector<FileStamp> stamps;     // written: the files as the run left them
  };

 private:
  struct OpenLog {
    uint64_t device = 0, file = 0;
    std::unique_ptr<UndoLog> log;
  };

  Entry* Find(const std::filesystem::path& table_path);
  void WriteManifest();
  // Unregisters and closes the undo logs of this run.
  void CloseLogs();

  std::filesystem::path home_;
  std::string run_;
  std::vector<Entry> entries_;
  std::vector<OpenLog> logs_;
  bool started_ = false;   // the journal folder is this run's
  bool finished_ = false;
};

// What is to be done with a journal whose tables changed since.
enum class JournalDecision {
  kRestore,  // put every table back as it was before the killed run
  kDiscard,  // keep the tables as they are; the copies go
};

enum class RecoveryOutcome {
  kNothing,       // no journal of an unfinished run
  kRestored,      // the killed run's tables are back as they were before it
  kChangedSince,  // a table changed since: nothing done, the user decides
};

// Describes the journal left in `home` without changing anything.
JournalReport InspectJournal(const std::filesystem::path& home);

// Recovers the journal left in `home` by a run that did not finish: puts
// its tables back and removes it, unless a table changed since (then
// nothing happens and `report` says which).  A journal folder without a
// manifest is removed.  Throws EngineError (kIo) when a file cannot be
// written back (the journal stays).
RecoveryOutcome RecoverJournal(const std::filesystem::path& home, JournalReport* report = nullptr);

// Carries out the user's decision on the journal left in `home`.  Throws
// EngineError (kIo) as RecoverJournal.
void ResolveJournal(const std::filesystem::path& home, JournalDecision decision);

}  // namespace dalimor
