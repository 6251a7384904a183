#pragma once
// Writing values into local-SQL statement texts.

#include <string>
#include <string_view>

namespace dalimor {

// 'text' with every apostrophe doubled, as the lexer reads it back: a value
// (a series, a company folder, a transfer folder path) holding "'" can then
// neither break a statement nor change its meaning.
inline std::string SqlTextLiteral(std::string_view text) {
  std::string result = "'";
  for (const char c : text) {
    result.push_back(c);
    if (c == '\'') result.push_back('\'');
  }
  result.push_back('\'');
  return result;
}

// A field name as a statement writes it: bare when the lexer reads it back
// as one name and it is no reserved word (every name of a Kalmeo table), else
// between double quotes with every '"' doubled.  A name holding blanks or
// punctuation then names that field and nothing else.
std::string SqlName(std::string_view name);

}  // namespace dalimor
