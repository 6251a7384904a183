#include "engine/network_control.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_error.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;

// A lock file as the Borland engine writes it, naming `net_dir` with `stamp`.
std::string LockBytes(const std::string& net_dir, const std::string& stamp) {
  std::string bytes(0x400, '\0');
  bytes.replace(0x6E, net_dir.size(), net_dir);
  bytes.replace(0x10D, stamp.size(), stamp);
  return bytes;
}

TEST(DirectoryControl, FolderWithoutLockIsFree) {
  test::TempDir dir;
  EXPECT_NO_THROW(CheckDirectoryControl(dir.path().string(), "/somewhere/else"));
}

TEST(DirectoryControl, LockNamingAnotherControlFolderRefusesTheFolder) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "data");
  fs::create_directories(dir.path() / "Kalmeo");
  test::WriteFileBytes(dir.path() / "data" / "pdoxusrs.lck", LockBytes("C:\\JINY\\", "ABCD"));
  try {
    CheckDirectoryControl((dir.path() / "data").string(), (dir.path() / "Kalmeo").string());
    ADD_FAILURE() << "not refused";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.kind(), EngineErrorKind::kDirectoryControlled);
    EXPECT_EQ(std::string(e.what()).substr(0, 23), "Directory is controlled");
    EXPECT_NE(std::string(e.what()).find("pdoxusrs.lck"), std::string::npos);
  }
}

TEST(DirectoryControl, SameControlFolderByPathOrByStampIsAccepted) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "data");
  fs::create_directories(dir.path() / "Kalmeo");
  const std::string data = (dir.path() / "data").string();
  const std::string net = (dir.path() / "Kalmeo").string();
  test::WriteFileBytes(dir.path() / "data" / "PDOXUSRS.LCK", LockBytes("D:\\KALMEO\\", "ABCD"));
  EXPECT_NO_THROW(CheckDirectoryControl(data, net));
  test::WriteFileBytes(dir.path() / "data" / "PDOXUSRS.LCK",
                       LockBytes("\\\\SERVER\\SHARE\\Kalmeo\\", "ABCD"));
  EXPECT_NO_THROW(CheckDirectoryControl(data, net + "/"));
  // A drive root names only a root.
  test::WriteFileBytes(dir.path() / "data" / "PDOXUSRS.LCK", LockBytes("C:\\", "WXYZ"));
  EXPECT_THROW(CheckDirectoryControl(data, net), EngineError);
  // The stamp of our own PDOXUSRS.NET proves the same controller whatever the path.
  std::string net_file(0x40, '\0');
  net_file.replace(8, 4, "WXYZ");
  test::WriteFileBytes(dir.path() / "Kalmeo" / "PDOXUSRS.NET", net_file);
  EXPECT_NO_THROW(CheckDirectoryControl(data, net));
}

TEST(DirectoryControl, ShortOrEmptyLockFilesAreIgnored) {
  test::TempDir dir;
  test::WriteFileBytes(dir.path() / "PDOXUSRS.LCK", "short");
  EXPECT_NO_THROW(CheckDirectoryControl(dir.path().string(), "/x"));
  test::WriteFileBytes(dir.path() / "PDOXUSRS.LCK", LockBytes("", ""));
  EXPECT_NO_THROW(CheckDirectoryControl(dir.path().string(), "/x"));
  EXPECT_NO_THROW(CheckDirectoryControl(dir.path().string(), ""));
}

TEST(DirectoryControl, RealLockFilesNameTheirControlFolders) {
  DALIMOR_REQUIRE_FIXTURES();
  const fs::path root = test::FixturesDir() / "paradox" / "lock-files";
  const auto server = ReadDirectoryLock((root / "checkdisbursement-root").string());
  ASSERT_TRUE(server);
  EXPECT_EQ(server->net_dir, "\\\\SERVER\\CASH\\DATA\\");
  const auto local = ReadDirectoryLock((root / "servicoscontabeis-dados").string());
  ASSERT_TRUE(local);
  EXPECT_EQ(local->net_dir, "C:\\");
  // Data copied with its lock file: refused unless our control folder carries
  // the PDOXUSRS.NET the lock names.
  test::TempDir dir;
  fs::create_directories(dir.path() / "data");
  fs::create_directories(dir.path() / "net");
  fs::copy_file(root / "checkdisbursement-root" / "PDOXUSRS.LCK", dir.path() / "data" / "PDOXUSRS.LCK");
  EXPECT_THROW(CheckDirectoryControl((dir.path() / "data").string(), (dir.path() / "net").string()),
               EngineError);
  fs::copy_file(root / "checkdisbursement-root" / "PDOXUSRS.NET", dir.path() / "net" / "PDOXUSRS.NET");
  EXPECT_NO_THROW(
      CheckDirectoryControl((dir.path() / "data").string(), (dir.path() / "net").string()));
}

}  // namespace
}  // namespace dalimor
