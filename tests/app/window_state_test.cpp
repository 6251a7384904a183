// The window-state file: every key written at shut-down and read back at
// start-up, the folder box with its history, the size that is read but
// never written.

#include "app/window_state.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/qt_text.h"
#include "platform/ini_file.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

namespace {

// A distinct value for every control of a page: check boxes alternate
// (the all-agendas box stays unticked so that it does not tick the rest),
// date boxes get different dates.
void FillPage(AgendaPage& page) {
  int n = 0;
  for (const std::string& key : PageStateKeys(page.kind())) {
    QWidget* control = page.findChild<QWidget*>(ToQt(key));
    if (auto* box = qobject_cast<QCheckBox*>(control)) {
      box->setChecked(key != std::string("ckVse") + page.letter() && n % 2 == 0);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      edit->setText(QStringLiteral("%1.01.20%2")
                        .arg(n % 28 + 1, 2, 10, QLatin1Char('0'))
                        .arg(n, 2, 10, QLatin1Char('0')));
    }
    ++n;
  }
}

QString ControlValue(const AgendaPage& page, const std::string& key) {
  QWidget* control = page.findChild<QWidget*>(ToQt(key));
  if (auto* box = qobject_cast<QCheckBox*>(control)) return box->isChecked() ? "1" : "0";
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  return QStringLiteral("?");
}

}  // namespace

class WindowStateTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryKeyIsWrittenInOrderAndRestored() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    FillPage(*window.send_page());
    FillPage(*window.receive_page());
    window.findChild<QCheckBox*>("ckVytvoritArchiv")->setChecked(true);
    window.move(33, 44);
    window.resize(600, 650);
    std::map<std::string, QString> expected;
    for (AgendaPage* page : {window.send_page(), window.receive_page()})
      for (const std::string& key : PageStateKeys(page->kind()))
        expected[std::string(PageSection(page->kind())) + "/" + key] = ControlValue(*page, key);
    fixture.Close();

    const IniFile ini(fixture.state_file());
    QCOMPARE(ini.ReadInteger("fmMain", "L", 0), 33);
    QCOMPARE(ini.ReadInteger("fmMain", "T", 0), 44);
    // The size is not written back.
    QCOMPARE(ini.ReadSection("fmMain"), (std::vector<std::string>{"L", "T"}));
    QCOMPARE(ini.ReadString("DataConnect", "ckVytvoritArchiv", ""), std::string("1"));
    QCOMPARE(ini.ReadString("DataConnect", "CompanyName", "x"), std::string());
    for (const PageKind kind : {PageKind::kSend, PageKind::kReceive}) {
      // On a new file the keys stand in the order they were written.
      std::vector<std::string> keys = PageStateKeys(kind);
      for (const std::string& key : SeriesStateKeys(kind)) keys.push_back(key);
      QCOMPARE(ini.ReadSection(PageSection(kind)), keys);
      for (const std::string& key : PageStateKeys(kind))
        QCOMPARE(ToQt(ini.ReadString(PageSection(kind), key, "?")),
                 expected[std::string(PageSection(kind)) + "/" + key]);
      for (const std::string& key : SeriesStateKeys(kind))
        QCOMPARE(ini.ReadInteger(PageSection(kind), key, 0), -1);
    }

    TfmMain& again = fixture.Open();
    QCOMPARE(again.pos(), QPoint(33, 44));
    QCOMPARE(again.size(), QSize(474, 587));
    QVERIFY(again.findChild<QCheckBox*>("ckVytvoritArchiv")->isChecked());
    for (AgendaPage* page : {again.send_page(), again.receive_page()})
      for (const std::string& key : PageStateKeys(page->kind()))
        QCOMPARE(ControlValue(*page, key),
                 expected[std::string(PageSection(page->kind())) + "/" + key]);
  }

  void StoredSizeIsUsedAtStartUp() {
    WindowFixture fixture(false);
    IniFile ini(fixture.state_file());
    ini.WriteInteger("fmMain", "W", 520);
    ini.WriteInteger("fmMain", "H", 0x2A0);
    TfmMain& window = fixture.Open();
    QCOMPARE(window.size(), QSize(520, 672));
  }

  void RestoredAllAgendasBoxFollowsTheAgendas() {
    WindowFixture fixture(false);
    IniFile ini(fixture.state_file());
    ini.WriteBool("Odeslani", "ckVseO", true);
    ini.WriteBool("Odeslani", "ckBankaO", false);
    ini.WriteBool("Odeslani", "ckPFO", true);
    ini.WriteBool("Prijem", "ckVseP", true);
    for (const Agenda& agenda : Agendas())
      ini.WriteBool("Prijem", "ck" + std::string(agenda.code) + "P", true);
    TfmMain& window = fixture.Open();
    QVERIFY(!window.send_page()->all_agendas()->isChecked());
    QVERIFY(!window.send_page()->IncludeBox("Banka")->isChecked());
    QVERIFY(window.send_page()->IncludeBox("PF")->isChecked());
    // Agendas without a saved value read as false and untick it too.
    QVERIFY(!window.send_page()->IncludeBox("VF")->isChecked());
    QVERIFY(window.receive_page()->all_agendas()->isChecked());
    for (const Agenda& agenda : Agendas())
      QVERIFY(window.receive_page()->IncludeBox(agenda.code)->isChecked());
  }

  void FolderHistoryLoadsGapsAndSavesWithout() {
    WindowFixture fixture(false);
    IniFile ini(fixture.state_file());
    ini.WriteString("SendPathHist", "SendPathDir", "/data/prenos");
    ini.WriteInteger("SendPathHist", "SendPathDirHistoryCount", 2);
    ini.WriteString("SendPathHist", "SendPathDirHistory0", "/data/stara");
    ini.WriteString("SendPathHist", "SendPathDirHistory5", "/data/jina");
    TfmMain& window = fixture.Open();
    QComboBox* box = window.transfer_folder();
    QCOMPARE(box->currentText(), QStringLiteral("/data/prenos"));
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), QStringLiteral("/data/stara"));
    QCOMPARE(box->itemText(1), QString());
    fixture.Close();
    const IniFile saved(fixture.state_file());
    QCOMPARE(saved.ReadInteger("SendPathHist", "SendPathDirHistoryCount", 0), 1);
    QCOMPARE(saved.ReadString("SendPathHist", "SendPathDirHistory0", ""),
             std::string("/data/stara"));
    QCOMPARE(saved.ReadString("SendPathHist", "SendPathDir", ""), std::string("/data/prenos"));
    // Entries above the count stay in the file and are ignored.
    QCOMPARE(saved.ReadString("SendPathHist", "SendPathDirHistory5", ""),
             std::string("/data/jina"));
  }

  void BrowsingTheSameFolderTwiceListsItTwice() {
    WindowFixture fixture(false);
    const QString folder = ToQt(fixture.MakeFolder("prenos"));
    fixture.chosen_folders = {folder, folder, QString()};
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    auto* browse = window.findChild<QPushButton*>("btProchazet");
    for (int i = 0; i < 3; ++i) {
      QTest::mouseClick(browse, Qt::LeftButton);
      Settle();
    }
    QComboBox* box = window.transfer_folder();
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), folder);
    QCOMPARE(box->itemText(1), folder);
    QCOMPARE(box->currentText(), folder);
    fixture.Close();
    const IniFile saved(fixture.state_file());
    QCOMPARE(saved.ReadInteger("SendPathHist", "SendPathDirHistoryCount", 0), 2);
    QCOMPARE(ToQt(saved.ReadString("SendPathHist", "SendPathDirHistory1", "")), folder);
  }

  void TypingAFolderDoesNotAddItToTheHistory() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    QComboBox* box = window.transfer_folder();
    box->setFocus();
    QTest::keyClicks(box, ToQt(fixture.MakeFolder("psano")));
    QTest::keyClick(box, Qt::Key_Return);
    Settle();
    QCOMPARE(box->count(), 0);
  }

  void LeavingTheFolderBoxChecksTheFolder() {
    WindowFixture fixture(true);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    QComboBox* box = window.transfer_folder();
    // Empty: no message.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Tab);
    Settle();
    QVERIFY(fixture.boxes.shown.empty());
    // Missing: an error, the text stays, the focus moves on.
    box->setFocus();
    box->setEditText(ToQt(fixture.Path("nikde")));
    QTest::keyClick(box, Qt::Key_Tab);
    Settle();
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QCOMPARE(LastBox(fixture.boxes).kind, MsgKind::kError);
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Zadaná složka pro přenos souborů neexistuje."));
    QCOMPARE(box->currentText(), ToQt(fixture.Path("nikde")));
    QVERIFY(QApplication::focusWidget() != box && !box->isAncestorOf(QApplication::focusWidget()));
    // Existing: the send series boxes are filled from the register.
    box->setFocus();
    box->setEditText(ToQt(fixture.MakeFolder("prenos")));
    QTest::keyClick(box, Qt::Key_Tab);
    Settle();
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QComboBox* series = window.send_page()->SeriesBox("PF");
    QVERIFY(series->count() >= 3);
    QCOMPARE(series->itemText(0), QStringLiteral(" "));
    QVERIFY(series->findText("FP") > 0);
  }

  void SeriesPositionsAreSavedAndRestoredByPosition() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    IniFile(fixture.state_file()).WriteString("SendPathHist", "SendPathDir", folder);
    TfmMain& window = fixture.Open();
    QComboBox* pf = window.send_page()->SeriesBox("PF");
    QVERIFY(pf->count() >= 3);
    pf->setCurrentIndex(2);
    const QString chosen = pf->currentText();
    window.send_page()->SeriesBox("Denik")->setCurrentIndex(0);
    fixture.Close();
    const IniFile saved(fixture.state_file());
    QCOMPARE(saved.ReadInteger("Odeslani", "cbPFDRO", 0), 2);
    QCOMPARE(saved.ReadInteger("Odeslani", "cbDenikDRO", 9), 0);
    QCOMPARE(saved.ReadInteger("Prijem", "cbPFDRP", 0), -1);
    TfmMain& again = fixture.Open();
    QCOMPARE(again.send_page()->SeriesBox("PF")->currentText(), chosen);
    // Restoring does not run the change handler: the blank entry stays " ".
    QCOMPARE(again.send_page()->SeriesBox("Denik")->currentText(), QStringLiteral(" "));
  }
};

DALIMOR_REGISTER_SUITE(WindowStateTest);

}  // namespace dalimor::apptest

#include "window_state_test.moc"
