// Packs a folder of generated table-like files (about 50 MB) with
// ArchiveBatch and with a reference zip program on the same folder in the
// same run, and prints the ratio of the times (best of a few runs) and of
// the archive sizes.  Peak memory is shown after packing a 1 MB folder and
// after packing the 50 MB one: it must not grow with the size of the files.
//
// Usage: bench_archive [megabytes] [runs]

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/batch_archive.h"

namespace {

namespace fs = std::filesystem;
using dalimor::Cursor;
using dalimor::MsgKind;
using dalimor::RunPage;

// A front end nobody looks at; an error box is printed.
class QuietUi : public dalimor::Ui {
 public:
  int ShowMessageBox(MsgKind, const std::string& caption, const std::string& text,
                     int) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return dalimor::kIdOk;
  }
  void SetStatusText(const std::string&) override {}
  void ShowDoneMark(RunPage, const std::string&) override {}
  void HideDoneMarks() override {}
  void SetDoneMarksShown(bool) override {}
  Cursor CurrentCursor() const override { return cursor_; }
  void SetCursor(Cursor cursor) override { cursor_ = cursor; }

 private:
  Cursor cursor_ = Cursor::kDefault;
};

// Writes `size` bytes of fixed-width rows like a Paradox table's: keys
// counting up, document numbers, names from a small set, amounts, dates,
// and some noise.  Streams through a small buffer.
void WriteTableLike(const fs::path& path, uint64_t size, unsigned seed) {
  static const char* const kNames[] = {"Novák s.r.o.", "Dvořák a syn", "Kovárna Beroun",
                                       "ABC Trading", "Zelenina Hrubý", "Stavby Kolín"};
  std::mt19937 random(seed);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string buffer;
  uint64_t written = 0;
  const auto next = [&random](unsigned limit) { return static_cast<unsigned>(random() % limit); };
  char row[160];
  for (unsigned key = 1; written < size; ++key) {
    const int length = std::snprintf(
        row, sizeof row, "%08u FV%04u%06u %-24s %10u.%02u %02u.%02u.20%02u %08X\r\n", key,
        2011 + key / 100000, key % 1000000, kNames[next(6)], next(1000000), next(100),
        1 + next(28), 1 + next(12), 10 + next(5), static_cast<unsigned>(random()));
    buffer.append(row, static_cast<size_t>(length));
    if (buffer.size() >= 64 * 1024) {
      const uint64_t take = std::min<uint64_t>(buffer.size(), size - written);
      out.write(buffer.data(), static_cast<std::streamsize>(take));
      written += take;
      buffer.clear();
    }
  }
}

double Seconds(const std::chrono::steady_clock::duration& d) {
  return std::chrono::duration<double>(d).count();
}

long PeakRssKb(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

  char base_template[] = "/tmp/dalimor-bench-XXXXXX";
  if (mkdtemp(base_template) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path base = base_template;
  QuietUi ui;

  // Memory after a small folder.
  const fs::path small = base / "Mala";
  fs::create_directory(small);
  WriteTableLike(small / "SPFH.DB", 1024 * 1024, 1);
  if (!dalimor::ArchiveBatch(ui, small.string() + "/")) return 1;
  const long rss_small = PeakRssKb(RUSAGE_SELF);

  // The big folder: a few large tables and the small files of a batch.
  const fs::path folder = base / "Davka";
  fs::create_directory(folder);
  const uint64_t total = megabytes * 1024 * 1024;
  const double shares[] = {0.40, 0.25, 0.15, 0.10, 0.06, 0.04};
  const char* const tables[] = {"Sdenik.DB", "SPFP.DB", "SVFP.DB", "SklOperP.DB", "SCenik.DB",
                                "CBanka.DB"};
  for (size_t k = 0; k < 6; ++k)
    WriteTableLike(folder / tables[k], static_cast<uint64_t>(total * shares[k]), 10 + k);
  for (int k = 0; k < 12; ++k)
    WriteTableLike(folder / ("T" + std::to_string(k) + ".PX"), 2048 + 100 * k, 50 + k);
  WriteTableLike(folder / "export.ini", 600, 99);
  std::ofstream(folder / "exportinfo.txt").close();

  std::vector<std::string> inputs;
  for (const auto& item : fs::directory_iterator(folder)) inputs.push_back(item.path().string());
  std::sort(inputs.begin(), inputs.end());
  const bool have_zip = std::system("command -v zip >/dev/null 2>&1") == 0;
  const fs::path reference = base / "reference.zip";
  std::string reference_command =
      have_zip ? "zip -6 -q -j " + ShellQuote(reference.string())
               : "python3 -m zipfile -c " + ShellQuote(reference.string());
  for (const std::string& input : inputs) reference_command += " " + ShellQuote(input);

  const fs::path ours = folder / "Davka.zip";
  double best_ours = 1e9;
  double best_reference = 1e9;
  for (int run = 0; run < runs; ++run) {
    fs::remove(reference);
    auto start = std::chrono::steady_clock::now();
    if (std::system(reference_command.c_str()) != 0) {
      std::fprintf(stderr, "reference command failed: %s\n", reference_command.c_str());
      return 1;
    }
    best_reference = std::min(best_reference, Seconds(std::chrono::steady_clock::now() - start));

    start = std::chrono::steady_clock::now();
    if (!dalimor::ArchiveBatch(ui, folder.string() + "/")) return 1;
    best_ours = std::min(best_ours, Seconds(std::chrono::steady_clock::now() - start));
  }
  const long rss_big = PeakRssKb(RUSAGE_SELF);

  const double input_mb = static_cast<double>(total) / (1024.0 * 1024.0);
  const double ours_size = static_cast<double>(fs::file_size(ours));
  const double reference_size = static_cast<double>(fs::file_size(reference));
  std::printf("input:           %zu files, %.1f MB of table-like data, best of %d runs\n",
              inputs.size(), input_mb, runs);
  std::printf("ArchiveBatch:    %.3f s (%.1f MB/s), archive %.2f MB\n", best_ours,
              input_mb / best_ours, ours_size / (1024.0 * 1024.0));
  std::printf("%-16s %.3f s (%.1f MB/s), archive %.2f MB\n",
              have_zip ? "zip -6 -q:" : "python zipfile:", best_reference,
              input_mb / best_reference, reference_size / (1024.0 * 1024.0));
  std::printf("time ratio:      %.2f (ours / reference)\n", best_ours / best_reference);
  std::printf("size ratio:      %.3f (ours / reference)\n", ours_size / reference_size);
  std::printf("peak RSS:        %ld kB after a 1 MB folder, %ld kB after the %.0f MB folder\n",
              rss_small, rss_big, input_mb);

  std::error_code ignored;
  fs::remove_all(base, ignored);
  return 0;
}
