// Start-up and shut-down of the main window: first start, the company
// register of the demo installation, the two reasons to end at once.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

#include "app/guarded_tab_bar.h"
#include "app/qt_text.h"
#include "engine/engine_config.h"
#include "platform/ini_file.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

class StartUpTest : public QObject {
  Q_OBJECT

 private slots:
  // Where the state files are is WindowStateTest's; the command line
  // takes them from StateFilesFor, also with another installation.
  void CommandLine() {
    const StateFiles files = StateFilesFor("/opt/dalimor/dalimor");
    AppOptions options;
    QString error;
    QVERIFY(ParseProgramArguments({"dalimor"}, "/opt/dalimor/dalimor", options, error));
    QCOMPARE(options.executable_folder, std::string("/opt/dalimor"));
    QCOMPARE(options.state_file, files.state_file);
    QCOMPARE(options.earlier_state_file, files.earlier_state_file);
    QVERIFY(ParseProgramArguments({"dalimor", "--installation", "/srv/kalmeo"},
                                  "/opt/dalimor/dalimor", options, error));
    QCOMPARE(options.executable_folder, std::string("/srv/kalmeo"));
    QCOMPARE(options.state_file, files.state_file);
    QCOMPARE(options.earlier_state_file, files.earlier_state_file);
    QVERIFY(!ParseProgramArguments({"dalimor", "--installation"}, "/opt/dalimor/dalimor", options,
                                   error));
    QVERIFY(!ParseProgramArguments({"dalimor", "--jinak"}, "/opt/dalimor/dalimor", options, error));
  }

  void FirstStartWithoutStateFileUsesTheDefaults() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QCOMPARE(window.pos(), QPoint(20, 20));
    QCOMPARE(window.size(), QSize(474, 587));
    QCOMPARE(window.minimumSize(), QSize(469, 587));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.settings_page()->isVisibleTo(&window));
    QVERIFY(!window.send_page()->isVisibleTo(&window));
    QVERIFY(!window.receive_page()->isVisibleTo(&window));
    QCOMPARE(window.tab_bar()->currentIndex(), 0);
    QCOMPARE(window.transfer_folder()->currentText(), QString());
    for (AgendaPage* page : {window.send_page(), window.receive_page()}) {
      for (QCheckBox* box : page->findChildren<QCheckBox*>())
        QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
      for (QLineEdit* box : page->DateBoxes()) QVERIFY(box->text().isEmpty());
      for (const Agenda& agenda : Agendas()) QVERIFY(page->DoneMark(agenda.code)->isHidden());
    }
    // Without Kalmeo's data: no company, empty brackets, empty locations.
    QCOMPARE(window.windowTitle(), QStringLiteral("Dalimor  []"));
    QCOMPARE(window.companies()->count(), 0);
    QCOMPARE(window.findChild<QLabel*>("laUmisteniDat")->text(), QString());
    QCOMPARE(window.findChild<QLabel*>("laUmisteniDatFirmy")->text(), QString());
    QVERIFY(fixture.boxes.shown.empty());
    QVERIFY(!window.termination_requested());
  }

  void DemoInstallationFillsTheCompanyBox() {
    WindowFixture fixture(true);
    TfmMain& window = fixture.Open();
    QCOMPARE(window.companies()->count(), 2);
    QCOMPARE(window.companies()->itemText(0), QStringLiteral("Pobočka Brno"));
    QCOMPARE(window.companies()->itemText(1), QStringLiteral("Centrála Praha"));
    QCOMPARE(window.companies()->currentIndex(), 0);
    QCOMPARE(window.windowTitle(), QStringLiteral("Dalimor  [Pobočka Brno]"));
    const QString installation = ToQt(fixture.installation());
    QCOMPARE(window.findChild<QLabel*>("laUmisteniDat")->text(), installation + "/");
    QVERIFY(window.findChild<QLabel*>("laUmisteniDatFirmy")->text().endsWith("/DATA/BRNO/"));
    QVERIFY(fixture.boxes.shown.empty());
  }

  void RememberedCompanyIsChosenAndAnUnknownOneFallsBackToTheFirst() {
    const struct {
      const char* remembered;
      int index;
      const char* title;
    } cases[] = {{"Centrála Praha", 1, "Dalimor  [Centrála Praha]"},
                 {"Zrušená firma", 0, "Dalimor  [Pobočka Brno]"}};
    for (const auto& c : cases) {
      WindowFixture fixture(true);
      IniFile(fixture.state_file()).WriteString("DataConnect", "CompanyName", c.remembered);
      TfmMain& window = fixture.Open();
      QCOMPARE(window.companies()->currentIndex(), c.index);
      QCOMPARE(window.windowTitle(), QString::fromUtf8(c.title));
    }
  }

  void ChoosingACompanyChangesTitleAndDataFolder() {
    WindowFixture fixture(true);
    TfmMain& window = fixture.Open();
    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    QCOMPARE(window.windowTitle(), QStringLiteral("Dalimor  [Centrála Praha]"));
    QVERIFY(window.findChild<QLabel*>("laUmisteniDatFirmy")->text().endsWith("/DATA/PRAHA/"));
    fixture.Close();
    QCOMPARE(ToQt(IniFile(fixture.state_file()).ReadString("DataConnect", "CompanyName", "")),
             QStringLiteral("Centrála Praha"));
  }

  void DirectoryControlledByAnotherProgramWarnsAndEnds() {
    WindowFixture fixture(true);
    // A lock file naming another network control folder, as a running
    // Kalmeo leaves it.
    std::string lock(0x400, '\0');
    const std::string net_dir = "C:\\JINY\\";
    lock.replace(0x6E, net_dir.size(), net_dir);
    lock.replace(0x10D, 4, "ABCD");
    test::WriteFileBytes(
        std::filesystem::path(fixture.installation()) / "DataPrg" / "GDATA" / "S" / "PDOXUSRS.LCK",
        lock);
    IniFile(fixture.state_file()).WriteInteger("fmMain", "L", 77);
    TfmMain& window = fixture.Open();
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    const ShownBox box = fixture.boxes.shown[0];
    QCOMPARE(box.kind, MsgKind::kWarning);
    QCOMPARE(box.caption, std::string("Dalimor "));
    QCOMPARE(box.buttons, kMbOk);
    QCOMPARE(ToQt(box.text),
             QStringLiteral("Data programu nelze připojit. Pravděpodobně je spuštěn program "
                            "Kalmeo.\r\nPokud ano, ukončete Kalmeo a spusťte program Dalimor "
                            "znovu."));
    QVERIFY(window.termination_requested());
    QCOMPARE(window.windowTitle(), QStringLiteral("Dalimor  []"));
    // The end comes once the event loop runs; shut-down stores the state.
    window.show();
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(IniFile(fixture.state_file()).ReadInteger("fmMain", "L", 0), 77);
    QCOMPARE(IniFile(fixture.state_file()).ReadString("DataConnect", "CompanyName", "x"), "");
  }

  void LanguageDriverOtherThanLowerCaseAnczechwIsRewrittenAndEnds() {
    for (const char* wrong : {"ANCZECHW", "ascii"}) {
      WindowFixture fixture(true);
      EngineConfig config(fixture.engine_config());
      WriteEngineConfigEntry(config, kLangDriverParameter, wrong);
      TfmMain& window = fixture.Open();
      QCOMPARE(fixture.boxes.shown.size(), size_t{1});
      const ShownBox box = fixture.boxes.shown[0];
      QCOMPARE(box.kind, MsgKind::kInfo);
      QCOMPARE(box.caption, std::string("Dalimor"));
      QVERIFY(box.text.find("\r\nPARADOX\\LANGDRIVER=" + std::string(wrong) + "\r\n") !=
              std::string::npos);
      QVERIFY(box.text.rfind("Nastavení prostředí BDE\r\n\r\n", 0) == 0);
      QCOMPARE(ReadEngineConfigEntry(EngineConfig(fixture.engine_config()), kLangDriverParameter),
               std::string("anczechw"));
      QVERIFY(window.termination_requested());
      // The rest of start-up still ran.
      QCOMPARE(window.windowTitle(), QStringLiteral("Dalimor  [Pobočka Brno]"));
    }
  }
};

DALIMOR_REGISTER_SUITE(StartUpTest);

}  // namespace dalimor::apptest

#include "start_up_test.moc"
