#pragma once
// The lexer of the local SQL dialect (grammar in docs/local_sql.md).  It cuts
// a statement text into tokens, decoding quoted strings and names.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/error.h"

namespace dalimor {

enum class SqlTokenKind : uint8_t {
  kIdentifier,   // keyword or name, as written
  kQuotedName,   // "name": text without the quotes, "" read as "
  kString,       // 'text': text without the quotes, '' read as '
  kInteger,      // digits only
  kDecimal,      // digits with a fraction or an exponent
  kEqual,        // =
  kNotEqual,     // <> or !=
  kLess,         // <
  kGreater,      // >
  kLessEqual,    // <=
  kGreaterEqual, // >=
  kPlus,         // +
  kMinus,        // -
  kConcat,       // ||
  kStar,         // *
  kComma,        // ,
  kDot,          // .
  kLeftParen,    // (
  kRightParen,   // )
  kSemicolon,    // ;
  kEnd,          // end of the text
  kError,        // text that cannot be read; `text` holds the message
};

struct SqlToken {
  SqlTokenKind kind = SqlTokenKind::kEnd;
  std::string text;     // decoded text (see the kinds)
  SqlPosition position; // where the token starts
  size_t raw_length = 0;  // bytes of the token as written
  std::string shown;      // kError: the text a message shows as the token
};

// The tokens of `text`, ending with one kEnd token, or with one kError token
// where the text stops being readable (an unterminated string or name, a
// character outside the dialect).  The error is left to the parser, so that
// a statement reports the first problem in reading order.
std::vector<SqlToken> LexSql(std::string_view text);

// ASCII case-insensitive comparison, used for keywords and names.
bool SqlNamesEqual(std::string_view a, std::string_view b);

}  // namespace dalimor
