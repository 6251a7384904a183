#include "app/batch_viewer_window.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/cursor_table_model.h"
#include "app/error_report.h"
#include "app/qt_text.h"
#include "util/ui.h"

namespace dalimor {
namespace {

constexpr int kMasterGridHeight = 234;

QTableView* MakeGrid(const char* name) {
  auto* grid = new QTableView;
  grid->setObjectName(name);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setAlternatingRowColors(true);
  grid->setWordWrap(false);
  // Fixed row heights let the view ask only for the rows in sight.
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  return grid;
}

// Column widths from the fields: text fields by their size, others fixed.
void SizeColumns(QTableView* grid, TableCursor& cursor) {
  if (!cursor.Active()) return;
  const QFontMetrics metrics = grid->fontMetrics();
  const int char_width = metrics.horizontalAdvance(QLatin1Char('n'));
  for (int i = 0; i < static_cast<int>(cursor.Fields().size()); ++i) {
    const TableField& field = cursor.FieldAt(i);
    int width = 90;
    if (field.type() == FieldType::kAlpha)
      width = std::clamp(field.size(), 4, 30) * char_width + 12;
    const int title = metrics.horizontalAdvance(ToQt(field.name())) + 18;
    grid->setColumnWidth(i, std::max(width, title));
  }
}

}  // namespace

TfmObsahDavky::TfmObsahDavky(const std::string& folder_text, const ViewerTables& tables, Ui& ui,
                             const RegionalSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("fmObsahDavky");
  setWindowTitle(QStringLiteral("Obsah dávky"));
  setModal(true);
  resize(693, 370);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Vertical);
  splitter_->setObjectName("Splitter1");
  splitter_->setHandleWidth(3);
  splitter_->setChildrenCollapsible(false);
  master_grid_ = MakeGrid("DBGrid1");
  detail_grid_ = MakeGrid("DBGrid2");
  splitter_->addWidget(master_grid_);
  splitter_->addWidget(detail_grid_);
  splitter_->setStretchFactor(1, 1);
  layout->addWidget(splitter_);

  const std::string error = tables_.Open(folder_text, tables);

  master_model_ = std::make_unique<CursorTableModel>(tables_.master(), false, settings);
  master_grid_->setModel(master_model_.get());
  SizeColumns(master_grid_, tables_.master());
  detail_model_ = std::make_unique<CursorTableModel>(tables_.detail(), true, settings);
  detail_grid_->setModel(detail_model_.get());
  SizeColumns(detail_grid_, tables_.detail());
  connect(master_grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { MasterRowChanged(current.row()); });

  if (!error.empty()) {
    // The engine's message; the grids stay as they were laid out.
    ReportError(ui, error);
  } else if (tables_.has_detail()) {
    splitter_->setSizes({kMasterGridHeight, 370 - kMasterGridHeight - 3});
  } else {
    detail_grid_->hide();
    splitter_->handle(1)->hide();
  }
  ShowCursorRow(master_grid_, master_model_.get());
  ShowCursorRow(detail_grid_, detail_model_.get());

  if (parent) {
    const QPoint centre = parent->frameGeometry().center();
    move(centre - QPoint(width() / 2, height() / 2));
  }
}

TfmObsahDavky::~TfmObsahDavky() {
  master_grid_->setModel(nullptr);
  detail_grid_->setModel(nullptr);
  detail_model_.reset();
  master_model_.reset();
  tables_.Close();
}

void TfmObsahDavky::ShowCursorRow(QTableView* grid, const CursorTableModel* model) {
  const int row = model->CursorRow();
  if (row < 0) return;
  grid->selectionModel()->setCurrentIndex(
      model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TfmObsahDavky::MasterRowChanged(int row) {
  if (row < 0) return;
  master_model_->MoveCursorTo(row);
  if (tables_.has_detail()) {
    detail_model_->Reload();
    ShowCursorRow(detail_grid_, detail_model_.get());
  }
}

}  // namespace dalimor
