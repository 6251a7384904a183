#include "engine/table_cursor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "engine/engine_error.h"
#include "platform/native_io.h"
#include "platform/regional.h"
#include "util/ascii.h"
#include "util/date_entry.h"

namespace dalimor {
namespace {

constexpr double kMsPerDay = 86400000.0;

std::vector<std::string> SplitNames(std::string_view names) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start <= names.size()) {
    size_t semicolon = names.find(';', start);
    if (semicolon == std::string_view::npos) semicolon = names.size();
    std::string_view name = names.substr(start, semicolon - start);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) result.emplace_back(name);
    start = semicolon + 1;
  }
  return result;
}

[[noreturn]] void ThrowConversion(const std::string& what, const FieldDef& def) {
  throw EngineError(EngineErrorKind::kGeneral,
                    "'" + what + "' is not a valid value for field '" + def.name + "'.");
}

std::string NumberText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<double> ParseNumber(std::string_view text) {
  std::string copy(text);
  std::replace(copy.begin(), copy.end(), ',', '.');
  while (!copy.empty() && copy.front() == ' ') copy.erase(copy.begin());
  while (!copy.empty() && copy.back() == ' ') copy.pop_back();
  if (!copy.empty() && copy.front() == '+') copy.erase(copy.begin());
  double value = 0;
  const auto result = std::from_chars(copy.data(), copy.data() + copy.size(), value);
  if (copy.empty() || result.ec != std::errc() || result.ptr != copy.data() + copy.size())
    return std::nullopt;
  return value;
}

bool IsTextType(FieldType type) {
  return type == FieldType::kAlpha || type == FieldType::kMemo ||
         type == FieldType::kFormattedMemo;
}

bool IsIntegerType(FieldType type) {
  return type == FieldType::kShort || type == FieldType::kLong || type == FieldType::kAutoInc;
}

bool IsFloatType(FieldType type) {
  return type == FieldType::kNumber || type == FieldType::kMoney || type == FieldType::kBcd;
}

bool IsBytesType(FieldType type) {
  return type == FieldType::kBlob || type == FieldType::kGraphic || type == FieldType::kOle ||
         type == FieldType::kBytes;
}

std::string ValueText(const Value& value) {
  static const RegionalSettings settings = CzechRegionalSettings();
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return NumberText(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, Date>) {
          return DateToStr(v.value, settings);
        } else if constexpr (std::is_same_v<T, Time>) {
          return TimeToStr(static_cast<double>(v.milliseconds) / kMsPerDay, settings);
        } else if constexpr (std::is_same_v<T, Timestamp>) {
          return DateTimeToStr(v.value, settings);
        } else {
          return v.data;
        }
      },
      value);
}

std::optional<double> DateTimeOf(const Value& value) {
  if (const auto* d = std::get_if<Date>(&value)) return d->value;
  if (const auto* t = std::get_if<Timestamp>(&value)) return t->value;
  if (const auto* t = std::get_if<Time>(&value))
    return static_cast<double>(t->milliseconds) / kMsPerDay;
  if (const auto* n = std::get_if<double>(&value)) return *n;
  if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* s = std::get_if<std::string>(&value)) {
    if (auto d = TryStrToDate(*s, CzechRegionalSettings(), SystemClock())) return *d;
  }
  return std::nullopt;
}

// The value converted to what a field of that type holds.
Value ConvertForField(const Value& value, const FieldDef& def) {
  if (IsNull(value)) return value;
  const FieldType type = def.type;
  if (IsTextType(type)) {
    if (const auto* b = std::get_if<Bytes>(&value)) return b->data;
    return ValueText(value);
  }
  if (IsIntegerType(type)) {
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    if (const auto* n = std::get_if<double>(&value)) {
      if (!std::isfinite(*n)) ThrowConversion(NumberText(*n), def);
      return static_cast<int64_t>(std::llround(*n));
    }
    if (const auto* b = std::get_if<bool>(&value)) return static_cast<int64_t>(*b ? 1 : 0);
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (s->empty()) return std::monostate{};
      if (IsIntegerText(*s)) return static_cast<int64_t>(IntegerFromText(*s));
      ThrowConversion(*s, def);
    }
    ThrowConversion(ValueText(value), def);
  }
  if (IsFloatType(type)) {
    if (const auto* n = std::get_if<double>(&value)) return *n;
    if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (s->empty()) return std::monostate{};
      if (auto n = ParseNumber(*s)) return *n;
      ThrowConversion(*s, def);
    }
    ThrowConversion(ValueText(value), def);
  }
  if (type == FieldType::kLogical) {
    if (const auto* b = std::get_if<bool>(&value)) return *b;
    if (const auto* i = std::get_if<int64_t>(&value)) return *i != 0;
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (s->empty()) return std::monostate{};
      if (EqualsIgnoringAsciiCase(*s, "true") || *s == "1") return true;
      if (EqualsIgnoringAsciiCase(*s, "false") || *s == "0") return false;
      ThrowConversion(*s, def);
    }
    ThrowConversion(ValueText(value), def);
  }
  if (type == FieldType::kDate || type == FieldType::kTime || type == FieldType::kTimestamp) {
    if (const auto* s = std::get_if<std::string>(&value); s && s->empty()) return std::monostate{};
    const std::optional<double> moment = DateTimeOf(value);
    if (!moment || !std::isfinite(*moment)) ThrowConversion(ValueText(value), def);
    if (type == FieldType::kDate) return Date{std::floor(*moment)};
    if (type == FieldType::kTimestamp) return Timestamp{*moment};
    const double fraction = *moment - std::floor(*moment);
    return Time{static_cast<int64_t>(std::llround(fraction * kMsPerDay))};
  }
  if (IsBytesType(type)) {
    if (const auto* b = std::get_if<Bytes>(&value)) return *b;
    if (const auto* s = std::get_if<std::string>(&value)) return Bytes{*s};
    ThrowConversion(ValueText(value), def);
  }
  return value;
}

// Equality as Locate and detail ranges see it: numbers by value, text
// exactly, NULL only with NULL.
bool SameValue(const Value& a, const Value& b) {
  if (IsNull(a) || IsNull(b)) return IsNull(a) && IsNull(b);
  auto number = [](const Value& v) -> std::optional<double> {
    if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (const auto* n = std::get_if<double>(&v)) return *n;
    return std::nullopt;
  };
  const auto na = number(a);
  const auto nb = number(b);
  if (na && nb) return *na == *nb;
  return a == b;
}

}  // namespace

// ------------------------------------------------------------------ fields

bool TableField::IsNull() const { return dalimor::IsNull(cursor_->BufferValue(index_)); }

Value TableField::AsVariant() const { return cursor_->BufferValue(index_); }

std::string TableField::AsString() const { return ValueText(cursor_->BufferValue(index_)); }

int64_t TableField::AsInteger() const {
  try {
    return ValueAsInteger(cursor_->BufferValue(index_));
  } catch (const EngineError& e) {
    throw cursor_->WithTableContext(e.WithContext(kFieldContext, def_.name));
  }
}

std::string ValueAsString(const Value& value) { return ValueText(value); }

int64_t ValueAsInteger(const Value& v) {
  if (dalimor::IsNull(v)) return 0;
  if (const auto* i = std::get_if<int64_t>(&v)) return *i;
  if (const auto* n = std::get_if<double>(&v)) return static_cast<int64_t>(*n);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&v); s && IsIntegerText(*s))
    return IntegerFromText(*s);
  throw EngineError(EngineErrorKind::kGeneral,
                    "'" + ValueText(v) + "' is not a valid integer value.");
}

double TableField::AsDateTime() const {
  const Value& v = cursor_->BufferValue(index_);
  if (dalimor::IsNull(v)) return 0;
  if (auto moment = DateTimeOf(v)) return *moment;
  throw cursor_->WithTableContext(
      EngineError(EngineErrorKind::kGeneral, "'" + ValueText(v) + "' is not a valid date and time.")
          .WithContext(kFieldContext, def_.name));
}

bool TableField::AsBoolean() const {
  const Value& v = cursor_->BufferValue(index_);
  if (dalimor::IsNull(v)) return false;
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* i = std::get_if<int64_t>(&v)) return *i != 0;
  return ConvertForField(v, FieldDef{def_.name, FieldType::kLogical, 0}) == Value(true);
}

void TableField::SetVariant(const Value& value) {
  if (cursor_->state_ != CursorState::kEdit && cursor_->state_ != CursorState::kInsert)
    throw EngineError(EngineErrorKind::kGeneral, "Dataset not in edit or insert mode.");
  try {
    cursor_->BufferValue(index_) = ConvertForField(value, def_);
  } catch (const EngineError& e) {
    throw cursor_->WithTableContext(e);
  }
}

void TableField::SetString(std::string_view text) { SetVariant(std::string(text)); }
void TableField::SetInteger(int64_t value) { SetVariant(value); }
void TableField::SetBoolean(bool value) { SetVariant(value); }
void TableField::Clear() { SetVariant(std::monostate{}); }

void TableField::SetDateTime(double value) {
  if (def_.type == FieldType::kDate) {
    SetVariant(Date{std::floor(value)});
  } else {
    SetVariant(Timestamp{value});
  }
}

// ------------------------------------------------------------------ cursor

TableCursor::~TableCursor() {
  // Leave the master and the details without moving anything: a pending
  // insert or edit is dropped, never posted.
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (TableCursor* detail : details_) detail->master_ = nullptr;
  try {
    Close();
  } catch (...) {
    // Every posted row reached the file when it was posted.
  }
}

std::string TableCursor::TablePath() const {
  if (database_name_.empty()) return table_name_;
  return Utf8FromPath(PathFromUtf8(database_name_) / PathFromUtf8(table_name_));
}

void TableCursor::Open(OpenMode mode) {
  if (table_) return;
  table_ = ParadoxTable::Open(TablePath(), mode);
  fields_.clear();
  const auto& defs = table_->fields();
  for (size_t i = 0; i < defs.size(); ++i)
    fields_.push_back(TableField(this, defs[i], static_cast<int>(i)));
  state_ = CursorState::kBrowse;
  if (master_) {
    MasterChanged();
  } else {
    First();
  }
}

void TableCursor::Close() {
  if (!table_) return;
  state_ = CursorState::kInactive;
  std::unique_ptr<ParadoxTable> table = std::move(table_);
  fields_.clear();
  position_.reset();
  buffer_.clear();
  eof_ = bof_ = true;
  table->Close();
}

void TableCursor::RequireActive() const {
  if (!table_) throw EngineError(EngineErrorKind::kGeneral, "Cannot perform this operation on a closed dataset.");
}

Value& TableCursor::BufferValue(int index) {
  if (static_cast<size_t>(index) >= buffer_.size()) buffer_.resize(fields_.size());
  return buffer_.at(static_cast<size_t>(index));
}

const Value& TableCursor::BufferValue(int index) const {
  static const Value kNull;
  return static_cast<size_t>(index) < buffer_.size() ? buffer_[static_cast<size_t>(index)] : kNull;
}

void TableCursor::LoadCurrent() {
  if (position_) {
    buffer_ = table_->Read(*position_);
  } else {
    buffer_.assign(fields_.size(), std::monostate{});
  }
}

void TableCursor::NotifyDetails() {
  for (TableCursor* detail : details_) detail->MasterChanged();
}

void TableCursor::SetPosition(std::optional<RecordPosition> position, bool forward) {
  position_ = position;
  if (!position) {
    if (forward) {
      eof_ = true;
    } else {
      bof_ = true;
    }
  }
  LoadCurrent();
  NotifyDetails();
}

bool TableCursor::InRange(RecordPosition position) const {
  if (!range_) return true;
  for (size_t i = 0; i < range_->size(); ++i)
    if (!SameValue(table_->ReadField(position, static_cast<int>(i)), (*range_)[i])) return false;
  return true;
}

std::optional<RecordPosition> TableCursor::RangeFirst() const {
  if (!range_) return table_->First();
  if (range_->empty()) return std::nullopt;  // a master without a record
  for (const Value& v : *range_)
    if (IsNull(v)) return std::nullopt;
  return table_->Find(*range_);
}

std::optional<RecordPosition> TableCursor::RangeLast() const {
  if (!range_) return table_->Last();
  std::optional<RecordPosition> last;
  for (auto p = RangeFirst(); p && InRange(*p); p = table_->Next(*p)) last = p;
  return last;
}

void TableCursor::CheckBrowse(const char* operation) {
  RequireActive();
  (void)operation;
  if (state_ == CursorState::kEdit || state_ == CursorState::kInsert) Post();
}

void TableCursor::First() {
  CheckBrowse("First");
  const auto p = RangeFirst();
  eof_ = !p;
  bof_ = true;
  SetPosition(p, true);
}

void TableCursor::Last() {
  CheckBrowse("Last");
  const auto p = RangeLast();
  eof_ = true;
  bof_ = !p;
  SetPosition(p, false);
}

void TableCursor::Next() {
  CheckBrowse("Next");
  if (!position_) {
    eof_ = true;
    return;
  }
  auto p = table_->Next(*position_);
  if (p && !InRange(*p)) p.reset();
  bof_ = false;
  if (!p) {
    eof_ = true;  // stays on the last record, as the Borland components do
    return;
  }
  SetPosition(p, true);
}

void TableCursor::Prior() {
  CheckBrowse("Prior");
  if (!position_) {
    bof_ = true;
    return;
  }
  auto p = table_->Prior(*position_);
  if (p && !InRange(*p)) p.reset();
  eof_ = false;
  if (!p) {
    bof_ = true;
    return;
  }
  SetPosition(p, false);
}

uint32_t TableCursor::RecordCount() const {
  RequireActive();
  if (!range_) return table_->record_count();
  uint32_t count = 0;
  for (auto p = RangeFirst(); p && InRange(*p); p = table_->Next(*p)) ++count;
  return count;
}

TableField* TableCursor::FindField(std::string_view name) {
  for (TableField& field : fields_)
    if (EqualsIgnoringAsciiCase(field.name(), name)) return &field;
  return nullptr;
}

TableField& TableCursor::FieldByName(std::string_view name) {
  RequireActive();
  if (TableField* field = FindField(name)) return *field;
  throw EngineError(EngineErrorKind::kFieldNotFound,
                    std::string("Field '") + std::string(name) + "' not found.\nTable: " +
                        TablePath());
}

EngineError TableCursor::WithTableContext(const EngineError& error) const {
  return error.WithContext(kTableContext, TablePath());
}

bool TableCursor::Locate(std::string_view field_names, const std::vector<Value>& values) {
  CheckBrowse("Locate");
  const std::vector<std::string> names = SplitNames(field_names);
  if (names.size() != values.size())
    throw EngineError(EngineErrorKind::kGeneral, "Locate: the numbers of fields and values differ.");
  std::vector<int> indexes;
  std::vector<Value> wanted;
  for (size_t i = 0; i < names.size(); ++i) {
    TableField& field = FieldByName(names[i]);
    indexes.push_back(field.index());
    Value converted;
    try {
      converted = ConvertForField(values[i], table_->fields()[static_cast<size_t>(field.index())]);
    } catch (const EngineError&) {
      return false;  // a value the field cannot hold matches no record
    }
    wanted.push_back(std::move(converted));
  }
  // Fields that are the leading key fields, in order, are found through the
  // index; the first match in key order is the first match of the walk.
  bool by_key = !range_ && !indexes.empty() &&
                static_cast<int>(indexes.size()) <= table_->key_field_count();
  for (size_t i = 0; by_key && i < indexes.size(); ++i)
    by_key = indexes[i] == static_cast<int>(i) && !IsNull(wanted[i]);
  if (by_key) {
    const auto p = table_->Find(wanted);
    if (!p) return false;
    eof_ = bof_ = false;
    SetPosition(p, true);
    return true;
  }
  for (auto p = RangeFirst(); p && InRange(*p); p = table_->Next(*p)) {
    bool match = true;
    for (size_t i = 0; i < indexes.size() && match; ++i)
      match = SameValue(table_->ReadField(*p, indexes[i]), wanted[i]);
    if (match) {
      eof_ = bof_ = false;
      SetPosition(p, true);
      return true;
    }
  }
  return false;
}

void TableCursor::Insert() {
  CheckBrowse("Insert");
  buffer_.assign(fields_.size(), std::monostate{});
  if (range_)
    for (size_t i = 0; i < range_->size() && i < buffer_.size(); ++i) buffer_[i] = (*range_)[i];
  state_ = CursorState::kInsert;
}

void TableCursor::Edit() {
  CheckBrowse("Edit");
  if (!position_)
    throw EngineError(EngineErrorKind::kGeneral, "Cannot edit: the dataset has no current record.");
  state_ = CursorState::kEdit;
}

void TableCursor::Post() {
  RequireActive();
  if (state_ == CursorState::kBrowse) return;
  RecordPosition position;
  if (state_ == CursorState::kInsert) {
    position = table_->Insert(buffer_);
  } else {
    position = table_->Update(*position_, buffer_);
  }
  state_ = CursorState::kBrowse;
  eof_ = bof_ = false;
  SetPosition(position, true);
}

void TableCursor::Cancel() {
  RequireActive();
  if (state_ == CursorState::kBrowse) return;
  state_ = CursorState::kBrowse;
  LoadCurrent();
}

void TableCursor::Delete() {
  CheckBrowse("Delete");
  if (!position_ || IsEmpty())
    throw EngineError(EngineErrorKind::kGeneral, "Cannot delete: the dataset is empty.");
  const uint32_t ordinal = table_->OrdinalOf(*position_);
  table_->Delete(*position_);
  std::optional<RecordPosition> next;
  if (ordinal < table_->record_count()) {
    next = table_->PositionAt(ordinal);
    if (!InRange(*next)) next.reset();
  }
  if (next) {
    eof_ = bof_ = false;
    SetPosition(next, true);
  } else {
    const auto last = RangeLast();
    eof_ = true;
    bof_ = !last;
    SetPosition(last, true);
  }
}

void TableCursor::SetMaster(TableCursor* master, std::string master_fields) {
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  master_ = master;
  master_fields_ = SplitNames(master_fields);
  range_.reset();
  if (master_) {
    master_->details_.push_back(this);
    if (table_) MasterChanged();
  } else if (table_) {
    First();
  }
}

void TableCursor::MasterChanged() {
  if (!table_ || !master_) return;
  if (static_cast<int>(master_fields_.size()) > table_->key_field_count())
    throw EngineError(EngineErrorKind::kGeneral,
                      "Field index out of range: the detail table's key has fewer fields than "
                      "the master link names.");
  Record range;
  if (master_->Active() && master_->position_) {
    for (const std::string& name : master_fields_) {
      const TableField& field = master_->FieldByName(name);
      range.push_back(ConvertForField(field.AsVariant(),
                                      table_->fields()[range.size()]));
    }
  }
  range_ = std::move(range);
  if (state_ == CursorState::kEdit || state_ == CursorState::kInsert) state_ = CursorState::kBrowse;
  const auto p = RangeFirst();
  eof_ = !p;
  bof_ = true;
  SetPosition(p, true);
}

DeferredWrites::DeferredWrites(std::initializer_list<TableCursor*> cursors) {
  for (TableCursor* cursor : cursors) {
    if (!cursor->Active() || cursor->table()->mode() == OpenMode::kReadOnly) continue;
    cursors_.push_back(cursor);
    cursor->table()->set_auto_flush(false);
  }
}

void DeferredWrites::Finish() {
  for (TableCursor* cursor : cursors_) {
    if (!cursor->Active()) continue;
    cursor->table()->Flush();
    cursor->table()->set_auto_flush(true);
  }
  cursors_.clear();
}

}  // namespace dalimor
