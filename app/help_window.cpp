#include "app/help_window.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace dalimor {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("fmNapoveda");
  setWindowTitle(QStringLiteral("Dalimor – nápověda"));
  resize(640, 600);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  browser_ = new QTextBrowser;
  browser_->setObjectName("tbNapoveda");
  browser_->setOpenExternalLinks(true);
  layout->addWidget(browser_);
}

void HelpWindow::ShowTopic(const QString& topic) {
  QUrl url(QString::fromLatin1(kHelpDocument));
  url.setFragment(topic);
  browser_->setSource(url);
  browser_->scrollToAnchor(topic);
  show();
  raise();
  activateWindow();
}

}  // namespace dalimor
