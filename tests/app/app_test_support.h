#pragma once
// What the window tests share: a test-suite registry, scripted message
// boxes, folder and modal-window stand-ins, and a window on a temporary
// installation (empty, or the demo installation) with its own state file
// and engine configuration, at a fixed "today" of 15 March 2011.

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "tests/support/test_support.h"
#include "util/clock.h"

class QDialog;

namespace dalimor::apptest {

// Test classes register themselves so that one binary runs them by name.
using SuiteFactory = std::function<std::unique_ptr<QObject>()>;
bool RegisterSuite(const char* name, SuiteFactory factory);
std::map<std::string, SuiteFactory>& AllSuites();

#define DALIMOR_REGISTER_SUITE(Class)                                       \
  static const bool registered_##Class = ::dalimor::apptest::RegisterSuite( \
      #Class, [] { return std::unique_ptr<QObject>(new Class); })

struct ShownBox {
  MsgKind kind;
  std::string caption;
  std::string text;
  int buttons;
  int answer;
};

// Records every box and answers from a queue; an OK box needs no queued
// answer, a question without one is answered No and noted as unexpected.
class ScriptedBoxes final : public MessageBoxPresenter {
 public:
  void Answer(int code) { answers_.push_back(code); }
  int Show(QWidget* parent, MsgKind kind, const std::string& caption, const std::string& text,
           int buttons) override;

  std::vector<ShownBox> shown;
  std::vector<std::string> unexpected;  // questions nobody scripted
  // Called while a box is "open" (for example to look at the window then).
  std::function<void(const ShownBox&)> on_show;

 private:
  std::deque<int> answers_;
};

// A fresh installation folder and everything a window needs around it.
class WindowFixture {
 public:
  // `demo`: write the demo installation; otherwise the folder stays empty
  // (no Kalmeo data at all).
  explicit WindowFixture(bool demo);

  const std::string& installation() const { return installation_; }
  std::string state_file() const { return temp_.File("dalimor.INI"); }
  std::string engine_config() const { return temp_.File("engine.cfg"); }
  // A folder below the fixture's temporary folder, created.
  std::string MakeFolder(const std::string& name) const;
  std::string Path(const std::string& name) const { return temp_.File(name); }

  // Creates the window (runs its start-up) with the fixture's options.
  TfmMain& Open();
  // Destroys the window (runs its shut-down).
  void Close();
  TfmMain& window() { return *window_; }

  ScriptedBoxes boxes;
  FixedClock clock{LocalDateTime{2011, 3, 15, 10, 30, 0, 0}};
  // Answers of the folder dialog, in turn; empty = cancelled.
  std::deque<QString> chosen_folders;
  // Answers of the archive dialog, in turn; empty = cancelled.
  std::deque<QString> chosen_archives;
  // Set: "Procházet" opens the program's own folder dialog instead of
  // answering from chosen_folders.
  bool real_folder_dialog = false;
  // Set: the window keeps its state where the program started from this
  // executable would (StateFilesFor) instead of in state_file().
  std::string executable;
  // Called with each modal window instead of running it.
  std::function<void(QDialog&)> on_dialog;
  int dialogs_run = 0;

 private:
  test::TempDir temp_;
  std::string installation_;
  std::unique_ptr<TfmMain> window_;
};

// Shows the window and waits until it is the active window, so that
// shortcuts and focus behave as on screen.
bool ShowActive(QWidget& window);

// The last box shown, or a box of kind kInfo with empty text when none was.
ShownBox LastBox(const ScriptedBoxes& boxes);

// Runs queued work (focus checks) until none is left.
void Settle();

}  // namespace dalimor::apptest
