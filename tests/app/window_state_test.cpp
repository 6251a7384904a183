// The window-state file: every key written at shut-down and read back at
// start-up, the folder box with its history, the size that is read but
// never written; where the file is kept, also when the program's folder
// cannot be written.

#include "app/window_state.h"

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

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

// A folder for the program that the test cannot write to, as an installed
// program's folder is to its user: a read-only folder, or, where permission
// bits stop nobody (tests run as root), a path below a regular file.
std::string UnwritableProgramFolder(const WindowFixture& fixture) {
  namespace fs = std::filesystem;
  const std::string folder = fixture.MakeFolder("program");
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
  if (access(folder.c_str(), W_OK) != 0) return folder;
  const std::string file = fixture.Path("program-file");
  test::WriteFileBytes(file, "");
  return file;
}

QString ShownTexts(const ScriptedBoxes& boxes) {
  QStringList texts;
  for (const ShownBox& box : boxes.shown) texts << ToQt(box.text);
  return texts.join(QStringLiteral(" | "));
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

  void StateFilesAreInTheUserConfigurationFolder() {
    test::ScopedEnvironmentVariable home("HOME", "/home/ucetni");
    {
      test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", "/srv/nastaveni");
      const StateFiles files = StateFilesFor("/opt/dalimor/dalimor");
      QCOMPARE(files.state_file, std::string("/srv/nastaveni/dalimor/dalimor.ini"));
      QCOMPARE(files.earlier_state_file, std::string("/opt/dalimor/dalimor.INI"));
    }
    test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", nullptr);
    QCOMPARE(StateFilesFor("/opt/dalimor/dalimor").state_file,
             std::string("/home/ucetni/.config/dalimor/dalimor.ini"));
  }

  // Installed where its user cannot write, the program keeps its settings
  // in the configuration folder (created at need) from one start to the next.
  void StateIsKeptWhenTheProgramFolderCannotBeWritten() {
    WindowFixture fixture(false);
    const std::string config = fixture.Path("nastaveni");
    test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", config.c_str());
    fixture.executable = UnwritableProgramFolder(fixture) + "/dalimor";
    TfmMain& window = fixture.Open();
    window.findChild<QCheckBox*>("ckVytvoritArchiv")->setChecked(true);
    window.send_page()->IncludeBox("PF")->setChecked(true);
    window.transfer_folder()->setEditText(QStringLiteral("/home/ucetni/prenos"));
    window.move(61, 62);
    // Closed as a person closes it: a state that cannot be written is
    // reported then.
    window.close();
    fixture.Close();
    QVERIFY2(fixture.boxes.shown.empty(), qPrintable(ShownTexts(fixture.boxes)));
    QVERIFY(std::filesystem::is_regular_file(config + "/dalimor/dalimor.ini"));

    TfmMain& again = fixture.Open();
    QVERIFY(again.findChild<QCheckBox*>("ckVytvoritArchiv")->isChecked());
    QVERIFY(again.send_page()->IncludeBox("PF")->isChecked());
    QCOMPARE(again.transfer_folder()->currentText(), QStringLiteral("/home/ucetni/prenos"));
    QCOMPARE(again.pos(), QPoint(61, 62));
    QVERIFY2(fixture.boxes.shown.empty(), qPrintable(ShownTexts(fixture.boxes)));
  }

  // A state file beside the program (a portable copy) is read at the first
  // start; from then on the state is in the configuration folder, the file
  // beside the program stays as it was, and keys the window only reads
  // come along.
  void StateBesideTheProgramIsReadOnce() {
    WindowFixture fixture(false);
    const std::string config = fixture.Path("nastaveni");
    test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", config.c_str());
    const std::string program = fixture.MakeFolder("prenosny");
    const std::string beside = program + "/dalimor.INI";
    {
      IniFile ini(beside);
      ini.WriteInteger("fmMain", "L", 71);
      ini.WriteInteger("fmMain", "T", 72);
      ini.WriteInteger("fmMain", "W", 520);
      ini.WriteBool("DataConnect", "ckVytvoritArchiv", true);
      ini.WriteString("SendPathHist", "SendPathDir", "/mnt/usb/prenos");
    }
    const std::string before = test::ReadFileBytes(beside);
    fixture.executable = program + "/dalimor";

    TfmMain& window = fixture.Open();
    QCOMPARE(window.pos(), QPoint(71, 72));
    QCOMPARE(window.width(), 520);
    QCOMPARE(window.transfer_folder()->currentText(), QStringLiteral("/mnt/usb/prenos"));
    QCheckBox* archive = window.findChild<QCheckBox*>("ckVytvoritArchiv");
    QVERIFY(archive->isChecked());
    archive->setChecked(false);
    window.close();
    fixture.Close();
    QVERIFY2(fixture.boxes.shown.empty(), qPrintable(ShownTexts(fixture.boxes)));
    QCOMPARE(test::ReadFileBytes(beside), before);
    const IniFile saved(config + "/dalimor/dalimor.ini");
    QCOMPARE(saved.ReadString("DataConnect", "ckVytvoritArchiv", ""), std::string("0"));
    QCOMPARE(saved.ReadInteger("fmMain", "W", 0), 520);

    TfmMain& again = fixture.Open();
    QVERIFY(!again.findChild<QCheckBox*>("ckVytvoritArchiv")->isChecked());
    QCOMPARE(again.width(), 520);
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
