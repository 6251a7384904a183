#include "transfer/statements.h"

#include <cstdio>
#include <vector>

#include "util/ascii.h"
#include "util/calendar.h"

namespace dalimor {
namespace {

std::vector<std::string_view> SplitKeys(std::string_view keys) {
  std::vector<std::string_view> result;
  if (keys.empty()) return result;
  size_t start = 0;
  while (true) {
    const size_t comma = keys.find(',', start);
    result.push_back(keys.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return result;
}

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string result;
  for (const std::string_view part : parts) result.append(part);
  return result;
}

const std::string kCr(1, kSqlLineBreak);

}  // namespace

std::string SqlDateLiteral(double date) {
  const CivilDate civil = DateFromDateTime(date);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "'%02d/%02d/%04lld'", civil.month, civil.day,
                static_cast<long long>(civil.year));
  return buffer;
}

std::string CombineConditions(std::string_view a, std::string_view b, std::string_view op) {
  if (!a.empty() && !b.empty()) return Cat({"(", a, " ", op, " ", b, ")"});
  return std::string(a.empty() ? b : a);
}

std::string DateRangeCondition(std::string_view field, double from, double to) {
  const std::string lower = from > 0 ? Cat({"(", field, " >= ", SqlDateLiteral(from), ")"}) : "";
  const std::string upper = to > 0 ? Cat({"(", field, " <= ", SqlDateLiteral(to), ")"}) : "";
  return CombineConditions(lower, upper, "AND");
}

std::string TextRangeCondition(std::string_view field, std::string_view from,
                               std::string_view to) {
  const std::string lower = from.empty() ? "" : Cat({"(", field, " >= ", SqlTextLiteral(from), ")"});
  const std::string upper = to.empty() ? "" : Cat({"(", field, " <= ", SqlTextLiteral(to), ")"});
  return CombineConditions(lower, upper, "AND");
}

std::string EqualsCondition(std::string_view field, std::string_view value) {
  if (value.empty()) return "";
  return Cat({"(", field, " = ", SqlTextLiteral(value), ")"});
}

std::string KeyMatchWhere(std::string_view keys) {
  std::string folded;
  for (const std::string_view key : SplitKeys(keys))
    folded = CombineConditions(folded, Cat({"tD.", key, "=", "tE.", key}), "AND");
  return folded.empty() ? "" : "WHERE " + folded;
}

std::string NotExistsGuard(std::string_view target_table_path, std::string_view keys) {
  return Cat({"NOT EXISTS (SELECT ", keys, " FROM  ", SqlTextLiteral(target_table_path), " tD ",
              kCr, KeyMatchWhere(keys), ")", kCr});
}

std::string MasterJoinClause(std::string_view master_table_path, std::string_view join_condition) {
  if (master_table_path.empty() || join_condition.empty()) return "";
  return Cat({"LEFT OUTER JOIN ", SqlTextLiteral(master_table_path), " tM ", kCr, "ON ",
              join_condition});
}

std::string KeyColumnExpr(std::string_view name) {
  const std::string upper = AsciiUpper(name);
  if (upper == "KLIC" || upper == "PORADI") return Cat({"CAST(", name, " AS CHAR(13))"});
  return std::string(name);
}

std::string CompositeKeyExpr(std::string_view keys) {
  const std::vector<std::string_view> names = SplitKeys(keys);
  if (names.empty()) return "";
  std::string result(names.front());
  for (size_t i = 1; i < names.size(); ++i) result += "+' +@@+ '+" + KeyColumnExpr(names[i]);
  return result;
}

std::string SelectAllStatement(std::string_view table_path) {
  return "SELECT * FROM " + SqlTextLiteral(table_path);
}

std::string BuildDeleteStatement(std::string_view target_table_path,
                                 std::string_view source_table_path, std::string_view keys,
                                 const TransferFilter& filter, std::string_view join_condition,
                                 std::string_view master_table_path) {
  if (keys.empty()) return "";
  const std::string condition = CombineConditions(
      CombineConditions(DateRangeCondition(filter.date_field, filter.date_from, filter.date_to),
                        TextRangeCondition(filter.number_field, filter.number_from,
                                           filter.number_to),
                        "AND"),
      EqualsCondition(filter.series_field, filter.series), "AND");
  const std::string where = condition.empty() ? "" : "WHERE " + condition;
  const std::string join = MasterJoinClause(master_table_path, join_condition);
  const std::string key = CompositeKeyExpr(keys);
  return Cat({"DELETE FROM ", SqlTextLiteral(target_table_path), " WHERE ", key, " in (", kCr,
              "SELECT ", key, "  FROM ", SqlTextLiteral(source_table_path), " tE ", kCr, join,
              kCr, where, kCr, ")"});
}

std::string BuildDeleteSelect(std::string_view select_list, std::string_view target_table_path,
                              std::string_view source_table_path, std::string_view keys,
                              const TransferFilter& filter, std::string_view join_condition,
                              std::string_view master_table_path) {
  const std::string statement = BuildDeleteStatement(target_table_path, source_table_path, keys,
                                                     filter, join_condition, master_table_path);
  if (statement.empty()) return "";
  // The same text with the verb swapped: the rows are those the DELETE takes.
  constexpr std::string_view kDelete = "DELETE FROM ";
  return Cat({"SELECT ", select_list, " FROM ", std::string_view(statement).substr(kDelete.size())});
}

std::string BuildInsertStatement(std::string_view source_folder, std::string_view target_folder,
                                 const TableStep& step, const TransferFilter& filter, bool guard,
                                 std::string_view columns) {
  const std::string target_path = Cat({target_folder, step.table});
  const std::string guard_text = guard ? NotExistsGuard(target_path, step.document_keys) : "";
  const std::string condition = CombineConditions(
      CombineConditions(
          CombineConditions(DateRangeCondition(filter.date_field, filter.date_from, filter.date_to),
                            TextRangeCondition(filter.number_field, filter.number_from,
                                               filter.number_to),
                            "AND"),
          guard_text, "AND"),
      EqualsCondition(filter.series_field, filter.series), "AND");
  const std::string where = condition.empty() ? "" : " WHERE " + condition;
  const std::string join =
      step.master_table.empty()
          ? ""
          : MasterJoinClause(Cat({source_folder, step.master_table}), step.join_condition);
  return Cat({"INSERT INTO ", SqlTextLiteral(target_path), kCr, "(", columns, ") ", kCr,
              "SELECT ", columns, " FROM ", SqlTextLiteral(Cat({source_folder, step.table})),
              " tE ", kCr, join, kCr, where});
}

std::string BuildInsertSelect(std::string_view select_list, std::string_view source_folder,
                              std::string_view target_folder, const TableStep& step,
                              const TransferFilter& filter, bool guard) {
  // The INSERT's own text from its SELECT on, with the select list swapped:
  // the rows are exactly those the INSERT writes.
  const std::string statement =
      BuildInsertStatement(source_folder, target_folder, step, filter, guard, "*");
  const size_t at = statement.find(Cat({kCr, "SELECT * FROM "}));
  return Cat({"SELECT ", select_list,
              std::string_view(statement).substr(at + 1 + std::string_view("SELECT *").size())});
}

}  // namespace dalimor
