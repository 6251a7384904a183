#pragma once
// All-or-nothing runs over Paradox tables.  Before a run first writes a
// table, it records the table's files (every file of its base name, whatever
// the extension) in a journal folder beside the data; a run that fails
// restores them, a finished run discards the journal, and a journal left
// behind by a crash is restored the next time the folder is opened.
//
// Layout of a journal: a hidden folder ".dalimor-journal" in the data folder
// holding one sub-folder per protected table with copies of its files, and
// "manifest.txt", to which a line "<base name>" is appended (and flushed to
// disk) only after the copies are complete.  Recovery restores exactly the
// tables of the manifest, so a crash while copying leaves nothing to undo.

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace dalimor {

inline constexpr const char* kJournalFolderName = ".dalimor-journal";

class RunJournal {
 public:
  RunJournal() = default;
  // Rolls back unless Commit was called.  Never throws.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Records the files of the table (a path to its .DB file, or its base
  // name with any extension) before its first change in this run; later
  // calls for the same table do nothing.  A table that does not exist yet is
  // recorded as absent, so a rollback removes what the run created.  Throws
  // EngineError (kIo) when the copies cannot be made; nothing was changed
  // then.
  void Protect(const std::filesystem::path& table_path);

  // The run finished: the journals are discarded.
  void Commit();

  // Restores every protected table to its state before the run and discards
  // the journals.  Throws EngineError (kIo) naming the first file that could
  // not be restored (the journal then stays, for the next recovery).
  void Rollback();

  bool empty() const { return tables_.empty(); }

 private:
  // folder -> protected base names (lower case)
  std::map<std::filesystem::path, std::set<std::string>> tables_;
  bool finished_ = false;
};

// Restores the tables of a journal left in `folder` by a run that did not
// finish, and removes the journal.  Returns the number of tables restored.
// Throws EngineError (kIo) when a file cannot be restored.
int RecoverJournal(const std::filesystem::path& folder);

}  // namespace dalimor
