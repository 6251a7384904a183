#include "app/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt_text.h"

namespace dalimor {
namespace {

QMessageBox::Icon IconOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::kWarning:
      return QMessageBox::Warning;
    case MsgKind::kError:
      return QMessageBox::Critical;
    case MsgKind::kInfo:
      return QMessageBox::Information;
    case MsgKind::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

int QtMessageBoxPresenter::Show(QWidget* parent, MsgKind kind, const std::string& caption,
                                const std::string& text, int buttons) {
  QMessageBox box(IconOf(kind), ToQt(caption), ToDisplayLines(text), QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  QPushButton* ok = nullptr;
  QPushButton* yes = nullptr;
  QPushButton* no = nullptr;
  if (buttons == kMbOk) {
    ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
  } else {
    yes = box.addButton(QStringLiteral("&Ano"), QMessageBox::YesRole);
    no = box.addButton(QStringLiteral("&Ne"), QMessageBox::NoRole);
    box.setDefaultButton((buttons & kMbDefButton2) != 0 ? no : yes);
    box.setEscapeButton(no);
  }

  const bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (busy) QApplication::restoreOverrideCursor();

  if (ok) return kIdOk;
  return box.clickedButton() == yes ? kIdYes : kIdNo;
}

}  // namespace dalimor
