#include "util/ui.h"

#include <gtest/gtest.h>

#include "tests/support/scripted_ui.h"

namespace dalimor {
namespace {

using test::ScriptedUi;

TEST(BusyCursor, EndWithoutBeginChangesNothing) {
  ScriptedUi ui;
  ui.cursor = Cursor::kOther;
  EndBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kOther);
  EXPECT_EQ(ui.busy_cursor.depth, 0);
  EXPECT_TRUE(ui.cursor_changes.empty());
  // A later pair still works normally.
  BeginBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kHourGlass);
  EndBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kOther);
}

TEST(BusyCursor, OnlyTheOutermostEndRestoresTheRememberedCursor) {
  ScriptedUi ui;
  ui.cursor = Cursor::kOther;
  BeginBusyCursor(ui);
  BeginBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kHourGlass);
  EndBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kHourGlass);
  EndBusyCursor(ui);
  EXPECT_EQ(ui.cursor, Cursor::kOther);
  EXPECT_EQ(ui.cursor_changes.size(), 2u);
}

TEST(BusyCursor, ScopeEndsAlsoWhenLeftByAnException) {
  ScriptedUi ui;
  try {
    BusyCursorScope outer(ui);
    BusyCursorScope inner(ui);
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(ui.busy_cursor.depth, 0);
  EXPECT_EQ(ui.cursor, Cursor::kDefault);
}

TEST(MessageBoxes, EmptyCaptionBecomesTheApplicationTitle) {
  ScriptedUi ui;
  MsgInfo(ui, "", "Hotovo.");
  MsgWarning(ui, kMsgCaption, "Pozor.");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].caption, "Dalimor");
  EXPECT_EQ(ui.boxes[1].caption, "Dalimor ");
}

TEST(MessageBoxes, EachRoutineShowsItsIconAndReturnsTheAnswer) {
  ScriptedUi ui;
  ui.Answer(kIdYes);
  ui.Answer(kIdNo);
  EXPECT_EQ(MsgQuestion(ui, kMsgCaption, "Odeslat?", kMbYesNo), kIdYes);
  EXPECT_EQ(ui.front_count, 1);
  EXPECT_EQ(MsgWarning(ui, kMsgCaption, "Smazat?", kMbYesNoDefaultNo), kIdNo);
  EXPECT_EQ(MsgError(ui, kMsgCaption, "Chyba"), kIdOk);
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].kind, MsgKind::kQuestion);
  EXPECT_EQ(ui.boxes[1].kind, MsgKind::kWarning);
  EXPECT_EQ(ui.boxes[1].buttons, 260);
  EXPECT_EQ(ui.boxes[2].kind, MsgKind::kError);
  EXPECT_EQ(ui.front_count, 1);  // only the question brings the window forward
}

TEST(MessageBoxes, KindFlagsAreThePlatformIcons) {
  EXPECT_EQ(MsgKindFlag(MsgKind::kWarning), 48);
  EXPECT_EQ(MsgKindFlag(MsgKind::kError), 16);
  EXPECT_EQ(MsgKindFlag(MsgKind::kInfo), 64);
  EXPECT_EQ(MsgKindFlag(MsgKind::kQuestion), 32);
}

}  // namespace
}  // namespace dalimor
