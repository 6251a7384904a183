#pragma once
// Messages of the Paradox storage layer, in the style of the Borland engine:
// the engine's text first, then the file concerned, then what was wrong.

#include <string>
#include <string_view>

#include "engine/engine_error.h"

namespace dalimor {

inline constexpr std::string_view kCorruptHeaderText = "Corrupt table/index header.";
inline constexpr std::string_view kCorruptFileText = "Corrupt file - other than header.";
inline constexpr std::string_view kCorruptBlobText = "Corrupt Memo/BLOB file.";
inline constexpr std::string_view kCorruptIndexText = "Corrupt index.";

// "<text>\nFile: <file>\n<detail>" (the detail line only when given).
inline std::string EngineMessage(std::string_view text, std::string_view file,
                                 std::string_view detail = {}) {
  std::string message(text);
  if (!file.empty()) message.append("\nFile: ").append(file);
  if (!detail.empty()) message.append("\n").append(detail);
  return message;
}

[[noreturn]] inline void ThrowCorrupt(std::string_view text, std::string_view file,
                                      std::string_view detail) {
  throw EngineError(EngineErrorKind::kCorrupt, EngineMessage(text, file, detail));
}

}  // namespace dalimor
