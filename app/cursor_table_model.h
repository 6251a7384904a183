#pragma once
// A read-only table model over a TableCursor for the batch viewer's grids:
// one column per field in the table's order, titled with the field names.
// Rows are read on demand by their ordinal in the table (in blocks, with a
// small cache), so a large table opens at once and only the rows in sight
// are read.  A detail cursor shows the rows of its master's current record.

#include <QAbstractTableModel>
#include <QString>
#include <map>
#include <optional>
#include <vector>

#include "engine/table_cursor.h"
#include "platform/regional.h"

namespace dalimor {

// The text a grid cell shows for a value of a field.
QString CellText(const Value& value, const RegionalSettings& settings);

class CursorTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // `is_detail`: the cursor follows a master, and its rows are a range of
  // the table.  The cursor must outlive the model.
  CursorTableModel(TableCursor& cursor, bool is_detail, const RegionalSettings& settings,
                   QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Reads the rows the cursor sees again (after its master moved).
  void Reload();
  // Puts the cursor on a row (the master's selected row); its details follow.
  void MoveCursorTo(int row);
  // The row the cursor stands on, or -1.
  int CursorRow() const;

 private:
  static constexpr int kBlockRows = 64;
  static constexpr size_t kCachedBlocks = 32;

  void ReadDetailRows();
  const std::vector<QString>& Block(int block) const;
  const QString& Cell(int row, int column) const;

  TableCursor& cursor_;
  bool is_detail_;
  RegionalSettings settings_;
  int rows_ = 0;
  int columns_ = 0;
  int cursor_row_ = -1;
  // Master: blocks of kBlockRows rows read by ordinal, each row's cells one
  // after the other.  Detail: the few rows of one header, read whole.
  mutable std::map<int, std::vector<QString>> cache_;
  std::vector<QString> detail_cells_;
};

}  // namespace dalimor
