#include "engine/sql/lexer.h"

namespace dalimor {
namespace {

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Walks the text keeping line and column up to date.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return offset_ >= text_.size(); }
  unsigned char Peek(size_t ahead = 0) const {
    return offset_ + ahead < text_.size() ? static_cast<unsigned char>(text_[offset_ + ahead]) : 0;
  }
  SqlPosition Position() const { return {line_, column_, offset_}; }
  size_t offset() const { return offset_; }

  void Advance() {
    const auto c = static_cast<unsigned char>(text_[offset_]);
    ++offset_;
    if (c == '\r') {
      if (Peek() == '\n') ++offset_;
      NewLine();
      return;
    }
    if (c == '\n') {
      NewLine();
      return;
    }
    // The continuation bytes of a UTF-8 sequence belong to its first byte.
    if (c >= 0xC0) {
      while (offset_ < text_.size() && (static_cast<unsigned char>(text_[offset_]) & 0xC0) == 0x80)
        ++offset_;
    }
    ++column_;
  }

 private:
  void NewLine() {
    ++line_;
    column_ = 1;
  }

  std::string_view text_;
  size_t offset_ = 0;
  int line_ = 1;
  int column_ = 1;
};

}  // namespace

bool SqlNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

namespace {

// Thrown inside the lexer and turned into a kError token.
struct LexFailure {
  std::string message;
  std::string shown;
};

void LexInto(std::string_view text, std::vector<SqlToken>& tokens, SqlPosition& failed_at) {
  Cursor cur(text);
  for (;;) {
    while (!cur.AtEnd() && IsSpace(cur.Peek())) cur.Advance();
    SqlToken token;
    token.position = cur.Position();
    failed_at = token.position;
    const size_t start = cur.offset();
    if (cur.AtEnd()) {
      tokens.push_back(std::move(token));
      return;
    }
    const unsigned char c = cur.Peek();
    auto single = [&](SqlTokenKind kind, int length) {
      token.kind = kind;
      for (int i = 0; i < length; ++i) cur.Advance();
    };
    if (IsNameStart(c)) {
      token.kind = SqlTokenKind::kIdentifier;
      while (!cur.AtEnd() && IsNameChar(cur.Peek())) cur.Advance();
      token.text = std::string(text.substr(start, cur.offset() - start));
    } else if (IsDigit(c) || (c == '.' && IsDigit(cur.Peek(1)))) {
      token.kind = SqlTokenKind::kInteger;
      while (IsDigit(cur.Peek())) cur.Advance();
      if (cur.Peek() == '.' && IsDigit(cur.Peek(1))) {
        token.kind = SqlTokenKind::kDecimal;
        cur.Advance();
        while (IsDigit(cur.Peek())) cur.Advance();
      } else if (cur.Peek() == '.' && !IsNameStart(cur.Peek(1))) {
        // "1." is a number with an empty fraction.
        token.kind = SqlTokenKind::kDecimal;
        cur.Advance();
      }
      if ((cur.Peek() == 'e' || cur.Peek() == 'E') &&
          (IsDigit(cur.Peek(1)) ||
           ((cur.Peek(1) == '+' || cur.Peek(1) == '-') && IsDigit(cur.Peek(2))))) {
        token.kind = SqlTokenKind::kDecimal;
        cur.Advance();
        if (cur.Peek() == '+' || cur.Peek() == '-') cur.Advance();
        while (IsDigit(cur.Peek())) cur.Advance();
      }
      token.text = std::string(text.substr(start, cur.offset() - start));
    } else if (c == '\'' || c == '"') {
      token.kind = c == '\'' ? SqlTokenKind::kString : SqlTokenKind::kQuotedName;
      cur.Advance();
      for (;;) {
        if (cur.AtEnd()) {
          throw LexFailure{c == '\'' ? "Unterminated string." : "Unterminated quoted name.",
                           std::string(text.substr(start))};
        }
        if (cur.Peek() == c) {
          cur.Advance();
          if (cur.Peek() != c) break;
          token.text.push_back(static_cast<char>(c));
          cur.Advance();
          continue;
        }
        const size_t before = cur.offset();
        cur.Advance();
        token.text.append(text.substr(before, cur.offset() - before));
      }
    } else {
      switch (c) {
        case '=': single(SqlTokenKind::kEqual, 1); break;
        case '<':
          if (cur.Peek(1) == '>') single(SqlTokenKind::kNotEqual, 2);
          else if (cur.Peek(1) == '=') single(SqlTokenKind::kLessEqual, 2);
          else single(SqlTokenKind::kLess, 1);
          break;
        case '>':
          if (cur.Peek(1) == '=') single(SqlTokenKind::kGreaterEqual, 2);
          else single(SqlTokenKind::kGreater, 1);
          break;
        case '!':
          if (cur.Peek(1) != '=') throw LexFailure{"Invalid character.", "!"};
          single(SqlTokenKind::kNotEqual, 2);
          break;
        case '|':
          if (cur.Peek(1) != '|') throw LexFailure{"Invalid character.", "|"};
          single(SqlTokenKind::kConcat, 2);
          break;
        case '+': single(SqlTokenKind::kPlus, 1); break;
        case '-': single(SqlTokenKind::kMinus, 1); break;
        case '*': single(SqlTokenKind::kStar, 1); break;
        case ',': single(SqlTokenKind::kComma, 1); break;
        case '.': single(SqlTokenKind::kDot, 1); break;
        case '(': single(SqlTokenKind::kLeftParen, 1); break;
        case ')': single(SqlTokenKind::kRightParen, 1); break;
        case ';': single(SqlTokenKind::kSemicolon, 1); break;
        default: {
          std::string shown(1, static_cast<char>(c));
          if (c < 0x20 || c == 0x7F) shown = "#" + std::to_string(c);
          throw LexFailure{"Invalid character.", shown};
        }
      }
      token.text = std::string(text.substr(start, cur.offset() - start));
    }
    token.raw_length = cur.offset() - start;
    tokens.push_back(std::move(token));
  }
}

}  // namespace

std::vector<SqlToken> LexSql(std::string_view text) {
  std::vector<SqlToken> tokens;
  tokens.reserve(text.size() / 4 + 1);
  SqlPosition failed_at;
  try {
    LexInto(text, tokens, failed_at);
  } catch (const LexFailure& failure) {
    SqlToken token;
    token.kind = SqlTokenKind::kError;
    token.text = failure.message;
    token.shown = failure.shown;
    token.position = failed_at;
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace dalimor
