#include "app/about_box.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#ifndef DALIMOR_VERSION
#define DALIMOR_VERSION ""
#endif

namespace dalimor {

QString FileVersionText() {
  return QStringLiteral(DALIMOR_VERSION);
}

TfmAbout::TfmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("fmAbout");
  setWindowTitle(QStringLiteral("O aplikaci"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 18, 24, 14);
  layout->setSpacing(8);

  auto* name = new QLabel(QStringLiteral("Dalimor"));
  name->setObjectName("laNazev");
  QFont font(QStringLiteral("Arial"), 20);
  font.setBold(true);
  name->setFont(font);
  name->setAlignment(Qt::AlignCenter);
  layout->addWidget(name);

  version_ = new QLabel(QStringLiteral("Verze: ") + FileVersionText());
  version_->setObjectName("laVerze");
  version_->setAlignment(Qt::AlignCenter);
  layout->addWidget(version_);

  ok_ = new QPushButton(QStringLiteral("&OK"));
  ok_->setObjectName("btOK");
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  layout->addSpacing(6);
  layout->addWidget(ok_, 0, Qt::AlignHCenter);

  setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
  if (parent) {
    const QPoint centre = parent->frameGeometry().center();
    move(centre - QPoint(width() / 2, height() / 2));
  }
}

}  // namespace dalimor
