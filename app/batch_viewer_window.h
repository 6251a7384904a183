#pragma once
// The batch content viewer "Obsah dávky" (TfmObsahDavky): the header table
// of one agenda in the upper grid and, for agendas with items, the item
// table in the lower grid following the selected header.  Read-only; the
// window exists while it is shown.

#include <QDialog>
#include <memory>
#include <string>

#include "batch/batch_viewer.h"
#include "platform/regional.h"

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

 private:
  void MasterRowChanged(int row);
  void ShowCursorRow(QTableView* grid, const CursorTableModel* model);

  BatchViewerModel tables_;
  std::unique_ptr<CursorTableModel> master_model_;
  std::unique_ptr<CursorTableModel> detail_model_;
  QTableView* master_grid_ = nullptr;
  QTableView* detail_grid_ = nullptr;
  QSplitter* splitter_ = nullptr;
};

}  // namespace dalimor
