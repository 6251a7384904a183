// Qt's own texts in the window speak Czech: the context menus of its text
// boxes and the folder dialog of "Procházet".  The program loads Qt's Czech
// translations at start (scripts/setup.sh installs them); without them
// these tests fail and say so.

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/application.h"
#include "app/qt_text.h"
#include "tests/app/app_test_support.h"

namespace dalimor::apptest {

namespace {

// Opens the context menu of a text box as a right click does and returns
// the texts of its actions without their shortcuts; the menu is closed again.
QStringList ContextMenuTexts(QWidget* box) {
  const QPoint inside = box->rect().center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, inside, box->mapToGlobal(inside));
  QApplication::sendEvent(box, &event);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (!menu) return {QStringLiteral("<no context menu>")};
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text().section(QLatin1Char('\t'), 0, 0);
  menu->close();
  Settle();
  return texts;
}

QString MissingTranslations() {
  return QStringLiteral(
             "Qt's Czech translations are missing (%1); scripts/setup.sh installs "
             "them (Debian package qt6-translations-l10n)")
      .arg(QtCzechTranslationFile());
}

}  // namespace

class CzechTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(QtCzechTranslationFile()), qPrintable(MissingTranslations()));
  }

  void ContextMenusOfTextBoxesAreCzech() {
    WindowFixture fixture(false);
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(QStringLiteral("/home/ucetni/prenos"));
    window.send_page()->message()->setPlainText(QStringLiteral("Ahoj"));
    QVERIFY(ShowActive(window));
    const std::vector<std::pair<const char*, QWidget*>> boxes = {
        {"folder box", window.transfer_folder()->lineEdit()},
        {"date box", window.send_page()->DateFromBox("PF")},
        {"message", window.send_page()->message()->viewport()},
    };
    for (const auto& [name, box] : boxes) {
      const QStringList texts = ContextMenuTexts(box);
      for (const char* czech : {"&Zpět", "&Kopírovat", "&Vložit", "Vybrat vše"})
        QVERIFY2(texts.contains(QString::fromUtf8(czech)),
                 qPrintable(QStringLiteral("%1: %2 not in %3")
                                .arg(name, QString::fromUtf8(czech), texts.join(", "))));
      for (const char* english : {"&Undo", "&Copy", "&Paste", "Select All"})
        QVERIFY2(!texts.contains(QLatin1String(english)), name);
    }
  }

  // "Procházet" opens the program's own folder dialog at the folder in the
  // box; its labels and buttons are Czech, and "Vybrat" takes the folder.
  void FolderDialogOfBrowseIsCzech() {
    WindowFixture fixture(false);
    fixture.real_folder_dialog = true;
    const QString folder = ToQt(fixture.MakeFolder("prenos"));
    TfmMain& window = fixture.Open();
    window.transfer_folder()->setEditText(folder);
    QVERIFY(ShowActive(window));
    QString look_in;
    QStringList buttons;
    bool seen = false;
    // Runs inside the dialog's own event loop, once it is open.
    QTimer::singleShot(0, &window, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen = true;
      if (auto* label = dialog->findChild<QLabel*>("lookInLabel")) look_in = label->text();
      auto* box = dialog->findChild<QDialogButtonBox*>();
      if (!box) {
        dialog->reject();
        return;
      }
      for (QAbstractButton* button : box->buttons()) buttons << button->text();
      box->button(QDialogButtonBox::Open)->click();
    });
    QTest::mouseClick(window.findChild<QPushButton*>("btProchazet"), Qt::LeftButton);
    QVERIFY2(seen, "no folder dialog opened");
    QCOMPARE(look_in, QStringLiteral("Hledat v:"));
    QVERIFY2(buttons.contains(QStringLiteral("&Vybrat")), qPrintable(buttons.join(", ")));
    QVERIFY2(buttons.contains(QStringLiteral("Zrušit")), qPrintable(buttons.join(", ")));
    QCOMPARE(window.transfer_folder()->count(), 1);
    QCOMPARE(window.transfer_folder()->itemText(0), folder);
  }
};

DALIMOR_REGISTER_SUITE(CzechTextsTest);

}  // namespace dalimor::apptest

#include "czech_texts_test.moc"
