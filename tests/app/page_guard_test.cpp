// The page guards: a refused change keeps tab and page whichever way it was
// asked for (menu, Alt + letter, a click on the tab); an allowed one shows
// the page with the focus on its first control.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>

#include "app/guarded_tab_bar.h"
#include "app/qt_text.h"
#include "platform/ini_file.h"
#include "tests/app/app_test_support.h"
#include "tests/support/test_support.h"

namespace dalimor::apptest {

namespace {

enum class Trigger { kMenu, kAltLetter, kClick };

void Ask(TfmMain& window, int tab, Trigger trigger) {
  static const char* const kMenuItems[] = {"miNastaveni", "miOdeslani", "miPrijem"};
  static const Qt::Key kLetters[] = {Qt::Key_N, Qt::Key_O, Qt::Key_P};
  switch (trigger) {
    case Trigger::kMenu:
      window.findChild<QAction*>(kMenuItems[tab])->trigger();
      break;
    case Trigger::kAltLetter:
      QTest::keyClick(&window, kLetters[tab], Qt::AltModifier);
      break;
    case Trigger::kClick:
      QTest::mouseClick(window.tab_bar(), Qt::LeftButton, Qt::NoModifier,
                        window.tab_bar()->tabRect(tab).center());
      break;
  }
  Settle();
}

}  // namespace

class PageGuardTest : public QObject {
  Q_OBJECT

 private slots:
  void RefusedChangesKeepTabAndPage_data() {
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("trigger");
    QTest::addColumn<QString>("message");
    const QString no_data = QStringLiteral("Data programu Kalmeo nejsou k dispozici.");
    const QString no_folder = QStringLiteral("Zadejte složku pro přenos souborů.");
    const QString missing = QStringLiteral("Zadaná složka pro přenos souborů neexistuje.");
    const int menu = static_cast<int>(Trigger::kMenu);
    const int alt = static_cast<int>(Trigger::kAltLetter);
    const int click = static_cast<int>(Trigger::kClick);
    QTest::newRow("no Kalmeo, menu send") << false << "" << 1 << menu << no_data;
    QTest::newRow("no Kalmeo, Alt+P") << false << "" << 2 << alt << no_data;
    QTest::newRow("empty folder, menu send") << true << "" << 1 << menu << no_folder;
    QTest::newRow("empty folder, click receive") << true << "" << 2 << click << no_folder;
    QTest::newRow("missing folder, Alt+P") << true << "missing" << 2 << alt << missing;
    QTest::newRow("missing folder, Alt+O") << true << "missing" << 1 << alt << missing;
    QTest::newRow("missing folder, menu receive") << true << "missing" << 2 << menu << missing;
  }

  void RefusedChangesKeepTabAndPage() {
    QFETCH(bool, demo);
    QFETCH(QString, folder);
    QFETCH(int, tab);
    QFETCH(int, trigger);
    QFETCH(QString, message);
    WindowFixture fixture(demo);
    TfmMain& window = fixture.Open();
    if (!folder.isEmpty()) window.transfer_folder()->setEditText(ToQt(fixture.Path(ToStd(folder))));
    QVERIFY(ShowActive(window));
    Ask(window, tab, static_cast<Trigger>(trigger));
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    const ShownBox box = LastBox(fixture.boxes);
    QCOMPARE(box.kind, MsgKind::kInfo);
    QCOMPARE(box.caption, std::string("Dalimor "));
    QCOMPARE(box.buttons, kMbOk);
    QCOMPARE(ToQt(box.text), message);
    QCOMPARE(window.tab_bar()->currentIndex(), 0);
    QVERIFY(window.settings_page()->isVisible());
    QVERIFY(!window.send_page()->isVisible());
    QVERIFY(!window.receive_page()->isVisible());
  }

  void AllowedChangesShowThePageWithItsFocus() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));

    Ask(window, 1, Trigger::kAltLetter);
    QCOMPARE(window.tab_bar()->currentIndex(), 1);
    QVERIFY(window.send_page()->isVisible());
    QVERIFY(!window.settings_page()->isVisible());
    QCOMPARE(QApplication::focusWidget(), window.send_page()->all_agendas());

    // Entering the receive page reads the batch information afresh.
    IniFile(folder + "/export.ini").WriteString("RecordCount", "SPFH", "12");
    IniFile(folder + "/export.ini").WriteString("LastSend", "CompanyName", "Pobočka Brno");
    Ask(window, 2, Trigger::kMenu);
    QCOMPARE(window.tab_bar()->currentIndex(), 2);
    QVERIFY(window.receive_page()->isVisible());
    QVERIFY(!window.send_page()->isVisible());
    QCOMPARE(QApplication::focusWidget(), window.receive_page()->all_agendas());
    QCOMPARE(window.receive_page()->CountLabel("PF")->text(), QStringLiteral("12"));
    QCOMPARE(window.receive_page()->CountLabel("VF")->text(), QStringLiteral("0"));
    QCOMPARE(window.receive_page()->export_company()->text(), QStringLiteral("Pobočka Brno"));

    Ask(window, 0, Trigger::kClick);
    QCOMPARE(window.tab_bar()->currentIndex(), 0);
    QVERIFY(window.settings_page()->isVisible());
    QCOMPARE(QApplication::focusWidget(), window.companies());
    QVERIFY(fixture.boxes.shown.empty());
  }

  void EveryPageChangeHidesTheDoneMarks() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    window.ShowDoneMarkOf(RunPage::kSend, "PF");
    window.ShowDoneMarkOf(RunPage::kReceive, "Cenik");
    window.SetDoneMarksShown(true);
    Ask(window, 1, Trigger::kMenu);
    QVERIFY(window.send_page()->DoneMark("PF")->isHidden());
    QVERIFY(window.receive_page()->DoneMark("Cenik")->isHidden());
    QVERIFY(!window.done_marks_shown());
  }

  // With the branch active, the head office's tables are no transfer
  // folder: neither the initialisation nor a send nor a receive touches
  // them, and no question is asked first.
  void LiveFoldersOfAnotherCompanyAreRefusedByTheButtons() {
    WindowFixture fixture(true);
    const std::string praha = fixture.installation() + "/DATA/PRAHA/SDATA/S";
    std::map<std::string, std::string> before;
    for (const auto& entry : std::filesystem::directory_iterator(praha))
      before[entry.path().string()] = test::ReadFileBytes(entry.path());
    TfmMain& window = fixture.Open();
    QCOMPARE(window.companies()->currentText(), QStringLiteral("Pobočka Brno"));
    window.transfer_folder()->setEditText(ToQt(praha));
    QVERIFY(ShowActive(window));
    const std::string refused =
        "Zadaná složka pro přenos souborů obsahuje data programu Kalmeo. Zvolte jinou složku.";

    QTest::mouseClick(window.findChild<QPushButton*>("btInicializovat"), Qt::LeftButton);
    Settle();
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QCOMPARE(LastBox(fixture.boxes).text, refused);

    for (const int tab : {1, 2}) {
      fixture.boxes.shown.clear();
      Ask(window, tab, Trigger::kMenu);
      AgendaPage& page = tab == 1 ? *window.send_page() : *window.receive_page();
      QTest::mouseClick(page.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
      page.overwrite()->setChecked(true);
      QTest::mouseClick(page.run_button(), Qt::LeftButton);
      Settle();
      QCOMPARE(fixture.boxes.shown.size(), size_t{1});
      QCOMPARE(LastBox(fixture.boxes).text, refused);
    }
    std::map<std::string, std::string> after;
    for (const auto& entry : std::filesystem::directory_iterator(praha))
      after[entry.path().string()] = test::ReadFileBytes(entry.path());
    QVERIFY(after == before);
  }
};

DALIMOR_REGISTER_SUITE(PageGuardTest);

}  // namespace dalimor::apptest

#include "page_guard_test.moc"
