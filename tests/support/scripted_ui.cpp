#include "tests/support/scripted_ui.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace dalimor::test {

int ScriptedUi::ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                               int buttons) {
  int answer = kIdOk;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (buttons != kMbOk) {
    ADD_FAILURE() << "unexpected question without a scripted answer: " << text;
    answer = kIdNo;
  }
  boxes.push_back({kind, caption, text, buttons, answer});
  return answer;
}

void ScriptedUi::ShowDoneMark(RunPage page, const std::string& agenda) {
  const std::string mark = (page == RunPage::kSend ? "O:" : "P:") + agenda;
  if (std::find(done_marks.begin(), done_marks.end(), mark) == done_marks.end())
    done_marks.push_back(mark);
}

void ScriptedUi::HideDoneMarks() {
  if (!done_marks_shown) return;
  done_marks.clear();
  done_marks_shown = false;
}

}  // namespace dalimor::test
