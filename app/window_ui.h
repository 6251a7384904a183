#pragma once
// The Ui seam on the desktop: message boxes through a presenter (QMessageBox
// unless replaced), the status bar, the done marks and the progress of the
// main window, the application-wide busy cursor as Qt's override cursor.

#include <string>

#include "app/message_boxes.h"
#include "util/ui.h"

class QWidget;

namespace dalimor {

// What the seam needs of the main window.
class UiHost {
 public:
  virtual ~UiHost() = default;
  // The window message boxes belong to.
  virtual QWidget* MessageParent() = 0;
  virtual void RaiseWindow() = 0;
  virtual void ShowStatusText(const std::string& text) = 0;
  virtual void ShowDoneMarkOf(RunPage page, const std::string& agenda) = 0;
  virtual void HideDoneMarks() = 0;
  virtual void SetDoneMarksShown(bool shown) = 0;
  virtual void ShowProgress(int done, int total) = 0;
};

class WindowUi final : public Ui {
 public:
  WindowUi(UiHost& host, MessageBoxPresenter& boxes) : host_(host), boxes_(&boxes) {}
  ~WindowUi() override;
  WindowUi(const WindowUi&) = delete;
  WindowUi& operator=(const WindowUi&) = delete;

  void SetPresenter(MessageBoxPresenter& boxes) { boxes_ = &boxes; }

  int ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                     int buttons) override;
  void BringToFront() override { host_.RaiseWindow(); }
  void SetStatusText(const std::string& text) override { host_.ShowStatusText(text); }
  void ShowDoneMark(RunPage page, const std::string& agenda) override {
    host_.ShowDoneMarkOf(page, agenda);
  }
  void HideDoneMarks() override { host_.HideDoneMarks(); }
  void SetDoneMarksShown(bool shown) override { host_.SetDoneMarksShown(shown); }
  Cursor CurrentCursor() const override;
  void SetCursor(Cursor cursor) override;
  // Repaints and other queued work, but no keys or clicks: while a run or
  // the archive lets the window breathe, the user cannot start other work.
  void ProcessPendingEvents() override;
  void SetProgress(int done, int total) override { host_.ShowProgress(done, total); }

 private:
  UiHost& host_;
  MessageBoxPresenter* boxes_;
  // Override cursors this seam has pushed and must pop.
  int pushed_cursors_ = 0;
};

}  // namespace dalimor
