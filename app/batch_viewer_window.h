#pragma once
// The batch content viewer "Obsah dávky" (TfmObsahDavky): the header table
// of one agenda in the upper grid and, for agendas with items, the item
// table in the lower grid following the selected header.  Read-only; the
// window exists while it is shown.  A cell's whole text (a memo with all
// its lines) is in its tooltip and, on a double-click or Enter, in a text
// pane; Ctrl+C copies it.

#include <QDialog>
#include <memory>
#include <string>

#include "batch/batch_viewer.h"
#include "platform/regional.h"

class QModelIndex;
class QPlainTextEdit;
class QSplitter;
class QTableView;

namespace dalimor {

class CursorTableModel;
class Ui;

class TfmObsahDavky : public QDialog {
  Q_OBJECT

 public:
  // Opens the tables from the transfer folder box's text as typed.  A table
  // that cannot be opened is reported through `ui` (the window still opens
  // with the tables opened before).
  TfmObsahDavky(const std::string& folder_text, const ViewerTables& tables, Ui& ui,
                const RegionalSettings& settings, QWidget* parent = nullptr);
  ~TfmObsahDavky() override;

  QTableView* master_grid() const { return master_grid_; }
  QTableView* detail_grid() const { return detail_grid_; }
  QSplitter* splitter() const { return splitter_; }
  CursorTableModel* master_model() const { return master_model_.get(); }
  CursorTableModel* detail_model() const { return detail_model_.get(); }
  BatchViewerModel& tables() { return tables_; }

  // Shows the whole text of a grid's cell in the text pane, a window of
  // the viewer's own that stays open beside the grids until closed.
  void ShowCellText(const QModelIndex& index);
  // Puts the whole text of a grid's current cell on the clipboard.
  void CopyCellText(const QTableView* grid);
  // The text pane; null until a cell's text was first shown.
  QDialog* text_pane() const { return text_pane_; }
  QPlainTextEdit* text_pane_text() const { return text_pane_text_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void MasterRowChanged(int row);
  void ShowCursorRow(QTableView* grid, const CursorTableModel* model);
  void AddCellActions(QTableView* grid);

  BatchViewerModel tables_;
  std::unique_ptr<CursorTableModel> master_model_;
  std::unique_ptr<CursorTableModel> detail_model_;
  QTableView* master_grid_ = nullptr;
  QTableView* detail_grid_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QDialog* text_pane_ = nullptr;
  QPlainTextEdit* text_pane_text_ = nullptr;
};

}  // namespace dalimor
