// demo: writes the demo installation of Kalmeo into a new or empty folder.

#include <charconv>
#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "cli/cli.h"
#include "cli/cli_options.h"
#include "demo/demo_installation.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

constexpr const char* kDemoUsage =
    "použití: dalimor-cli demo DIR [--scale N] [--lines N] [--seed S]";
constexpr int kMaxScale = 1000;
// The most item lines per document the command offers.
constexpr int kMaxLines = 200;

template <typename T>
T ParseNumber(const std::string& text, const std::string& option) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    throw UsageError{option + " potřebuje celé číslo, ne '" + text + "'"};
  return value;
}

}  // namespace

int DemoCommand(const std::vector<std::string>& args, std::ostream& out) {
  CliOptions options(args);
  DemoOptions demo;
  demo.scale = ParseNumber<int>(options.Optional("--scale", "1"), "--scale");
  demo.seed = ParseNumber<uint64_t>(options.Optional("--seed", "1"), "--seed");
  demo.max_lines = ParseNumber<int>(options.Optional("--lines", "0"), "--lines");
  const std::vector<std::string> positional = options.Positional();
  options.Finish();
  if (positional.size() != 1) throw UsageError{kDemoUsage};
  if (demo.scale < 1 || demo.scale > kMaxScale)
    throw UsageError{"--scale musí být od 1 do " + std::to_string(kMaxScale)};
  if (demo.max_lines < 0 || demo.max_lines > kMaxLines)
    throw UsageError{"--lines musí být od 0 (obvyklý počet položek) do " +
                     std::to_string(kMaxLines)};
  const std::string& dir = positional[0];

  // Never over existing data: only a new or an empty folder is written.
  std::error_code ec;
  const std::filesystem::path path = PathFromUtf8(dir);
  if (std::filesystem::exists(path, ec)) {
    if (!std::filesystem::is_directory(path, ec))
      throw std::runtime_error("'" + dir +
                               "' už existuje a není to složka; demo instalaci tam "
                               "nelze vytvořit.");
    if (!std::filesystem::is_empty(path, ec) || ec)
      throw std::runtime_error("složka '" + dir +
                               "' není prázdná; demo instalace se vytváří jen "
                               "do nové nebo prázdné složky, aby nepřepsala žádná data.");
  }
  WriteDemoInstallation(dir, demo);

  out << "Demo instalace Kalmea vytvořena v '" << dir << "'";
  if (demo.scale != 1 && demo.max_lines > 0)
    out << " (měřítko " << demo.scale << ", nejvýše " << demo.max_lines << " položek na doklad)";
  else if (demo.scale != 1)
    out << " (měřítko " << demo.scale << ")";
  else if (demo.max_lines > 0)
    out << " (nejvýše " << demo.max_lines << " položek na doklad)";
  out << ".\nFirmy této stanice: ";
  bool first = true;
  for (const DemoCompany& company : DemoCompanies()) {
    if (!company.on_this_station) continue;
    out << (first ? "" : ", ") << company.designation << " (DATA/" << company.folder << ")";
    first = false;
  }
  out << ".\n";
  return kExitOk;
}

}  // namespace dalimor
