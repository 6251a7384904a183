#include "engine/sql/parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>

#include "engine/sql/lexer.h"

namespace dalimor {
namespace {

// Words with a meaning in the grammar; they cannot be bare names.
constexpr std::array<std::string_view, 26> kReserved = {
    "SELECT", "FROM", "WHERE", "GROUP", "BY",     "INSERT", "INTO",   "DELETE", "VALUES",
    "LEFT",   "OUTER", "INNER", "JOIN", "ON",     "AND",    "OR",     "NOT",    "EXISTS",
    "IN",     "IS",   "NULL",  "CAST",  "AS",     "ORDER",  "HAVING", "UNION"};
// Reserved words of the Borland dialect that this engine does not implement.
constexpr std::array<std::string_view, 11> kUnsupported = {
    "ORDER", "HAVING", "UNION", "DISTINCT", "UPDATE", "SET", "LIKE", "BETWEEN", "RIGHT", "FULL",
    "CROSS"};

bool IsUnsupportedWord(std::string_view word) {
  for (std::string_view w : kUnsupported)
    if (SqlNamesEqual(w, word)) return true;
  return false;
}

bool IsReservedWord(std::string_view word) {
  for (std::string_view w : kReserved)
    if (SqlNamesEqual(w, word)) return true;
  return IsUnsupportedWord(word);
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(LexSql(text)) {
    // Whether each identifier is a reserved word is looked up once, not at
    // every test of the grammar.
    reserved_.reserve(tokens_.size());
    for (const SqlToken& t : tokens_)
      reserved_.push_back(t.kind == SqlTokenKind::kIdentifier && IsReservedWord(t.text));
  }

  AstStatement ParseStatement() {
    AstStatement statement;
    if (IsWord("SELECT")) {
      statement.kind = AstStatement::Kind::kSelect;
      statement.select = ParseSelect();
    } else if (IsWord("INSERT")) {
      statement.kind = AstStatement::Kind::kInsert;
      statement.insert = ParseInsert();
    } else if (IsWord("DELETE")) {
      statement.kind = AstStatement::Kind::kDelete;
      statement.del = ParseDelete();
    } else {
      Fail();
    }
    if (Peek().kind == SqlTokenKind::kSemicolon) Next();
    if (Peek().kind != SqlTokenKind::kEnd) Fail();
    return statement;
  }

 private:
  // Counts one level of nesting for as long as it lives.
  class Nest {
   public:
    explicit Nest(Parser& parser) : parser_(parser) {
      if (++parser_.depth_ > kSqlMaxNesting)
        parser_.FailWith("Statement is nested too deeply.");
    }
    ~Nest() { --parser_.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser& parser_;
  };

  const SqlToken& Peek(size_t ahead = 0) const {
    const size_t i = index_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  const SqlToken& Next() {
    const SqlToken& token = tokens_[index_];
    if (index_ + 1 < tokens_.size()) ++index_;
    return token;
  }
  std::string Raw(const SqlToken& token) const {
    return std::string(text_.substr(token.position.offset, token.raw_length));
  }

  bool IsWord(std::string_view word, size_t ahead = 0) const {
    const SqlToken& t = Peek(ahead);
    return t.kind == SqlTokenKind::kIdentifier && SqlNamesEqual(t.text, word);
  }
  bool AcceptWord(std::string_view word) {
    if (!IsWord(word)) return false;
    Next();
    return true;
  }
  void ExpectWord(std::string_view word) {
    if (!AcceptWord(word)) Fail();
  }
  bool Accept(SqlTokenKind kind) {
    if (Peek().kind != kind) return false;
    Next();
    return true;
  }
  void Expect(SqlTokenKind kind) {
    if (!Accept(kind)) Fail();
  }
  // A name: a quoted name, or an identifier that is not a reserved word.
  bool IsName(size_t ahead = 0) const {
    const size_t i = std::min(index_ + ahead, tokens_.size() - 1);
    const SqlToken& t = tokens_[i];
    return t.kind == SqlTokenKind::kQuotedName ||
           (t.kind == SqlTokenKind::kIdentifier && !reserved_[i]);
  }
  std::string ExpectName() {
    if (!IsName()) Fail();
    return Next().text;
  }

  [[noreturn]] void FailWith(const std::string& message) const {
    const SqlToken& t = Peek();
    if (t.kind == SqlTokenKind::kError) throw SqlError(t.text, t.shown, t.position);
    throw SqlError(message, t.kind == SqlTokenKind::kEnd ? std::string() : Raw(t), t.position);
  }
  // The error for the current token being out of place.
  [[noreturn]] void Fail() const {
    const SqlToken& t = Peek();
    if (t.kind == SqlTokenKind::kError) throw SqlError(t.text, t.shown, t.position);
    if (t.kind == SqlTokenKind::kEnd) FailWith("Unexpected end of command.");
    if (t.kind == SqlTokenKind::kIdentifier && IsUnsupportedWord(t.text))
      FailWith("Capability not supported.");
    if (t.kind == SqlTokenKind::kIdentifier && IsReservedWord(t.text))
      FailWith("Invalid use of keyword.");
    FailWith("General parsing error.");
  }

  void Mark(AstExpr& expr, const SqlToken& token) const {
    expr.position = token.position;
    expr.token = Raw(token);
  }

  AstTableRef ParseTableRef() {
    AstTableRef ref;
    const SqlToken& t = Peek();
    ref.position = t.position;
    ref.token = Raw(t);
    if (t.kind == SqlTokenKind::kString || IsName()) {
      ref.path = Next().text;
    } else {
      Fail();
    }
    if (AcceptWord("AS")) {
      ref.correlation = ExpectName();
    } else if (IsName()) {
      ref.correlation = Next().text;
    }
    return ref;
  }

  std::unique_ptr<AstSelect> ParseSelect() {
    Nest nest(*this);
    auto select = std::make_unique<AstSelect>();
    select->position = Peek().position;
    ExpectWord("SELECT");
    if (IsWord("DISTINCT")) Fail();
    if (Peek().kind == SqlTokenKind::kStar) {
      AstSelectItem item;
      item.kind = AstSelectItem::Kind::kAllColumns;
      item.position = Peek().position;
      item.token = Raw(Peek());
      Next();
      select->items.push_back(std::move(item));
    } else {
      do {
        select->items.push_back(ParseSelectItem());
      } while (Accept(SqlTokenKind::kComma));
    }
    ExpectWord("FROM");
    select->from = ParseTableRef();
    for (;;) {
      AstJoin join;
      if (AcceptWord("LEFT")) {
        AcceptWord("OUTER");
        ExpectWord("JOIN");
        join.kind = AstJoinKind::kLeftOuter;
      } else if (AcceptWord("INNER")) {
        ExpectWord("JOIN");
        join.kind = AstJoinKind::kInner;
      } else if (AcceptWord("JOIN")) {
        join.kind = AstJoinKind::kInner;
      } else {
        break;
      }
      join.table = ParseTableRef();
      ExpectWord("ON");
      join.on = ParseExpr();
      select->joins.push_back(std::move(join));
    }
    if (AcceptWord("WHERE")) select->where = ParseExpr();
    if (AcceptWord("GROUP")) {
      ExpectWord("BY");
      do {
        if (!IsName()) Fail();
        select->group_by.push_back(ParseColumnRef());
      } while (Accept(SqlTokenKind::kComma));
    }
    return select;
  }

  AstSelectItem ParseSelectItem() {
    AstSelectItem item;
    item.position = Peek().position;
    item.token = Raw(Peek());
    if (IsName() && Peek(1).kind == SqlTokenKind::kDot && Peek(2).kind == SqlTokenKind::kStar) {
      item.kind = AstSelectItem::Kind::kTableColumns;
      item.qualifier = Next().text;
      Next();
      Next();
      return item;
    }
    item.expr = ParseExpr();
    if (AcceptWord("AS")) {
      item.alias = ExpectName();
    } else if (IsName()) {
      item.alias = Next().text;
    }
    return item;
  }

  std::unique_ptr<AstInsert> ParseInsert() {
    auto insert = std::make_unique<AstInsert>();
    ExpectWord("INSERT");
    ExpectWord("INTO");
    insert->target = ParseTableRef();
    if (!insert->target.correlation.empty()) {
      // "INSERT INTO t name" has no meaning; point at the stray name.
      --index_;
      Fail();
    }
    if (Accept(SqlTokenKind::kLeftParen)) {
      insert->has_column_list = true;
      do {
        AstColumnName column;
        column.position = Peek().position;
        column.name = ExpectName();
        insert->columns.push_back(std::move(column));
      } while (Accept(SqlTokenKind::kComma));
      Expect(SqlTokenKind::kRightParen);
    }
    if (IsWord("SELECT")) {
      insert->select = ParseSelect();
    } else if (AcceptWord("VALUES")) {
      do {
        Expect(SqlTokenKind::kLeftParen);
        std::vector<AstExprPtr> row;
        do {
          row.push_back(ParseExpr());
        } while (Accept(SqlTokenKind::kComma));
        Expect(SqlTokenKind::kRightParen);
        insert->values.push_back(std::move(row));
      } while (Accept(SqlTokenKind::kComma));
    } else {
      Fail();
    }
    return insert;
  }

  std::unique_ptr<AstDelete> ParseDelete() {
    auto del = std::make_unique<AstDelete>();
    ExpectWord("DELETE");
    ExpectWord("FROM");
    del->target = ParseTableRef();
    if (AcceptWord("WHERE")) del->where = ParseExpr();
    return del;
  }

  // Expressions, loosest binding first: OR, AND, NOT, predicates, "+" and
  // "||", unary minus, primaries.
  AstExprPtr ParseExpr() {
    Nest nest(*this);
    return ParseOr();
  }

  AstExprPtr ParseOr() {
    AstExprPtr first = ParseAnd();
    if (!IsWord("OR")) return first;
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kOr;
    Mark(*node, Peek());
    node->children.push_back(std::move(first));
    while (AcceptWord("OR")) node->children.push_back(ParseAnd());
    return node;
  }

  AstExprPtr ParseAnd() {
    AstExprPtr first = ParseNot();
    if (!IsWord("AND")) return first;
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kAnd;
    Mark(*node, Peek());
    node->children.push_back(std::move(first));
    while (AcceptWord("AND")) node->children.push_back(ParseNot());
    return node;
  }

  AstExprPtr ParseNot() {
    if (!IsWord("NOT")) return ParsePredicate();
    Nest nest(*this);
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kNot;
    Mark(*node, Next());
    node->children.push_back(ParseNot());
    return node;
  }

  AstExprPtr ParsePredicate() {
    AstExprPtr left = ParseAdditive();
    const SqlToken& t = Peek();
    CompareOp op;
    switch (t.kind) {
      case SqlTokenKind::kEqual: op = CompareOp::kEqual; break;
      case SqlTokenKind::kNotEqual: op = CompareOp::kNotEqual; break;
      case SqlTokenKind::kLess: op = CompareOp::kLess; break;
      case SqlTokenKind::kGreater: op = CompareOp::kGreater; break;
      case SqlTokenKind::kLessEqual: op = CompareOp::kLessEqual; break;
      case SqlTokenKind::kGreaterEqual: op = CompareOp::kGreaterEqual; break;
      default: return ParsePostfixPredicate(std::move(left));
    }
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kCompare;
    node->op = op;
    Mark(*node, Next());
    node->children.push_back(std::move(left));
    node->children.push_back(ParseAdditive());
    return node;
  }

  // IS [NOT] NULL and [NOT] IN (...) after an operand.
  AstExprPtr ParsePostfixPredicate(AstExprPtr left) {
    if (IsWord("IS")) {
      auto node = std::make_unique<AstExpr>();
      node->kind = AstExpr::Kind::kIsNull;
      Mark(*node, Next());
      node->negated = AcceptWord("NOT");
      ExpectWord("NULL");
      node->children.push_back(std::move(left));
      return node;
    }
    const bool negated = IsWord("NOT") && IsWord("IN", 1);
    if (!negated && !IsWord("IN")) return left;
    if (negated) Next();
    auto node = std::make_unique<AstExpr>();
    node->negated = negated;
    Mark(*node, Next());
    node->children.push_back(std::move(left));
    Expect(SqlTokenKind::kLeftParen);
    if (IsWord("SELECT")) {
      node->kind = AstExpr::Kind::kInSelect;
      node->subquery = ParseSelect();
    } else {
      node->kind = AstExpr::Kind::kInList;
      do {
        node->children.push_back(ParseExpr());
      } while (Accept(SqlTokenKind::kComma));
    }
    Expect(SqlTokenKind::kRightParen);
    return node;
  }

  AstExprPtr ParseAdditive() {
    AstExprPtr first = ParseUnary();
    if (Peek().kind != SqlTokenKind::kPlus && Peek().kind != SqlTokenKind::kConcat) return first;
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kAdd;
    Mark(*node, Peek());
    node->children.push_back(std::move(first));
    for (;;) {
      if (Accept(SqlTokenKind::kPlus)) {
        node->ops.push_back('+');
      } else if (Accept(SqlTokenKind::kConcat)) {
        node->ops.push_back('|');
      } else {
        break;
      }
      node->children.push_back(ParseUnary());
    }
    return node;
  }

  AstExprPtr ParseUnary() {
    if (Peek().kind != SqlTokenKind::kMinus) return ParsePrimary();
    Nest nest(*this);
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kNegate;
    Mark(*node, Next());
    node->children.push_back(ParseUnary());
    return node;
  }

  AstExprPtr ParseColumnRef() {
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kColumn;
    Mark(*node, Peek());
    node->name = ExpectName();
    if (Accept(SqlTokenKind::kDot)) {
      // Messages show the whole reference, "tE.Name", at the qualifier.
      node->qualifier = std::move(node->name);
      node->token += "." + Raw(Peek());
      node->name = ExpectName();
    }
    return node;
  }

  AstExprPtr ParsePrimary() {
    const SqlToken& t = Peek();
    auto node = std::make_unique<AstExpr>();
    Mark(*node, t);
    switch (t.kind) {
      case SqlTokenKind::kString:
        node->kind = AstExpr::Kind::kLiteral;
        node->literal = Next().text;
        return node;
      case SqlTokenKind::kInteger: {
        node->kind = AstExpr::Kind::kLiteral;
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
        if (ec == std::errc() && end == t.text.data() + t.text.size()) {
          node->literal = value;
        } else {
          node->literal = std::strtod(t.text.c_str(), nullptr);
        }
        Next();
        return node;
      }
      case SqlTokenKind::kDecimal:
        node->kind = AstExpr::Kind::kLiteral;
        node->literal = std::strtod(t.text.c_str(), nullptr);
        Next();
        return node;
      case SqlTokenKind::kLeftParen: {
        Next();
        if (IsWord("SELECT")) FailWith("Capability not supported.");
        AstExprPtr inner = ParseExpr();
        Expect(SqlTokenKind::kRightParen);
        return inner;
      }
      case SqlTokenKind::kQuotedName:
        return ParseColumnRef();
      case SqlTokenKind::kIdentifier:
        break;
      default:
        Fail();
    }
    if (IsWord("NULL")) {
      node->kind = AstExpr::Kind::kNull;
      Next();
      return node;
    }
    if (IsWord("CAST")) return ParseCast();
    if (IsWord("EXISTS")) {
      node->kind = AstExpr::Kind::kExists;
      Next();
      Expect(SqlTokenKind::kLeftParen);
      if (!IsWord("SELECT")) Fail();
      node->subquery = ParseSelect();
      Expect(SqlTokenKind::kRightParen);
      return node;
    }
    if (IsReservedWord(t.text)) Fail();
    if (Peek(1).kind == SqlTokenKind::kLeftParen) return ParseFunction();
    return ParseColumnRef();
  }

  AstExprPtr ParseCast() {
    Nest nest(*this);
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kCast;
    Mark(*node, Next());
    Expect(SqlTokenKind::kLeftParen);
    node->children.push_back(ParseExpr());
    ExpectWord("AS");
    if (!IsWord("CHAR") && !IsWord("VARCHAR")) FailWith("Capability not supported.");
    Next();
    Expect(SqlTokenKind::kLeftParen);
    const SqlToken& size = Peek();
    if (size.kind != SqlTokenKind::kInteger) Fail();
    int value = 0;
    const auto [end, ec] =
        std::from_chars(size.text.data(), size.text.data() + size.text.size(), value);
    if (ec != std::errc() || end != size.text.data() + size.text.size() || value < 1 ||
        value > 255)
      FailWith("Invalid field size.");
    node->size = value;
    Next();
    Expect(SqlTokenKind::kRightParen);
    Expect(SqlTokenKind::kRightParen);
    return node;
  }

  AstExprPtr ParseFunction() {
    Nest nest(*this);
    auto node = std::make_unique<AstExpr>();
    node->kind = AstExpr::Kind::kAggregate;
    Mark(*node, Peek());
    if (IsWord("MAX")) {
      node->func = AggregateFunc::kMax;
    } else if (IsWord("MIN")) {
      node->func = AggregateFunc::kMin;
    } else if (IsWord("COUNT")) {
      node->func = AggregateFunc::kCount;
    } else {
      FailWith("Capability not supported.");
    }
    Next();
    Expect(SqlTokenKind::kLeftParen);
    if (IsWord("DISTINCT")) Fail();
    if (node->func == AggregateFunc::kCount && Accept(SqlTokenKind::kStar)) {
      Expect(SqlTokenKind::kRightParen);
      return node;
    }
    node->children.push_back(ParseExpr());
    Expect(SqlTokenKind::kRightParen);
    return node;
  }

  std::string_view text_;
  std::vector<SqlToken> tokens_;
  std::vector<bool> reserved_;
  size_t index_ = 0;
  int depth_ = 0;
};

}  // namespace

bool IsReservedSqlWord(std::string_view word) { return IsReservedWord(word); }

AstStatement ParseSql(std::string_view text) { return Parser(text).ParseStatement(); }

}  // namespace dalimor
