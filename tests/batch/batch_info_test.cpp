#include "batch/batch_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>

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
  // The existing file, whatever its case.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  EXPECT_NE(std::find(names.begin(), names.end(), "EXPORT.INI"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "export.ini"), names.end());
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

// The information files lie in a folder other people write.  A link in
// their place leads neither the batch information nor a send to another
// file, and a pipe does not make the receive page wait: the information
// names the file instead.
#ifndef _WIN32  // symbolic links and pipes
TEST(BatchInfo, LinksAndPipesInPlaceOfTheInformationFilesAreRefused) {
  test::TempDir dir;
  const std::string folder = dir.path().string() + "/";
  const fs::path company_table = dir.path() / "SPFH.DB";
  test::WriteFileBytes(company_table, "company table");
  const std::function<void(const fs::path&)> hostile[] = {
      [&](const fs::path& path) { fs::create_symlink(company_table, path); },
      [&](const fs::path& path) { fs::create_symlink(dir.path() / "nothing", path); },
      [&](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
      [&](const fs::path& path) { fs::create_directory(path); },
  };
  for (const char* name : {"exportinfo.txt", "export.ini"}) {
    for (size_t i = 0; i < std::size(hostile); ++i) {
      SCOPED_TRACE(std::string(name) + " case " + std::to_string(i));
      const fs::path path = dir.path() / name;
      hostile[i](path);
      try {
        ReadBatchInfo(folder);
        ADD_FAILURE() << "no error";
      } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Soubor \"" + path.string() +
                      "\" v přenosné složce je odkazem na jiný soubor nebo není obyčejným "
                      "souborem. Informace o dávce nelze zobrazit.");
      }
      EXPECT_EQ(ReadBatchCompany(folder), "");
      EXPECT_ANY_THROW(WriteBatchInfo(folder, "zpráva", "Firma", kSendTime,
                                      CzechRegionalSettings(), CountByName));
      EXPECT_EQ(test::ReadFileBytes(company_table), "company table");
      EXPECT_FALSE(fs::exists(dir.path() / "nothing"));
      fs::remove_all(path);
      fs::remove(dir.path() / (std::string(name) == "export.ini" ? "exportinfo.txt" : "export.ini"));
    }
  }
}
#endif

// A second name of a company's table in place of "exportinfo.txt" is never
// emptied by a send.
TEST(BatchInfo, AHardLinkedMessageFileIsNotWritten) {
  test::TempDir dir;
  const fs::path company_table = dir.path() / "SPFH.DB";
  test::WriteFileBytes(company_table, "company table");
  fs::create_hard_link(company_table, dir.path() / "exportinfo.txt");
  try {
    WriteBatchInfo(dir.path().string() + "/", "x", "F", kSendTime, CzechRegionalSettings(),
                   CountByName);
    ADD_FAILURE() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("exportinfo.txt"), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::ReadFileBytes(company_table), "company table");
}

}  // namespace
}  // namespace dalimor
