#pragma once
// The main window's status bar.  Its message (the hint of the control under
// the mouse, what a run is doing) is shown by a label that wraps a text too
// long for one line onto the next lines, the bar growing with it, instead
// of cutting it off at the window's edge.  showMessage, currentMessage and
// messageChanged work as in QStatusBar.

#include <QStatusBar>

class QLabel;

namespace dalimor {

class StatusLine : public QStatusBar {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent = nullptr);

  // The label that shows the message.
  QLabel* message_label() const { return message_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* message_ = nullptr;
};

}  // namespace dalimor
