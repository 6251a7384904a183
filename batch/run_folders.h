#pragma once
// The folders of a run made ready before anything reads them: one run at a
// time per company data folder and per transfer folder (a lock held for the
// whole run), and the journal a killed run left behind put back first —
// unless a table changed since, which only the user can decide.

#include <string>
#include <vector>

#include "engine/folder_lock.h"
#include "engine/run_journal.h"
#include "util/ui.h"

namespace dalimor {

enum class FoldersState {
  kReady,            // locked, nothing left over (or put back)
  kBusy,             // another run holds a folder
  kDecisionPending,  // a killed run's journal waits for the user's decision
  kFailed,           // a journal could not be put back
};

struct RunFolders {
  FoldersState state = FoldersState::kFailed;
  std::vector<FolderLock> locks;      // held while this object lives
  std::string message;                // for the user, when not ready
  std::vector<std::string> pending;   // folders whose journal waits for a decision
};

// Locks the company data folder and the transfer folder (an empty path is
// left out) and recovers the journals left in them.  `what` says what the
// run does ("odeslání dávky"), for a second run that finds the folders taken.
// Never throws.
RunFolders PrepareRunFolders(const std::string& company_data_folder,
                             const std::string& transfer_folder, const std::string& what);

// The user's report of a journal whose tables changed since its run was cut
// short, and what can be done about it.
std::string PendingJournalText(const std::string& folder, const JournalReport& report);

// What the user can do about such a journal, for the message of a run it
// stops.
std::string PendingDecisionHint();

// Asks the user, for each folder of `pending`, whether to put its tables
// back as they were before the killed run (losing what changed since) or to
// keep them as they are (the copies go), or to decide later; carries the
// decision out under the folder's lock.  Returns whether every journal is
// settled.  Reports failures itself.
bool AskAboutPendingJournals(Ui& ui, const std::vector<std::string>& pending);

}  // namespace dalimor
