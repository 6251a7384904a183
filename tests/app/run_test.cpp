// Whole sends and receives on the demo installation through the buttons,
// the initialisation button, and what the window shows while and after a
// run works.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <filesystem>

#include "app/guarded_tab_bar.h"
#include "app/qt_text.h"
#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

namespace {

std::vector<std::string> VisibleMarks(const AgendaPage& page) {
  std::vector<std::string> marks;
  for (const Agenda& agenda : Agendas())
    if (!page.DoneMark(agenda.code)->isHidden()) marks.emplace_back(agenda.code);
  return marks;
}

std::vector<std::string> AllCodes() {
  std::vector<std::string> codes;
  for (const Agenda& agenda : Agendas()) codes.emplace_back(agenda.code);
  return codes;
}

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void SendThenReceiveThroughTheButtons() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));

    // Send everything of Pobočka Brno with a message.
    QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
    QCOMPARE(window.tab_bar()->currentIndex(), 1);
    AgendaPage& send = *window.send_page();
    QTest::mouseClick(send.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
    QTest::keyClicks(send.message(), "Ahoj");
    send.message()->appendPlainText("druhý řádek");
    // While the question is open the run has not begun; at the success
    // message every mark and the progress are shown.
    std::vector<std::string> marks_at_success;
    int progress_at_success = -1;
    bool busy_at_success = false;
    bool busy_at_question = true;
    fixture.boxes.on_show = [&](const ShownBox& box) {
      const bool busy = QApplication::overrideCursor() &&
                        QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      if (box.kind == MsgKind::kQuestion) busy_at_question = busy;
      if (box.text == "Odeslání dat bylo úspěšně dokončeno.") {
        marks_at_success = VisibleMarks(send);
        progress_at_success = window.progress_bar()->value();
        busy_at_success = busy;
      }
    };
    // The archive is packed at the end of the send.
    window.findChild<QCheckBox*>("ckVytvoritArchiv")->setChecked(true);
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(send.run_button(), Qt::LeftButton);
    Settle();
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{2});
    QCOMPARE(fixture.boxes.shown[0].kind, MsgKind::kQuestion);
    QCOMPARE(fixture.boxes.shown[0].buttons, kMbYesNo);
    QCOMPARE(ToQt(fixture.boxes.shown[0].text), QStringLiteral("Chcete dávku skutečně odeslat?"));
    QCOMPARE(LastBox(fixture.boxes).kind, MsgKind::kInfo);
    QCOMPARE(marks_at_success, AllCodes());
    QCOMPARE(progress_at_success, 10);
    QVERIFY(!busy_at_question);
    QVERIFY(busy_at_success);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(std::filesystem::exists(std::filesystem::path(folder) / "prenos.zip"));
    QCOMPARE(VisibleMarks(send), AllCodes());
    QVERIFY(window.done_marks_shown());
    QVERIFY(window.progress_bar()->isHidden());
    QCOMPARE(window.statusBar()->currentMessage(), QString());
    QVERIFY(BatchTablesExist(TransferFolderPath(folder), false));
    const BatchInfo info = ReadBatchInfo(TransferFolderPath(folder));
    QCOMPARE(info.company_name, std::string("Pobočka Brno"));
    QCOMPARE(info.message, std::string("Ahoj\r\ndruhý řádek"));
    QVERIFY(info.CountOf("PF") != "0");
    // The receive series were refilled from the batch just written.
    QVERIFY(window.receive_page()->SeriesBox("PF")->count() >= 2);

    // Receive it into Centrála Praha.
    QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
    QCOMPARE(window.tab_bar()->currentIndex(), 0);
    QVERIFY(VisibleMarks(send).empty());
    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    QCOMPARE(window.tab_bar()->currentIndex(), 2);
    AgendaPage& receive = *window.receive_page();
    QCOMPARE(ToStd(receive.CountLabel("PF")->text()), info.CountOf("PF"));
    QCOMPARE(ToStd(receive.CountLabel("Cenik")->text()), info.CountOf("Cenik"));
    QCOMPARE(receive.export_company()->text(), QStringLiteral("Pobočka Brno"));
    QCOMPARE(receive.message()->toPlainText(), QStringLiteral("Ahoj\ndruhý řádek"));
    QTest::mouseClick(receive.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
    fixture.boxes.shown.clear();
    fixture.boxes.on_show = nullptr;
    fixture.boxes.Answer(kIdYes);  // receive?
    fixture.boxes.Answer(kIdYes);  // a batch of another company: go on
    QTest::mouseClick(receive.run_button(), Qt::LeftButton);
    Settle();
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{3});
    QCOMPARE(fixture.boxes.shown[0].buttons, kMbYesNoDefaultNo);
    QCOMPARE(fixture.boxes.shown[1].kind, MsgKind::kWarning);
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte "
                            "údržbu dat."));
    QCOMPARE(VisibleMarks(receive), AllCodes());
    QVERIFY(VisibleMarks(send).empty());
    QVERIFY(window.done_marks_shown());
  }

  void SendWithNothingTickedSaysSo() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    window.findChild<QAction*>("miOdeslani")->trigger();
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(window.send_page()->run_button(), Qt::LeftButton);
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Ve výběru pro odeslání není obsažena žádná agenda."));
    QVERIFY(!window.done_marks_shown());
    // Answering No to the question changes nothing.
    window.send_page()->IncludeBox("PF")->setChecked(true);
    fixture.boxes.Answer(kIdNo);
    QTest::mouseClick(window.send_page()->run_button(), Qt::LeftButton);
    QCOMPARE(LastBox(fixture.boxes).kind, MsgKind::kQuestion);
    QVERIFY(!BatchTablesExist(TransferFolderPath(folder), true));
  }

  void InitialisationRefusalsMoveTheFocusToTheFolderBox() {
    WindowFixture fixture(true);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    auto* initialise = window.findChild<QPushButton*>("btInicializovat");
    for (const std::string& text : {std::string(), fixture.Path("nikde")}) {
      window.transfer_folder()->setEditText(ToQt(text));
      window.companies()->setFocus();
      fixture.boxes.shown.clear();
      QTest::mouseClick(initialise, Qt::LeftButton);
      Settle();
      QVERIFY(!fixture.boxes.shown.empty());
      QCOMPARE(fixture.boxes.shown.front().kind, MsgKind::kInfo);
      QVERIFY(window.transfer_folder()->hasFocus() ||
              window.transfer_folder()->isAncestorOf(QApplication::focusWidget()));
    }
  }

  void InitialisationCreatesTheBatchAndFillsTheSeries() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    QTest::mouseClick(window.findChild<QPushButton*>("btInicializovat"), Qt::LeftButton);
    Settle();
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Inicializace byla úspěšně dokončena."));
    QVERIFY(BatchTablesExist(TransferFolderPath(folder), false));
    QVERIFY(window.send_page()->SeriesBox("VF")->findText("FV") > 0);
    // An empty batch: the receive boxes hold only the blank entry.
    QCOMPARE(window.receive_page()->SeriesBox("VF")->count(), 1);
  }
};

DALIMOR_REGISTER_SUITE(RunTest);

}  // namespace dalimor::apptest

#include "run_test.moc"
