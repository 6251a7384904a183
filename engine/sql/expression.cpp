#include "engine/sql/expression.h"

#include <limits>

#include "engine/engine_error.h"
#include "engine/sql/value_ops.h"

namespace dalimor {
namespace {

const Value kNull;

Value FromTruth(Truth t) {
  if (t == Truth::kUnknown) return Value();
  return t == Truth::kTrue;
}

[[noreturn]] void Overflow() {
  throw EngineError(EngineErrorKind::kGeneral, "Numeric overflow.");
}

bool Holds(CompareOp op, int c) {
  switch (op) {
    case CompareOp::kEqual: return c == 0;
    case CompareOp::kNotEqual: return c != 0;
    case CompareOp::kLess: return c < 0;
    case CompareOp::kGreater: return c > 0;
    case CompareOp::kLessEqual: return c <= 0;
    case CompareOp::kGreaterEqual: return c >= 0;
  }
  return false;
}

Value Sum(const BoundExpr& e, const EvalContext& ctx) {
  Value scratch;
  if (e.type == SqlType::kInteger) {
    int64_t sum = 0;
    for (const auto& child : e.children) {
      const Value& v = EvaluateRef(*child, ctx, scratch);
      if (IsNull(v)) return Value();
      if (__builtin_add_overflow(sum, std::get<int64_t>(v), &sum)) Overflow();
    }
    return sum;
  }
  double sum = 0;
  for (const auto& child : e.children) {
    const Value& v = EvaluateRef(*child, ctx, scratch);
    if (IsNull(v)) return Value();
    if (const auto* i = std::get_if<int64_t>(&v)) {
      sum += static_cast<double>(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
      sum += *d;
    }
  }
  if (e.type == SqlType::kNull) return Value();
  return sum;
}

Value Concat(const BoundExpr& e, const EvalContext& ctx) {
  std::string text;
  Value scratch;
  for (const auto& child : e.children) {
    const Value& v = EvaluateRef(*child, ctx, scratch);
    if (IsNull(v)) return Value();
    text += std::get<std::string>(v);
  }
  return text;
}

Truth InList(const BoundExpr& e, const EvalContext& ctx) {
  Value scratch;
  const Value& left = EvaluateRef(*e.children[0], ctx, scratch);
  if (IsNull(left)) return Truth::kUnknown;
  Truth result = Truth::kFalse;
  Value item_scratch;
  for (size_t i = 1; i < e.children.size(); ++i) {
    const Value& item = EvaluateRef(*e.children[i], ctx, item_scratch);
    if (IsNull(item)) {
      result = Truth::kUnknown;
    } else if (CompareSqlValues(left, item) == 0) {
      return Truth::kTrue;
    }
  }
  return result;
}

}  // namespace

const Value& EvaluateRef(const BoundExpr& e, const EvalContext& ctx, Value& scratch) {
  switch (e.kind) {
    case ExprKind::kConstant: return e.constant;
    case ExprKind::kColumn: {
      const Frame* f = ctx.frame;
      for (int d = 0; d < e.depth; ++d) f = f->outer;
      const Value* row = f->rows[e.slot];
      if (!row) return kNull;
      const int* remap = f->remaps[e.slot];
      return row[remap ? remap[e.field] : e.field];
    }
    case ExprKind::kGroupKey: return ctx.group_keys[e.index];
    case ExprKind::kAggregate: return ctx.aggregates[e.index];
    default: scratch = Evaluate(e, ctx); return scratch;
  }
}

Value Evaluate(const BoundExpr& e, const EvalContext& ctx) {
  switch (e.kind) {
    case ExprKind::kConstant:
    case ExprKind::kColumn:
    case ExprKind::kGroupKey:
    case ExprKind::kAggregate: {
      Value scratch;
      return EvaluateRef(e, ctx, scratch);
    }
    case ExprKind::kAdd: return Sum(e, ctx);
    case ExprKind::kConcat: return Concat(e, ctx);
    case ExprKind::kNegate: {
      Value v = Evaluate(*e.children[0], ctx);
      if (auto* i = std::get_if<int64_t>(&v)) {
        if (*i == std::numeric_limits<int64_t>::min()) Overflow();
        *i = -*i;
      } else if (auto* d = std::get_if<double>(&v)) {
        *d = -*d;
      }
      return v;
    }
    case ExprKind::kCast: {
      Value scratch;
      const Value& v = EvaluateRef(*e.children[0], ctx, scratch);
      if (IsNull(v)) return Value();
      return Utf8Prefix(SqlValueText(v), static_cast<size_t>(e.index));
    }
    default: return FromTruth(EvaluateTruth(e, ctx));
  }
}

Truth EvaluateTruth(const BoundExpr& e, const EvalContext& ctx) {
  Truth t = Truth::kUnknown;
  switch (e.kind) {
    case ExprKind::kCompare: {
      Value s1;
      Value s2;
      const Value& a = EvaluateRef(*e.children[0], ctx, s1);
      if (IsNull(a)) return Truth::kUnknown;
      const Value& b = EvaluateRef(*e.children[1], ctx, s2);
      if (IsNull(b)) return Truth::kUnknown;
      return Holds(e.op, CompareSqlValues(a, b)) ? Truth::kTrue : Truth::kFalse;
    }
    case ExprKind::kAnd:
      t = Truth::kTrue;
      for (const auto& child : e.children) {
        const Truth c = EvaluateTruth(*child, ctx);
        if (c == Truth::kFalse) return Truth::kFalse;
        if (c == Truth::kUnknown) t = Truth::kUnknown;
      }
      return t;
    case ExprKind::kOr:
      t = Truth::kFalse;
      for (const auto& child : e.children) {
        const Truth c = EvaluateTruth(*child, ctx);
        if (c == Truth::kTrue) return Truth::kTrue;
        if (c == Truth::kUnknown) t = Truth::kUnknown;
      }
      return t;
    case ExprKind::kNot: return Not(EvaluateTruth(*e.children[0], ctx));
    case ExprKind::kIsNull: {
      Value scratch;
      const bool null = IsNull(EvaluateRef(*e.children[0], ctx, scratch));
      return null != e.negated ? Truth::kTrue : Truth::kFalse;
    }
    case ExprKind::kExists: t = ctx.subqueries->Exists(e.index, *ctx.frame); break;
    case ExprKind::kInSelect: {
      Value scratch;
      const Value& v = EvaluateRef(*e.children[0], ctx, scratch);
      t = ctx.subqueries->In(e.index, v, *ctx.frame);
      break;
    }
    case ExprKind::kInList: t = InList(e, ctx); break;
    default: {
      Value scratch;
      const Value& v = EvaluateRef(e, ctx, scratch);
      if (const auto* b = std::get_if<bool>(&v)) return *b ? Truth::kTrue : Truth::kFalse;
      return Truth::kUnknown;
    }
  }
  return e.negated ? Not(t) : t;
}

bool BuildKey(const std::vector<const BoundExpr*>& keys, const EvalContext& ctx,
              std::string& key) {
  Value scratch;
  for (const BoundExpr* k : keys) {
    const Value& v = EvaluateRef(*k, ctx, scratch);
    if (IsNull(v)) return false;
    AppendSqlKey(key, v);
  }
  return true;
}

std::vector<const BoundExpr*> ExprRefs(const std::vector<BoundExprPtr>& list) {
  std::vector<const BoundExpr*> refs;
  refs.reserve(list.size());
  for (const auto& e : list) refs.push_back(e.get());
  return refs;
}

}  // namespace dalimor
