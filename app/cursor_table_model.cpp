#include "app/cursor_table_model.h"

#include <QRegularExpression>
#include <QStringList>
#include <charconv>
#include <variant>

#include "app/qt_text.h"

namespace dalimor {
namespace {

constexpr int kMaxCellLength = 250;

QString NumberText(double value, char decimal_separator) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  for (char& c : text)
    if (c == '.') c = decimal_separator;
  return QString::fromLatin1(text.c_str());
}

// A text cell shows its first line; the rest of a memo is hinted at.
QString TextCell(const std::string& text) {
  QString cell = ToQt(text);
  const qsizetype line_end = cell.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
  bool cut = false;
  if (line_end >= 0) {
    cell.truncate(line_end);
    cut = true;
  }
  if (cell.size() > kMaxCellLength) {
    cell.truncate(kMaxCellLength);
    cut = true;
  }
  if (cut) cell += QStringLiteral(" …");
  return cell;
}

// A cell showing all of its text has it as tooltip; one showing part of it
// has the whole text, up to kMaxTooltipLines lines (the text pane shows the
// rest), as rich text that keeps its lines and spaces and wraps long lines
// (a plain tooltip is as wide as its longest line).
QString TooltipText(const QString& shown, const QString& full) {
  if (shown == full) return shown;
  QStringList lines = full.split(QLatin1Char('\n'));
  if (lines.size() > CursorTableModel::kMaxTooltipLines) {
    lines.resize(CursorTableModel::kMaxTooltipLines);
    lines.append(QStringLiteral("… (celý text: Enter nebo dvojklik)"));
  }
  return QStringLiteral("<p style=\"white-space:pre-wrap\">") +
         lines.join(QLatin1Char('\n')).toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace

QString CellText(const Value& value, const RegionalSettings& settings) {
  struct Visitor {
    const RegionalSettings& settings;
    QString operator()(std::monostate) const { return {}; }
    QString operator()(int64_t v) const { return QString::number(v); }
    QString operator()(double v) const { return NumberText(v, settings.decimal_separator); }
    QString operator()(const std::string& v) const { return TextCell(v); }
    QString operator()(bool v) const { return v ? QStringLiteral("Ano") : QStringLiteral("Ne"); }
    QString operator()(const Date& v) const { return ToQt(DateToStr(v.value, settings)); }
    QString operator()(const Time& v) const {
      return ToQt(TimeToStr(static_cast<double>(v.milliseconds) / 86400000.0, settings));
    }
    QString operator()(const Timestamp& v) const { return ToQt(DateTimeToStr(v.value, settings)); }
    QString operator()(const Bytes&) const { return QStringLiteral("(Blob)"); }
  };
  return std::visit(Visitor{settings}, value);
}

QString FullCellText(const Value& value, const RegionalSettings& settings) {
  if (const auto* text = std::get_if<std::string>(&value)) return ToDisplayLines(*text);
  return CellText(value, settings);
}

CursorTableModel::CursorTableModel(TableCursor& cursor, bool is_detail,
                                   const RegionalSettings& settings, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor), is_detail_(is_detail), settings_(settings) {
  Reload();
}

void CursorTableModel::Reload() {
  beginResetModel();
  cache_.clear();
  detail_cells_.clear();
  rows_ = 0;
  cursor_row_ = -1;
  columns_ = cursor_.Active() ? static_cast<int>(cursor_.Fields().size()) : 0;
  if (cursor_.Active()) {
    if (is_detail_) {
      ReadDetailRows();
    } else {
      rows_ = static_cast<int>(cursor_.table()->record_count());
      // An opened master stands on its first record.
      cursor_row_ = rows_ > 0 ? 0 : -1;
    }
  }
  endResetModel();
}

void CursorTableModel::ReadDetailRows() {
  // The rows of one header are few; they are read through the cursor, which
  // knows its range, and the cursor is put back on the row it stood on.
  std::optional<Record> current;
  if (!cursor_.Eof()) {
    Record record;
    for (TableField& field : cursor_.Fields()) record.push_back(field.AsVariant());
    current = std::move(record);
  }
  int row = 0;
  for (cursor_.First(); !cursor_.Eof(); cursor_.Next(), ++row) {
    bool same = current.has_value() && cursor_row_ < 0;
    size_t i = 0;
    for (TableField& field : cursor_.Fields()) {
      const Value value = field.AsVariant();
      if (same && !(value == (*current)[i])) same = false;
      detail_cells_.push_back(MakeCell(value));
      ++i;
    }
    if (same) cursor_row_ = row;
  }
  rows_ = row;
  if (rows_ > 0 && cursor_row_ < 0) cursor_row_ = 0;
  cursor_.First();
  for (int i = 0; i < cursor_row_; ++i) cursor_.Next();
}

int CursorTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int CursorTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

CursorTableModel::CellTexts CursorTableModel::MakeCell(const Value& value) const {
  CellTexts cell{CellText(value, settings_), FullCellText(value, settings_)};
  if (cell.shown == cell.full) cell.full = cell.shown;
  return cell;
}

const std::vector<CursorTableModel::CellTexts>& CursorTableModel::Block(int block) const {
  if (const auto it = cache_.find(block); it != cache_.end()) return it->second;
  if (cache_.size() >= kCachedBlocks) cache_.clear();
  std::vector<CellTexts>& cells = cache_[block];
  const ParadoxTable* table = cursor_.table();
  const int first = block * kBlockRows;
  const int last = std::min(rows_, first + kBlockRows);
  if (first < last) {
    std::optional<RecordPosition> position = table->PositionAt(static_cast<uint32_t>(first));
    for (int row = first; row < last && position; ++row) {
      for (const Value& value : table->Read(*position)) cells.push_back(MakeCell(value));
      position = table->Next(*position);
    }
  }
  return cells;
}

const CursorTableModel::CellTexts& CursorTableModel::Cell(int row, int column) const {
  static const CellTexts kEmpty;
  const size_t at_column = static_cast<size_t>(column);
  const size_t width = static_cast<size_t>(columns_);
  if (is_detail_) {
    const size_t at = static_cast<size_t>(row) * width + at_column;
    return at < detail_cells_.size() ? detail_cells_[at] : kEmpty;
  }
  const std::vector<CellTexts>& cells = Block(row / kBlockRows);
  const size_t at = static_cast<size_t>(row % kBlockRows) * width + at_column;
  return at < cells.size() ? cells[at] : kEmpty;
}

QVariant CursorTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= columns_) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != kFullTextRole) return {};
  try {
    const CellTexts& cell = Cell(index.row(), index.column());
    if (role == Qt::DisplayRole) return cell.shown;
    if (role == kFullTextRole) return cell.full;
    return TooltipText(cell.shown, cell.full);
  } catch (const std::exception& e) {
    // A block that cannot be read shows the engine's message in its cells.
    return ToQt(e.what());
  }
}

QVariant CursorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= columns_) return {};
  return ToQt(cursor_.FieldAt(section).name());
}

void CursorTableModel::MoveCursorTo(int row) {
  if (is_detail_ || row < 0 || row >= rows_ || row == cursor_row_) return;
  ParadoxTable* table = cursor_.table();
  const int keys = table->key_field_count();
  const Record record = table->Read(table->PositionAt(static_cast<uint32_t>(row)));
  bool by_key = keys > 0;
  std::string names;
  std::vector<Value> values;
  for (int i = 0; i < keys && by_key; ++i) {
    const Value& value = record[static_cast<size_t>(i)];
    by_key = !IsNull(value);
    if (i > 0) names += ";";
    names += cursor_.FieldAt(i).name();
    values.push_back(value);
  }
  if (!by_key || !cursor_.Locate(names, values)) {
    cursor_.First();
    for (int i = 0; i < row && !cursor_.Eof(); ++i) cursor_.Next();
  }
  cursor_row_ = row;
}

int CursorTableModel::CursorRow() const {
  return cursor_row_;
}

}  // namespace dalimor
