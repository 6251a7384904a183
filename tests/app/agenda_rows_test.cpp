// The agenda rows of the send and receive pages: names, captions and hints,
// the all-agendas rules with their focus condition, fill dates, date
// completion when a box is left, the blank series entry and the done marks.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolButton>

#include "app/qt_text.h"
#include "app/window_state.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

namespace {

QString Hint(const QWidget* widget) {
  return widget->property("hint").toString();
}

// A click with the mouse, which also gives the box the focus.
void Click(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
}

std::vector<QCheckBox*> AgendaBoxes(const AgendaPage& page) {
  std::vector<QCheckBox*> boxes;
  for (const Agenda& agenda : Agendas()) boxes.push_back(page.IncludeBox(agenda.code));
  return boxes;
}

}  // namespace

class AgendaRowsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    fixture_ = std::make_unique<WindowFixture>(false);
    fixture_->Open();
    QVERIFY(ShowActive(fixture_->window()));
  }
  void cleanup() {
    QVERIFY(fixture_->boxes.unexpected.empty());
    fixture_.reset();
  }

  void EveryControlCarriesItsName() {
    for (AgendaPage* page : Pages()) {
      for (const std::string& name : PageStateKeys(page->kind()))
        QVERIFY2(page->findChild<QWidget*>(ToQt(name)), name.c_str());
      for (const std::string& name : SeriesStateKeys(page->kind()))
        QVERIFY2(page->findChild<QComboBox*>(ToQt(name)), name.c_str());
      for (const Agenda& agenda : Agendas()) {
        const std::string code(agenda.code);
        QVERIFY(page->findChild<QLabel*>(ToQt("im" + code + page->letter())));
        const bool counted = page->kind() == PageKind::kReceive;
        QCOMPARE(page->findChild<QLabel*>(ToQt("la" + code + "Poc")) != nullptr, counted);
      }
    }
    QVERIFY(Send().findChild<QPushButton*>("btOdeslat"));
    QVERIFY(Receive().findChild<QPushButton*>("btPrijmout"));
    QVERIFY(Send().findChild<QPlainTextEdit*>("mePoznO"));
    QVERIFY(Receive().findChild<QPlainTextEdit*>("mePoznP"));
    QVERIFY(!Receive().findChild<QPlainTextEdit*>("mePoznP")->isEnabled());
    QVERIFY(Receive().findChild<QLabel*>("laExportDatum"));
    QVERIFY(Receive().findChild<QLabel*>("laExportFirma"));
    QVERIFY(!Receive().findChild<QCheckBox*>("ckDoklSmazatP"));
  }

  void CaptionsAndHints() {
    QCOMPARE(Send().IncludeBox("PZ")->text(), QStringLiteral("Pohledávky z závazky"));
    QCOMPARE(
        Hint(Send().IncludeBox("PF")),
        QStringLiteral("Zaškrtněte, pokud chcete do odeslání zahrnout agendu Přijaté faktury."));
    QCOMPARE(Hint(Receive().IncludeBox("Denik")),
             QStringLiteral("Zaškrtněte, pokud chcete do příjmu zahrnout agendu Deník."));
    // Rows and boxes without a hint of their own.
    QCOMPARE(Hint(Send().all_agendas()), QString());
    QCOMPARE(Hint(Receive().IncludeBox("Cenik")), QString());
    QCOMPARE(Hint(Send().DateFromBox(kAllAgendasCode)), QString());
    QCOMPARE(Hint(Receive().DateToBox("Banka")),
             QStringLiteral("Datum (okamžik vystavení účetního dokladu), do kterého budou doklady "
                            "přijaty.\r\nPři nevyplněném údaji bude podmínka z horní strany "
                            "neohraničená."));
    // The from boxes of stock movements and orders have no second line.
    QCOMPARE(Hint(Send().DateFromBox("SklOper")),
             QStringLiteral("Datum (datum vystavení dokladu), od kterého budou doklady odeslány."));
    QVERIFY(!Hint(Receive().fill_dates_button()).endsWith('.'));
    QCOMPARE(Receive().price_list_all()->text(), QStringLiteral("Příjmout všechny položky ceníku"));
    // The tooltip shows the line break, the status bar one line; the hint
    // of the control under the mouse goes to the status bar.
    QLineEdit* box = Send().DateFromBox("PF");
    QCOMPARE(box->toolTip().count('\n'), 1);
    QVERIFY(!box->statusTip().contains('\n'));
    QStatusTipEvent tip(box->statusTip());
    QApplication::sendEvent(box, &tip);
    QCOMPARE(fixture_->window().statusBar()->currentMessage(), box->statusTip());
    QCOMPARE(Send().SeriesBox("PZ")->maxVisibleItems(), 18);
    QCOMPARE(Send().SeriesBox("Denik")->maxVisibleItems(), 30);
    QCOMPARE(Receive().SeriesBox("PF")->maxVisibleItems(), 8);
  }

  void TickingAllAgendasTicksTheTenAndUntickingByHandUnticksThem() {
    for (AgendaPage* page : Pages()) {
      Visit(page);
      Click(page->all_agendas());
      QVERIFY(page->all_agendas()->isChecked());
      for (QCheckBox* box : AgendaBoxes(*page))
        QVERIFY2(box->isChecked(), qPrintable(box->objectName()));
      Click(page->all_agendas());
      QVERIFY(!page->all_agendas()->isChecked());
      for (QCheckBox* box : AgendaBoxes(*page)) QVERIFY(!box->isChecked());
    }
  }

  void UntickingOneAgendaUnticksOnlyTheAllAgendasBox() {
    for (AgendaPage* page : Pages()) {
      Visit(page);
      Click(page->all_agendas());
      Click(page->IncludeBox("Banka"));
      QVERIFY(!page->IncludeBox("Banka")->isChecked());
      QVERIFY(!page->all_agendas()->isChecked());
      for (QCheckBox* box : AgendaBoxes(*page))
        if (box != page->IncludeBox("Banka"))
          QVERIFY2(box->isChecked(), qPrintable(box->objectName()));
    }
  }

  void TickingEveryAgendaByHandLeavesTheAllAgendasBoxUnticked() {
    Visit(&Send());
    for (QCheckBox* box : AgendaBoxes(Send())) Click(box);
    for (QCheckBox* box : AgendaBoxes(Send())) QVERIFY(box->isChecked());
    QVERIFY(!Send().all_agendas()->isChecked());
  }

  void AllAgendasUntickedByTheProgramLeavesTheAgendas() {
    Visit(&Send());
    Click(Send().all_agendas());
    Send().IncludeBox("PF")->setFocus();
    Send().all_agendas()->setChecked(false);
    for (QCheckBox* box : AgendaBoxes(Send())) QVERIFY(box->isChecked());
  }

  void FillDatesCopiesTheFirstRowIntoTickedAgendas() {
    AgendaPage& page = Send();
    Visit(&page);
    page.DateFromBox(kAllAgendasCode)->setText("01.01.2010");
    page.DateFromBox("PF")->setText("05.05.2005");
    page.DateToBox("PF")->setText("06.06.2006");
    page.DateFromBox("VF")->setText("07.07.2007");
    page.IncludeBox("PF")->setChecked(true);
    page.IncludeBox("Cenik")->setChecked(true);
    QTest::mouseClick(page.fill_dates_button(), Qt::LeftButton);
    QCOMPARE(page.DateFromBox("PF")->text(), QStringLiteral("01.01.2010"));
    QCOMPARE(page.DateToBox("PF")->text(), QStringLiteral("06.06.2006"));
    QCOMPARE(page.DateFromBox("VF")->text(), QStringLiteral("07.07.2007"));
    QCOMPARE(page.DateToBox("VF")->text(), QString());
    QVERIFY(!page.DateFromBox("Cenik"));
    // Texts are copied as they stand, without validation.
    page.DateToBox(kAllAgendasCode)->setText("nesmysl");
    QTest::mouseClick(page.fill_dates_button(), Qt::LeftButton);
    QCOMPARE(page.DateToBox("PF")->text(), QStringLiteral("nesmysl"));
    QVERIFY(fixture_->boxes.shown.empty());
  }

  void LeavingADateBoxCompletesIt_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("day of this month") << "5"
                                       << "05.03.2011";
    QTest::newRow("day and month") << "5.12"
                                   << "05.12.2011";
    QTest::newRow("full date") << "1.2.2010"
                               << "01.02.2010";
    QTest::newRow("today") << "*"
                           << "15.03.2011";
    QTest::newRow("ten days on") << "+10"
                                 << "25.03.2011";
    QTest::newRow("empty stays empty") << ""
                                       << "";
  }

  void LeavingADateBoxCompletesIt() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    for (AgendaPage* page : Pages()) {
      Visit(page);
      QLineEdit* box = page->DateToBox("Obj");
      box->setFocus();
      QTest::keyClicks(box, typed);
      QTest::keyClick(box, Qt::Key_Tab);
      Settle();
      QCOMPARE(box->text(), shown);
    }
    QVERIFY(fixture_->boxes.shown.empty());
  }

  void InvalidDateIsReportedEmptiedAndKeepsTheFocus() {
    Visit(&Send());
    QLineEdit* box = Send().DateFromBox("Banka");
    box->setFocus();
    QTest::keyClicks(box, "31.2.2010");
    // Enter moves on like Tab.
    QTest::keyClick(box, Qt::Key_Return);
    Settle();
    QCOMPARE(fixture_->boxes.shown.size(), size_t{1});
    const ShownBox shown = LastBox(fixture_->boxes);
    QCOMPARE(shown.kind, MsgKind::kError);
    QCOMPARE(shown.caption, std::string("Dalimor "));
    QCOMPARE(ToQt(shown.text), QStringLiteral("Neplatné datum."));
    QCOMPARE(shown.buttons, kMbOk);
    QCOMPARE(box->text(), QString());
    QCOMPARE(QApplication::focusWidget(), box);
    // Leaving the emptied box is accepted.
    QTest::keyClick(box, Qt::Key_Tab);
    Settle();
    QCOMPARE(fixture_->boxes.shown.size(), size_t{1});
    QVERIFY(QApplication::focusWidget() != box);
  }

  void ChoosingTheBlankSeriesEntryEmptiesTheText() {
    QComboBox* box = Send().SeriesBox("PF");
    box->addItems({" ", "FP", "FP2"});
    box->setCurrentIndex(0);
    QCOMPARE(box->currentText(), QStringLiteral(" "));
    emit box->activated(0);
    QCOMPARE(box->currentText(), QString());
    QCOMPARE(Send().Inputs().at("PF").series, std::string());
    box->setCurrentIndex(2);
    emit box->activated(2);
    QCOMPARE(Send().Inputs().at("PF").series, std::string("FP2"));
  }

  void AnyChangeOnEitherPageHidesAllDoneMarks() {
    TfmMain& window = fixture_->window();
    const std::vector<std::pair<AgendaPage*, std::function<void()>>> changes = {
        {&Send(), [&] { QTest::keyClicks(Send().message(), "x"); }},
        {&Receive(), [&] { Receive().DateFromBox("PF")->setText("1"); }},
        {&Send(), [&] { Send().overwrite()->toggle(); }},
        {&Send(), [&] { Receive().IncludeBox("Cenik")->toggle(); }},
        {&Receive(), [&] { QTest::mouseClick(Receive().fill_dates_button(), Qt::LeftButton); }},
    };
    for (const auto& [page, change] : changes) {
      Visit(page);
      for (const Agenda& agenda : Agendas()) {
        window.ShowDoneMarkOf(RunPage::kSend, std::string(agenda.code));
        window.ShowDoneMarkOf(RunPage::kReceive, std::string(agenda.code));
      }
      window.SetDoneMarksShown(true);
      change();
      for (AgendaPage* shown : Pages())
        for (const Agenda& agenda : Agendas()) QVERIFY(shown->DoneMark(agenda.code)->isHidden());
      QVERIFY(!window.done_marks_shown());
    }
    // Marks of a run that did not complete stay until one does.
    window.ShowDoneMarkOf(RunPage::kSend, "PF");
    Send().overwrite()->toggle();
    QVERIFY(!Send().DoneMark("PF")->isHidden());
  }

 private:
  AgendaPage& Send() { return *fixture_->window().send_page(); }
  AgendaPage& Receive() { return *fixture_->window().receive_page(); }
  std::vector<AgendaPage*> Pages() { return {&Send(), &Receive()}; }
  // Shows the page (without its guard, which needs a company) so that the
  // mouse and the keyboard reach it.
  void Visit(AgendaPage* page) {
    const bool send = page == &Send();
    fixture_->window().ShowPage(false, send, !send);
  }

  std::unique_ptr<WindowFixture> fixture_;
};

DALIMOR_REGISTER_SUITE(AgendaRowsTest);

}  // namespace dalimor::apptest

#include "agenda_rows_test.moc"
