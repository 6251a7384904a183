#pragma once
// A tab bar that asks before it changes: every way of choosing a tab (mouse,
// Alt + the underlined letter, arrow keys, a program call through
// RequestIndex) goes through the guard, and a refused change leaves the
// current tab as it was.

#include <QTabBar>
#include <functional>

namespace dalimor {

class GuardedTabBar : public QTabBar {
  Q_OBJECT

 public:
  // Called with the tab about to be chosen; false refuses the change.
  using Guard = std::function<bool(int new_index)>;

  explicit GuardedTabBar(QWidget* parent = nullptr);

  void SetGuard(Guard guard) { guard_ = std::move(guard); }

  // Chooses `index` through the guard.  Returns whether it is now current.
  bool RequestIndex(int index);

 protected:
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Guard guard_;
};

}  // namespace dalimor
