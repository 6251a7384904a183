// The run log: one CSV line per run, appended to the year's file, read back
// field for field by us and by Python's csv module.

#include "transfer/run_log.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

RunReport Report(int year, RunOutcome outcome, const std::string& error = "") {
  RunReport report;
  report.start = {year, 3, 15, 10, 20, 30, 0};
  report.end = {year, 3, 15, 10, 21, 5, 0};
  report.outcome = outcome;
  report.error = error;
  return report;
}

RunLogContext Context() {
  return {"ucetni", "/opt/kalmeo/", "Pobočka \"Brno\"; sklad", "/mnt/přenos/"};
}

TEST(RunLog, LinesKeepEveryFieldThroughQuotingAndReadBack) {
  test::TempDir dir;
  const fs::path folder = dir.path() / "data" / "dalimor";
  ReceivePage page;
  page.agendas["VF"] = {true, "1.1.2011", "31.3.2011", "FV"};
  page.agendas["Cenik"].ticked = true;
  page.overwrite = true;
  page.archive = "/mnt/pošta/Davka.zip";
  RunReport report = Report(2011, RunOutcome::kFailed,
                            "Při importu dat došlo k chybě:\r\n\r\nKey violation.\r\n\r\nAkce byla "
                            "přerušena.");
  EXPECT_EQ(RecordReceive(folder, Context(), page, report), "");
  report.outcome = RunOutcome::kDone;
  report.error.clear();
  report.counts["VF"] = {12, 3, 40};
  report.counts["Cenik"] = {25, 0, 0};
  EXPECT_EQ(RecordReceive(folder, Context(), page, report), "");

#ifndef _WIN32
  // The folder and the file are the user's alone (by their permission
  // bits; on Windows by the ACL of the user's profile they lie in).
  struct stat info;
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((folder / "historie-2011.csv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif

  const auto lines = ReadRunLog(folder, 2011);
  ASSERT_EQ(lines.size(), 2u);
  const std::vector<std::string> expected_failed = {
      "2011-03-15 10:20:30",
      "2011-03-15 10:21:05",
      "ucetni",
      "/opt/kalmeo/",
      "Pobočka \"Brno\"; sklad",
      "/mnt/přenos/",
      "příjem",
      "agendy VF Cenik; ze zipu; přepsat existující; VF od 1.1.2011 do 31.3.2011, řada FV",
      "",
      "chyba, data beze změny",
      "Při importu dat došlo k chybě: Key violation. Akce byla přerušena."};
  EXPECT_EQ(lines[0], expected_failed);
  EXPECT_EQ(lines[1][8], "Vystavené faktury: 12 dokl., 40 pol., přepsáno 3; Ceník: 25 pol.");
  EXPECT_EQ(lines[1][9], "dokončeno");

  // One header, one physical line per run, a byte order mark first.
  const std::string text = test::ReadFileBytes(folder / "historie-2011.csv");
  EXPECT_EQ(text.rfind("\xEF\xBB\xBFZačátek;Konec;Uživatel;", 0), 0u);
  size_t breaks = 0;
  for (const char c : text) breaks += c == '\n';
  EXPECT_EQ(breaks, 3u);

#ifndef _WIN32
  // Python's csv module reads the same fields.
  std::string output;
  ASSERT_EQ(test::RunCommand("python3 -c \"import csv,sys; r=list(csv.reader(open('" +
                                 (folder / "historie-2011.csv").string() +
                                 "', encoding='utf-8-sig', newline=''), delimiter=';')); "
                                 "sys.stdout.write(r[1][4] + '|' + r[1][10] + '|' + str(len(r)))\"",
                             &output),
            0)
      << output;
  EXPECT_EQ(output, "Pobočka \"Brno\"; sklad|" + expected_failed[10] + "|3");
#endif
}

TEST(RunLog, EachYearHasItsFileAndEarlierLinesStayAsTheyWere) {
  test::TempDir dir;
  const fs::path folder = dir.path();
  SendPage page;
  page.agendas["PF"].ticked = true;
  page.archive = true;
  for (const int year : {2026, 2025, 2026}) {
    EXPECT_EQ(RecordSend(folder, Context(), page, Report(year, RunOutcome::kDone)), "");
  }
  const std::string earlier = test::ReadFileBytes(folder / "historie-2026.csv");
  EXPECT_EQ(RecordSend(folder, Context(), page, Report(2026, RunOutcome::kArchiveFailed)), "");
  const std::string later = test::ReadFileBytes(folder / "historie-2026.csv");
  EXPECT_EQ(later.substr(0, earlier.size()), earlier);
  EXPECT_EQ(RunLogYears(folder), (std::vector<int>{2025, 2026}));
  EXPECT_EQ(ReadRunLog(folder, 2026).size(), 3u);
  EXPECT_EQ(ReadRunLog(folder, 2025).size(), 1u);
  EXPECT_TRUE(ReadRunLog(folder, 2024).empty());

  // A run the user did not start leaves no line.
  EXPECT_EQ(RecordSend(folder, Context(), page, Report(2026, RunOutcome::kCancelled)), "");
  EXPECT_EQ(ReadRunLog(folder, 2026).size(), 3u);
  // A line cut short by a crash is read as far as it goes.
  test::WriteFileBytes(folder / "historie-2026.csv", later + "2026-03-15 10:20:30;2026-03");
  const auto lines = ReadRunLog(folder, 2026);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3][1], "2026-03");
  EXPECT_EQ(lines[3].size(), kRunLogColumnCount);
}

TEST(RunLog, AFolderThatCannotBeWrittenIsReportedNotThrown) {
  test::TempDir dir;
  // A file where the folder should be.
  test::WriteFileBytes(dir.path() / "dalimor", "x");
  const std::string warning =
      RecordSend(dir.path() / "dalimor", Context(), SendPage{}, Report(2026, RunOutcome::kDone));
  EXPECT_NE(warning.find("se nepodařilo zapsat do historie přenosů"), std::string::npos) << warning;
}

}  // namespace
}  // namespace dalimor
