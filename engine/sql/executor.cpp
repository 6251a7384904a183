#include "engine/sql/executor.h"

#include "engine/engine_error.h"
#include "engine/sql/binder.h"
#include "engine/sql/delete.h"
#include "engine/sql/insert.h"
#include "engine/sql/parser.h"
#include "engine/sql/project.h"
#include "engine/sql/semi_join.h"

namespace dalimor {
namespace {

// Everything one run of a statement holds: the pipeline of its outermost
// select and the runtime of each sub-select.
class StatementRuntime final : public SubqueryEvaluator {
 public:
  explicit StatementRuntime(const BoundStatement& statement) {
    if (statement.select) top_ = std::make_unique<SelectPipeline>(*statement.select, true);
    for (const auto& sub : statement.subqueries)
      subqueries_.push_back(std::make_unique<SubqueryRuntime>(*sub, *this));
    // Read every in-memory table before the outermost table starts streaming.
    for (auto& sub : subqueries_) sub->Prepare();
    if (top_) top_->Prepare();
  }

  SelectPipeline* top() { return top_.get(); }

  Truth Exists(int id, const Frame& frame) override { return subqueries_[id]->Exists(frame); }
  Truth In(int id, const Value& value, const Frame& frame) override {
    return subqueries_[id]->In(value, frame);
  }

 private:
  std::unique_ptr<SelectPipeline> top_;
  std::vector<std::unique_ptr<SubqueryRuntime>> subqueries_;
};

std::string TableText(const BoundTable& table) {
  std::string text = "'" + table.path + "'";
  if (!table.correlation.empty()) text += " " + table.correlation;
  return text;
}

const char* StrategyText(const BoundSubquery& sub) {
  switch (sub.strategy) {
    case SubqueryStrategy::kConstant: return "decided once";
    case SubqueryStrategy::kValueSet: return "value set built once";
    case SubqueryStrategy::kHashed: return sub.inner_keys.empty() ? "nested loop" : "hash lookup";
    case SubqueryStrategy::kNestedLoop: return "nested loop";
    case SubqueryStrategy::kExecuteEach: return "run for each row";
  }
  return "?";
}

// Sub-selects are numbered in the order they are written.
void ExplainSelect(const BoundStatement& statement, const BoundSelect& select, bool streamed,
                   const std::string& indent, int& numbered, std::string& out) {
  out += indent + (streamed ? "scan " : "read ") + TableText(select.tables[0]) + "\n";
  for (size_t k = 0; k < select.joins.size(); ++k) {
    const BoundJoin& join = select.joins[k];
    out += indent + (join.left_keys.empty() ? "nested loop " : "hash ");
    out += join.left_outer ? "left outer join " : "inner join ";
    out += TableText(select.tables[k + 1]);
    if (!join.left_keys.empty()) out += " on " + std::to_string(join.left_keys.size()) + " keys";
    if (!join.residual.empty())
      out += " with " + std::to_string(join.residual.size()) + " further conditions";
    out += "\n";
  }
  if (!select.where.empty())
    out += indent + "filter " + std::to_string(select.where.size()) + " conditions\n";
  if (select.aggregate) {
    out += indent + "aggregate " + std::to_string(select.group_by.size()) + " group keys, " +
           std::to_string(select.aggregates.size()) + " aggregates\n";
  }
  for (int id : select.subqueries) {
    const BoundSubquery& sub = *statement.subqueries[id];
    out += indent + "sub-select " + std::to_string(++numbered) + ": " +
           (sub.is_in ? "in, " : "exists, ") + StrategyText(sub);
    if (sub.strategy == SubqueryStrategy::kHashed && !sub.inner_keys.empty())
      out += " on " + std::to_string(sub.inner_keys.size()) + " keys";
    if (sub.strategy == SubqueryStrategy::kHashed && !sub.residual.empty())
      out += " with " + std::to_string(sub.residual.size()) + " further conditions";
    out += "\n";
    ExplainSelect(statement, *sub.select, false, indent + "  ", numbered, out);
  }
}

}  // namespace

SqlStatement::SqlStatement(SqlCatalog& catalog, std::string_view text)
    : bound_(BindSql(ParseSql(text), catalog)) {}

SqlStatement::~SqlStatement() = default;

const std::vector<FieldDef>& SqlStatement::result_fields() const {
  static const std::vector<FieldDef> kNone;
  return is_select() ? bound_->select->output_fields : kNone;
}

void SqlStatement::Select(const std::function<bool(Record&& record)>& sink) {
  if (!is_select()) throw EngineError(EngineErrorKind::kSql, "The statement is not a SELECT.");
  StatementRuntime runtime(*bound_);
  RunSelect(*runtime.top(), nullptr, &runtime, sink);
}

uint64_t SqlStatement::Execute() {
  StatementRuntime runtime(*bound_);
  switch (bound_->kind) {
    case AstStatement::Kind::kSelect: {
      uint64_t count = 0;
      RunSelect(*runtime.top(), nullptr, &runtime, [&](Record&&) {
        ++count;
        return true;
      });
      return count;
    }
    case AstStatement::Kind::kInsert: return RunInsert(*bound_, runtime.top(), runtime);
    case AstStatement::Kind::kDelete: return RunDelete(*bound_, *runtime.top(), runtime);
  }
  return 0;
}

std::string SqlStatement::Explain() const {
  std::string out;
  switch (bound_->kind) {
    case AstStatement::Kind::kSelect: out = "select\n"; break;
    case AstStatement::Kind::kInsert: out = "insert into '" + bound_->target_path + "'\n"; break;
    case AstStatement::Kind::kDelete: out = "delete from '" + bound_->target_path + "'\n"; break;
  }
  int numbered = 0;
  if (bound_->select) ExplainSelect(*bound_, *bound_->select, true, "", numbered, out);
  return out;
}

}  // namespace dalimor
