#include "app/path_label.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>

namespace dalimor {
namespace {

// QLineEdit's own margin between its contents rectangle and the text.
constexpr int kLineEditTextMargin = 2;

}  // namespace

QString ElidePath(const QFontMetrics& metrics, const QString& path, int width) {
  return metrics.elidedText(path, Qt::ElideMiddle, width);
}

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QPalette navy = palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  setPalette(navy);
}

void PathLabel::SetPath(const QString& path) {
  setText(path);
  setToolTip(path);
}

QSize PathLabel::minimumSizeHint() const {
  return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4,
               QLabel::minimumSizeHint().height());
}

void PathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect();
  const QString shown = ElidePath(fontMetrics(), text(), area.width());
  style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                        shown, foregroundRole());
}

PathLineEdit::PathLineEdit(QWidget* parent) : QLineEdit(parent) {}

QRect PathLineEdit::TextArea() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  return contents.marginsRemoved(textMargins())
      .adjusted(kLineEditTextMargin, 0, -kLineEditTextMargin, 0);
}

QString PathLineEdit::ShownText() const {
  if (hasFocus()) return text();
  return ElidePath(fontMetrics(), text(), TextArea().width());
}

bool PathLineEdit::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const QString shown = ShownText();
    if (shown != text()) {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
      return true;
    }
  }
  return QLineEdit::event(event);
}

void PathLineEdit::paintEvent(QPaintEvent* event) {
  const QString shown = ShownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  // The panel as QLineEdit draws it, then the shortened path where its
  // text would stand.
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextArea(), static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter), shown);
}

}  // namespace dalimor
