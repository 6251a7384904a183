#pragma once
// The Ui seam on a terminal: progress and status texts go to standard error,
// notices to standard output, questions are answered from the options
// (--yes) or asked on the terminal.

#include <iosfwd>
#include <string>

#include "util/ui.h"

namespace dalimor {

// Makes SIGINT and SIGTERM ask the running send or receive to stop instead
// of ending the process at once; a second signal ends it (the run journal
// then puts the tables back the next time).
void InstallStopSignals();

class TerminalUi final : public Ui {
 public:
  // How questions are answered.
  enum class Answers {
    kAsk,     // ask on `in` (a terminal); without an answer, the safe one
    kYes,     // --yes: every question is answered Yes
    kSafe,    // never ask: the preselected button of each box
  };

  TerminalUi(std::ostream& out, std::ostream& err, std::istream& in, Answers answers);

  int ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                     int buttons) override;
  void SetStatusText(const std::string& text) override;
  void ShowDoneMark(RunPage page, const std::string& agenda) override;
  void HideDoneMarks() override {}
  void SetDoneMarksShown(bool) override {}
  Cursor CurrentCursor() const override { return cursor_; }
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }
  void SetProgress(int done, int total, int within) override;
  // Ctrl+C (SIGINT) or SIGTERM during a run: it stops at its next step and
  // puts everything back (see InstallStopSignals).
  bool StopRequested() const override;

  // The kind of the last message box shown, and whether any question was
  // answered No (the CLI's exit code depends on them).
  bool answered_no() const { return answered_no_; }
  int boxes_shown() const { return boxes_shown_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  Answers answers_;
  Cursor cursor_ = Cursor::kDefault;
  std::string last_status_;
  bool answered_no_ = false;
  int boxes_shown_ = 0;
  int tenths_shown_ = 0;  // of the rows of the step in progress
};

}  // namespace dalimor
