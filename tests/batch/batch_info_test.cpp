#include "batch/batch_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ini_file.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

const FixedClock kSendTime({2011, 3, 15, 9, 5, 3, 0});

std::string CountByName(const std::string& path) {
  return std::to_string(fs::path(path).filename().string().size());
}

TEST(BatchInfo, MissingFilesReadAsDefaults) {
  test::TempDir dir;
  const BatchInfo info = ReadBatchInfo(dir.path().string() + "/");
  EXPECT_EQ(info.date_time, "");
  EXPECT_EQ(info.company_name, "");
  EXPECT_EQ(info.message, "");
  for (const std::string& count : info.counts) EXPECT_EQ(count, "0");
  EXPECT_TRUE(fs::is_empty(dir.path()));  // reading creates nothing
}

TEST(BatchInfo, NewFilesHaveTheirExactBytes) {
  test::TempDir dir;
  const std::string folder = dir.path().string() + "/";
  WriteBatchInfo(folder, "Ahoj,\r\nposílám faktury.", "Pobočka Brno", kSendTime,
                 CzechRegionalSettings(), CountByName);
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "exportinfo.txt"),
            "Ahoj,\r\npos\xEDl\xE1m faktury.");
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "export.ini"),
            "[LastSend]\r\nDateTime=15.3.2011 9:05:03\r\nCompanyName=Pobo\xE8ka Brno\r\n"
            "[RecordCount]\r\nSPFH=7\r\nSVFH=7\r\nSklOperH=11\r\nSObjH=8\r\nCPokl=8\r\n"
            "CBanka=9\r\nCIntdokl=11\r\nCPZ=6\r\nCdenik=9\r\nSCenik=9\r\n");
  const BatchInfo info = ReadBatchInfo(folder);
  EXPECT_EQ(info.date_time, "15.3.2011 9:05:03");
  EXPECT_EQ(info.company_name, "Pobočka Brno");
  EXPECT_EQ(info.CountOf("Banka"), "9");
  EXPECT_EQ(info.CountOf("Cenik"), "9");
  EXPECT_EQ(info.message, "Ahoj,\r\nposílám faktury.");
}

TEST(BatchInfo, MidnightSendLeavesOutTheTimeAndEmptyMessageIsAnEmptyFile) {
  test::TempDir dir;
  const std::string folder = dir.path().string() + "/";
  WriteBatchInfo(folder, "", "Centrála", FixedClock({2011, 3, 15, 0, 0, 0, 0}),
                 CzechRegionalSettings(), [](const std::string&) { return "0"; });
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "exportinfo.txt"), "");
  EXPECT_EQ(ReadBatchInfo(folder).date_time, "15.3.2011");
}

TEST(BatchInfo, HandEditedIniKeepsItsOtherSectionsAcrossASend) {
  test::TempDir dir;
  const std::string folder = dir.path().string() + "/";
  test::WriteFileBytes(dir.path() / "EXPORT.INI",
                       "; poznámka\r\n[Moje]\r\nA=1\r\n[RecordCount]\r\nCBanka=5\r\nJine=x\r\n");
  WriteBatchInfo(folder, "x", "Firma", kSendTime, CzechRegionalSettings(),
                 [](const std::string& path) {
                   return fs::path(path).filename() == "CBanka.DB" ? "5" : "1";
                 });
  const std::string bytes = test::ReadFileBytes(dir.path() / "EXPORT.INI");
  EXPECT_EQ(bytes.rfind("; poznámka\r\n[Moje]\r\nA=1\r\n[RecordCount]\r\nCBanka=5\r\nJine=x\r\n", 0),
            0u);
  EXPECT_FALSE(fs::exists(dir.path() / "export.ini"));  // the existing file, whatever its case
  EXPECT_EQ(ReadBatchInfo(folder).CountOf("Banka"), "5");
  EXPECT_EQ(ReadBatchCompany(folder), "Firma");
}

TEST(BatchInfo, MessageLineBreaksOfAnyKindReadAsCrLf) {
  test::TempDir dir;
  test::WriteFileBytes(dir.path() / "exportinfo.txt", "a\nb\rc\r\nd");
  EXPECT_EQ(ReadBatchInfo(dir.path().string()).message, "a\r\nb\r\nc\r\nd");
}

TEST(BatchInfo, UnwritableFolderRaisesTheFileErrors) {
  test::TempDir dir;
  const std::string missing = (dir.path() / "missing").string() + "/";
  try {
    WriteBatchInfo(missing, "x", "F", kSendTime, CzechRegionalSettings(),
                   [](const std::string&) { return "0"; });
    ADD_FAILURE() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + missing + "exportinfo.txt\". ", 0),
              0u);
  }
}

}  // namespace
}  // namespace dalimor
