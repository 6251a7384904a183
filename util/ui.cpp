#include "util/ui.h"

namespace dalimor {
namespace {

int Show(Ui& ui, MsgKind kind, std::string_view caption, const std::string& text, int buttons) {
  const std::string shown_caption = caption.empty() ? std::string(kApplicationTitle)
                                                    : std::string(caption);
  return ui.ShowMessageBox(kind, shown_caption, text, buttons);
}

}  // namespace

int MsgKindFlag(MsgKind kind) {
  switch (kind) {
    case MsgKind::kWarning: return 48;
    case MsgKind::kError: return 16;
    case MsgKind::kInfo: return 64;
    case MsgKind::kQuestion: return 32;
  }
  return 0;
}

int MsgWarning(Ui& ui, std::string_view caption, const std::string& text, int buttons) {
  return Show(ui, MsgKind::kWarning, caption, text, buttons);
}

int MsgError(Ui& ui, std::string_view caption, const std::string& text, int buttons) {
  return Show(ui, MsgKind::kError, caption, text, buttons);
}

int MsgInfo(Ui& ui, std::string_view caption, const std::string& text, int buttons) {
  return Show(ui, MsgKind::kInfo, caption, text, buttons);
}

int MsgQuestion(Ui& ui, std::string_view caption, const std::string& text, int buttons) {
  const int answer = Show(ui, MsgKind::kQuestion, caption, text, buttons);
  ui.BringToFront();
  return answer;
}

void BeginBusyCursor(Ui& ui) {
  if (ui.busy_cursor.depth == 0) {
    ui.busy_cursor.saved = ui.CurrentCursor();
    ui.SetCursor(Cursor::kHourGlass);
  }
  ++ui.busy_cursor.depth;
}

void EndBusyCursor(Ui& ui) {
  if (ui.busy_cursor.depth <= 0) return;
  if (--ui.busy_cursor.depth == 0) ui.SetCursor(ui.busy_cursor.saved);
}

}  // namespace dalimor
