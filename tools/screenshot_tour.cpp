// Walks through the desktop program as a user would and takes a screenshot
// of every page, the folder dialog, a text box's context menu, a question,
// a run in progress and its closing box, the batch viewer with a whole memo,
// the help and the about box.  Meant for a real X server with a window
// manager (tools/screenshots.sh starts Xvfb and openbox), so that the
// pictures show the window frames and the fonts a user gets; the scaling
// comes from QT_SCALE_FACTOR.
//
//   screenshot_tour INSTALLATION TRANSFER_FOLDER OUT_DIR
//
// The installation is changed (the tour receives the batch into the head
// office), so give it a scratch copy.  The batch should hold sent data.

#include <QAbstractItemView>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <functional>

#include "app/agenda_page.h"
#include "app/app_options.h"
#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_text.h"

namespace dalimor {
namespace {

QString g_out;
int g_shot = 0;

// Lets the window manager place and paint what was just shown.
void Settle(int milliseconds = 400) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
}

// The screen around `widget`'s window, frame included, saved as the next
// numbered picture.
void Shoot(QWidget* widget, const QString& name) {
  Settle();
  QWidget* window = widget->window();
  QScreen* screen = window->screen();
  const QRect frame = window->frameGeometry().adjusted(-4, -4, 4, 4);
  QPixmap picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  const QString file =
      QDir(g_out).filePath(QStringLiteral("%1-%2.png").arg(++g_shot, 2, 10, QChar('0')).arg(name));
  if (!picture.save(file)) std::fprintf(stderr, "cannot save %s\n", qPrintable(file));
  std::printf("%s\n", qPrintable(file));
}

// The whole screen: for popups that stand outside the window.
void ShootScreen(const QString& name) {
  Settle();
  QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
  const QString file =
      QDir(g_out).filePath(QStringLiteral("%1-%2.png").arg(++g_shot, 2, 10, QChar('0')).arg(name));
  picture.save(file);
  std::printf("%s\n", qPrintable(file));
}

// Once the next modal box or popup is open, takes its picture and closes it
// with Escape (a question answers No).
void ShootNextModal(const QString& name, bool whole_screen = false) {
  QTimer::singleShot(600, [name, whole_screen] {
    QWidget* open = QApplication::activePopupWidget();
    if (!open) open = QApplication::activeModalWidget();
    if (!open) {
      std::fprintf(stderr, "%s: nothing open\n", qPrintable(name));
      return;
    }
    if (whole_screen)
      ShootScreen(name);
    else
      Shoot(open, name);
    QTest::keyClick(open, Qt::Key_Escape);
  });
}

// Shows a page through its item of the "Soubor" menu.
void Page(TfmMain& window, const char* item) {
  window.activateWindow();
  window.findChild<QAction*>(QLatin1String(item))->trigger();
  Settle();
}

int Tour(const QString& installation, const QString& folder) {
  AppOptions options;
  options.executable_folder = ToStd(installation);
  options.state_file = ToStd(QDir(g_out).filePath(QStringLiteral("dalimor.ini")));
  options.engine_config_path = ToStd(QDir(g_out).filePath(QStringLiteral("engine.cfg")));
  // The history of the tour's runs stays with its pictures.
  options.run_log_folder = ToStd(QDir(g_out).filePath(QStringLiteral("historie")));
  // Dialogs open without blocking, so that the tour can look at them.
  std::function<void(QDialog&)> on_dialog;
  options.run_dialog = [&on_dialog](QDialog& dialog) {
    dialog.show();
    Settle();
    if (on_dialog) on_dialog(dialog);
    dialog.close();
  };
  TfmMain window(options);
  window.show();
  Settle(1200);
  window.transfer_folder()->setEditText(folder);
  window.companies()->setFocus();
  Shoot(&window, QStringLiteral("nastaveni"));

  ShootNextModal(QStringLiteral("slozka-dialog"));
  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("btProchazet")), Qt::LeftButton);
  Settle();

  ShootNextModal(QStringLiteral("kontextova-nabidka"), true);
  QLineEdit* folder_box = window.transfer_folder()->lineEdit();
  QContextMenuEvent menu_event(QContextMenuEvent::Mouse, QPoint(20, 8),
                               folder_box->mapToGlobal(QPoint(20, 8)));
  QApplication::sendEvent(folder_box, &menu_event);
  Settle();

  Page(window, "miOdeslani");
  AgendaPage& send = *window.send_page();
  QTest::mouseClick(send.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
  Shoot(&window, QStringLiteral("odeslani"));
  ShootNextModal(QStringLiteral("odeslani-dotaz"));
  QTest::mouseClick(send.run_button(), Qt::LeftButton);
  Settle();

  Page(window, "miPrijem");
  Shoot(&window, QStringLiteral("prijem"));

  // The preview of a receive of everything into the head office.
  window.companies()->setCurrentIndex(1);
  emit window.companies()->activated(1);
  Settle();
  Page(window, "miPrijem");
  QTest::mouseClick(window.receive_page()->all_agendas(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(6, 6));
  on_dialog = [](QDialog& preview) { Shoot(&preview, QStringLiteral("prijem-nahled")); };
  QTest::mouseClick(window.receive_page()->preview_button(), Qt::LeftButton);
  on_dialog = nullptr;
  QTest::mouseClick(window.receive_page()->all_agendas(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(6, 6));
  window.companies()->setCurrentIndex(0);
  emit window.companies()->activated(0);
  Settle();
  Page(window, "miPrijem");

  // The viewer of issued invoices: the table, then a memo in its pane.
  on_dialog = [](QDialog& viewer) {
    Shoot(&viewer, QStringLiteral("prohlizec"));
    for (QTableView* table : viewer.findChildren<QTableView*>()) {
      const QAbstractItemModel* model = table->model();
      for (int column = 0; model && column < model->columnCount(); ++column) {
        for (int row = 0; row < model->rowCount(); ++row) {
          if (!model->index(row, column).data().toString().endsWith(QStringLiteral(" …"))) continue;
          table->setCurrentIndex(model->index(row, column));
          table->scrollTo(model->index(row, column));
          Settle();
          Shoot(&viewer, QStringLiteral("prohlizec-text"));
          ShootNextModal(QStringLiteral("prohlizec-cely-text"));
          QTest::keyClick(table->viewport(), Qt::Key_Return);
          Settle();
          return;
        }
      }
    }
  };
  emit window.receive_page()->CountLabelClicked(QStringLiteral("laVFPoc"));
  on_dialog = nullptr;
  Settle();

  // A receive of everything: once three steps are done the window shows
  // the progress and "Zastavit"; then the closing box.
  AgendaPage& receive = *window.receive_page();
  window.companies()->setCurrentIndex(1);
  emit window.companies()->activated(1);
  Settle();
  Page(window, "miPrijem");
  QTest::mouseClick(receive.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
  bool shot_progress = false;
  QObject::connect(window.progress_bar(), &QProgressBar::valueChanged, [&](int value) {
    if (shot_progress || value * 19 < 3 * window.progress_bar()->maximum()) return;
    shot_progress = true;
    Shoot(&window, QStringLiteral("prijem-probiha"));
  });
  // Yes to "receive?", Yes to "another company's batch", then the end box.
  std::function<void()> answer_next;
  int answers = 0;
  answer_next = [&] {
    QTimer::singleShot(500, [&] {
      QWidget* open = QApplication::activeModalWidget();
      auto* box = qobject_cast<QMessageBox*>(open);
      if (!box) {
        if (answers < 3) answer_next();
        return;
      }
      ++answers;
      Shoot(box, QStringLiteral("prijem-okno-%1").arg(answers));
      QAbstractButton* yes = nullptr;
      for (QAbstractButton* button : box->buttons())
        if (button->text().remove(QChar('&')) == QLatin1String("Ano")) yes = button;
      if (yes)
        yes->click();
      else
        QTest::keyClick(box, Qt::Key_Return);
      if (answers < 3) answer_next();
    });
  };
  answer_next();
  QTest::mouseClick(receive.run_button(), Qt::LeftButton);
  Settle(800);
  Shoot(&window, QStringLiteral("prijem-hotovo"));

  window.activateWindow();
  Settle();
  window.findChild<QAction*>(QStringLiteral("miHelp"))->trigger();
  Settle(1000);
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top != &window && top->isVisible() && top->objectName() != QLatin1String("TfmObsahDavky")) {
      Shoot(top, QStringLiteral("napoveda"));
      top->close();
    }

  on_dialog = [](QDialog& history) { Shoot(&history, QStringLiteral("historie")); };
  window.findChild<QAction*>(QStringLiteral("miHistorie"))->trigger();
  Settle();

  on_dialog = [](QDialog& about) { Shoot(&about, QStringLiteral("o-aplikaci")); };
  QMenu* help = window.findChild<QMenu*>(QStringLiteral("miNapoveda"));
  for (QAction* action : help->actions())
    if (action->objectName() == QLatin1String("miAbout")) action->trigger();
  Settle();
  window.close();
  Settle();
  return 0;
}

}  // namespace
}  // namespace dalimor

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: screenshot_tour INSTALLATION TRANSFER_FOLDER OUT_DIR\n");
    return 2;
  }
  dalimor::SetUpApplication(application);
  dalimor::g_out = QString::fromLocal8Bit(argv[3]);
  QDir().mkpath(dalimor::g_out);
  return dalimor::Tour(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
}
