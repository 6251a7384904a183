#include "engine/engine_config.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "engine/engine_error.h"
#include "platform/file_system.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

// File layout: UTF-8 text; "[<path>]" opens a path, "name=value" lines are
// its entries; lines starting with "#" are comments.
constexpr std::string_view kHeader = "# Dalimor table engine configuration\n";
constexpr size_t kMaxValueLength = 128;

// The defaults of a fresh store, modelled on the Borland engine's.
const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>&
Defaults() {
  static const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
      defaults = {
          {"\\SYSTEM\\INIT\\",
           {{"VERSION", "4.0"}, {"LANGDRIVER", "ascii"}, {"DEFAULT DRIVER", "PARADOX"}}},
          {"\\DRIVERS\\PARADOX\\INIT\\",
           {{"VERSION", "4.0"},
            {"TYPE", "FILE"},
            {"NET DIR", ""},
            {"LANGDRIVER", std::string(kCzechLangDriver)},
            {"LEVEL", "7"},
            {"BLOCK SIZE", "2048"},
            {"FILL FACTOR", "95"},
            {"STRICTINTEGRTY", "TRUE"}}},
      };
  return defaults;
}

std::string NormalizePath(std::string_view path) {
  std::string result;
  for (const char c : path)
    result.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  if (result.empty() || result.back() != '\\') result.push_back('\\');
  if (result.front() != '\\') result.insert(result.begin(), '\\');
  return result;
}

[[noreturn]] void ThrowNoPath() {
  throw EngineError(EngineErrorKind::kGeneral, "Invalid configuration parameter.");
}

// Splits "path;entry"; throws the data-access error without a ";".
std::pair<std::string_view, std::string_view> SplitParameter(std::string_view parameter) {
  const size_t semicolon = parameter.find(';');
  if (semicolon == std::string_view::npos)
    throw std::runtime_error(
        "Invalid parameter passed to function.  There must be a semi-colon delimited sting "
        "passed");
  return {parameter.substr(0, semicolon), parameter.substr(semicolon + 1)};
}

}  // namespace

std::string DefaultEngineConfigPath() {
  if (const char* env = std::getenv("DALIMOR_ENGINE_CONFIG"); env && *env) return env;
  return Utf8FromPath(UserConfigFolder() / "engine.cfg");
}

EngineConfig::EngineConfig(std::string path) : path_(std::move(path)) {}

EngineConfig::Tree EngineConfig::Load() const {
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(path_), ec)) return Defaults();
  std::ifstream in(PathFromUtf8(path_), std::ios::binary);
  if (!in) throw EngineError(EngineErrorKind::kIo, "Cannot read engine configuration file " + path_);
  Tree tree;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[' && line.back() == ']') {
      tree.push_back({NormalizePath(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || tree.empty()) continue;  // not an entry: ignored
    tree.back().second.push_back({line.substr(0, eq), line.substr(eq + 1)});
  }
  return tree;
}

void EngineConfig::Save(const Tree& tree) const {
  std::ostringstream out;
  out << kHeader;
  for (const auto& [config_path, entries] : tree) {
    out << '[' << config_path << "]\n";
    for (const auto& [name, value] : entries) out << name << '=' << value << '\n';
  }
  const std::filesystem::path target = PathFromUtf8(path_);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::filesystem::path temp = PathFromUtf8(path_ + ".new");
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    const std::string text = out.str();
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file) {
      std::filesystem::remove(temp, ec);
      throw EngineError(EngineErrorKind::kIo, "Cannot write engine configuration file " + path_);
    }
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    throw EngineError(EngineErrorKind::kIo, "Cannot write engine configuration file " + path_);
  }
}

std::vector<std::pair<std::string, std::string>> EngineConfig::Entries(
    std::string_view config_path) const {
  const std::string wanted = NormalizePath(config_path);
  for (auto& [node, entries] : Load())
    if (node == wanted) return entries;
  ThrowNoPath();
}

std::optional<std::string> EngineConfig::Find(std::string_view config_path,
                                              std::string_view entry) const {
  for (const auto& [name, value] : Entries(config_path))
    if (name == entry) return value;
  return std::nullopt;
}

bool EngineConfig::Replace(std::string_view config_path, std::string_view entry,
                           std::string_view value) {
  Tree tree = Load();
  const std::string wanted = NormalizePath(config_path);
  for (auto& [node, entries] : tree) {
    if (node != wanted) continue;
    for (auto& [name, old_value] : entries) {
      if (name != entry) continue;
      old_value = std::string(value.substr(0, kMaxValueLength));
      Save(tree);
      return true;
    }
    return false;
  }
  ThrowNoPath();
}

std::string ReadEngineConfigEntry(const EngineConfig& config, std::string_view parameter) {
  const auto [config_path, entry] = SplitParameter(parameter);
  const std::optional<std::string> value = config.Find(config_path, entry);
  if (!value)
    throw std::runtime_error(std::string(parameter) + " entry was not found in configuration file");
  return value->substr(0, kMaxValueLength);
}

void WriteEngineConfigEntry(EngineConfig& config, std::string_view parameter,
                            std::string_view value) {
  const auto [config_path, entry] = SplitParameter(parameter);
  if (!config.Replace(config_path, entry, value))
    throw std::runtime_error(std::string(parameter) + " entry was not found in configuration file");
}

}  // namespace dalimor
