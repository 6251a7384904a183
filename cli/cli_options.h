#pragma once
// A small reader of "--name value" and "--flag" command-line options.

#include <string>
#include <vector>

namespace dalimor {

// A command that cannot go on, with the text to print and the exit code.
struct CommandError {
  std::string message;
  int exit_code;
};

class CliOptions {
 public:
  explicit CliOptions(std::vector<std::string> args) : args_(std::move(args)) {}

  // The value of a required option; throws UsageError when it is missing.
  std::string Required(const std::string& name);
  // The value of an option, or `fallback`.
  std::string Optional(const std::string& name, const std::string& fallback = "");
  // Every value of an option that may be repeated, in order.
  std::vector<std::string> Repeated(const std::string& name);
  // Whether a flag is present.
  bool Flag(const std::string& name);
  // The arguments that are not options, in order.
  std::vector<std::string> Positional();
  // Throws UsageError when anything was not taken.
  void Finish();

 private:
  std::vector<std::string> args_;
};

}  // namespace dalimor
