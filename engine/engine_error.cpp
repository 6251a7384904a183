#include "engine/engine_error.h"

namespace dalimor {

bool EngineError::HasContext(std::string_view label) const {
  const std::string_view message = what();
  for (size_t start = 0; start < message.size();) {
    const std::string_view line = message.substr(start, message.find('\n', start) - start);
    if (line.size() > label.size() && line.substr(0, label.size()) == label &&
        line.substr(label.size(), 2) == ": ")
      return true;
    start += line.size() + 1;
  }
  return false;
}

EngineError EngineError::WithContext(std::string_view label, std::string_view value) const {
  if (HasContext(label)) return *this;
  std::string message = what();
  message.append("\n").append(label).append(": ").append(value);
  return EngineError(kind_, message);
}

}  // namespace dalimor
