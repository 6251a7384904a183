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

// The text a grid cell shows for a value of a field: a text's first line
// (cut at 250 characters, " …" marking what is left out), a logical value
// as "Ano" or "Ne", dates and numbers in the regional formats.
QString CellText(const Value& value, const RegionalSettings& settings);
// The whole value as text: a text with every line (joined by "\n"), other
// values as CellText shows them.
QString FullCellText(const Value& value, const RegionalSettings& settings);

class CursorTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // data() for this role: the cell's whole text (FullCellText).  The tooltip
  // of a cell that shows only part of its text holds the whole of it (up to
  // kMaxTooltipLines lines).
  static constexpr int kFullTextRole = Qt::UserRole + 1;
  static constexpr int kMaxTooltipLines = 30;

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

  // What a cell shows and what it holds; `full` shares `shown` when the
  // cell shows all of it.
  struct CellTexts {
    QString shown;
    QString full;
  };

  void ReadDetailRows();
  CellTexts MakeCell(const Value& value) const;
  const std::vector<CellTexts>& Block(int block) const;
  const CellTexts& Cell(int row, int column) const;

  TableCursor& cursor_;
  bool is_detail_;
  RegionalSettings settings_;
  int rows_ = 0;
  int columns_ = 0;
  int cursor_row_ = -1;
  // Master: blocks of kBlockRows rows read by ordinal, each row's cells one
  // after the other.  Detail: the few rows of one header, read whole.
  mutable std::map<int, std::vector<CellTexts>> cache_;
  std::vector<CellTexts> detail_cells_;
};

}  // namespace dalimor
