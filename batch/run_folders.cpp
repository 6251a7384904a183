#include "batch/run_folders.h"
#include "platform/native_io.h"

#include <optional>

namespace dalimor {
namespace {

std::string BusyText(const std::string& folder, const std::string& holder) {
  return "Se složkou \"" + folder + "\" právě pracuje jiný běh programu Dalimor" +
         (holder.empty() ? std::string() : " (" + holder + ")") +
         ". Počkejte, až skončí, a akci opakujte.";
}

}  // namespace

std::string PendingJournalText(const std::string& folder, const JournalReport& report) {
  std::string tables;
  for (const std::string& table : report.changed) tables += "\r\n" + table;
  return "Běh programu Dalimor se složkou \"" + folder + "\"" +
         (report.run.empty() ? std::string() : " (" + report.run + ")") +
         " byl přerušen a od té doby se změnily tyto tabulky:" + tables +
         "\r\n\r\nKopie tabulek z doby před přerušeným během jsou uloženy ve složce \"" +
         Utf8FromPath(report.journal) + "\".";
}

std::string PendingDecisionHint() {
  return "\r\n\r\nDokud nerozhodnete, zda tabulky obnovit, nelze s touto složkou pracovat "
         "(rozhodnete při spuštění programu Dalimor nebo příkazem dalimor-cli recover "
         "--restore | --discard).";
}

RunFolders PrepareRunFolders(const std::string& company_data_folder,
                             const std::string& transfer_folder, const std::string& what) {
  RunFolders result;
  std::vector<std::string> folders;
  for (const std::string& folder : {company_data_folder, transfer_folder})
    if (!folder.empty()) folders.push_back(folder);
  try {
    // Every lock before any recovery: a journal is only ever looked at by
    // the one process that may run on its folder.
    for (const std::string& folder : folders) {
      std::string holder;
      std::optional<FolderLock> lock = FolderLock::TryAcquire(folder, what, &holder);
      if (!lock) {
        result.state = FoldersState::kBusy;
        result.message = BusyText(folder, holder);
        result.locks.clear();
        return result;
      }
      result.locks.push_back(std::move(*lock));
    }
    for (const std::string& folder : folders) {
      JournalReport report;
      if (RecoverJournal(PathFromUtf8(folder), &report) == RecoveryOutcome::kChangedSince) {
        if (!result.message.empty()) result.message += "\r\n\r\n";
        result.message += PendingJournalText(folder, report) + PendingDecisionHint();
        result.pending.push_back(folder);
      }
    }
  } catch (const std::exception& e) {
    result.state = FoldersState::kFailed;
    result.message = e.what();
    result.locks.clear();
    return result;
  }
  result.state = result.pending.empty() ? FoldersState::kReady : FoldersState::kDecisionPending;
  if (!result.pending.empty()) result.locks.clear();
  return result;
}

bool AskAboutPendingJournals(Ui& ui, const std::vector<std::string>& pending) {
  bool settled = true;
  for (const std::string& folder : pending) {
    try {
      std::string holder;
      std::optional<FolderLock> lock = FolderLock::TryAcquire(folder, "obnova po přerušeném běhu", &holder);
      if (!lock) {
        MsgWarning(ui, kMsgCaption, BusyText(folder, holder));
        settled = false;
        continue;
      }
      JournalReport report;
      try {
        report = InspectJournal(PathFromUtf8(folder));
      } catch (const EngineError& e) {
        if (e.kind() != EngineErrorKind::kCorrupt) throw;
        // A journal this program cannot read can only be dropped.
        if (MsgWarning(ui, kMsgCaption,
                       std::string(e.what()) +
                           "\r\n\r\nChcete jej smazat? Tabulky zůstanou v současném stavu.",
                       kMbYesNoDefaultNo) == kIdYes) {
          ResolveJournal(PathFromUtf8(folder), JournalDecision::kDiscard);
          continue;
        }
        settled = false;
        continue;
      }
      if (!report.pending) continue;
      const std::string text = PendingJournalText(folder, report);
      if (MsgWarning(ui, kMsgCaption,
                     text + "\r\n\r\nChcete obnovit tabulky do stavu před přerušeným během? "
                            "Změny provedené v nich od té doby budou ztraceny.",
                     kMbYesNoDefaultNo) == kIdYes) {
        ResolveJournal(PathFromUtf8(folder), JournalDecision::kRestore);
        continue;
      }
      if (MsgWarning(ui, kMsgCaption,
                     "Chcete ponechat tabulky v současném stavu a kopie z doby před přerušeným "
                     "během smazat?",
                     kMbYesNoDefaultNo) == kIdYes) {
        ResolveJournal(PathFromUtf8(folder), JournalDecision::kDiscard);
        continue;
      }
      settled = false;
    } catch (const std::exception& e) {
      MsgWarning(ui, kMsgCaption, e.what());
      settled = false;
    }
  }
  return settled;
}

}  // namespace dalimor
