#pragma once
// Errors of the local SQL component.  Syntax and binding errors are
// EngineErrors of kind kSql whose message names the offending token and its
// place in the statement text, in the layout of the Borland engine's
// messages:
//
//   General parsing error.
//   Token: FORM
//   Line Number: 2
//   Column Number: 8

#include <string>
#include <string_view>

#include "engine/engine_error.h"

namespace dalimor {

// A place in a statement text.  Lines and columns count from 1; a line ends
// at a lone CR, a CR LF pair or a lone LF; columns count characters (UTF-8
// sequences), not bytes.
struct SqlPosition {
  int line = 1;
  int column = 1;
  size_t offset = 0;  // byte offset into the text
};

class SqlError : public EngineError {
 public:
  // `message` is the first line ("General parsing error."); `token` the text
  // of the token as written (shortened when long), empty at the end of the text.
  SqlError(const std::string& message, std::string_view token, SqlPosition position);

  const std::string& token() const { return token_; }
  const SqlPosition& position() const { return position_; }

 private:
  std::string token_;
  SqlPosition position_;
};

// A token text as a message shows it: at most 40 characters, longer ones cut
// with "..." appended.
std::string SqlTokenForMessage(std::string_view raw);

}  // namespace dalimor
