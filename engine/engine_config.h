#pragma once
// The table engine's persistent configuration: a tree of paths
// ("\DRIVERS\PARADOX\INIT\") holding named entries ("LANGDRIVER"), kept in a
// small text file of our own.  A store whose file does not exist yet holds the
// defaults, among them the Paradox driver's LANGDRIVER "anczechw".

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dalimor {

// Where the store lives unless told otherwise: $DALIMOR_ENGINE_CONFIG, else
// $XDG_CONFIG_HOME/dalimor/engine.cfg, else ~/.config/dalimor/engine.cfg.
std::string DefaultEngineConfigPath();

class EngineConfig {
 public:
  // Names the file; nothing is read until an entry is asked for.
  explicit EngineConfig(std::string path = DefaultEngineConfigPath());

  const std::string& path() const { return path_; }

  // The entries at a configuration path, in order.  Paths compare without
  // regard to case and with or without the trailing "\".  Throws EngineError
  // "Invalid configuration parameter." for a path the store does not have,
  // and EngineError (kIo) when the file cannot be read.
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view config_path) const;

  // The value of an entry, compared by exact name; none when the path has no
  // such entry.  Throws as Entries does.
  std::optional<std::string> Find(std::string_view config_path, std::string_view entry) const;

  // Replaces the value of an existing entry and saves the store at once.
  // Returns false when the path has no such entry.  Throws as Entries does,
  // and EngineError (kIo) when the file cannot be written.
  bool Replace(std::string_view config_path, std::string_view entry, std::string_view value);

 private:
  using Tree = std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;
  Tree Load() const;
  void Save(const Tree& tree) const;

  std::string path_;
};

// The text of a configuration entry named as "path;entry", for example
// "\DRIVERS\PARADOX\INIT\;LANGDRIVER" (at most 128 characters).  Throws
// std::runtime_error "Invalid parameter passed to function.  There must be a
// semi-colon delimited sting passed" without a ";", std::runtime_error
// "<parameter> entry was not found in configuration file" when the entry is
// missing, and EngineError for errors of the store.
std::string ReadEngineConfigEntry(const EngineConfig& config, std::string_view parameter);

// Replaces the value of the entry named as ReadEngineConfigEntry names it and
// saves the store persistently.  Throws as ReadEngineConfigEntry does.
void WriteEngineConfigEntry(EngineConfig& config, std::string_view parameter,
                            std::string_view value);

inline constexpr std::string_view kLangDriverParameter = "\\DRIVERS\\PARADOX\\INIT\\;LANGDRIVER";
inline constexpr std::string_view kCzechLangDriver = "anczechw";

}  // namespace dalimor
