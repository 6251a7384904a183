#include "engine/sql/insert.h"

#include "engine/engine_error.h"
#include "engine/sql/expression.h"
#include "engine/sql/project.h"
#include "engine/sql/value_ops.h"

namespace dalimor {
namespace {

// Flags in `fields` the fields of the outermost FROM table that `e`, an
// expression of a select at `level`, reads.
void MarkReads(const BoundExpr& e, int level, std::vector<bool>& fields) {
  if (e.kind == ExprKind::kColumn && level - e.depth == 0 && e.slot == 0)
    fields[static_cast<size_t>(e.field)] = true;
  for (const auto& child : e.children) MarkReads(*child, level, fields);
}

void MarkReads(const std::vector<BoundExprPtr>& list, int level, std::vector<bool>& fields) {
  for (const auto& e : list) MarkReads(*e, level, fields);
}

void MarkSelectReads(const BoundSelect& select, bool with_outputs, std::vector<bool>& fields) {
  const int level = select.level;
  MarkReads(select.where, level, fields);
  for (const BoundJoin& join : select.joins) {
    MarkReads(join.left_keys, level, fields);
    MarkReads(join.right_keys, level, fields);
    MarkReads(join.residual, level, fields);
  }
  MarkReads(select.group_by, level, fields);
  for (const BoundAggregate& a : select.aggregates)
    if (a.arg) MarkReads(*a.arg, level, fields);
  if (with_outputs) MarkReads(select.outputs, level, fields);
}

// INSERT ... SELECT whose every output is a column of the FROM table taken
// as it is can copy that table's stored rows: the copier for it, or null.
std::unique_ptr<RecordCopier> StoredRowCopier(const BoundStatement& statement) {
  const BoundSelect& select = *statement.select;
  if (select.aggregate) return nullptr;
  std::vector<int> field_map(statement.target->Fields().size(), -1);
  for (size_t i = 0; i < select.outputs.size(); ++i) {
    const BoundExpr& e = *select.outputs[i];
    if (e.kind != ExprKind::kColumn || e.depth != 0 || e.slot != 0) return nullptr;
    field_map[static_cast<size_t>(statement.target_fields[i])] = e.field;
  }
  return statement.target->CopierFrom(*select.tables[0].table, field_map);
}

// The fields of the FROM table that the conditions, joins and sub-selects
// read: all a stored-row copy has to decode.
std::vector<bool> FieldsReadBesidesOutputs(const BoundStatement& statement) {
  std::vector<bool> fields(statement.select->tables[0].used.size(), false);
  MarkSelectReads(*statement.select, false, fields);
  for (const auto& sub : statement.subqueries) MarkSelectReads(*sub->select, true, fields);
  return fields;
}

uint64_t InsertRows(const BoundStatement& statement, SelectPipeline* source,
                    SubqueryEvaluator& subqueries) {
  if (source) {
    if (auto copier = StoredRowCopier(statement)) {
      source->set_stream_fields(FieldsReadBesidesOutputs(statement));
      source->ForEach(nullptr, ExprRefs(statement.select->where), &subqueries,
                      [&](const Frame&, const EvalContext&) {
                        copier->TakeCurrent();
                        return true;
                      });
      return copier->InsertTaken();
    }
  }
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

}  // namespace

uint64_t RunInsert(const BoundStatement& statement, SelectPipeline* source,
                   SubqueryEvaluator& subqueries) {
  try {
    return InsertRows(statement, source, subqueries);
  } catch (const EngineError& e) {
    // A value a field cannot hold names the target, and the table it was
    // read from: either of them may be the damaged one.
    if (!e.HasContext(kFieldContext)) throw;
    EngineError named = e.WithContext(kTableContext, statement.target_path);
    if (statement.select && !statement.select->tables.empty())
      named = named.WithContext(kSourceTableContext, statement.select->tables[0].path);
    throw named;
  }
}

}  // namespace dalimor
