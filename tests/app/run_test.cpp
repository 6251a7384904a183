// Whole sends and receives on the demo installation through the buttons,
// the initialisation button, and what the window shows while and after a
// run works.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QDialog>
#include <QTableWidget>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <map>

#include "app/guarded_tab_bar.h"
#include "app/qt_text.h"
#include "batch/batch_info.h"
#include "batch/catalogue.h"
#include "engine/paradox/table.h"
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

// Shows the send or the receive page through its tab's shortcut.
AgendaPage& OpenPage(TfmMain& window, bool send) {
  QTest::keyClick(&window, send ? Qt::Key_O : Qt::Key_P, Qt::AltModifier);
  return send ? *window.send_page() : *window.receive_page();
}

// Types into a date box as a person does: the box gets the focus and keeps it.
void Type(QLineEdit* box, const QString& text) {
  box->setFocus();
  QTest::keyClicks(box, text);
}

// Presses the page's run button as a person does: with the mouse (press and
// release arrive together; the press moves the focus to the button) or with
// its shortcut, Alt+S or Alt+T (the button goes down and comes up again from
// a timer, the focus stays where it was).  Returns once the button is up and
// queued work has run; false when the shortcut did not reach the button.
bool PressRun(TfmMain& window, AgendaPage& page, bool mouse) {
  QPushButton* button = page.run_button();
  if (mouse) {
    QTest::mouseClick(button, Qt::LeftButton);
  } else {
    QTest::keyClick(&window, page.kind() == PageKind::kSend ? Qt::Key_S : Qt::Key_T,
                    Qt::AltModifier);
    if (!button->isDown()) return false;
    if (!QTest::qWaitFor([button] { return !button->isDown(); })) return false;
  }
  Settle();
  return true;
}

bool IsEmptyFolder(const std::string& folder) {
  return std::filesystem::is_empty(folder);
}

uint32_t RecordCount(const std::string& path) {
  return ParadoxTable::Open(path, OpenMode::kReadOnly)->record_count();
}

// Opens the window on a fresh transfer folder "prenos" (put in `folder`)
// and goes to the send page (Alt+O) with every agenda ticked; false when the
// window could not be shown.
bool OpenAtSendPageWithEveryAgenda(WindowFixture& fixture, std::string& folder) {
  folder = fixture.MakeFolder("prenos");
  TfmMain& window = fixture.Open();
  window.transfer_folder()->setEditText(ToQt(folder));
  if (!ShowActive(window)) return false;
  QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
  QTest::mouseClick(window.send_page()->all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
  return true;
}

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void SendThenReceiveThroughTheButtons() {
    WindowFixture fixture(true);
    std::string folder;
    // Send everything of Pobočka Brno with a message.
    QVERIFY(OpenAtSendPageWithEveryAgenda(fixture, folder));
    TfmMain& window = fixture.window();
    QCOMPARE(window.tab_bar()->currentIndex(), 1);
    AgendaPage& send = *window.send_page();
    QTest::keyClicks(send.message(), "Ahoj");
    send.message()->appendPlainText("druhý řádek");
    // While the question is open the run has not begun; at the success
    // message every mark and the progress are shown.
    std::vector<std::string> marks_at_success;
    int progress_at_success = -1;
    QString progress_text_at_success;
    bool busy_at_success = false;
    bool busy_at_question = true;
    fixture.boxes.on_show = [&](const ShownBox& box) {
      const bool busy = QApplication::overrideCursor() &&
                        QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      if (box.kind == MsgKind::kQuestion) busy_at_question = busy;
      if (box.text == "Odeslání dat bylo úspěšně dokončeno.") {
        marks_at_success = VisibleMarks(send);
        progress_at_success = window.progress_bar()->value() * 19 / window.progress_bar()->maximum();
        progress_text_at_success = window.progress_bar()->text();
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
    // Every table, the texts of two agendas and the price list: 10 + 7 + 2.
    QCOMPARE(progress_at_success, 19);
    QCOMPARE(progress_text_at_success, QStringLiteral("19 / 19"));
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

  void InvalidDateStopsTheRunBeforeItStarts_data() {
    QTest::addColumn<bool>("send");
    QTest::addColumn<QString>("box_name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("mouse");
    QTest::newRow("send, Alt+S, agenda row") << true << "edPFDatOdO"
                                             << "31.2.10" << false;
    QTest::newRow("send, Alt+S, all-agendas row") << true << "edVseDatDoO"
                                                  << "32.1.2011" << false;
    QTest::newRow("send, mouse click") << true << "edBankaDatDoO"
                                       << "1.13" << true;
    QTest::newRow("receive, Alt+T, agenda row") << false << "edPFDatOdP"
                                                << "31.2.10" << false;
    QTest::newRow("receive, Alt+T, all-agendas row") << false << "edVseDatOdP"
                                                     << "2011-01-01" << false;
    QTest::newRow("receive, mouse click") << false << "edDenikDatDoP"
                                          << "31.4.2011" << true;
  }

  // Whether the run button is pressed with the focus still in the box or
  // takes the focus itself, the run checks every date of its page first.
  void InvalidDateStopsTheRunBeforeItStarts() {
    QFETCH(bool, send);
    QFETCH(QString, box_name);
    QFETCH(QString, typed);
    QFETCH(bool, mouse);
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    AgendaPage& page = OpenPage(window, send);
    QVERIFY(page.isVisible());
    QTest::mouseClick(page.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
    auto* box = page.findChild<QLineEdit*>(box_name);
    QVERIFY(box);
    Type(box, typed);
    // A real message box runs the event loop while it is open.
    fixture.boxes.on_show = [](const ShownBox&) { Settle(); };
    // The run would ask first; no answer is queued, so a question shows up
    // among the unexpected ones.
    QVERIFY(PressRun(window, page, mouse));
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    const ShownBox shown = LastBox(fixture.boxes);
    QCOMPARE(shown.kind, MsgKind::kError);
    QCOMPARE(shown.caption, std::string(kMsgCaption));
    QCOMPARE(ToQt(shown.text), QStringLiteral("Neplatné datum."));
    QCOMPARE(box->text(), QString());
    QCOMPARE(QApplication::focusWidget(), box);
    QVERIFY(IsEmptyFolder(folder));
    QVERIFY(VisibleMarks(page).empty());
  }

  void OnePressReportsOneDate_data() {
    QTest::addColumn<bool>("mouse");
    QTest::newRow("Alt+S") << false;
    QTest::newRow("mouse click") << true;
  }

  // Two invalid dates: the first box in page order is reported, and the box
  // just typed into is not reported as well (neither by the check of leaving
  // it nor by focusing the first); the next press reports it.
  void OnePressReportsOneDate() {
    QFETCH(bool, mouse);
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    AgendaPage& send = OpenPage(window, true);
    // A text no check has seen, as in a box that was never left.
    QLineEdit* all_from = send.DateFromBox(kAllAgendasCode);
    all_from->setText("nesmysl");
    QLineEdit* typed = send.DateToBox("VF");
    Type(typed, "30.2");
    // A real message box runs the event loop while it is open.
    fixture.boxes.on_show = [](const ShownBox&) { Settle(); };
    QVERIFY(PressRun(window, send, mouse));
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QCOMPARE(all_from->text(), QString());
    QCOMPARE(QApplication::focusWidget(), all_from);
    QCOMPARE(typed->text(), QStringLiteral("30.2"));

    QVERIFY(PressRun(window, send, false));
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{2});
    QCOMPARE(ToQt(LastBox(fixture.boxes).text), QStringLiteral("Neplatné datum."));
    QCOMPARE(typed->text(), QString());
    QCOMPARE(QApplication::focusWidget(), typed);
    QVERIFY(IsEmptyFolder(folder));
  }

  void ShortFormsAreCompletedBeforeTheRunReadsThem_data() {
    QTest::addColumn<bool>("send");
    QTest::addColumn<bool>("mouse");
    QTest::newRow("send, Alt+S") << true << false;
    QTest::newRow("send, mouse click") << true << true;
    QTest::newRow("receive, Alt+T") << false << false;
  }

  // Today is 15 March 2011.  The box typed into keeps the focus (or loses
  // it to the button); the others were filled without being left.
  void ShortFormsAreCompletedBeforeTheRunReadsThem() {
    QFETCH(bool, send);
    QFETCH(bool, mouse);
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    AgendaPage& page = OpenPage(window, send);
    page.IncludeBox("PF")->setChecked(true);
    const std::vector<std::pair<QLineEdit*, QString>> expected = {
        {page.DateFromBox(kAllAgendasCode), "01.01.2011"},
        {page.DateToBox("VF"), "17.03.2011"},
        {page.DateFromBox("Obj"), "01.01.2011"},
        {page.DateToBox("Banka"), "15.03.2011"},
        {page.DateFromBox("PF"), "05.03.2011"},
    };
    expected[0].first->setText("1.1");
    expected[1].first->setText("+2");
    expected[2].first->setText("010111");
    expected[3].first->setText("*");
    Type(expected[4].first, "5.3");
    // What the boxes and the rows the run reads hold when the run asks.
    std::vector<QString> at_question;
    std::string pf_from_read;
    fixture.boxes.on_show = [&](const ShownBox& shown) {
      if (shown.kind != MsgKind::kQuestion) return;
      for (const auto& [box, text] : expected) at_question.push_back(box->text());
      pf_from_read = page.Inputs().at("PF").date_from;
    };
    fixture.boxes.Answer(kIdNo);
    QVERIFY(PressRun(window, page, mouse));
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{1});
    QCOMPARE(fixture.boxes.shown[0].kind, MsgKind::kQuestion);
    QCOMPARE(at_question.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) QCOMPARE(at_question[i], expected[i].second);
    QCOMPARE(pf_from_read, std::string("05.03.2011"));
  }

  // A short form the run would not read as a date on its own: typed and
  // sent with Alt+S, it bounds the send (the demo's invoices run from 2009
  // to 2011).
  void ACompletedShortFormBoundsTheSend() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    AgendaPage& send = OpenPage(window, true);
    send.IncludeBox("PF")->setChecked(true);
    Type(send.DateFromBox("PF"), "010111");
    fixture.boxes.Answer(kIdYes);
    QVERIFY(PressRun(window, send, false));
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Odeslání dat bylo úspěšně dokončeno."));
    const uint32_t all =
        RecordCount(window.company_register().CompanyDataFolder() + "SDATA/S/SPFH.DB");
    const uint32_t sent = RecordCount(TransferFolderPath(folder) + "SPFH.DB");
    QVERIFY2(sent > 0 && sent < all, qPrintable(QStringLiteral("%1 of %2").arg(sent).arg(all)));
    QCOMPARE(send.DateFromBox("PF")->text(), QStringLiteral("01.01.2011"));
  }

  // A run works off the interface thread: the window keeps handling
  // events, "Zastavit" stops the run at its next step, and every table is
  // put back byte for byte.
  void ZastavitStopsARunAndPutsEveryTableBack() {
    WindowFixture fixture(true);
    std::string folder;
    QVERIFY(OpenAtSendPageWithEveryAgenda(fixture, folder));
    TfmMain& window = fixture.window();
    AgendaPage& send = *window.send_page();
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(send.run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(ToQt(LastBox(fixture.boxes).text), QStringLiteral("Odeslání dat bylo úspěšně dokončeno."));

    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    const std::string head = fixture.installation() + "/DATA/PRAHA";
    std::map<std::string, std::string> before;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(head))
      if (entry.is_regular_file()) before[entry.path().string()] = test::ReadFileBytes(entry.path());

    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    AgendaPage& receive = *window.receive_page();
    QTest::mouseClick(receive.all_agendas(), Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
    receive.overwrite()->setChecked(true);
    // The interface thread turns while the run works: a timer ticks.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    bool stop_offered = false, pages_blocked = false;
    int ticks_at_stop = -1;
    connect(window.progress_bar(), &QProgressBar::valueChanged, [&](int value) {
      if (value * 19 < 3 * window.progress_bar()->maximum() || ticks_at_stop >= 0) return;
      stop_offered = window.stop_button()->isVisible() && window.stop_button()->isEnabled();
      pages_blocked = !receive.isEnabled();
      ticker.start(0);
      ticks_at_stop = ticks;
      QTest::mouseClick(window.stop_button(), Qt::LeftButton);
    });
    int ticks_at_end = -1;
    bool stop_shown_at_end = true;
    fixture.boxes.on_show = [&](const ShownBox& box) {
      if (box.kind == MsgKind::kWarning && box.buttons == kMbOk) {
        ticks_at_end = ticks;
        stop_shown_at_end = window.stop_button()->isVisible();
      }
    };
    fixture.boxes.Answer(kIdYes);  // receive?
    fixture.boxes.Answer(kIdYes);  // a batch of another company: go on
    QTest::mouseClick(receive.run_button(), Qt::LeftButton);
    Settle();
    QVERIFY(stop_offered);
    QVERIFY(pages_blocked);
    QVERIFY(ticks_at_end > ticks_at_stop);
    QVERIFY(!stop_shown_at_end);  // nothing left to stop beside the closing box
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Příjem dávky byl zastaven.\r\n\r\nData zůstala beze změny."));
    QVERIFY(VisibleMarks(receive).empty());
    QVERIFY(!window.stop_button()->isVisible());
    QVERIFY(receive.isEnabled());
    std::map<std::string, std::string> after;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(head))
      if (entry.is_regular_file()) after[entry.path().string()] = test::ReadFileBytes(entry.path());
    QVERIFY(after == before);
  }

  // Closing the window during a run asks whether to stop it: No lets the
  // run go on, Yes stops it, puts the data back and then closes the window.
  void ClosingTheWindowDuringARunAsksToStopIt() {
    WindowFixture fixture(true);
    std::string folder;
    QVERIFY(OpenAtSendPageWithEveryAgenda(fixture, folder));
    TfmMain& window = fixture.window();
    AgendaPage& send = *window.send_page();
    const std::string batch = TransferFolderPath(folder);
    std::map<std::string, std::string> before;
    for (const auto& entry : std::filesystem::directory_iterator(batch))
      before[entry.path().string()] = test::ReadFileBytes(entry.path());

    // Closed once after two steps (answer No), once after five (Yes).
    int closes = 0;
    connect(window.progress_bar(), &QProgressBar::valueChanged, [&](int value) {
      const int steps = value * 19 / std::max(window.progress_bar()->maximum(), 1);
      if ((closes == 0 && steps >= 2) || (closes == 1 && steps >= 5)) {
        ++closes;
        window.close();
      }
    });
    const QString question =
        QStringLiteral("Probíhá přenos dat. Chcete jej zastavit? Data zůstanou beze změny.");
    fixture.boxes.Answer(kIdYes);  // send?
    fixture.boxes.Answer(kIdNo);   // stop? no
    fixture.boxes.Answer(kIdYes);  // stop? yes
    QTest::mouseClick(send.run_button(), Qt::LeftButton);
    Settle();
    QCOMPARE(closes, 2);
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(fixture.boxes.shown.size(), size_t{4});
    QCOMPARE(ToQt(fixture.boxes.shown[1].text), question);
    QCOMPARE(fixture.boxes.shown[1].buttons, kMbYesNoDefaultNo);
    QCOMPARE(ToQt(fixture.boxes.shown[2].text), question);
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Odesílání dávky bylo zastaveno.\r\n\r\nData zůstala beze změny."));
    QTRY_VERIFY(!window.isVisible());
    std::map<std::string, std::string> after;
    for (const auto& entry : std::filesystem::directory_iterator(batch))
      after[entry.path().string()] = test::ReadFileBytes(entry.path());
    QVERIFY(after == before);
  }

  // "Náhled" on the receive page shows what the receive would do without
  // writing anything; its "Přijmout" then starts the receive itself.
  void PreviewShowsTheFiguresAndCanStartTheReceive() {
    WindowFixture fixture(true);
    std::string folder;
    QVERIFY(OpenAtSendPageWithEveryAgenda(fixture, folder));
    TfmMain& window = fixture.window();
    AgendaPage& send = *window.send_page();
    fixture.boxes.Answer(kIdYes);
    QTest::mouseClick(send.run_button(), Qt::LeftButton);
    Settle();

    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    const std::string head = fixture.installation() + "/DATA/PRAHA";
    std::map<std::string, std::string> before;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(head))
      if (entry.is_regular_file()) before[entry.path().string()] = test::ReadFileBytes(entry.path());
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    AgendaPage& receive = *window.receive_page();
    receive.IncludeBox("VF")->setChecked(true);
    QStringList shown;
    bool unchanged_while_shown = false;
    fixture.on_dialog = [&](QDialog& dialog) {
      auto* table = dialog.findChild<QTableWidget*>("tbNahled");
      QVERIFY(table);
      for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
          cells << table->item(row, column)->text();
        shown << cells.join('|');
      }
      std::map<std::string, std::string> now;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(head))
        if (entry.is_regular_file()) now[entry.path().string()] = test::ReadFileBytes(entry.path());
      unchanged_while_shown = now == before;
      dialog.findChild<QPushButton*>("btNahledPrijmout")->click();
    };
    fixture.boxes.Answer(kIdYes);  // receive?
    fixture.boxes.Answer(kIdYes);  // a batch of another company: go on
    QTest::mouseClick(receive.preview_button(), Qt::LeftButton);
    Settle();
    QVERIFY(unchanged_while_shown);
    QCOMPARE(shown.size(), 3);  // documents, items, texts
    QVERIFY2(shown[0].startsWith(QStringLiteral("Vystavené faktury|doklady|32|0|4")),
             qPrintable(shown.join('\n')));
    QCOMPARE(ToQt(LastBox(fixture.boxes).text),
             QStringLiteral("Příjem dat byl úspěšně dokončen.\r\n\r\nPo spuštění Kalmea proveďte "
                            "údržbu dat."));
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
