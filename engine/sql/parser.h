#pragma once
// The parser of the local SQL dialect: statement text to syntax tree.  The
// grammar is in docs/local_sql.md.

#include <string_view>

#include "engine/sql/ast.h"

namespace dalimor {

// Deepest nesting of parentheses, NOT, unary minus and sub-selects accepted;
// deeper statements are refused rather than risk the stack.
inline constexpr int kSqlMaxNesting = 128;

// True for a word of the grammar, or of the Borland dialect that this engine
// does not implement, compared without regard to ASCII case: such a word
// cannot stand as a bare name.
bool IsReservedSqlWord(std::string_view word);

// Parses one statement (an optional ";" may end it).  Throws SqlError naming
// the token and its position when the text is not a statement of the dialect.
AstStatement ParseSql(std::string_view text);

}  // namespace dalimor
