#pragma once
// The Ui seam on the desktop: message boxes through a presenter (QMessageBox
// unless replaced), the status bar, the done marks and the progress of the
// main window, the application-wide busy cursor as Qt's override cursor.

#include <atomic>
#include <functional>
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
  // `done` of `total` steps, and `within` thousandths of the next one.
  virtual void ShowProgress(int done, int total, int within) = 0;
  // A message box is about to open.
  virtual void BeforeMessageBox() = 0;
};

// The seam as a run sees it.  A run works on a thread of its own; whatever
// it asks of the window (boxes, status text, marks, cursor, progress) is
// carried out on the interface thread, in the order asked, while the run
// waits for it.
class WindowUi final : public Ui {
 public:
  WindowUi(UiHost& host, MessageBoxPresenter& boxes) : host_(host), boxes_(&boxes) {}
  ~WindowUi() override;
  WindowUi(const WindowUi&) = delete;
  WindowUi& operator=(const WindowUi&) = delete;

  void SetPresenter(MessageBoxPresenter& boxes) { boxes_ = &boxes; }

  int ShowMessageBox(MsgKind kind, const std::string& caption, const std::string& text,
                     int buttons) override;
  void BringToFront() override;
  void SetStatusText(const std::string& text) override;
  void ShowDoneMark(RunPage page, const std::string& agenda) override;
  void HideDoneMarks() override;
  void SetDoneMarksShown(bool shown) override;
  Cursor CurrentCursor() const override;
  void SetCursor(Cursor cursor) override;
  // Repaints and other queued work, but no keys or clicks: while the
  // archive lets the window breathe, the user cannot start other work.  On
  // a run's own thread nothing is needed: the window keeps running.
  void ProcessPendingEvents() override;
  void SetProgress(int done, int total, int within) override;

  // "Zastavit": the running run stops at its next safe point.
  void RequestStop() { stop_ = true; }
  void ClearStop() { stop_ = false; }
  bool StopRequested() const override { return stop_; }

 private:
  UiHost& host_;
  MessageBoxPresenter* boxes_;
  // Override cursors this seam has pushed and must pop.
  int pushed_cursors_ = 0;
  std::atomic<bool> stop_{false};
};

// Runs `work` on the interface thread: at once when called there, else
// queued to it, waiting until it is done.
void OnInterfaceThread(const std::function<void()>& work);

}  // namespace dalimor
