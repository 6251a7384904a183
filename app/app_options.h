#pragma once
// What the main window takes from outside: the folders it works in and the
// seams through which it meets the person, the clock and the file dialogs.
// The program fills it from its command line; tests fill it with their own
// folders and scripted answers.

#include <QString>
#include <functional>
#include <string>

class QDialog;
class QWidget;

namespace dalimor {

class Clock;
class MessageBoxPresenter;

struct AppOptions {
  // The folder the accounting data are found from, as Kalmeo's own
  // executable folder would be (DataPrg\Kalmeo.cfg, DATA\...).
  std::string executable_folder;
  // The window-state file, read at start-up and written at shut-down.
  std::string state_file;
  // A window-state file to start from while state_file does not exist yet
  // (the one beside the executable, which a portable copy of the program
  // carries); empty: none.
  std::string earlier_state_file;
  // The table engine's persistent configuration; empty: its default place.
  std::string engine_config_path;
  // "Now" for date completion and the runs; null: the system clock.
  const Clock* clock = nullptr;
  // Message boxes; null: QMessageBox.
  MessageBoxPresenter* message_boxes = nullptr;
  // Asks for a folder (title, initial folder or empty); an empty result
  // means cancelled.  Unset: ChooseFolder (app/folder_dialog.h).
  std::function<QString(QWidget* parent, const QString& title, const QString& initial)>
      choose_folder;
  // Asks for a batch archive (title, initial path or empty); an empty
  // result means cancelled.  Unset: a file dialog for "*.zip".
  std::function<QString(QWidget* parent, const QString& title, const QString& initial)>
      choose_archive;
  // Where the run log is kept; empty: the user's data folder (UserDataFolder).
  std::string run_log_folder;
  // Runs a modal window (viewer, about box).  Unset: QDialog::exec.
  std::function<void(QDialog& dialog)> run_dialog;
};

// Where the program started from `executable_path` keeps its window state.
// On Windows beside the executable: its full path with ".INI" appended.
// Elsewhere the program's folder is seldom the user's to write, so the state
// is "dalimor.ini" in the user's configuration folder (UserConfigFolder),
// started from a state file beside the executable (path + ".INI") when
// there is one.
struct StateFiles {
  std::string state_file;
  std::string earlier_state_file;
};
StateFiles StateFilesFor(const std::string& executable_path);

// Reads the program's own arguments: "--installation DIR" names the folder
// to use instead of the executable's folder.  Returns false with a message
// for anything else.
bool ParseProgramArguments(const QStringList& arguments, const std::string& executable_path,
                           AppOptions& options, QString& error);

}  // namespace dalimor
