#include "cli/cli_options.h"

#include "cli/cli.h"

namespace dalimor {

std::string CliOptions::Optional(const std::string& name, const std::string& fallback) {
  for (size_t i = 0; i < args_.size(); ++i) {
    if (args_[i] != name) continue;
    if (i + 1 >= args_.size()) throw UsageError{name + " potřebuje hodnotu"};
    std::string value = args_[i + 1];
    args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i),
                args_.begin() + static_cast<std::ptrdiff_t>(i + 2));
    return value;
  }
  return fallback;
}

std::string CliOptions::Required(const std::string& name) {
  for (const std::string& arg : args_)
    if (arg == name) return Optional(name);
  throw UsageError{"chybí " + name};
}

std::vector<std::string> CliOptions::Repeated(const std::string& name) {
  std::vector<std::string> values;
  while (true) {
    bool found = false;
    for (const std::string& arg : args_) found = found || arg == name;
    if (!found) return values;
    values.push_back(Optional(name));
  }
}

bool CliOptions::Flag(const std::string& name) {
  for (size_t i = 0; i < args_.size(); ++i) {
    if (args_[i] != name) continue;
    args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

std::vector<std::string> CliOptions::Positional() {
  std::vector<std::string> positional, rest;
  for (const std::string& arg : args_) (arg.rfind("--", 0) == 0 ? rest : positional).push_back(arg);
  args_ = rest;
  return positional;
}

void CliOptions::Finish() {
  if (!args_.empty()) throw UsageError{"neznámý argument: " + args_.front()};
}

}  // namespace dalimor
