// The transfer's statements over Paradox tables against SQLite doing the
// same over the same rows, on random cases.  A failure prints the case's
// seed; DALIMOR_SQLDIFF_SEED=<seed> DALIMOR_SQLDIFF_CASES=1 runs that case
// alone (DALIMOR_SQLDIFF_SEED alone moves the whole series).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "tests/sqldiff/diff_case.h"
#include "tests/support/test_support.h"

namespace dalimor::sqldiff {
namespace {

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  return std::strtoull(text, nullptr, 10);
}

uint64_t BaseSeed() {
  return EnvNumber("DALIMOR_SQLDIFF_SEED", 20110315);
}
int CaseCount(int fallback) {
  return static_cast<int>(EnvNumber("DALIMOR_SQLDIFF_CASES", static_cast<uint64_t>(fallback)));
}

std::string Printable(std::string text) {
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

std::string OutcomeText(const Outcome& o) {
  if (o.ok) return "ok, " + std::to_string(o.rows) + " rows";
  if (o.key_violation) return "key violation: " + o.message;
  return (o.unknown_column ? "unknown column: " : "failed: ") + o.message;
}

// Compares the two runs; empty when they agree, else what differs.
std::string Differences(const SideRun& ours, const SideRun& theirs) {
  std::string out;
  for (size_t i = 0; i < ours.outcomes.size(); ++i) {
    const Outcome& a = ours.outcomes[i];
    const Outcome& b = theirs.outcomes[i];
    const bool same_outcome = a.ok == b.ok && (a.ok ? a.rows == b.rows
                                                    : a.key_violation == b.key_violation &&
                                                          a.unknown_column == b.unknown_column);
    const std::string step = "statement " + std::to_string(i + 1) + ": ";
    if (!same_outcome) out += step + "ours " + OutcomeText(a) + "; SQLite " + OutcomeText(b) + "\n";
    const auto& x = ours.target_rows[i];
    const auto& y = theirs.target_rows[i];
    if (x != y) {
      std::vector<std::string> only_ours, only_theirs;
      std::set_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(only_ours));
      std::set_difference(y.begin(), y.end(), x.begin(), x.end(), std::back_inserter(only_theirs));
      out += step + "target differs (" + std::to_string(x.size()) + " rows ours, " +
             std::to_string(y.size()) + " SQLite)\n";
      for (const auto& r : only_ours) out += "  only ours:   " + r + "\n";
      for (const auto& r : only_theirs) out += "  only SQLite: " + r + "\n";
    }
  }
  return out;
}

std::string Report(const DiffCase& c, const SideRun& ours, const SideRun& theirs,
                   const std::string& differences) {
  std::string out = "case seed " + std::to_string(c.seed) +
                    " (rerun: DALIMOR_SQLDIFF_SEED=" + std::to_string(c.seed) +
                    " DALIMOR_SQLDIFF_CASES=1)\n" + differences + Describe(c);
  for (size_t i = 0; i < ours.statements.size(); ++i) {
    out += "ours " + std::to_string(i + 1) + " (" + OutcomeText(ours.outcomes[i]) + "):\n" +
           Printable(ours.statements[i]) + "\n";
    out += "SQLite " + std::to_string(i + 1) + " (" + OutcomeText(theirs.outcomes[i]) + "):\n" +
           theirs.statements[i] + "\n";
  }
  return out;
}

// What a series of cases exercised, so that a generator that drifts into
// trivial cases (everything filtered away, every insert a key violation)
// fails instead of passing quietly.
struct Coverage {
  int cases = 0;
  int by_operation[4] = {};
  int inserts = 0, inserts_with_rows = 0;
  int deletes = 0, deletes_with_rows = 0;
  int key_violations = 0;
  int unknown_columns = 0;
  int other_errors = 0;

  void Add(const DiffCase& c, const SideRun& ours) {
    ++cases;
    ++by_operation[static_cast<int>(c.operation)];
    for (size_t i = 0; i < ours.outcomes.size(); ++i) {
      const Outcome& o = ours.outcomes[i];
      const bool insert = ours.statements[i].rfind("INSERT", 0) == 0;
      ++(insert ? inserts : deletes);
      if (o.ok && o.rows > 0) ++(insert ? inserts_with_rows : deletes_with_rows);
      if (!o.ok)
        ++(o.key_violation ? key_violations : o.unknown_column ? unknown_columns : other_errors);
    }
  }
  void Print(const char* what) const {
    std::printf(
        "[sqldiff] %s: %d cases (overwrite %d, guarded %d, plain %d, delete %d); "
        "%d INSERTs, %d inserted rows; %d DELETEs, %d deleted rows; "
        "%d key violations, %d unknown columns, %d other errors\n",
        what, cases, by_operation[0], by_operation[1], by_operation[2], by_operation[3], inserts,
        inserts_with_rows, deletes, deletes_with_rows, key_violations, unknown_columns,
        other_errors);
  }
};

// Runs one case on both sides; true when they agree.
bool RunCase(DiffCase c, Coverage& coverage, int& reported) {
  test::TempDir dir;
  WriteParadoxTables(c, dir.path());
  const SideRun ours = RunOurs(c, dir.path());
  const SideRun theirs = RunSqlite(c);
  coverage.Add(c, ours);
  const std::string differences = Differences(ours, theirs);
  if (differences.empty()) return true;
  if (++reported <= 3) ADD_FAILURE() << Report(c, ours, theirs, differences);
  return false;
}

Coverage RunSeries(TableKind kind, int default_cases) {
  Coverage coverage;
  const uint64_t base = BaseSeed();
  const int cases = CaseCount(default_cases);
  int reported = 0;
  for (int i = 0; i < cases; ++i)
    RunCase(GenerateCase(kind, base + static_cast<uint64_t>(i)), coverage, reported);
  coverage.Print(KindName(kind));
  if (reported > 3) ADD_FAILURE() << reported << " cases differ; the first three are shown";
  if (cases >= 100) {
    for (const int n : coverage.by_operation) EXPECT_GT(n, cases / 8);
    EXPECT_GT(coverage.inserts_with_rows, coverage.inserts / 4);
    EXPECT_GT(coverage.deletes_with_rows, coverage.deletes / 6);
    EXPECT_GT(coverage.key_violations, 0);
    EXPECT_EQ(coverage.other_errors, 0);
  }
  return coverage;
}

TEST(SqlDiff, HeaderTablesAgreeWithSqlite) {
  RunSeries(TableKind::kHeaders, 250);
}

TEST(SqlDiff, ItemTablesJoinedToHeadersAgreeWithSqlite) {
  const Coverage coverage = RunSeries(TableKind::kItems, 300);
  // Items without a master join that filter on a header-only date refer to
  // a column no table has; both engines must refuse such a statement.
  if (coverage.cases >= 100) {
    EXPECT_GT(coverage.unknown_columns, 0);
  }
}

TEST(SqlDiff, JournalTablesWithFourFieldKeysAgreeWithSqlite) {
  RunSeries(TableKind::kJournal, 250);
}

// One case of a few thousand item rows, overwritten and copied with the guard.
TEST(SqlDiff, ThousandsOfItemRowsAgreeWithSqlite) {
  Coverage coverage;
  int reported = 0;
  for (const Operation op : {Operation::kOverwrite, Operation::kGuardedInsert}) {
    DiffCase c = GenerateCase(TableKind::kItems, BaseSeed() + 7, 150);
    c.operation = op;
    c.join = true;
    // The DELETE then selects the very documents the INSERT copies.
    c.delete_joins_target_master = false;
    c.filter.date_from = c.filter.date_to = 0;
    c.filter.number_from = c.filter.number_to = c.filter.series = "";
    c.step.master_table = "SPFH.DB";
    c.step.join_condition = "(tE.DoklSRada=tM.DoklSRada) AND (tE.DoklSCislo=tM.DoklSCislo)";
    ASSERT_GT(c.source.rows.size(), 2000u);
    RunCase(std::move(c), coverage, reported);
  }
  coverage.Print("thousands of items");
  EXPECT_EQ(coverage.inserts_with_rows + coverage.deletes_with_rows, 3);
}

}  // namespace
}  // namespace dalimor::sqldiff
