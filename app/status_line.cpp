#include "app/status_line.h"

#include <QLabel>
#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>

namespace dalimor {

StatusLine::StatusLine(QWidget* parent) : QStatusBar(parent) {
  message_ = new QLabel;
  message_->setObjectName("laStatus");
  message_->setTextFormat(Qt::PlainText);
  message_->setWordWrap(true);
  // The label takes the width left of the permanent widgets and as many
  // lines as its text needs there.
  message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  // A permanent widget, so that showing a message does not hide it.
  addPermanentWidget(message_, 1);
  connect(this, &QStatusBar::messageChanged, message_, &QLabel::setText);
}

void StatusLine::paintEvent(QPaintEvent*) {
  // As QStatusBar paints itself, less the message text the label shows.
  QPainter painter(this);
  QStyleOption panel;
  panel.initFrom(this);
  style()->drawPrimitive(QStyle::PE_PanelStatusBar, &panel, &painter, this);
  for (QWidget* item : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (item == message_ || !item->isVisible() || qobject_cast<QSizeGrip*>(item)) continue;
    QStyleOption frame;
    frame.rect = item->geometry().adjusted(-2, -1, 2, 1);
    frame.palette = palette();
    frame.state = QStyle::State_None;
    style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &painter, item);
  }
}

}  // namespace dalimor
