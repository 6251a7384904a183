// The batch content viewer opened from the receive page's count labels:
// the header grid over the whole table, the item grid following the
// selected header, one grid for agendas without items; cells whose whole
// text can be read (tooltip, text pane, clipboard) and columns as wide as
// their texts.

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTextDocumentFragment>

#include "app/batch_viewer_window.h"
#include "app/cursor_table_model.h"
#include "app/qt_text.h"
#include "tests/app/app_test_support.h"
#include "transfer/runs.h"

namespace dalimor::apptest {

namespace {

void ClickLabel(QLabel* label) {
  QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, label->rect().center());
}

int Column(const QTableView* grid, const QString& field) {
  const QAbstractItemModel* model = grid->model();
  for (int column = 0; column < model->columnCount(); ++column)
    if (model->headerData(column, Qt::Horizontal).toString().compare(field, Qt::CaseInsensitive) ==
        0)
      return column;
  return -1;
}

QString Cell(const QTableView* grid, int row, const QString& field) {
  const int column = Column(grid, field);
  if (column < 0) return QStringLiteral("<no field %1>").arg(field);
  return grid->model()->index(row, column).data().toString();
}

// The note written into the second header of the batch's received
// invoices: several lines, one of them longer than a cell shows.
const QString& LongNote() {
  static const QString note =
      QStringLiteral("Faktura došla poštou se zpožděním.\n") +
      QStringLiteral("Splatnost dohodnuta telefonicky, ") + QString(280, QLatin1Char('x')) +
      QStringLiteral(" konec řádku.\n\nReklamace:\n1. chybí dodací list\n2. cena dopravy");
  return note;
}

// Shows the viewer as the program does, so that the mouse and the keyboard
// reach its grids.
bool ShowViewer(TfmObsahDavky& viewer) {
  viewer.show();
  viewer.activateWindow();
  return QTest::qWaitForWindowExposed(&viewer);
}

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    fixture_ = std::make_unique<WindowFixture>(true);
    folder_ = fixture_->MakeFolder("prenos");
    TfmMain& window = fixture_->Open();
    // A batch of everything Pobočka Brno has, sent through the window.
    window.transfer_folder()->setEditText(ToQt(folder_));
    QVERIFY(window.TabSet1Change(1));
    window.send_page()->IncludeBox(kAllAgendasCode)->setChecked(true);
    fixture_->boxes.Answer(kIdYes);
    window.send_page()->run_button()->click();
    QCOMPARE(ToQt(LastBox(fixture_->boxes).text),
             QStringLiteral("Odeslání dat bylo úspěšně dokončeno."));
    {
      TableCursor headers;
      headers.SetDatabaseName(folder_);
      headers.SetTableName("SPFH.DB");
      headers.Open(OpenMode::kExclusive);
      headers.Next();
      headers.Edit();
      headers.FieldByName("Poznamka").SetString(FromDisplayLines(LongNote()));
      headers.Post();
    }
    QVERIFY(window.tab_bar() != nullptr);
    QVERIFY(window.TabSet1Change(2));
    window.ShowPage(false, false, true);
    QVERIFY(ShowActive(window));
  }
  void cleanupTestCase() { fixture_.reset(); }

  void CountLabelOpensHeadersAndFollowingItems() {
    TfmMain& window = fixture_->window();
    QLabel* count = window.receive_page()->CountLabel("PF");
    const int headers = count->text().toInt();
    QVERIFY(headers >= 2);
    bool checked = false;
    fixture_->on_dialog = [&](QDialog& dialog) {
      auto* viewer = qobject_cast<TfmObsahDavky*>(&dialog);
      QVERIFY(viewer);
      QCOMPARE(viewer->windowTitle(), QStringLiteral("Obsah dávky"));
      QCOMPARE(viewer->size(), QSize(693, 370));
      QVERIFY(!(viewer->windowFlags() & Qt::WindowMaximizeButtonHint));
      QTableView* master = viewer->master_grid();
      QTableView* detail = viewer->detail_grid();
      QVERIFY(!detail->isHidden());
      QCOMPARE(master->model()->rowCount(), headers);
      // Titles are the field names in the table's order.
      TableCursor& cursor = viewer->tables().master();
      QCOMPARE(master->model()->columnCount(), static_cast<int>(cursor.Fields().size()));
      for (int i = 0; i < master->model()->columnCount(); ++i)
        QCOMPARE(master->model()->headerData(i, Qt::Horizontal).toString(),
                 ToQt(cursor.FieldAt(i).name()));
      // Each selected header shows exactly its items.
      for (int row : {1, 0, headers - 1}) {
        master->selectionModel()->setCurrentIndex(master->model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect);
        const QString series = Cell(master, row, "DoklSRada");
        const QString number = Cell(master, row, "DoklSCislo");
        QVERIFY(detail->model()->rowCount() >= 1);
        for (int item = 0; item < detail->model()->rowCount(); ++item) {
          QCOMPARE(Cell(detail, item, "DoklSRada"), series);
          QCOMPARE(Cell(detail, item, "DoklSCislo"), number);
        }
      }
      checked = true;
    };
    const int before = fixture_->dialogs_run;
    ClickLabel(count);
    QCOMPARE(fixture_->dialogs_run, before + 1);
    QVERIFY(checked);
  }

  void AgendaWithoutItemsShowsOneGrid() {
    TfmMain& window = fixture_->window();
    for (const char* code : {"PZ", "Denik", "Cenik"}) {
      bool checked = false;
      fixture_->on_dialog = [&](QDialog& dialog) {
        auto* viewer = qobject_cast<TfmObsahDavky*>(&dialog);
        QVERIFY(viewer->detail_grid()->isHidden());
        QCOMPARE(viewer->master_grid()->model()->rowCount(),
                 window.receive_page()->CountLabel(code)->text().toInt());
        checked = true;
      };
      ClickLabel(window.receive_page()->CountLabel(code));
      QVERIFY2(checked, code);
    }
  }

  void IncompleteBatchOpensNothing() {
    TfmMain& window = fixture_->window();
    std::filesystem::rename(folder_ + "/Cpz.DB", folder_ + "/Cpz.old");
    const int before = fixture_->dialogs_run;
    ClickLabel(window.receive_page()->CountLabel("PF"));
    QCOMPARE(fixture_->dialogs_run, before);
    std::filesystem::rename(folder_ + "/Cpz.old", folder_ + "/Cpz.DB");
  }

  void CellTextsFollowTheRegionalFormats() {
    const RegionalSettings czech = CzechRegionalSettings();
    QCOMPARE(CellText(Value{}, czech), QString());
    QCOMPARE(CellText(Value{int64_t{42}}, czech), QStringLiteral("42"));
    QCOMPARE(CellText(Value{1234.5}, czech), QStringLiteral("1234,5"));
    QCOMPARE(CellText(Value{Date{40617}}, czech), QStringLiteral("15.3.2011"));
    QCOMPARE(CellText(Value{Timestamp{40617.5}}, czech), QStringLiteral("15.3.2011 12:00:00"));
    QCOMPARE(CellText(Value{std::string("první\r\ndruhý")}, czech), QStringLiteral("první …"));
    QCOMPARE(FullCellText(Value{std::string("první\r\ndruhý")}, czech),
             QStringLiteral("první\ndruhý"));
    QCOMPARE(FullCellText(Value{Date{40617}}, czech), QStringLiteral("15.3.2011"));
    QCOMPARE(CellText(Value{true}, czech), QStringLiteral("Ano"));
    QCOMPARE(CellText(Value{false}, czech), QStringLiteral("Ne"));
  }

  void LogicalFieldsReadAnoAndNe() {
    TfmMain& window = fixture_->window();
    QStringList values;
    fixture_->on_dialog = [&](QDialog& dialog) {
      QTableView* grid = qobject_cast<TfmObsahDavky*>(&dialog)->master_grid();
      for (int row = 0; row < grid->model()->rowCount(); ++row)
        values << Cell(grid, row, "Vyrizeno");
    };
    ClickLabel(window.receive_page()->CountLabel("Obj"));
    QVERIFY(!values.isEmpty());
    values.removeDuplicates();
    values.sort();
    QCOMPARE(values, (QStringList{"Ano", "Ne"}));
  }

  // The note of several lines shows its first line in the grid; its
  // tooltip, the text pane (double-click or Enter) and Ctrl+C give all of it.
  void WholeMemoCanBeReadAndCopied() {
    TfmMain& window = fixture_->window();
    bool checked = false;
    fixture_->on_dialog = [&](QDialog& dialog) {
      auto* viewer = qobject_cast<TfmObsahDavky*>(&dialog);
      QVERIFY(ShowViewer(*viewer));
      QTableView* grid = viewer->master_grid();
      const int column = Column(grid, "Poznamka");
      QVERIFY(column >= 0);
      const QModelIndex note = grid->model()->index(1, column);
      QCOMPARE(note.data().toString(), QStringLiteral("Faktura došla poštou se zpožděním. …"));
      const QString tooltip = note.data(Qt::ToolTipRole).toString();
      QCOMPARE(QTextDocumentFragment::fromHtml(tooltip).toPlainText(), LongNote());

      grid->setCurrentIndex(note);
      grid->scrollTo(note);
      // A double click as the system delivers it: a click, then the second
      // press as a double click.
      const QPoint at = grid->visualRect(note).center();
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
      QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
      QVERIFY(viewer->text_pane());
      QVERIFY(viewer->text_pane()->isVisible());
      QCOMPARE(viewer->text_pane_text()->toPlainText(), LongNote());
      QVERIFY(viewer->text_pane_text()->isReadOnly());
      viewer->text_pane()->close();

      // From the keyboard: the text of the current cell.
      const QModelIndex number = grid->model()->index(1, Column(grid, "DoklSCislo"));
      grid->setFocus();
      grid->setCurrentIndex(number);
      QTest::keyClick(grid, Qt::Key_Return);
      QVERIFY(viewer->text_pane()->isVisible());
      QCOMPARE(viewer->text_pane_text()->toPlainText(), Cell(grid, 1, "DoklSCislo"));
      viewer->text_pane()->close();

      grid->setFocus();
      grid->setCurrentIndex(note);
      QGuiApplication::clipboard()->clear();
      QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
      QCOMPARE(QGuiApplication::clipboard()->text(), LongNote());
      viewer->close();
      checked = true;
    };
    ClickLabel(window.receive_page()->CountLabel("PF"));
    QVERIFY(checked);
  }

  // Dates and times are never cut off; other columns are as wide as the
  // texts at the top (up to a limit), so those texts are not cut off either.
  void ColumnsAreAsWideAsTheirTexts() {
    TfmMain& window = fixture_->window();
    for (const char* code : {"VF", "Obj", "Cenik"}) {
      int checked = 0;
      fixture_->on_dialog = [&](QDialog& dialog) {
        auto* viewer = qobject_cast<TfmObsahDavky*>(&dialog);
        for (QTableView* grid : {viewer->master_grid(), viewer->detail_grid()}) {
          if (grid->isHidden()) continue;
          TableCursor& cursor =
              grid == viewer->master_grid() ? viewer->tables().master() : viewer->tables().detail();
          const QFontMetrics metrics = grid->fontMetrics();
          for (int column = 0; column < grid->model()->columnCount(); ++column) {
            const FieldType type = cursor.FieldAt(column).type();
            const bool dated = type == FieldType::kDate || type == FieldType::kTime ||
                               type == FieldType::kTimestamp;
            const int rows =
                dated ? grid->model()->rowCount() : std::min(grid->model()->rowCount(), 10);
            for (int row = 0; row < rows; ++row) {
              const QString text = grid->model()->index(row, column).data().toString();
              const int needed = metrics.horizontalAdvance(text) + 8;
              if (!dated && grid->columnWidth(column) >= 300) continue;
              QVERIFY2(needed <= grid->columnWidth(column),
                       qPrintable(QStringLiteral("%1 %2: \"%3\" in %4 px")
                                      .arg(code, ToQt(cursor.FieldAt(column).name()), text)
                                      .arg(grid->columnWidth(column))));
              ++checked;
            }
          }
        }
      };
      ClickLabel(window.receive_page()->CountLabel(code));
      QVERIFY2(checked > 0, code);
    }
  }

 private:
  std::unique_ptr<WindowFixture> fixture_;
  std::string folder_;
};

DALIMOR_REGISTER_SUITE(ViewerTest);

}  // namespace dalimor::apptest

#include "viewer_test.moc"
