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
  // The window-state file.
  std::string state_file;
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
  // Runs a modal window (viewer, about box).  Unset: QDialog::exec.
  std::function<void(QDialog& dialog)> run_dialog;
};

// The window-state file of an executable: its full path with ".INI"
// appended (Linux executables have no extension to replace).
std::string StateFilePathFor(const std::string& executable_path);

// Reads the program's own arguments: "--installation DIR" names the folder
// to use instead of the executable's folder.  Returns false with a message
// for anything else.
bool ParseProgramArguments(const QStringList& arguments, const std::string& executable_path,
                           AppOptions& options, QString& error);

}  // namespace dalimor
