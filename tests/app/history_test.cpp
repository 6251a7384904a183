// The run log in the window: every run leaves a line, "Soubor → Historie
// přenosů" shows the lines sortably by year, and the receive page takes a
// batch straight from its zip archive.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>

#include "app/history_window.h"
#include "app/qt_text.h"
#include "batch/catalogue.h"
#include "batch/initialisation.h"
#include "engine/paradox/table.h"
#include "tests/app/app_test_support.h"
#include "transfer/run_log.h"

namespace dalimor::apptest {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Line(const std::string& start, const std::string& company,
                              const std::string& result) {
  std::vector<std::string> fields(kRunLogColumnCount);
  fields[0] = start;
  fields[1] = start;
  fields[kRunLogCompanyColumn] = company;
  fields[6] = "příjem";
  fields[9] = result;
  return fields;
}

QStringList Column(const QTableView& table, int column) {
  QStringList texts;
  for (int row = 0; row < table.model()->rowCount(); ++row)
    texts << table.model()->index(row, column).data().toString();
  return texts;
}

}  // namespace

class HistoryTest : public QObject {
  Q_OBJECT

 private slots:
  void TheHistoryShowsTheLinesOfAYearAndSortsThem() {
    WindowFixture fixture(true);
    const std::string folder = fixture.Path("historie");
    QVERIFY(AppendRunLog(folder, 2011, Line("2011-03-14 08:00:00", "Beta", "dokončeno")).empty());
    QVERIFY(AppendRunLog(folder, 2011, Line("2011-03-15 09:00:00", "Alfa", "chyba")).empty());
    QVERIFY(AppendRunLog(folder, 2011, Line("2011-01-02 10:00:00", "Gama", "dokončeno")).empty());
    QVERIFY(AppendRunLog(folder, 2010, Line("2010-12-31 23:00:00", "Delta", "dokončeno")).empty());
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));

    bool checked = false;
    fixture.on_dialog = [&](QDialog& dialog) {
      auto* history = qobject_cast<TfmHistorie*>(&dialog);
      QVERIFY(history);
      QCOMPARE(history->windowTitle(), QStringLiteral("Historie přenosů"));
      QTableView& table = *history->table();
      QVERIFY(table.isSortingEnabled());
      QCOMPARE(table.editTriggers(), QAbstractItemView::NoEditTriggers);
      // The year of "today" (2011), newest first: by time, not by the text
      // the times show as.
      QCOMPARE(table.model()->columnCount(), static_cast<int>(kRunLogColumnCount));
      QCOMPARE(table.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Začátek"));
      QCOMPARE(Column(table, 0), (QStringList{"15.3.2011 9:00:00", "14.3.2011 8:00:00",
                                              "2.1.2011 10:00:00"}));
      QVERIFY(history->empty_label()->isHidden());
      // A click on a column's header sorts by it.
      const int company = static_cast<int>(kRunLogCompanyColumn);
      QTest::mouseClick(table.horizontalHeader()->viewport(), Qt::LeftButton, Qt::NoModifier,
                        QPoint(table.horizontalHeader()->sectionViewportPosition(company) + 5, 5));
      const QStringList sorted = Column(table, company);
      QVERIFY(sorted == (QStringList{"Alfa", "Beta", "Gama"}) ||
              sorted == (QStringList{"Gama", "Beta", "Alfa"}));
      // Two years: the choice is offered, newest first.
      QVERIFY(history->year_box()->isVisibleTo(history));
      QCOMPARE(history->year_box()->count(), 2);
      QCOMPARE(history->year_box()->currentText(), QStringLiteral("2011"));
      history->year_box()->setCurrentIndex(1);
      QCOMPARE(Column(table, company), QStringList{"Delta"});
      checked = true;
    };
    window.findChild<QAction*>("miHistorie")->trigger();
    QCOMPARE(fixture.dialogs_run, 1);
    QVERIFY(checked);
  }

  void TheReceivePageReceivesFromAZipAndEveryRunIsLogged() {
    WindowFixture fixture(true);
    const std::string temporary = fixture.MakeFolder("tmp");
    qputenv("TMPDIR", QByteArray::fromStdString(temporary));
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));

    // The branch sends everything with the archive.
    QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
    window.send_page()->all_agendas()->setChecked(true);
    window.findChild<QCheckBox*>("ckVytvoritArchiv")->setChecked(true);
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(window.send_page()->run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Odeslání dat bylo úspěšně dokončeno."));
    // The archive travels by mail; the transfer folder is emptied.
    const std::string mailed = fixture.MakeFolder("posta") + "/Davka.zip";
    fs::rename(fs::path(folder) / "prenos.zip", mailed);
    DeleteBatchFiles(folder + "/");

    // The head office receives from the zip.
    QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    AgendaPage& receive = *window.receive_page();
    QVERIFY(!receive.archive_box()->isChecked());
    receive.all_agendas()->setChecked(true);
    // Ticked without an archive: asked for one, nothing runs.
    receive.archive_box()->setChecked(true);
    fixture.boxes.shown.clear();
    QTest::mouseClick(receive.run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Vyberte archiv zip, ze kterého se má dávka přijmout."));
    fixture.chosen_archives.push_back(ToQt(mailed));
    QTest::mouseClick(receive.archive_button(), Qt::LeftButton);
    QCOMPARE(receive.archive_path()->text(), ToQt(mailed));
    const std::string praha = fixture.installation() + "/DATA/PRAHA/SDATA/S/Svfh.DB";
    const uint32_t before = ParadoxTable::Open(praha, OpenMode::kReadOnly)->record_count();
    fixture.boxes.Answer(kIdYes);
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(receive.run_button(), Qt::LeftButton);
    Settle();
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte "
                            "údržbu dat."));
    QVERIFY(ParadoxTable::Open(praha, OpenMode::kReadOnly)->record_count() > before);
    QVERIFY(fs::is_empty(temporary));

    // A damaged archive is refused with the reason, nothing written.
    test::WriteFileBytes(mailed, "PK\x03\x04 not a zip");
    const uint32_t received = ParadoxTable::Open(praha, OpenMode::kReadOnly)->record_count();
    QTest::mouseClick(receive.run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(LastBox(fixture.boxes).kind, MsgKind::kWarning);
    QVERIFY(LastBox(fixture.boxes).text.find("nelze přijmout") != std::string::npos);
    QCOMPARE(ParadoxTable::Open(praha, OpenMode::kReadOnly)->record_count(), received);

    // Three runs, three lines; the receives name the archive.
    const auto lines = ReadRunLog(fixture.Path("historie"), 2011);
    QCOMPARE(lines.size(), size_t{3});
    QCOMPARE(lines[0][6], std::string("odeslání"));
    QCOMPARE(lines[1][5], mailed);
    QCOMPARE(lines[1][9], std::string("dokončeno"));
    QVERIFY(lines[1][8].find("Vystavené faktury: ") != std::string::npos);
    QCOMPARE(lines[2][9], std::string("odmítnuto: archiv zip neprošel kontrolou"));
    qunsetenv("TMPDIR");
  }
};

DALIMOR_REGISTER_SUITE(HistoryTest);

}  // namespace dalimor::apptest

#include "history_test.moc"
