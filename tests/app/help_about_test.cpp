// Help, the about box, and pictures of the three pages for a person to
// look at (written when DALIMOR_SCREENSHOT_DIR names a folder).

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTest>
#include <QTextBrowser>

#include "app/about_box.h"
#include "app/help_window.h"
#include "app/qt_text.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

class HelpAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void F1OpensTheGuideAtItsFirstTopic() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    QTest::keyClick(&window, Qt::Key_F1);
    HelpWindow* help = window.help_window();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QCOMPARE(help->browser()->source().fragment(), QStringLiteral("JakCistTutoPrirucku"));
    const QString text = help->browser()->toPlainText();
    for (const char* part : {"Jak číst tuto příručku", "Co je dávka", "Odeslání dávky",
                             "Příjem dávky", "údržbu dat", "cron"})
      QVERIFY2(text.contains(QString::fromUtf8(part)), part);
    // Closing the main window closes the guide with it.
    window.close();
    QVERIFY(!help->isVisible());
  }

  void AboutBoxShowsNameAndVersion() {
    WindowFixture fixture(false);
    bool checked = false;
    fixture.on_dialog = [&](QDialog& dialog) {
      auto* about = qobject_cast<TfmAbout*>(&dialog);
      QVERIFY(about);
      QCOMPARE(about->windowTitle(), QStringLiteral("O aplikaci"));
      QCOMPARE(about->version_label()->text(), QStringLiteral("Verze: 1.0.0.1"));
      QCOMPARE(about->ok_button()->text(), QStringLiteral("&OK"));
      QVERIFY(about->ok_button()->isDefault());
      QLabel* name = about->findChild<QLabel*>("laNazev");
      QCOMPARE(name->text(), QStringLiteral("Dalimor"));
      QVERIFY(name->font().bold());
      about->ok_button()->click();
      QCOMPARE(about->result(), int(QDialog::Accepted));
      checked = true;
    };
    TfmMain& window = fixture.Open();
    window.findChild<QAction*>("miAbout")->trigger();
    QVERIFY(checked);
  }

  void PicturesOfThePages() {
    const QByteArray dir = qgetenv("DALIMOR_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("set DALIMOR_SCREENSHOT_DIR to write pictures of the pages");
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    const QString prefix = QString::fromLocal8Bit(dir) + "/dalimor-";
    const char* names[] = {"nastaveni", "odeslani", "prijem"};
    for (int tab = 0; tab < 3; ++tab) {
      QVERIFY(window.TabSet1Change(tab));
      Settle();
      QVERIFY(window.grab().save(prefix + names[tab] + ".png"));
    }
    // After a send: the done marks; then the receive page of the batch.
    QVERIFY(window.TabSet1Change(1));
    window.send_page()->all_agendas()->setChecked(true);
    fixture.boxes.Answer(kIdYes);
    window.send_page()->run_button()->click();
    Settle();
    QVERIFY(window.grab().save(prefix + "odeslano.png"));
    QVERIFY(window.TabSet1Change(2));
    Settle();
    QVERIFY(window.grab().save(prefix + "prijem-davky.png"));
    // A hint too long for one line of the status bar.
    QWidget* date_box = window.receive_page()->DateToBox("PF");
    QStatusTipEvent hint(date_box->statusTip());
    QApplication::sendEvent(date_box, &hint);
    Settle();
    QVERIFY(window.grab().save(prefix + "prijem-napoveda.png"));
    fixture.on_dialog = [&](QDialog& dialog) {
      dialog.show();
      Settle();
      QVERIFY(dialog.grab().save(prefix + dialog.objectName() + ".png"));
      dialog.close();
    };
    QTest::mouseClick(window.receive_page()->CountLabel("VF"), Qt::LeftButton);
    window.findChild<QAction*>("miAbout")->trigger();
    window.findChild<QAction*>("miHelp")->trigger();
    Settle();
    QVERIFY(window.help_window());
    QVERIFY(window.help_window()->grab().save(prefix + "napoveda.png"));
  }
};

DALIMOR_REGISTER_SUITE(HelpAboutTest);

}  // namespace dalimor::apptest

#include "help_about_test.moc"
