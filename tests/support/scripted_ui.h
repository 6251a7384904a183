#pragma once
// A stand-in for the person at the screen: records every message box, status
// text, done mark and cursor change, and answers boxes from a queue.

#include <deque>
#include <string>
#include <vector>

#include "util/ui.h"

namespace dalimor::test {

struct RecordedBox {
  MsgKind kind;
  std::string caption;
  std::string text;
  int buttons;
  int answer;
};

class ScriptedUi : public Ui {
 public:
  // Queues the answer to the next box.  Without a queued answer an OK box is
  // answered kIdOk and a question fails the test.
  void Answer(int code) { answers_.push_back(code); }

  int ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                     int buttons) override;
  void BringToFront() override { ++front_count; }
  void SetStatusText(const std::string& text) override { status_texts.push_back(text); }
  void ShowDoneMark(RunPage page, const std::string& agenda) override;
  void HideDoneMarks() override;
  void SetDoneMarksShown(bool shown) override { done_marks_shown = shown; }
  Cursor CurrentCursor() const override { return cursor; }
  void SetCursor(Cursor c) override {
    cursor = c;
    cursor_changes.push_back(c);
  }
  void ProcessPendingEvents() override { ++pending_event_calls; }
  void SetProgress(int done, int total, int within) override {
    if (within > 0) {
      within_steps.emplace_back(done, within);
      if (stop_within) stop_requested = true;
      return;
    }
    progress.emplace_back(done, total);
    if (stop_at_progress > 0 && done >= stop_at_progress) stop_requested = true;
  }
  bool StopRequested() const override { return stop_requested; }

  std::vector<RecordedBox> boxes;
  std::vector<std::string> status_texts;
  std::vector<std::string> done_marks;  // "O:PF", "P:Cenik" ... currently shown
  bool done_marks_shown = false;
  Cursor cursor = Cursor::kDefault;
  std::vector<Cursor> cursor_changes;
  int front_count = 0;
  int pending_event_calls = 0;
  std::vector<std::pair<int, int>> progress;  // (done, total) as reported
  // (done, thousandths of the next step) as the row-by-row steps reported.
  std::vector<std::pair<int, int>> within_steps;
  // The user presses "Zastavit" once the progress reaches this step (0: never).
  int stop_at_progress = 0;
  // The user presses "Zastavit" as soon as a step reports its rows.
  bool stop_within = false;
  bool stop_requested = false;

 private:
  std::deque<int> answers_;
};

}  // namespace dalimor::test
