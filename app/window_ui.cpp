#include "app/window_ui.h"

#include <QApplication>
#include <QCursor>
#include <QThread>

namespace dalimor {

WindowUi::~WindowUi() {
  while (pushed_cursors_ > 0) {
    QApplication::restoreOverrideCursor();
    --pushed_cursors_;
  }
}

void OnInterfaceThread(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

int WindowUi::ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                             int buttons) {
  int answer = 0;
  OnInterfaceThread([&] {
    host_.BeforeMessageBox();
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = host_.MessageParent();
    answer = boxes_->Show(parent, kind, caption, text, buttons);
  });
  return answer;
}

void WindowUi::BringToFront() {
  OnInterfaceThread([&] { host_.RaiseWindow(); });
}

void WindowUi::SetStatusText(const std::string& text) {
  OnInterfaceThread([&] { host_.ShowStatusText(text); });
}

void WindowUi::ShowDoneMark(RunPage page, const std::string& agenda) {
  OnInterfaceThread([&] { host_.ShowDoneMarkOf(page, agenda); });
}

void WindowUi::HideDoneMarks() {
  OnInterfaceThread([&] { host_.HideDoneMarks(); });
}

void WindowUi::SetDoneMarksShown(bool shown) {
  OnInterfaceThread([&] { host_.SetDoneMarksShown(shown); });
}

void WindowUi::SetProgress(int done, int total, int within) {
  OnInterfaceThread([&] { host_.ShowProgress(done, total, within); });
}

Cursor WindowUi::CurrentCursor() const {
  Cursor result = Cursor::kDefault;
  OnInterfaceThread([&] {
    const QCursor* cursor = QApplication::overrideCursor();
    if (cursor) result = cursor->shape() == Qt::WaitCursor ? Cursor::kHourGlass : Cursor::kOther;
  });
  return result;
}

void WindowUi::SetCursor(Cursor cursor) {
  OnInterfaceThread([&] {
    while (pushed_cursors_ > 0) {
      QApplication::restoreOverrideCursor();
      --pushed_cursors_;
    }
    if (cursor == Cursor::kHourGlass) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      ++pushed_cursors_;
    }
  });
}

void WindowUi::ProcessPendingEvents() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() != app->thread()) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace dalimor
