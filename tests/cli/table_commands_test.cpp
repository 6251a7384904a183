// The table commands run as a user runs them: the real binary on real files.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/index_checker.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int code;
  std::string output;
};

CliRun Cli(const std::string& arguments) {
  CliRun run;
  run.code = test::RunCommand(std::string(DALIMOR_CLI_PATH) + " " + arguments, &run.output);
  return run;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

constexpr const char* kFields =
    "DoklRada:A:5,DoklCislo:A:10,Klic:I,Datum:D,Cas:T,Kdy:@,Castka:$,Kurz:N,Plati:L,"
    "Pocet:S,Text:M:10,Data:B:0,Kod:Y:4";

TEST(CliTables, CreateImportDumpRoundTripsEveryValueKind) {
  test::TempDir dir;
  const std::string table = dir.File("CDENIK.DB");
  ASSERT_EQ(Cli("create " + Quote(table) + " --fields " + Quote(kFields) +
                " --key DoklRada,DoklCislo,Klic")
                .code,
            0);
  const std::string csv =
      "DoklRada,DoklCislo,Klic,Datum,Cas,Kdy,Castka,Kurz,Plati,Pocet,Text,Data,Kod\r\n"
      "ID,0002,1,15.03.2011,10:20:30,15.03.2011 10:20:30.250,-1234.5,0.1,true,-7,"
      "\"Dlouhý text, se čárkou\r\na \"\"uvozovkami\"\"\",00ff10,0a0b\r\n"
      "ID,0001,2,,,,,,,,,,\r\n"
      "BV,0001,1,01.01.1900,00:00:00,31.12.2099 23:59:59,0,1e+300,false,32767,ž,,\r\n";
  test::WriteFileBytes(dir.path() / "in.csv", csv);
  ASSERT_EQ(Cli("import " + Quote(table) + " " + Quote(dir.File("in.csv"))).code, 0);
  const CliRun dump = Cli("dump " + Quote(table) + " 2>/dev/null");
  ASSERT_EQ(dump.code, 0);
  // Rows come back in key order; a bytes field keeps its full width.
  EXPECT_EQ(dump.output,
            "DoklRada,DoklCislo,Klic,Datum,Cas,Kdy,Castka,Kurz,Plati,Pocet,Text,Data,Kod\r\n"
            "BV,0001,1,01.01.1900,00:00:00,31.12.2099 23:59:59,0,1e+300,false,32767,ž,,\r\n"
            "ID,0001,2,,,,,,,,,,\r\n"
            "ID,0002,1,15.03.2011,10:20:30,15.03.2011 10:20:30.250,-1234.5,0.1,true,-7,"
            "\"Dlouhý text, se čárkou\r\na \"\"uvozovkami\"\"\",00ff10,0a0b0000\r\n");
  const CliRun schema = Cli("schema " + Quote(table));
  EXPECT_EQ(schema.output,
            "DoklRada\tA\t5\nDoklCislo\tA\t10\nKlic\tI\t0\nDatum\tD\t0\nCas\tT\t0\nKdy\t@\t0\n"
            "Castka\t$\t0\nKurz\tN\t0\nPlati\tL\t0\nPocet\tS\t0\nText\tM\t10\nData\tB\t0\n"
            "Kod\tY\t4\nkey:DoklRada,DoklCislo,Klic\n");
}

TEST(CliTables, ImportNamesTheBadLineAndInsertsNothing) {
  test::TempDir dir;
  const std::string table = dir.File("t.db");
  ASSERT_EQ(Cli("create " + Quote(table) + " --fields 'A:A:5,N:I' --key A").code, 0);
  test::WriteFileBytes(dir.path() / "ok.csv", "A,N\r\nx,1\r\n");
  ASSERT_EQ(Cli("import " + Quote(table) + " " + Quote(dir.File("ok.csv"))).code, 0);
  const std::string before = test::ReadFileBytes(table);

  struct {
    const char* csv;
    const char* message;
  } const cases[] = {
      {"A,N\r\ny,2\r\nx,3\r\n", "line 3: Key violation."},
      {"A,N\r\ny,2\r\ny,3\r\n", "line 3: Key violation."},
      {"A,N\r\ny,2\r\nz,abc\r\n", "line 3: 'abc' is not a valid value for field N."},
      {"A,N,Q\r\ny,2,3\r\n", "line 1: Field 'Q' not found in table."},
      {"A,N\r\ny,2,3\r\n", "line 2: 3 values for 2 columns."},
      {"A,N\r\n\"y,2\r\n", "line 2: unterminated quoted field"},
  };
  for (const auto& c : cases) {
    test::WriteFileBytes(dir.path() / "bad.csv", c.csv);
    const CliRun run = Cli("import " + Quote(table) + " " + Quote(dir.File("bad.csv")));
    EXPECT_EQ(run.code, 1) << c.csv;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "one line: " << run.output;
    EXPECT_EQ(test::ReadFileBytes(table), before) << c.csv;
  }
}

TEST(CliTables, KeyMustBeTheLeadingFields) {
  test::TempDir dir;
  const CliRun run = Cli("create " + Quote(dir.File("t.db")) + " --fields 'A:A:5,B:I' --key B");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.output.find("leading fields"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir.path() / "t.db"));
}

// Tables with secondary indexes: made by create, listed by schema, kept by
// import; a malformed index is a wrong command line, an impossible one
// leaves no file behind.
TEST(CliTables, CreateAddsSecondaryIndexesThatImportKeeps) {
  test::TempDir dir;
  const std::string table = dir.File("Faktury.db");
  ASSERT_EQ(Cli("create " + Quote(table) + " --fields 'Cislo:A:10,Datum:D,Firma:A:30' --key Cislo" +
                " --index Datum --index 'Firma:Firma,Datum:ci' --index 'Jedna:Firma:unique'")
                .code,
            0);
  const CliRun schema = Cli("schema " + Quote(table));
  EXPECT_NE(schema.output.find("index:Faktury.x02"), std::string::npos) << schema.output;
  EXPECT_NE(schema.output.find("index:Faktury.xg0"), std::string::npos) << schema.output;
  EXPECT_NE(schema.output.find("index:Faktury.xg1"), std::string::npos) << schema.output;
  test::WriteFileBytes(dir.path() / "rows.csv",
                       "Cislo,Datum,Firma\n1,01.02.2011,Žabka\n2,03.02.2011,Hora\n");
  ASSERT_EQ(Cli("import " + Quote(table) + " " + Quote(dir.File("rows.csv"))).code, 0);
  for (const std::string& problem : test::CheckAllSecondaryIndexes(table)) ADD_FAILURE() << problem;
  // The unique index refuses a second "Hora"; the import inserts nothing.
  test::WriteFileBytes(dir.path() / "more.csv", "Cislo,Datum,Firma\n3,04.02.2011,Alfa\n4,05.02.2011,Hora\n");
  const std::string before = test::ReadFileBytes(table);
  EXPECT_EQ(Cli("import " + Quote(table) + " " + Quote(dir.File("more.csv"))).code, 1);
  EXPECT_EQ(test::ReadFileBytes(table), before);

  const CliRun malformed = Cli("create " + Quote(dir.File("b.db")) +
                               " --fields 'A:A:5,B:I' --key A --index 'X:B:sideways'");
  EXPECT_EQ(malformed.code, 2) << malformed.output;
  const CliRun impossible = Cli("create " + Quote(dir.File("c.db")) +
                                " --fields 'A:A:5,B:I' --key A --index Nothing");
  EXPECT_EQ(impossible.code, 1) << impossible.output;
  EXPECT_FALSE(fs::exists(dir.path() / "b.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "c.db"));
  EXPECT_FALSE(fs::exists(dir.path() / "c.px"));
}

TEST(CliTables, SqlPrintsSelectsAsCsvAndUsageErrorsExitTwo) {
  test::TempDir dir;
  const std::string table = dir.File("t.db");
  ASSERT_EQ(Cli("create " + Quote(table) + " --fields 'A:A:5,N:I' --key A").code, 0);
  test::WriteFileBytes(dir.path() / "in.csv", "A,N\r\nx,1\r\ny,5\r\n");
  ASSERT_EQ(Cli("import " + Quote(table) + " " + Quote(dir.File("in.csv"))).code, 0);
  const CliRun select = Cli("sql \"SELECT MAX(N) FROM '" + table + "'\"");
  EXPECT_EQ(select.code, 0);
  EXPECT_EQ(select.output.substr(select.output.find("\r\n") + 2), "5\r\n");
  EXPECT_EQ(Cli("sql \"DELETE FROM '" + table + "' WHERE N = 1\"").code, 0);
  EXPECT_EQ(Cli("dump " + Quote(table)).output, "A,N\r\ny,5\r\n");
  EXPECT_EQ(Cli("sql \"SELEC * FROM x\"").code, 1);
  EXPECT_EQ(Cli("dump").code, 2);
  EXPECT_EQ(Cli("frobnicate").code, 2);
  EXPECT_EQ(Cli("dump " + Quote(dir.File("missing.db"))).code, 1);
  EXPECT_EQ(Cli("--version").code, 0);
}

}  // namespace
}  // namespace dalimor
