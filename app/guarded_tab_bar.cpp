#include "app/guarded_tab_bar.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QShortcutEvent>
#include <QWheelEvent>

namespace dalimor {

GuardedTabBar::GuardedTabBar(QWidget* parent) : QTabBar(parent) {}

bool GuardedTabBar::RequestIndex(int index) {
  if (index < 0 || index >= count()) return false;
  if (index == currentIndex()) return true;
  if (guard_ && !guard_(index)) return false;
  setCurrentIndex(index);
  return true;
}

bool GuardedTabBar::event(QEvent* event) {
  // QTabBar grabs Alt + the mnemonic of each tab; the shortcut is answered
  // here so that it passes the guard like a click.
  if (event->type() == QEvent::Shortcut) {
    const auto* shortcut = static_cast<QShortcutEvent*>(event);
    for (int i = 0; i < count(); ++i) {
      if (QKeySequence::mnemonic(tabText(i)) == shortcut->key()) {
        RequestIndex(i);
        return true;
      }
    }
  }
  return QTabBar::event(event);
}

void GuardedTabBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const int index = tabAt(event->position().toPoint());
    if (index >= 0) RequestIndex(index);
    event->accept();
    return;
  }
  QTabBar::mousePressEvent(event);
}

void GuardedTabBar::wheelEvent(QWheelEvent* event) {
  // The wheel never flips pages: a refused change would show a message for
  // every notch.
  event->ignore();
}

void GuardedTabBar::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      RequestIndex(currentIndex() - 1);
      event->accept();
      return;
    case Qt::Key_Right:
    case Qt::Key_Down:
      RequestIndex(currentIndex() + 1);
      event->accept();
      return;
    default:
      QTabBar::keyPressEvent(event);
  }
}

}  // namespace dalimor
