#include "engine/sql_insert.h"

#include "engine/sql_expression.h"
#include "engine/sql_project.h"
#include "engine/sql_value_ops.h"

namespace dalimor {

uint64_t RunInsert(const BoundStatement& statement, const SelectPipeline* source,
                   SubqueryEvaluator& subqueries) {
  const auto& fields = statement.target->Fields();
  std::vector<Record> rows;
  auto add = [&](Record&& values) {
    Record row(fields.size());
    for (size_t i = 0; i < values.size(); ++i) {
      const int field = statement.target_fields[i];
      row[field] = ConvertForField(values[i], fields[field]);
    }
    rows.push_back(std::move(row));
    return true;
  };
  if (source) {
    RunSelect(*source, nullptr, &subqueries, add);
  } else {
    Frame frame;
    const EvalContext ctx{&frame, nullptr, nullptr, &subqueries};
    for (const auto& exprs : statement.values) {
      Record values;
      for (const auto& e : exprs) values.push_back(Evaluate(*e, ctx));
      add(std::move(values));
    }
  }
  const uint64_t count = rows.size();
  if (count > 0) statement.target->InsertAll(std::move(rows));
  return count;
}

}  // namespace dalimor
