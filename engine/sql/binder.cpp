#include "engine/sql/binder.h"

#include <algorithm>
#include <limits>
#include <map>

#include "engine/engine_error.h"
#include "engine/sql/error.h"
#include "engine/sql/lexer.h"

namespace dalimor {

SqlDeps SqlLevelMask(int level) {
  SqlDeps mask;
  for (int slot = 0; slot < kSqlMaxTables; ++slot) mask.set(level * kSqlMaxTables + slot);
  return mask;
}

SqlDeps SqlLevelsAboveMask(int level) {
  SqlDeps mask;
  for (int l = 0; l < level; ++l) mask |= SqlLevelMask(l);
  return mask;
}

namespace {

constexpr int kMaxTextSize = 255;

[[noreturn]] void Fail(const std::string& message, const AstExpr& at) {
  throw SqlError(message, at.token, at.position);
}

bool IsBoolean(SqlType t) { return t == SqlType::kBool || t == SqlType::kNull; }

// The file name of a path without folder and extension: the name a table
// without a correlation name answers to.
std::string FileStem(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

bool TableAnswersTo(const BoundTable& table, const std::string& qualifier) {
  if (!table.correlation.empty()) return SqlNamesEqual(table.correlation, qualifier);
  return SqlNamesEqual(FileStem(table.path), qualifier);
}

int FindField(const SqlTable& table, const std::string& name) {
  const auto& fields = table.Fields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (SqlNamesEqual(fields[i].name, name)) return static_cast<int>(i);
  return -1;
}

SqlType TypeOfConstant(const Value& v) {
  switch (v.index()) {
    case 0: return SqlType::kNull;
    case 1: return SqlType::kInteger;
    case 2: return SqlType::kFloat;
    case 3: return SqlType::kString;
    case 4: return SqlType::kBool;
    case 5: return SqlType::kDate;
    case 6: return SqlType::kTime;
    case 7: return SqlType::kTimestamp;
    default: return SqlType::kBytes;
  }
}

BoundExprPtr MakeConstant(Value v) {
  auto e = std::make_unique<BoundExpr>();
  e->kind = ExprKind::kConstant;
  e->type = TypeOfConstant(v);
  e->constant = std::move(v);
  return e;
}

BoundExprPtr MakeNode(ExprKind kind, SqlType type) {
  auto e = std::make_unique<BoundExpr>();
  e->kind = kind;
  e->type = type;
  return e;
}

void Adopt(BoundExpr& parent, BoundExprPtr child) {
  parent.deps |= child->deps;
  parent.has_subquery = parent.has_subquery || child->has_subquery;
  parent.children.push_back(std::move(child));
}

// Splits a condition into the conditions of its top-level AND.
void Flatten(BoundExprPtr e, std::vector<BoundExprPtr>& out) {
  if (e->kind == ExprKind::kAnd) {
    for (auto& child : e->children) Flatten(std::move(child), out);
    return;
  }
  out.push_back(std::move(e));
}

// True when the AST expression holds an aggregate outside sub-selects.
bool HasAggregate(const AstExpr& e) {
  if (e.kind == AstExpr::Kind::kAggregate) return true;
  for (const auto& child : e.children)
    if (HasAggregate(*child)) return true;
  return false;
}

bool ReadsOnly(const BoundExpr& e, const SqlDeps& allowed) {
  return e.deps.any() && (e.deps & ~allowed).none();
}

int TextSize(const BoundExpr& e) {
  int size = 0;
  switch (e.kind) {
    case ExprKind::kConstant:
      size = IsNull(e.constant) ? 0
                                : static_cast<int>(std::min<size_t>(
                                      Utf8Length(SqlValueText(e.constant)), kMaxTextSize));
      break;
    case ExprKind::kConcat:
      for (const auto& child : e.children) size = std::min(kMaxTextSize, size + TextSize(*child));
      break;
    case ExprKind::kCast: size = e.index; break;
    default: size = e.source ? e.source->size : kMaxTextSize;
  }
  return size;
}

// The result column an expression makes.
FieldDef DescribeColumn(const BoundExpr& e, const std::string& name) {
  FieldDef def;
  const bool copies_source =
      e.source && (e.kind == ExprKind::kColumn || e.kind == ExprKind::kGroupKey ||
                   e.kind == ExprKind::kAggregate);
  if (copies_source) {
    def = *e.source;
    def.name = name;
    return def;
  }
  def.name = name;
  switch (e.type) {
    case SqlType::kNull:
    case SqlType::kString:
      def.type = FieldType::kAlpha;
      def.size = std::max(1, TextSize(e));
      break;
    case SqlType::kBool: def.type = FieldType::kLogical; break;
    case SqlType::kInteger: def.type = FieldType::kLong; break;
    case SqlType::kFloat: def.type = FieldType::kNumber; break;
    case SqlType::kDate: def.type = FieldType::kDate; break;
    case SqlType::kTime: def.type = FieldType::kTime; break;
    case SqlType::kTimestamp: def.type = FieldType::kTimestamp; break;
    case SqlType::kBytes: def.type = FieldType::kBlob; break;
  }
  return def;
}

const char* AggregateName(AggregateFunc func) {
  switch (func) {
    case AggregateFunc::kMax: return "MAX";
    case AggregateFunc::kMin: return "MIN";
    case AggregateFunc::kCount: return "COUNT";
  }
  return "?";
}

class Binder {
 public:
  Binder(SqlCatalog& catalog, BoundStatement& out) : catalog_(catalog), out_(out) {}

  void BindStatement(const AstStatement& ast) {
    out_.kind = ast.kind;
    switch (ast.kind) {
      case AstStatement::Kind::kSelect: out_.select = BindSelect(*ast.select, nullptr, 0); break;
      case AstStatement::Kind::kInsert: BindInsert(*ast.insert); break;
      case AstStatement::Kind::kDelete: BindDelete(*ast.del); break;
    }
  }

 private:
  struct Scope {
    Scope* parent = nullptr;
    BoundSelect* select = nullptr;
    int visible = 0;              // tables of `select` that names may refer to
    bool grouped = false;         // the select list is of an aggregate select
  };
  enum class Clause { kOn, kWhere, kSelectList, kAggregateArg, kGroupBy, kValues };

  std::shared_ptr<SqlTable> Open(const std::string& path, bool for_write) {
    const auto it = opened_.find(path);
    if (it != opened_.end()) return it->second;
    auto table = catalog_.Open(path, for_write);
    if (!table) throw EngineError(EngineErrorKind::kFileNotFound, "Table does not exist.\nTable: " + path);
    opened_.emplace(path, table);
    return table;
  }

  BoundTable MakeTable(const AstTableRef& ref, bool for_write) {
    BoundTable table;
    table.table = Open(ref.path, for_write);
    table.path = ref.path;
    table.correlation = ref.correlation;
    table.used.assign(table.table->Fields().size(), false);
    return table;
  }

  void BindInsert(const AstInsert& ast) {
    out_.target = Open(ast.target.path, true);
    out_.target_path = ast.target.path;
    const auto& fields = out_.target->Fields();
    std::vector<SqlType> source_types;
    SqlPosition source_position = ast.target.position;
    if (ast.select) {
      out_.select = BindSelect(*ast.select, nullptr, 0);
      for (const auto& e : out_.select->outputs) source_types.push_back(e->type);
      source_position = ast.select->position;
    } else {
      BoundSelect empty;
      Scope scope{nullptr, &empty, 0, false};
      for (const auto& row : ast.values) {
        std::vector<BoundExprPtr> bound;
        for (const auto& e : row) bound.push_back(Bind(*e, scope, Clause::kValues));
        if (!out_.values.empty() && bound.size() != out_.values.front().size())
          Fail("Number of values does not match the number of columns.", *row.front());
        out_.values.push_back(std::move(bound));
      }
      for (const auto& e : out_.values.front()) source_types.push_back(e->type);
    }
    if (ast.has_column_list) {
      for (const AstColumnName& column : ast.columns) {
        const int field = FindField(*out_.target, column.name);
        if (field < 0) {
          throw EngineError(EngineErrorKind::kFieldNotFound, "Field not found in table.\nField: " +
                                                                 column.name + "\nTable: " +
                                                                 ast.target.path);
        }
        if (std::find(out_.target_fields.begin(), out_.target_fields.end(), field) !=
            out_.target_fields.end())
          throw SqlError("Duplicate field name.", column.name, column.position);
        out_.target_fields.push_back(field);
      }
    } else {
      for (size_t i = 0; i < fields.size(); ++i) out_.target_fields.push_back(static_cast<int>(i));
    }
    if (source_types.size() != out_.target_fields.size())
      throw SqlError("Number of values does not match the number of columns.",
                     ast.select ? "SELECT" : "VALUES", source_position);
    for (size_t i = 0; i < source_types.size(); ++i) {
      const FieldDef& field = fields[out_.target_fields[i]];
      if (!CanStoreInField(source_types[i], field.type)) {
        const SqlPosition at =
            ast.has_column_list ? ast.columns[i].position : source_position;
        throw SqlError("Type mismatch in expression.", field.name, at);
      }
    }
  }

  void BindDelete(const AstDelete& ast) {
    out_.target = Open(ast.target.path, true);
    out_.target_path = ast.target.path;
    auto select = std::make_unique<BoundSelect>();
    select->tables.push_back(MakeTable(ast.target, true));
    Scope scope{nullptr, select.get(), 1, false};
    if (ast.where) {
      BoundExprPtr where = Bind(*ast.where, scope, Clause::kWhere);
      RequireBoolean(*where, *ast.where);
      Flatten(std::move(where), select->where);
    }
    out_.select = std::move(select);
  }

  void RequireBoolean(const BoundExpr& e, const AstExpr& at) {
    if (!IsBoolean(e.type)) Fail("Type mismatch in expression.", at);
  }

  std::unique_ptr<BoundSelect> BindSelect(const AstSelect& ast, Scope* parent, int level) {
    if (level >= kSqlMaxLevels)
      throw SqlError("Statement is nested too deeply.", "SELECT", ast.position);
    auto select = std::make_unique<BoundSelect>();
    select->level = level;
    select->tables.push_back(MakeTable(ast.from, false));
    for (const AstJoin& join : ast.joins) {
      if (select->tables.size() >= static_cast<size_t>(kSqlMaxTables))
        throw SqlError("Capability not supported.", join.table.token, join.table.position);
      select->tables.push_back(MakeTable(join.table, false));
    }
    Scope scope{parent, select.get(), 1, false};
    for (size_t k = 0; k < ast.joins.size(); ++k) {
      const int slot = static_cast<int>(k) + 1;
      scope.visible = slot + 1;
      BoundExprPtr on = Bind(*ast.joins[k].on, scope, Clause::kOn);
      RequireBoolean(*on, *ast.joins[k].on);
      if ((on->deps & SqlLevelsAboveMask(level)).any()) select->joins_use_outer = true;
      select->joins.push_back(PlanJoin(std::move(on), level, slot,
                                       ast.joins[k].kind == AstJoinKind::kLeftOuter));
    }
    scope.visible = static_cast<int>(select->tables.size());
    if (ast.where) {
      BoundExprPtr where = Bind(*ast.where, scope, Clause::kWhere);
      RequireBoolean(*where, *ast.where);
      Flatten(std::move(where), select->where);
    }
    for (const auto& column : ast.group_by) {
      BoundExprPtr e = Bind(*column, scope, Clause::kGroupBy);
      if (e->depth != 0) Fail("Invalid GROUP BY field.", *column);
      select->group_by.push_back(std::move(e));
    }
    bool has_aggregate = false;
    for (const AstSelectItem& item : ast.items)
      if (item.expr && HasAggregate(*item.expr)) has_aggregate = true;
    select->aggregate = has_aggregate || !select->group_by.empty();
    scope.grouped = select->aggregate;
    int unnamed = 0;
    for (const AstSelectItem& item : ast.items) {
      if (item.kind != AstSelectItem::Kind::kExpr) {
        AddAllColumns(item, scope);
        continue;
      }
      BoundExprPtr e = Bind(*item.expr, scope, Clause::kSelectList);
      std::string name = item.alias;
      if (name.empty()) {
        if (e->kind == ExprKind::kColumn || e->kind == ExprKind::kGroupKey) {
          name = e->source->name;
        } else if (e->kind == ExprKind::kAggregate) {
          const BoundAggregate& agg = select->aggregates[e->index];
          name = std::string(AggregateName(agg.func)) + " OF " +
                 (!agg.arg ? std::string("*")
                           : agg.arg->kind == ExprKind::kColumn ? agg.arg->source->name
                                                                : std::string("EXPR"));
        } else {
          name = "EXPR" + std::to_string(++unnamed);
        }
      }
      select->output_fields.push_back(DescribeColumn(*e, name));
      select->outputs.push_back(std::move(e));
    }
    return select;
  }

  // SELECT * and SELECT t.*: every field of every table (or of one).
  void AddAllColumns(const AstSelectItem& item, Scope& scope) {
    BoundSelect& select = *scope.select;
    bool matched = false;
    for (size_t slot = 0; slot < select.tables.size(); ++slot) {
      BoundTable& table = select.tables[slot];
      if (item.kind == AstSelectItem::Kind::kTableColumns &&
          !TableAnswersTo(table, item.qualifier))
        continue;
      matched = true;
      const auto& fields = table.table->Fields();
      for (size_t field = 0; field < fields.size(); ++field) {
        BoundExprPtr e = ColumnNode(scope, 0, static_cast<int>(slot), static_cast<int>(field));
        if (scope.grouped) {
          e = GroupKeyFor(std::move(e), select);
          if (!e)
            throw SqlError("Field in the select list must appear in GROUP BY.", item.token,
                           item.position);
        }
        select.output_fields.push_back(DescribeColumn(*e, fields[field].name));
        select.outputs.push_back(std::move(e));
      }
      if (item.kind == AstSelectItem::Kind::kTableColumns) break;
    }
    if (!matched)
      throw SqlError("No such table or correlation name.", item.token, item.position);
  }

  // A column reference found `depth` selects out from `scope`.
  BoundExprPtr ColumnNode(Scope& scope, int depth, int slot, int field) {
    Scope* owner = &scope;
    for (int d = 0; d < depth; ++d) owner = owner->parent;
    const int bit = owner->select->level * kSqlMaxTables + slot;
    // Every select between the reference and the table's own select reads
    // an outer column through it.
    Scope* s = &scope;
    for (int d = 0; d < depth; ++d, s = s->parent) s->select->outer_deps.set(bit);
    BoundTable& table = owner->select->tables[slot];
    table.used[field] = true;
    auto e = MakeNode(ExprKind::kColumn, SqlTypeOfField(table.table->Fields()[field].type));
    e->depth = depth;
    e->slot = slot;
    e->field = field;
    e->source = &table.table->Fields()[field];
    e->deps.set(bit);
    return e;
  }

  // The GROUP BY reference for a column of the grouped select, or null
  // when the column is not grouped.
  static BoundExprPtr GroupKeyFor(BoundExprPtr column, const BoundSelect& select) {
    for (size_t k = 0; k < select.group_by.size(); ++k) {
      const BoundExpr& key = *select.group_by[k];
      if (key.slot == column->slot && key.field == column->field) {
        auto e = MakeNode(ExprKind::kGroupKey, column->type);
        e->index = static_cast<int>(k);
        e->source = column->source;
        return e;
      }
    }
    return nullptr;
  }

  BoundExprPtr BindColumn(const AstExpr& ast, Scope& scope, Clause clause) {
    int depth = 0;
    for (Scope* s = &scope; s; s = s->parent, ++depth) {
      for (int slot = 0; slot < s->visible; ++slot) {
        const BoundTable& table = s->select->tables[slot];
        if (!ast.qualifier.empty() && !TableAnswersTo(table, ast.qualifier)) continue;
        const int field = FindField(*table.table, ast.name);
        if (field < 0) {
          if (ast.qualifier.empty()) continue;
          Fail("Invalid field name.", ast);
        }
        BoundExprPtr e = ColumnNode(scope, depth, slot, field);
        if (depth == 0 && scope.grouped && clause == Clause::kSelectList) {
          e = GroupKeyFor(std::move(e), *scope.select);
          if (!e) Fail("Field in the select list must appear in GROUP BY.", ast);
        }
        return e;
      }
    }
    if (!ast.qualifier.empty()) Fail("No such table or correlation name.", ast);
    Fail("Invalid field name.", ast);
  }

  // A string literal compared with a date, timestamp or number is read as one.
  static void CoerceLiteral(BoundExpr& e, SqlType other, const AstExpr& at) {
    if (e.kind != ExprKind::kConstant || e.type != SqlType::kString) return;
    const std::string& text = std::get<std::string>(e.constant);
    Value converted;
    if (other == SqlType::kDate || other == SqlType::kTimestamp) {
      if (!ParseSqlDate(text, false, converted) && !ParseSqlDate(text, true, converted))
        Fail("Invalid date literal.", at);
    } else if (IsNumericType(other)) {
      if (!ParseSqlNumber(text, converted)) Fail("Type mismatch in expression.", at);
    } else {
      return;
    }
    e.constant = std::move(converted);
    e.type = TypeOfConstant(e.constant);
  }

  BoundExprPtr BindSubselect(const AstExpr& ast, Scope& scope, Clause clause, bool is_in) {
    if (clause == Clause::kSelectList || clause == Clause::kAggregateArg ||
        clause == Clause::kValues)
      Fail("Capability not supported.", ast);
    auto sub = std::make_unique<BoundSubquery>();
    sub->is_in = is_in;
    sub->select = BindSelect(*ast.subquery, &scope, scope.select->level + 1);
    PlanSubquery(*sub);
    auto e = MakeNode(is_in ? ExprKind::kInSelect : ExprKind::kExists, SqlType::kBool);
    e->index = static_cast<int>(out_.subqueries.size());
    e->negated = ast.negated;
    e->deps = sub->select->outer_deps;
    e->has_subquery = true;
    scope.select->subqueries.push_back(e->index);
    out_.subqueries.push_back(std::move(sub));
    return e;
  }

  BoundExprPtr Bind(const AstExpr& ast, Scope& scope, Clause clause) {
    switch (ast.kind) {
      case AstExpr::Kind::kLiteral: return MakeConstant(ast.literal);
      case AstExpr::Kind::kNull: return MakeConstant(Value());
      case AstExpr::Kind::kColumn: return BindColumn(ast, scope, clause);
      case AstExpr::Kind::kAdd: {
        auto e = MakeNode(ExprKind::kAdd, SqlType::kNull);
        SqlType type = SqlType::kNull;
        for (size_t i = 0; i < ast.children.size(); ++i) {
          BoundExprPtr child = Bind(*ast.children[i], scope, clause);
          const SqlType t = child->type;
          const bool concat_op = i > 0 && ast.ops[i - 1] == '|';
          if (concat_op && ((type != SqlType::kString && type != SqlType::kNull) ||
                            (t != SqlType::kString && t != SqlType::kNull)))
            Fail("Type mismatch in expression.", ast);
          if (type == SqlType::kNull) {
            type = t;
          } else if (t == SqlType::kNull) {
          } else if (IsNumericType(type) && IsNumericType(t)) {
            type = type == SqlType::kInteger && t == SqlType::kInteger ? SqlType::kInteger
                                                                       : SqlType::kFloat;
          } else if (type == SqlType::kString && t == SqlType::kString) {
          } else {
            Fail("Type mismatch in expression.", ast);
          }
          if (!IsNumericType(t) && t != SqlType::kString && t != SqlType::kNull)
            Fail("Type mismatch in expression.", ast);
          Adopt(*e, std::move(child));
        }
        e->type = type;
        e->kind = type == SqlType::kString ? ExprKind::kConcat : ExprKind::kAdd;
        return e;
      }
      case AstExpr::Kind::kNegate: {
        BoundExprPtr child = Bind(*ast.children[0], scope, clause);
        if (!IsNumericType(child->type) && child->type != SqlType::kNull)
          Fail("Type mismatch in expression.", ast);
        if (child->kind == ExprKind::kConstant) {
          if (auto* i = std::get_if<int64_t>(&child->constant)) {
            if (*i != std::numeric_limits<int64_t>::min()) *i = -*i;
            else child->constant = -static_cast<double>(*i);
          } else if (auto* d = std::get_if<double>(&child->constant)) {
            *d = -*d;
          }
          child->type = TypeOfConstant(child->constant);
          return child;
        }
        auto e = MakeNode(ExprKind::kNegate, child->type);
        Adopt(*e, std::move(child));
        return e;
      }
      case AstExpr::Kind::kCompare: {
        BoundExprPtr left = Bind(*ast.children[0], scope, clause);
        BoundExprPtr right = Bind(*ast.children[1], scope, clause);
        CoerceLiteral(*left, right->type, *ast.children[0]);
        CoerceLiteral(*right, left->type, *ast.children[1]);
        if (!AreComparable(left->type, right->type)) Fail("Type mismatch in expression.", ast);
        auto e = MakeNode(ExprKind::kCompare, SqlType::kBool);
        e->op = ast.op;
        Adopt(*e, std::move(left));
        Adopt(*e, std::move(right));
        return e;
      }
      case AstExpr::Kind::kAnd:
      case AstExpr::Kind::kOr: {
        auto e = MakeNode(ast.kind == AstExpr::Kind::kAnd ? ExprKind::kAnd : ExprKind::kOr,
                          SqlType::kBool);
        for (const auto& child_ast : ast.children) {
          BoundExprPtr child = Bind(*child_ast, scope, clause);
          RequireBoolean(*child, *child_ast);
          Adopt(*e, std::move(child));
        }
        return e;
      }
      case AstExpr::Kind::kNot: {
        BoundExprPtr child = Bind(*ast.children[0], scope, clause);
        RequireBoolean(*child, *ast.children[0]);
        if (child->kind == ExprKind::kExists || child->kind == ExprKind::kInSelect ||
            child->kind == ExprKind::kInList || child->kind == ExprKind::kIsNull) {
          child->negated = !child->negated;
          return child;
        }
        auto e = MakeNode(ExprKind::kNot, SqlType::kBool);
        Adopt(*e, std::move(child));
        return e;
      }
      case AstExpr::Kind::kIsNull: {
        auto e = MakeNode(ExprKind::kIsNull, SqlType::kBool);
        e->negated = ast.negated;
        Adopt(*e, Bind(*ast.children[0], scope, clause));
        return e;
      }
      case AstExpr::Kind::kCast: {
        BoundExprPtr child = Bind(*ast.children[0], scope, clause);
        if (child->type == SqlType::kBytes) Fail("Type mismatch in expression.", ast);
        auto e = MakeNode(ExprKind::kCast, SqlType::kString);
        e->index = ast.size;
        Adopt(*e, std::move(child));
        return e;
      }
      case AstExpr::Kind::kAggregate: return BindAggregate(ast, scope, clause);
      case AstExpr::Kind::kExists: return BindSubselect(ast, scope, clause, false);
      case AstExpr::Kind::kInSelect: {
        BoundExprPtr left = Bind(*ast.children[0], scope, clause);
        BoundExprPtr e = BindSubselect(ast, scope, clause, true);
        const BoundSelect& sub = *out_.subqueries[e->index]->select;
        if (sub.outputs.size() != 1)
          Fail("Sub-select must return exactly one column.", ast);
        CoerceLiteral(*left, sub.outputs[0]->type, *ast.children[0]);
        if (!AreComparable(left->type, sub.outputs[0]->type))
          Fail("Type mismatch in expression.", ast);
        Adopt(*e, std::move(left));
        return e;
      }
      case AstExpr::Kind::kInList: {
        auto e = MakeNode(ExprKind::kInList, SqlType::kBool);
        e->negated = ast.negated;
        BoundExprPtr left = Bind(*ast.children[0], scope, clause);
        std::vector<BoundExprPtr> items;
        for (size_t i = 1; i < ast.children.size(); ++i) {
          BoundExprPtr item = Bind(*ast.children[i], scope, clause);
          CoerceLiteral(*item, left->type, *ast.children[i]);
          if (!AreComparable(left->type, item->type))
            Fail("Type mismatch in expression.", *ast.children[i]);
          items.push_back(std::move(item));
        }
        Adopt(*e, std::move(left));
        for (auto& item : items) Adopt(*e, std::move(item));
        return e;
      }
    }
    Fail("General SQL error.", ast);
  }

  BoundExprPtr BindAggregate(const AstExpr& ast, Scope& scope, Clause clause) {
    if (clause != Clause::kSelectList) Fail("Aggregate function not allowed here.", ast);
    BoundAggregate agg;
    agg.func = ast.func;
    SqlType type = SqlType::kInteger;
    const FieldDef* source = nullptr;
    if (!ast.children.empty()) {
      const bool grouped = scope.grouped;
      scope.grouped = false;  // the argument reads the rows, not the groups
      agg.arg = Bind(*ast.children[0], scope, Clause::kAggregateArg);
      scope.grouped = grouped;
      if (agg.func != AggregateFunc::kCount) {
        type = agg.arg->type;
        if (agg.arg->kind == ExprKind::kColumn) source = agg.arg->source;
      }
    }
    auto e = MakeNode(ExprKind::kAggregate, type);
    e->index = static_cast<int>(scope.select->aggregates.size());
    e->source = source;
    if (agg.arg) {
      // The aggregate's value depends on the rows of its own select, not on
      // single columns; only references to enclosing selects matter here.
      e->deps = agg.arg->deps & SqlLevelsAboveMask(scope.select->level);
      e->has_subquery = agg.arg->has_subquery;
    }
    scope.select->aggregates.push_back(std::move(agg));
    return e;
  }

  // Sorts the ON conditions of the join of table `slot` into hash keys
  // (an equality between an expression over the joined table alone and one
  // over the earlier tables or enclosing selects) and residual conditions.
  static BoundJoin PlanJoin(BoundExprPtr on, int level, int slot, bool left_outer) {
    BoundJoin join;
    join.left_outer = left_outer;
    std::vector<BoundExprPtr> conjuncts;
    Flatten(std::move(on), conjuncts);
    SqlDeps right;
    right.set(level * kSqlMaxTables + slot);
    SqlDeps later;
    for (int s = slot; s < kSqlMaxTables; ++s) later.set(level * kSqlMaxTables + s);
    for (auto& c : conjuncts) {
      if (c->kind == ExprKind::kCompare && c->op == CompareOp::kEqual && !c->has_subquery) {
        for (int side = 0; side < 2; ++side) {
          BoundExprPtr& a = c->children[side];
          BoundExprPtr& b = c->children[1 - side];
          if (ReadsOnly(*a, right) && (b->deps & later).none()) {
            join.right_keys.push_back(std::move(a));
            join.left_keys.push_back(std::move(b));
            c.reset();
            break;
          }
        }
        if (!c) continue;
      }
      join.residual.push_back(std::move(c));
    }
    return join;
  }

  static void PlanSubquery(BoundSubquery& sub) {
    BoundSelect& select = *sub.select;
    const bool correlated = select.outer_deps.any();
    if (!sub.is_in) {
      if ((select.aggregate && select.group_by.empty()) || !correlated) {
        sub.strategy = SubqueryStrategy::kConstant;
        return;
      }
    } else {
      if (!correlated) {
        sub.strategy = SubqueryStrategy::kValueSet;
        return;
      }
      if (select.aggregate) {
        sub.strategy = SubqueryStrategy::kExecuteEach;
        return;
      }
    }
    if (select.joins_use_outer) {
      sub.strategy = SubqueryStrategy::kNestedLoop;
      return;
    }
    sub.strategy = SubqueryStrategy::kHashed;
    const SqlDeps own = SqlLevelMask(select.level);
    const SqlDeps above = SqlLevelsAboveMask(select.level);
    for (const auto& c : select.where) {
      if ((c->deps & above).none()) {
        sub.prefilter.push_back(c.get());
        continue;
      }
      bool keyed = false;
      if (c->kind == ExprKind::kCompare && c->op == CompareOp::kEqual && !c->has_subquery) {
        for (int side = 0; side < 2 && !keyed; ++side) {
          const BoundExpr& a = *c->children[side];
          const BoundExpr& b = *c->children[1 - side];
          if (ReadsOnly(a, own) && b.deps.any() && (b.deps & own).none()) {
            sub.inner_keys.push_back(&a);
            sub.outer_keys.push_back(&b);
            keyed = true;
          }
        }
      }
      if (!keyed) sub.residual.push_back(c.get());
    }
  }

  SqlCatalog& catalog_;
  BoundStatement& out_;
  std::map<std::string, std::shared_ptr<SqlTable>> opened_;
};

}  // namespace

std::unique_ptr<BoundStatement> BindSql(const AstStatement& ast, SqlCatalog& catalog) {
  auto bound = std::make_unique<BoundStatement>();
  Binder(catalog, *bound).BindStatement(ast);
  return bound;
}

}  // namespace dalimor
