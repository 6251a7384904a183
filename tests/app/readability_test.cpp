// What the main window shows can be read whole at its default size: the
// transfer folder box with a long path, hints longer than the status bar,
// and a progress bar that goes when a run ends.

#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolTip>

#include "app/agenda_page.h"
#include "app/path_label.h"
#include "app/qt_text.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

namespace {

// What a run left in sight when it asked or reported something.
struct AtBox {
  std::string text;
  bool progress_visible;
};

}  // namespace

class ReadabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void FolderBoxTakesTheWidthAndKeepsTheEndOfALongPath() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    QCOMPARE(window.size(), QSize(474, 587));
    QComboBox* box = window.transfer_folder();
    // As wide as the company box above it: all the width beside the labels.
    QCOMPARE(box->geometry().left(), window.companies()->geometry().left());
    QCOMPARE(box->geometry().right(), window.companies()->geometry().right());
    QVERIFY2(box->width() > window.width() / 2, qPrintable(QString::number(box->width())));

    auto* edit = dynamic_cast<PathLineEdit*>(box->lineEdit());
    QVERIFY(edit);
    window.companies()->setFocus();
    const QString usual = QStringLiteral("/home/ucetni/prenos_velky");
    box->setEditText(usual);
    QCOMPARE(edit->ShownText(), usual);

    // Too long for the box: its start and its end stay in sight.
    const QString long_path =
        QStringLiteral("/home/ucetni/dokumenty/ucetnictvi/pobocky/brno/archiv/2011/prenos_velky");
    box->setEditText(long_path);
    const QString shown = edit->ShownText();
    QVERIFY2(shown.contains(QStringLiteral("…")), qPrintable(shown));
    QVERIFY2(shown.startsWith(QStringLiteral("/home/")), qPrintable(shown));
    QVERIFY2(shown.endsWith(QStringLiteral("/prenos_velky")), qPrintable(shown));
    QVERIFY(edit->fontMetrics().horizontalAdvance(shown) < edit->width());
    QCOMPARE(box->currentText(), long_path);
    // The whole path is the tooltip.
    const QPoint inside = edit->rect().center();
    QHelpEvent tip(QEvent::ToolTip, inside, edit->mapToGlobal(inside));
    QApplication::sendEvent(edit, &tip);
    QCOMPARE(QToolTip::text(), long_path);
    QToolTip::hideText();
    // With the focus the box shows and edits the whole path.
    box->setFocus();
    QCOMPARE(edit->ShownText(), long_path);
  }

  // The sender's message takes no input but reads in the normal text
  // colour, not greyed out; the two folder buttons do not touch.
  void SendersMessageAndFolderButtonsReadClearly() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    QPlainTextEdit* message = window.receive_page()->message();
    QVERIFY(!message->isEnabled());
    QCOMPARE(message->palette().color(QPalette::Disabled, QPalette::Text),
             window.send_page()->message()->palette().color(QPalette::Active, QPalette::Text));
    const QWidget* browse = window.findChild<QPushButton*>("btProchazet");
    const QWidget* initialise = window.findChild<QPushButton*>("btInicializovat");
    QVERIFY(initialise->geometry().left() - browse->geometry().right() > 3);
  }

  // Every hint of the window, shown as the mouse shows it, fits in the
  // status bar whole; long ones take further lines, and the bar is one
  // line high again when the hint goes.
  void HintsLongerThanTheStatusBarAreShownWhole() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    QVERIFY(ShowActive(window));
    Settle();
    auto* message = window.statusBar()->findChild<QLabel*>("laStatus");
    QVERIFY(message);
    const int one_line = window.statusBar()->height();
    int tallest = 0;
    int hints = 0;
    for (QWidget* control : window.findChildren<QWidget*>()) {
      const QString hint = control->statusTip();
      if (hint.isEmpty()) continue;
      ++hints;
      QStatusTipEvent tip(hint);
      QApplication::sendEvent(control, &tip);
      Settle();
      const QString name = control->objectName();
      QCOMPARE(message->text(), hint);
      QVERIFY2(message->isVisible(), qPrintable(name));
      QVERIFY2(message->width() > window.width() * 3 / 4, qPrintable(name));
      QVERIFY2(message->height() >= message->heightForWidth(message->width()), qPrintable(name));
      QVERIFY2(window.statusBar()->geometry().bottom() < window.height(), qPrintable(name));
      tallest = std::max(tallest, message->height());
    }
    QVERIFY(hints > 50);
    // The longest hints do not fit on one line at this width.
    QVERIFY(tallest >= 2 * message->fontMetrics().height());
    QStatusTipEvent gone{QString()};
    QApplication::sendEvent(window.send_page(), &gone);
    Settle();
    QCOMPARE(message->text(), QString());
    QCOMPARE(window.statusBar()->height(), one_line);
  }

  // A run's closing message, a refusal as well as the success, is read
  // without a progress bar beside it, and nothing of the run stays in the
  // status bar afterwards.
  void ProgressBarGoesWhenARunEnds() {
    WindowFixture fixture(true);
    const std::string folder = fixture.MakeFolder("prenos");
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(ToQt(folder));
    QVERIFY(ShowActive(window));
    QProgressBar* progress = window.progress_bar();
    std::vector<AtBox> boxes;
    fixture.boxes.on_show = [&](const ShownBox& box) {
      boxes.push_back({box.text, progress->isVisible()});
    };
    int texts_beside_progress = 0;
    connect(window.statusBar(), &QStatusBar::messageChanged, this,
            [&] { texts_beside_progress += progress->isVisible() ? 1 : 0; });

    QVERIFY(window.TabSet1Change(1));
    window.send_page()->all_agendas()->setChecked(true);
    fixture.boxes.Answer(kIdYes);
    window.send_page()->run_button()->click();
    Settle();
    QCOMPARE(boxes.size(), size_t{2});
    QCOMPARE(ToQt(boxes.back().text), QStringLiteral("Odeslání dat bylo úspěšně dokončeno."));
    // The bar counted the agendas while the run worked.
    QVERIFY(texts_beside_progress > 0);
    QVERIFY(!boxes.back().progress_visible);
    QVERIFY(progress->isHidden());
    QCOMPARE(window.statusBar()->currentMessage(), QString());

    // Centrála Praha sends into Pobočka Brno's batch: asked whether to mix
    // the two, the user refuses.
    boxes.clear();
    texts_beside_progress = 0;
    QVERIFY(window.TabSet1Change(0));
    window.companies()->setCurrentIndex(1);
    emit window.companies()->activated(1);
    QVERIFY(window.TabSet1Change(1));
    fixture.boxes.Answer(kIdYes);
    fixture.boxes.Answer(kIdNo);
    window.send_page()->run_button()->click();
    Settle();
    QVERIFY(fixture.boxes.unexpected.empty());
    QCOMPARE(boxes.size(), size_t{2});
    QVERIFY2(boxes.back().text.find("neodpovídají") != std::string::npos,
             boxes.back().text.c_str());
    QVERIFY(!boxes.back().progress_visible);
    QVERIFY(progress->isHidden());
    QCOMPARE(window.statusBar()->currentMessage(), QString());
  }
};

DALIMOR_REGISTER_SUITE(ReadabilityTest);

}  // namespace dalimor::apptest

#include "readability_test.moc"
