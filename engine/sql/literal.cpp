#include "engine/sql/literal.h"

#include "engine/sql/parser.h"

namespace dalimor {
namespace {

// The characters of a bare name, as the lexer reads them.
bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

std::string SqlName(std::string_view name) {
  bool bare = !name.empty() && IsNameStart(static_cast<unsigned char>(name.front()));
  for (size_t i = 1; bare && i < name.size(); ++i)
    bare = IsNameChar(static_cast<unsigned char>(name[i]));
  if (bare && !IsReservedSqlWord(name)) return std::string(name);
  std::string result = "\"";
  for (const char c : name) {
    result.push_back(c);
    if (c == '"') result.push_back('"');
  }
  result.push_back('"');
  return result;
}

}  // namespace dalimor
