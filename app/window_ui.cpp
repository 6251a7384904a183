#include "app/window_ui.h"

#include <QApplication>
#include <QCursor>

namespace dalimor {

WindowUi::~WindowUi() {
  while (pushed_cursors_ > 0) {
    QApplication::restoreOverrideCursor();
    --pushed_cursors_;
  }
}

int WindowUi::ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                             int buttons) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = host_.MessageParent();
  return boxes_->Show(parent, kind, caption, text, buttons);
}

Cursor WindowUi::CurrentCursor() const {
  const QCursor* cursor = QApplication::overrideCursor();
  if (!cursor) return Cursor::kDefault;
  return cursor->shape() == Qt::WaitCursor ? Cursor::kHourGlass : Cursor::kOther;
}

void WindowUi::SetCursor(Cursor cursor) {
  while (pushed_cursors_ > 0) {
    QApplication::restoreOverrideCursor();
    --pushed_cursors_;
  }
  if (cursor == Cursor::kHourGlass) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++pushed_cursors_;
  }
}

void WindowUi::ProcessPendingEvents() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace dalimor
