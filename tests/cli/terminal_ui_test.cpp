#include "cli/terminal_ui.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dalimor {
namespace {

struct Streams {
  std::ostringstream out, err;
  std::istringstream in;
};

TEST(TerminalUi, NoticesGoToStandardOutputAndDiagnosticsToStandardError) {
  Streams s;
  TerminalUi ui(s.out, s.err, s.in, TerminalUi::Answers::kSafe);
  EXPECT_EQ(MsgInfo(ui, kMsgCaption, "Hotovo.\r\nDalší řádek"), kIdOk);
  EXPECT_EQ(MsgWarning(ui, kMsgCaption, "Chyba!"), kIdOk);
  EXPECT_EQ(s.out.str(), "Hotovo.\nDalší řádek\n");
  EXPECT_EQ(s.err.str(), "Chyba!\n");
}

TEST(TerminalUi, QuestionsTakeTheSafeAnswerUnlessToldYes) {
  struct {
    TerminalUi::Answers answers;
    const char* input;
    int buttons;
    int expected;
  } const cases[] = {
      {TerminalUi::Answers::kSafe, "", kMbYesNo, kIdYes},
      {TerminalUi::Answers::kSafe, "", kMbYesNoDefaultNo, kIdNo},
      {TerminalUi::Answers::kYes, "", kMbYesNoDefaultNo, kIdYes},
      {TerminalUi::Answers::kAsk, "a\n", kMbYesNoDefaultNo, kIdYes},
      {TerminalUi::Answers::kAsk, "n\n", kMbYesNo, kIdNo},
      {TerminalUi::Answers::kAsk, "\n", kMbYesNo, kIdYes},
      {TerminalUi::Answers::kAsk, "\n", kMbYesNoDefaultNo, kIdNo},
      {TerminalUi::Answers::kAsk, "", kMbYesNo, kIdNo},  // end of input: nobody to ask
  };
  for (const auto& c : cases) {
    Streams s;
    s.in.str(c.input);
    TerminalUi ui(s.out, s.err, s.in, c.answers);
    EXPECT_EQ(MsgQuestion(ui, kMsgCaption, "Pokračovat?", c.buttons), c.expected) << c.input;
    EXPECT_EQ(ui.answered_no(), c.expected == kIdNo);
  }
}

TEST(TerminalUi, RepeatedStatusTextIsPrintedOnce) {
  Streams s;
  TerminalUi ui(s.out, s.err, s.in, TerminalUi::Answers::kSafe);
  ui.SetStatusText("Probíhá odesílání...");
  ui.SetStatusText("Probíhá odesílání...");
  ui.SetStatusText("");
  EXPECT_EQ(s.err.str(), "Probíhá odesílání...\n");
}

}  // namespace
}  // namespace dalimor
