// Inserting into a keyed Paradox table must cost the same per row whether
// the table holds a few thousand rows or a million.  For key orders
// (ascending, random) and flushing (after every row, once at the end) this
// inserts N and 4 N rows into fresh tables and prints the cost per row of
// the larger run relative to the smaller one: about 1 is linear, 4 would
// be quadratic.
//
//   bench_paradox [N=250000] [folder=/tmp]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"

namespace {

using dalimor::FieldType;

double SecondsToInsert(const std::filesystem::path& folder, int rows, bool batched, bool random) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const auto start = std::chrono::steady_clock::now();
  const auto table = dalimor::ParadoxTable::Create(
      (folder / "BENCH.DB").string(),
      {{"Id", FieldType::kLong, 0}, {"Name", FieldType::kAlpha, 40}, {"Amount", FieldType::kNumber, 0}},
      1);
  table->set_auto_flush(!batched);
  std::mt19937 rng(1);
  for (int i = 0; i < rows; ++i) {
    const int64_t key = random ? static_cast<int64_t>(rng() % 2000000000u) : i;
    try {
      table->Insert({key, std::string("name ") + std::to_string(i), 1.5 * i});
    } catch (const dalimor::EngineError& e) {
      if (e.kind() != dalimor::EngineErrorKind::kKeyViolation) throw;
    }
  }
  table->Close();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 250000;
  const std::filesystem::path folder =
      std::filesystem::path(argc > 2 ? argv[2] : "/tmp") / "dalimor-paradox-bench";
  std::printf("%-28s %12s %12s %10s\n", "insert", "us/row (N)", "us/row (4N)", "ratio");
  for (const bool random : {false, true}) {
    for (const bool batched : {true, false}) {
      const double small = SecondsToInsert(folder, n, batched, random) / n;
      const double large = SecondsToInsert(folder, 4 * n, batched, random) / (4.0 * n);
      std::printf("%-28s %12.2f %12.2f %10.2f\n",
                  (std::string(random ? "random" : "ascending") + (batched ? ", one flush" : ", flush per row")).c_str(),
                  small * 1e6, large * 1e6, large / small);
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
