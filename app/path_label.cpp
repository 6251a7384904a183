#include "app/path_label.h"

#include <QPainter>
#include <QStyle>

namespace dalimor {

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
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
  style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                        shown, foregroundRole());
}

}  // namespace dalimor
