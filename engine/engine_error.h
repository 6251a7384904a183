#pragma once
// The one exception type of the table engine.  It carries the engine's
// message text (in the style of the BDE messages, e.g. "Key violation.") and a
// kind, so that callers can tell engine errors from others and react to a few
// kinds specifically.

#include <stdexcept>
#include <string>
#include <string_view>

namespace dalimor {

enum class EngineErrorKind {
  kGeneral,
  kFileNotFound,         // "Table does not exist." / "File does not exist."
  kCorrupt,              // a file does not have the structure it must have
  kKeyViolation,         // "Key violation."
  kFieldNotFound,        // "Field not found in table."
  kTableBusy,            // locked by another program
  kDirectoryControlled,  // "Directory is controlled by other .NET file."
  kInvalidDefinition,    // a table definition Paradox cannot hold
  kUnsupported,          // "Capability not supported."
  kSql,                  // a local SQL syntax or binding error
  kIo,                   // reading or writing a file failed
};

class EngineError : public std::runtime_error {
 public:
  EngineError(EngineErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  EngineErrorKind kind() const { return kind_; }

  // True when a line of the message begins with "<label>: " (a context line
  // such as "Table: <path>" or "Field: <name>").
  bool HasContext(std::string_view label) const;
  // This error with the context line "<label>: <value>" added at the end of
  // its message, of the same kind; unchanged when it has such a line already
  // (the innermost layer that knew the table named it).
  EngineError WithContext(std::string_view label, std::string_view value) const;

 private:
  EngineErrorKind kind_;
};

// Errors about a field of a table (a value it cannot hold, a name it lacks)
// name the table in a "Table: <path>" line, as the Borland engine's
// messages do; a copy of rows also names the table the rows came from, so
// that whichever of the two is damaged is named.
inline constexpr std::string_view kTableContext = "Table";
inline constexpr std::string_view kSourceTableContext = "Source table";
inline constexpr std::string_view kFieldContext = "Field";

}  // namespace dalimor
