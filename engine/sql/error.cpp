#include "engine/sql/error.h"

namespace dalimor {
namespace {

constexpr size_t kMaxTokenChars = 40;

std::string Compose(const std::string& message, const std::string& token, SqlPosition position) {
  std::string text = message;
  if (!token.empty()) text += "\nToken: " + token;
  text += "\nLine Number: " + std::to_string(position.line);
  text += "\nColumn Number: " + std::to_string(position.column);
  return text;
}

}  // namespace

std::string SqlTokenForMessage(std::string_view raw) {
  size_t chars = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if ((byte & 0xC0) != 0x80) {
      if (chars == kMaxTokenChars) return std::string(raw.substr(0, i)) + "...";
      ++chars;
    }
  }
  return std::string(raw);
}

SqlError::SqlError(const std::string& message, std::string_view token, SqlPosition position)
    : EngineError(EngineErrorKind::kSql,
                  Compose(message, SqlTokenForMessage(token), position)),
      token_(SqlTokenForMessage(token)),
      position_(position) {}

}  // namespace dalimor
