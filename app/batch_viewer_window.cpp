#include "app/batch_viewer_window.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
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

// Columns are sized from the texts of this many rows at the top (one block
// of the model: a large table is not read for it).
constexpr int kSizingRows = 64;
constexpr int kMaxColumnWidth = 320;
constexpr int kCellPadding = 14;
constexpr int kTitlePadding = 18;

// The widest text a date or time field can show (two-digit days, months and
// hours); empty for other fields.
QString WidestText(FieldType type, const RegionalSettings& settings) {
  const LocalDateTime widest{2000, 12, 28, 20, 58, 58, 0};
  switch (type) {
    case FieldType::kDate:
      return ToQt(DateToStr(widest, settings));
    case FieldType::kTime:
      return ToQt(TimeToStr(widest, settings));
    case FieldType::kTimestamp:
      return ToQt(DateTimeToStr(widest, settings));
    default:
      return {};
  }
}

// Each column as wide as its title and the texts of its top rows, at most
// kMaxColumnWidth (a longer text is in its tooltip and the text pane); date
// and time columns at least as wide as their widest text, so that no date
// further down is cut off.
void SizeColumns(QTableView* grid, const CursorTableModel& model, TableCursor& cursor,
                 const RegionalSettings& settings) {
  if (!cursor.Active()) return;
  const QFontMetrics metrics = grid->fontMetrics();
  // The titles of the selected row's columns are drawn in bold.
  QFont title_font = grid->horizontalHeader()->font();
  title_font.setBold(true);
  const QFontMetrics title_metrics(title_font);
  const int rows = std::min(model.rowCount(), kSizingRows);
  for (int column = 0; column < model.columnCount(); ++column) {
    const QString title = model.headerData(column, Qt::Horizontal).toString();
    int width = std::max(grid->horizontalHeader()->sectionSizeHint(column),
                         title_metrics.horizontalAdvance(title) + kTitlePadding);
    const QString widest = WidestText(cursor.FieldAt(column).type(), settings);
    if (!widest.isEmpty())
      width = std::max(width, metrics.horizontalAdvance(widest) + kCellPadding);
    for (int row = 0; row < rows && width < kMaxColumnWidth; ++row) {
      const QString text = model.index(row, column).data().toString();
      width = std::max(width, metrics.horizontalAdvance(text) + kCellPadding);
    }
    grid->setColumnWidth(column, std::min(width, kMaxColumnWidth));
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
  SizeColumns(master_grid_, *master_model_, tables_.master(), settings);
  detail_model_ = std::make_unique<CursorTableModel>(tables_.detail(), true, settings);
  detail_grid_->setModel(detail_model_.get());
  SizeColumns(detail_grid_, *detail_model_, tables_.detail(), settings);
  connect(master_grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { MasterRowChanged(current.row()); });
  for (QTableView* grid : {master_grid_, detail_grid_}) AddCellActions(grid);

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

void TfmObsahDavky::AddCellActions(QTableView* grid) {
  // Enter and Ctrl+C reach the grid through eventFilter; the menu names them.
  grid->installEventFilter(this);
  connect(grid, &QAbstractItemView::doubleClicked, this, &TfmObsahDavky::ShowCellText);
  auto* show = new QAction(QStringLiteral("&Zobrazit celý text\tEnter"), grid);
  connect(show, &QAction::triggered, this, [this, grid] { ShowCellText(grid->currentIndex()); });
  auto* copy = new QAction(QStringLiteral("&Kopírovat\t") +
                               QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
                           grid);
  connect(copy, &QAction::triggered, this, [this, grid] { CopyCellText(grid); });
  grid->addActions({show, copy});
  grid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

bool TfmObsahDavky::eventFilter(QObject* watched, QEvent* event) {
  auto* grid = qobject_cast<QTableView*>(watched);
  if (grid && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      CopyCellText(grid);
      return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      ShowCellText(grid->currentIndex());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfmObsahDavky::ShowCellText(const QModelIndex& index) {
  if (!index.isValid()) return;
  if (!text_pane_) {
    text_pane_ = new QDialog(this, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    text_pane_->setObjectName("fmTextPole");
    auto* layout = new QVBoxLayout(text_pane_);
    text_pane_text_ = new QPlainTextEdit;
    text_pane_text_->setObjectName("meTextPole");
    text_pane_text_->setReadOnly(true);
    layout->addWidget(text_pane_text_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("&Zavřít"));
    close->setObjectName("btZavrit");
    connect(close, &QPushButton::clicked, text_pane_, &QDialog::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    text_pane_->resize(480, 320);
  }
  const QString field = index.model()->headerData(index.column(), Qt::Horizontal).toString();
  text_pane_->setWindowTitle(QStringLiteral("%1 – řádek %2").arg(field).arg(index.row() + 1));
  text_pane_text_->setPlainText(index.data(CursorTableModel::kFullTextRole).toString());
  text_pane_->show();
  text_pane_->raise();
  text_pane_->activateWindow();
}

void TfmObsahDavky::CopyCellText(const QTableView* grid) {
  const QModelIndex index = grid->currentIndex();
  if (!index.isValid()) return;
  QGuiApplication::clipboard()->setText(index.data(CursorTableModel::kFullTextRole).toString());
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
