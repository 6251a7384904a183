#pragma once
// The one exception type of the table engine.  It carries the engine's
// message text (in the style of the BDE messages, e.g. "Key violation.") and a
// kind, so that callers can tell engine errors from others and react to a few
// kinds specifically.

#include <stdexcept>
#include <string>

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

 private:
  EngineErrorKind kind_;
};

}  // namespace dalimor
