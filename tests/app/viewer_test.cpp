// The batch content viewer opened from the receive page's count labels:
// the header grid over the whole table, the item grid following the
// selected header, one grid for agendas without items.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTest>

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

QString Cell(const QTableView* grid, int row, const QString& field) {
  const QAbstractItemModel* model = grid->model();
  for (int column = 0; column < model->columnCount(); ++column)
    if (model->headerData(column, Qt::Horizontal).toString().compare(field, Qt::CaseInsensitive) ==
        0)
      return model->index(row, column).data().toString();
  return QStringLiteral("<no field %1>").arg(field);
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
    QCOMPARE(CellText(Value{true}, czech), QStringLiteral("True"));
  }

 private:
  std::unique_ptr<WindowFixture> fixture_;
  std::string folder_;
};

DALIMOR_REGISTER_SUITE(ViewerTest);

}  // namespace dalimor::apptest

#include "viewer_test.moc"
