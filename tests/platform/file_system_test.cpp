#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#undef DeleteFile
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/native_io.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFileBytes;

std::set<std::string> NamesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder))
    names.insert(item.path().filename().string());
  return names;
}

void MakeFiles(const fs::path& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) WriteFileBytes(folder / name, name);
}

// ---------------------------------------------------------------------------
// Names and masks

struct MaskCase {
  const char* name;
  const char* mask;
  bool matches;
};

constexpr MaskCase kMaskCases[] = {
    {"Svfh.DB", "Svfh.*", true},
    {"SVFH.DB", "Svfh.*", true},
    {"Svfh.bak", "Svfh.*", true},
    {"svfh.px", "Svfh.*", true},
    {"Svfh", "Svfh.*", true},  // "." before a wildcard also matches the end
    {"Svfh.DB.old", "Svfh.*", true},
    {"SvfhOld.DB", "Svfh.*", false},
    {"Svfp.DB", "Svfh.*", false},
    {"xSvfh.DB", "Svfh.*", false},
    {"CPoklSD.DB", "CPokl.*", false},
    {"CPoklSD.DB", "CPoklSD.*", true},
    {"Svfh", "*.*", true},
    {".hidden", "*.*", true},
    {"a.b.c", "*", true},
    {"readme", "*.", true},  // "*." takes the names without a dot
    {"read.me", "*.", false},
    {"a.b.c", "*.", false},
    {"file.db", "*.DB", true},
    {"file.dbx", "*.db", false},
    {"x.tar.gz", "*.gz", true},
    {"x.tar.gz", "*.tar", false},
    {"abc", "*c", true},
    {"abc", "*b", false},
    {"a", "a??", true},  // "?" matches nothing at the end of the name
    {"ab", "a??", true},
    {"abc", "a??", true},
    {"abcd", "a??", false},
    {"a.txt", "a?.txt", true},  // ... and nothing at a "."
    {"ab.txt", "a?.txt", true},
    {"abc.txt", "a?.txt", false},
    {"a.b", "a?b", false},
    {"CPokl.DB", "cpokl.db", true},
    {"CPokl.DB", "cpokl.d", false},
    {"Účet.db", "úČET.*", true},
    {"name", "", false},
};

TEST(FileSystemMask, MatchesLikeFindFirstFile) {
  for (const MaskCase& c : kMaskCases) {
    EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.matches) << c.name << " against " << c.mask;
  }
}

TEST(FileSystemNames, CompareWithoutRegardToCase) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  // clang-format off
  const Case cases[] = {
      {"SPFP.DB", "spfp.db", true},
      {"Spfp.DB", "SpFp.dB", true},
      {"Spfp.DB", "Spfp.D", false},
      {"ŘÁŽ", "řáž", true},
      {"ŮROK", "ůrok", true},
      {"\x8A" "est", "šEST", true},        // Windows-1250 "Šest" / UTF-8
      {"\xC8" "ESKY", "\xE8" "esky", true},  // Windows-1250 Č / č
      {"Straße", "STRASSE", false},        // no expansion of ß
      {"i", "İ", false},                   // dotted capital I is left alone
      {"a", "b", false},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(SameNameIgnoringCase(c.a, c.b), c.same) << c.a << " / " << c.b;
}

// ---------------------------------------------------------------------------
// Lookup without regard to case

TEST(FileSystemLookup, FindsAnEntryInAnotherCase) {
  TempDir dir;
  MakeFiles(dir.path(), {"Spfp.DB"});
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "SPFP.DB"), dir.path() / "Spfp.DB");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "spfp.db"), dir.path() / "Spfp.DB");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "Spfp.PX"), std::nullopt);
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), ""), std::nullopt);
  EXPECT_EQ(FindEntryIgnoringCase(dir.path() / "missing", "Spfp.DB"), std::nullopt);
}

TEST(FileSystemLookup, ExactSpellingWinsThenFirstInByteOrder) {
  DALIMOR_SKIP_ON_WINDOWS("one folder cannot hold names differing only in case");
  TempDir dir;
  MakeFiles(dir.path(), {"spfp.db", "Spfp.DB", "SPFP.DB"});
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "Spfp.DB"), dir.path() / "Spfp.DB");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "spfp.db"), dir.path() / "spfp.db");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "sPfP.Db"), dir.path() / "SPFP.DB");
  EXPECT_EQ(FindPathIgnoringCase(dir.path() / "spfP.db"), dir.path() / "SPFP.DB");
}

// Folders are compared as reached: through links, in any letter case,
// with "." and ".." taken out; a sibling whose name only begins alike is
// not inside.
TEST(FileSystemLookup, SameOrInsideComparesFoldersAsReached) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  TempDir dir;
  const fs::path data = dir.path() / "Kalmeo" / "DATA" / "Firma";
  fs::create_directories(data / "SDATA" / "S");
  fs::create_directories(dir.path() / "Kalmeo" / "DATA" / "Firma2");
  fs::create_directory_symlink(data, dir.path() / "odkaz");
  struct {
    fs::path inner, outer;
    bool inside;
  } const cases[] = {
      {data, data, true},
      {data / "SDATA" / "S", data, true},
      {data.string() + "/", data, true},
      {dir.path() / "kalmeo" / "data" / "FIRMA" / "sdata", data, true},
      {dir.path() / "odkaz" / "SDATA", data, true},
      {data / "SDATA" / ".." / ".." / "Firma", data, true},
      {data / "nové" / "složky", data, true},
      {dir.path() / "Kalmeo" / "DATA" / "Firma2", data, false},
      {dir.path() / "Kalmeo" / "DATA", data, false},
      {data / ".." / "Firma2", data, false},
      {"", data, false},
      {data, "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSameOrInside(c.inner, c.outer), c.inside) << c.inner << " in " << c.outer;
}

TEST(FileSystemLookup, FindsCzechNamesInEitherEncoding) {
  DALIMOR_SKIP_ON_WINDOWS("names on disk are UTF-16; raw code page 1250 bytes cannot name a file");
  TempDir dir;
  const std::string cp1250_name = std::string("\x8A") + "ablona.txt";  // "Šablona.txt"
  fs::create_directory(dir.path() / "Účetnictví");
  WriteFileBytes(dir.path() / cp1250_name, "");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "ÚČETNICTVÍ"), dir.path() / "Účetnictví");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "šABLONA.TXT"), dir.path() / cp1250_name);
}

TEST(FileSystemLookup, ResolvesAWindowsPathComponentByComponent) {
  TempDir dir;
  const fs::path real = dir.path() / "data" / "FIRMA1" / "sdata" / "s";
  fs::create_directories(real);
  MakeFiles(real, {"SPFP.DB"});

  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path(), "DATA/Firma1/SDATA/S/Spfp.DB"),
            real / "SPFP.DB");
  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path(), "DATA\\Firma1\\SDATA\\S\\Spfp.DB"),
            real / "SPFP.DB");
  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path(), "\\DATA\\\\Firma1\\SDATA\\S\\"), real);
  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path(), "DATA/Firma2/SDATA"), std::nullopt);
  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path() / "nothing", "DATA"), std::nullopt);
  // The root is matched without regard to case as well.
  EXPECT_EQ(FindRelativePathIgnoringCase(dir.path() / "DATA", "firma1"),
            dir.path() / "data" / "FIRMA1");
  EXPECT_EQ(FindPathIgnoringCase(dir.path() / "Data" / "firma1" / "SData" / "S" / "spfp.db"),
            real / "SPFP.DB");
  EXPECT_EQ(FindPathIgnoringCase(dir.path() / "Data" / "firma1" / "x"), std::nullopt);
}

TEST(FileSystemLookup, ResolveKeepsTheMissingRestAsWritten) {
  TempDir dir;
  fs::create_directories(dir.path() / "data" / "FIRMA1");
  EXPECT_EQ(ResolvePathIgnoringCase(dir.path(), "DATA\\Firma1\\New\\Spfp.DB"),
            dir.path() / "data" / "FIRMA1" / "New" / "Spfp.DB");
  EXPECT_EQ(ResolvePathIgnoringCase(dir.path() / "missing", "DATA"),
            dir.path() / "missing" / "DATA");
}

TEST(FileSystemLookup, FileAndDirectoryExistence) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  TempDir dir;
  MakeFiles(dir.path(), {"Svfh.DB"});
  fs::create_directory(dir.path() / "CPokl.DB");
  fs::create_symlink(dir.path() / "Svfh.DB", dir.path() / "link.db");
  fs::create_symlink(dir.path() / "gone.db", dir.path() / "broken.db");

  EXPECT_TRUE(FileExists(dir.path() / "SVFH.DB"));
  EXPECT_TRUE(FileExists(dir.path() / "svfh.db"));
  EXPECT_FALSE(DirectoryExists(dir.path() / "svfh.db"));
  EXPECT_FALSE(FileExists(dir.path() / "cpokl.db"));  // a folder is not a table
  EXPECT_TRUE(DirectoryExists(dir.path() / "cpokl.db"));
  EXPECT_TRUE(DirectoryExists(dir.path().string() + "/"));
  EXPECT_TRUE(FileExists(dir.path() / "LINK.DB"));
  EXPECT_FALSE(FileExists(dir.path() / "broken.db"));
  EXPECT_FALSE(FileExists(dir.path() / "Svfp.DB"));
  EXPECT_FALSE(FileExists(dir.path() / "Svfh.DB" / "x"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirectoryExists(""));
}

// ---------------------------------------------------------------------------
// Deleting

struct DeleteCase {
  const char* mask;
  int result;
  std::set<std::string> left;
};

TEST(DeleteFilesByMask, CountsWhatItDeletes) {
  const std::vector<std::string> files = {"Svfh.DB",    "Svfh.PX", "SVFH.bak",  "Svfh",
                                          "SvfhOld.DB", "Svfp.DB", ".hidden.DB"};
  const DeleteCase cases[] = {
      {"Svfh.*", 4, {"SvfhOld.DB", "Svfp.DB", ".hidden.DB"}},
      {"SVFP.*", 1, {"Svfh.DB", "Svfh.PX", "SVFH.bak", "Svfh", "SvfhOld.DB", ".hidden.DB"}},
      {"CPokl.*",
       0,
       {"Svfh.DB", "Svfh.PX", "SVFH.bak", "Svfh", "SvfhOld.DB", "Svfp.DB", ".hidden.DB"}},
      {"*.db", 4, {"Svfh.PX", "SVFH.bak", "Svfh"}},
      {"*.*", 7, {}},
      {"*.", 1, {"Svfh.DB", "Svfh.PX", "SVFH.bak", "SvfhOld.DB", "Svfp.DB", ".hidden.DB"}},
      {"", 0, {"Svfh.DB", "Svfh.PX", "SVFH.bak", "Svfh", "SvfhOld.DB", "Svfp.DB", ".hidden.DB"}},
  };
  for (const DeleteCase& c : cases) {
    TempDir dir;
    MakeFiles(dir.path(), files);
    EXPECT_EQ(DeleteFilesByMask(dir.path().string(), c.mask), c.result) << c.mask;
    EXPECT_EQ(NamesIn(dir.path()), c.left) << c.mask;
  }
}

TEST(DeleteFilesByMask, MatchingFolderMakesTheResultNegative) {
  // The folder is tried first ("Svfh.AAA" sorts before the files) and last
  // ("Svfh.ZZZ"); either way the files go and the result stays -1.
  for (const char* folder_name : {"Svfh.AAA", "Svfh.ZZZ"}) {
    TempDir dir;
    MakeFiles(dir.path(), {"Svfh.DB", "Svfh.PX"});
    fs::create_directory(dir.path() / folder_name);
    MakeFiles(dir.path() / folder_name, {"inside.txt"});
    EXPECT_EQ(DeleteFilesByMask(dir.path().string(), "Svfh.*"), -1) << folder_name;
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{folder_name});
    EXPECT_EQ(NamesIn(dir.path() / folder_name), std::set<std::string>{"inside.txt"});
  }
}

TEST(DeleteFilesByMask, EmptyFolderIsNotDeletedEither) {
  TempDir dir;
  fs::create_directory(dir.path() / "LMemo.old");
  EXPECT_EQ(DeleteFilesByMask(dir.path().string(), "LMemo.*"), -1);
  EXPECT_TRUE(fs::is_directory(dir.path() / "LMemo.old"));
}

TEST(DeleteFilesByMask, ReadOnlyFileStays) {
  TempDir dir;
  MakeFiles(dir.path(), {"CPokl.DB", "CPokl.PX", "CPokl.MB"});
  fs::permissions(dir.path() / "CPokl.DB", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(DeleteFilesByMask(dir.path().string(), "cpokl.*"), -1);
  EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"CPokl.DB"});
}

TEST(DeleteFilesByMask, FolderInAnotherCaseAndWithSeparator) {
  TempDir dir;
  fs::create_directory(dir.path() / "Davka");
  MakeFiles(dir.path() / "Davka", {"Cpz.DB", "Cpz.PX"});
  EXPECT_EQ(DeleteFilesByMask(WithTrailingBackslash((dir.path() / "DAVKA").string()), "CPZ.*"), 2);
  EXPECT_TRUE(NamesIn(dir.path() / "Davka").empty());
}

TEST(DeleteFilesByMask, MissingFolderMatchesNothing) {
  TempDir dir;
  EXPECT_EQ(DeleteFilesByMask((dir.path() / "missing").string(), "*.*"), 0);
  EXPECT_EQ(DeleteFilesByMask("", "*.*"), 0);
}

TEST(DeleteFilesByMask, LinkIsDeletedNotItsTarget) {
  DALIMOR_SKIP_ON_WINDOWS("symbolic links need a privilege there");
  TempDir dir;
  fs::create_directory(dir.path() / "batch");
  MakeFiles(dir.path(), {"target.db"});
  fs::create_symlink(dir.path() / "target.db", dir.path() / "batch" / "Cdenik.DB");
  EXPECT_EQ(DeleteFilesByMask((dir.path() / "batch").string(), "Cdenik.*"), 1);
  EXPECT_TRUE(fs::exists(dir.path() / "target.db"));
}

TEST(FileSystemDelete, DeleteFileFollowsWindowsRules) {
  TempDir dir;
  MakeFiles(dir.path(), {"export.ini", "locked.txt"});
  fs::create_directory(dir.path() / "folder");
  fs::permissions(dir.path() / "locked.txt", fs::perms::owner_read);
  EXPECT_TRUE(DeleteFile(dir.path() / "EXPORT.INI"));
  EXPECT_FALSE(fs::exists(dir.path() / "export.ini"));
  EXPECT_FALSE(DeleteFile(dir.path() / "export.ini"));
  EXPECT_FALSE(DeleteFile(dir.path() / "folder"));
  EXPECT_FALSE(DeleteFile(dir.path() / "locked.txt"));
  EXPECT_TRUE(fs::exists(dir.path() / "locked.txt"));
}

// ---------------------------------------------------------------------------
// Listing

// Sets the last-write time of a file to a local moment.
void SetLocalWriteTime(const fs::path& path, int year, int month, int day, int hour, int minute,
                       int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const auto moment = std::chrono::system_clock::from_time_t(mktime(&local));
  fs::last_write_time(path, std::chrono::file_clock::from_sys(moment));
}

const FolderEntry* Find(const std::vector<FolderEntry>& entries, const std::string& name) {
  for (const FolderEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

#ifndef _WIN32
TEST(FileSystemListing, ReportsAttributesAndSizes) {
  TempDir dir;
  WriteFileBytes(dir.path() / "Svfh.DB", std::string(2048, 'x'));
  WriteFileBytes(dir.path() / ".hidden", "abc");
  WriteFileBytes(dir.path() / "readonly.txt", "12345");
  fs::permissions(dir.path() / "readonly.txt", fs::perms::owner_read | fs::perms::others_read);
  fs::create_directory(dir.path() / "sub");
  fs::create_directory(dir.path() / ".git");
  ASSERT_EQ(mkfifo((dir.path() / "pipe").c_str(), 0644), 0);
  fs::create_symlink(dir.path() / "gone", dir.path() / "broken");

  const std::vector<FolderEntry> entries = ListFolder(dir.path());
  ASSERT_EQ(entries.size(), 7u);
  struct Expected {
    const char* name;
    uint8_t attributes;
    uint64_t size;
  };
  const Expected expected[] = {
      {"Svfh.DB", kDosArchive, 2048},
      {".hidden", kDosHidden | kDosArchive, 3},
      {"readonly.txt", kDosReadOnly | kDosArchive, 5},
      {"sub", kDosDirectory, 0},
      {".git", kDosHidden | kDosDirectory, 0},
      {"pipe", kDosSystem | kDosArchive, 0},
      {"broken", kDosSystem | kDosArchive, 0},
  };
  for (const Expected& e : expected) {
    const FolderEntry* entry = Find(entries, e.name);
    ASSERT_NE(entry, nullptr) << e.name;
    EXPECT_EQ(entry->DosAttributes(), e.attributes) << e.name;
    EXPECT_EQ(entry->size, e.size) << e.name;
  }
  EXPECT_TRUE(Find(entries, "sub")->is_folder);
  EXPECT_FALSE(Find(entries, "Svfh.DB")->system);
}
#else
// Windows keeps hidden, system and read-only as attributes of the entry.
TEST(FileSystemListing, ReportsWindowsAttributesAndSizes) {
  TempDir dir;
  WriteFileBytes(dir.path() / "Svfh.DB", std::string(2048, 'x'));
  WriteFileBytes(dir.path() / "skryty.txt", "12");
  WriteFileBytes(dir.path() / "systemovy.txt", "1");
  WriteFileBytes(dir.path() / PathFromUtf8("jen pro čtení.txt"), "12345");
  fs::create_directory(dir.path() / "sub");
  const auto set = [&](const char* name, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW((dir.path() / PathFromUtf8(name)).c_str(), attributes)) << name;
  };
  set("skryty.txt", FILE_ATTRIBUTE_HIDDEN);
  set("systemovy.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  set("jen pro čtení.txt", FILE_ATTRIBUTE_READONLY);

  const std::vector<FolderEntry> entries = ListFolder(dir.path());
  ASSERT_EQ(entries.size(), 5u);
  struct Expected {
    const char* name;
    uint8_t attributes;
    uint64_t size;
  };
  const Expected expected[] = {
      {"Svfh.DB", kDosArchive, 2048},
      {"skryty.txt", kDosHidden | kDosArchive, 2},
      {"systemovy.txt", kDosHidden | kDosSystem | kDosArchive, 1},
      {"jen pro čtení.txt", kDosReadOnly | kDosArchive, 5},
      {"sub", kDosDirectory, 0},
  };
  for (const Expected& e : expected) {
    const FolderEntry* entry = Find(entries, e.name);
    ASSERT_NE(entry, nullptr) << e.name;
    EXPECT_EQ(entry->DosAttributes(), e.attributes) << e.name;
    EXPECT_EQ(entry->size, e.size) << e.name;
  }
  set("jen pro čtení.txt", FILE_ATTRIBUTE_NORMAL);
  set("systemovy.txt", FILE_ATTRIBUTE_NORMAL);
}

// Windows looks names up without regard to case; the lookup gives the
// spelling stored on disk, not the one asked for.
TEST(FileSystemLookup, GivesTheSpellingOnDisk) {
  TempDir dir;
  fs::create_directories(dir.path() / PathFromUtf8("Přenos dávek") / "Spfp.DB");
  EXPECT_EQ(FindEntryIgnoringCase(dir.path(), "PŘENOS DÁVEK"),
            dir.path() / PathFromUtf8("Přenos dávek"));
  EXPECT_EQ(FindPathIgnoringCase(dir.path() / PathFromUtf8("přenos DÁVEK") / "SPFP.db"),
            dir.path() / PathFromUtf8("Přenos dávek") / "Spfp.DB");
}
#endif

TEST(FileSystemListing, OrdersByNameWithoutRegardToCaseAndFiltersByMask) {
  TempDir dir;
  MakeFiles(dir.path(), {"b.txt", "A.txt", "c.TXT", "B.db", "a.DB"});
  std::vector<std::string> names;
  for (const FolderEntry& entry : ListFolder(dir.path())) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.DB", "A.txt", "B.db", "b.txt", "c.TXT"}));
  names.clear();
  for (const FolderEntry& entry : ListFolder(dir.path(), "*.TXT")) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "b.txt", "c.TXT"}));
}

TEST(FileSystemListing, LastWriteTimeInLocalDosForm) {
  TempDir dir;
  MakeFiles(dir.path(), {"Svfh.DB", "old.txt"});
  SetLocalWriteTime(dir.path() / "Svfh.DB", 2011, 3, 15, 10, 20, 31);
  SetLocalWriteTime(dir.path() / "old.txt", 1975, 6, 1, 12, 0, 0);
  const std::vector<FolderEntry> entries = ListFolder(dir.path());
  const FolderEntry* entry = Find(entries, "Svfh.DB");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->last_write.year, 2011);
  EXPECT_EQ(entry->last_write.month, 3);
  EXPECT_EQ(entry->last_write.day, 15);
  EXPECT_EQ(entry->last_write.hour, 10);
  EXPECT_EQ(entry->last_write.minute, 20);
  EXPECT_EQ(entry->last_write.second, 31);
  EXPECT_EQ(entry->LastWriteDos().date, ((2011 - 1980) << 9) | (3 << 5) | 15);
  EXPECT_EQ(entry->LastWriteDos().time, (10 << 11) | (20 << 5) | 15);
  EXPECT_EQ(Find(entries, "old.txt")->LastWriteDos().date, (1 << 5) | 1);
}

TEST(FileSystemListing, MissingFolderGivesEmptyList) {
  TempDir dir;
  EXPECT_TRUE(ListFolder(dir.path() / "missing").empty());
  MakeFiles(dir.path(), {"file"});
  EXPECT_TRUE(ListFolder(dir.path() / "file").empty());  // not a folder
}

TEST(FileSystemListing, FolderFoundInAnotherCase) {
  TempDir dir;
  fs::create_directory(dir.path() / "Davka");
  MakeFiles(dir.path() / "Davka", {"x.db"});
  ASSERT_EQ(ListFolder(dir.path() / "DAVKA").size(), 1u);
}

TEST(FileSystemListing, SurvivesAFolderVanishingWhileListed) {
  TempDir dir;
  const fs::path folder = dir.path() / "batch";
  std::set<std::string> created;
  for (int round = 0; round < 5; ++round) {
    fs::create_directory(folder);
    for (int k = 0; k < 300; ++k) {
      const std::string name = "f" + std::to_string(k) + ".db";
      WriteFileBytes(folder / name, "x");
      created.insert(name);
    }
    std::atomic<bool> started{false};
    std::thread remover([&] {
      started = true;
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    });
    while (!started) std::this_thread::yield();
    // Whatever the listing catches must be real entries, read whole.
    for (int pass = 0; pass < 20; ++pass) {
      for (const FolderEntry& entry : ListFolder(folder)) {
        EXPECT_TRUE(created.count(entry.name)) << entry.name;
      }
    }
    remover.join();
    EXPECT_TRUE(ListFolder(folder).empty());
    EXPECT_EQ(DeleteFilesByMask(folder.string(), "*.*"), 0);
  }
}

// ---------------------------------------------------------------------------
// Opening files other people may have put in place

// Whatever stands at the path, the open neither follows a link nor waits
// on a pipe, and only a regular file is opened; what a link points to is
// never read, created, emptied or written.
#ifndef _WIN32
TEST(FileSystemPlainFile, OpensOnlyRegularFilesAndNeverThroughALink) {
  TempDir dir;
  const fs::path target = dir.path() / "SPFH.DB";
  WriteFileBytes(target, "company table");
  WriteFileBytes(dir.path() / "plain.txt", "plain");
  fs::create_symlink(target, dir.path() / "link.txt");
  fs::create_symlink(dir.path() / "new.DB", dir.path() / "dangling.txt");
  ASSERT_EQ(mkfifo((dir.path() / "pipe.txt").c_str(), 0644), 0);
  fs::create_directory(dir.path() / "folder.txt");

  struct Case {
    const char* name;
    int flags;
    PlainFileStatus expected;
  };
  const Case cases[] = {
      {"plain.txt", O_RDONLY, PlainFileStatus::kOpened},
      {"missing.txt", O_RDONLY, PlainFileStatus::kMissing},
      {"link.txt", O_RDONLY, PlainFileStatus::kNotPlain},
      {"link.txt", O_WRONLY | O_CREAT | O_TRUNC, PlainFileStatus::kNotPlain},
      {"link.txt", O_RDWR, PlainFileStatus::kNotPlain},
      {"dangling.txt", O_RDWR | O_CREAT | O_TRUNC, PlainFileStatus::kNotPlain},
      {"pipe.txt", O_RDONLY, PlainFileStatus::kNotPlain},
      {"pipe.txt", O_WRONLY | O_CREAT | O_TRUNC, PlainFileStatus::kNotPlain},
      {"pipe.txt", O_RDWR, PlainFileStatus::kNotPlain},
      {"folder.txt", O_RDONLY, PlainFileStatus::kNotPlain},
      {"folder.txt", O_RDWR, PlainFileStatus::kNotPlain},
      {"/dev/null", O_RDWR, PlainFileStatus::kNotPlain},
  };
  for (const Case& c : cases) {
    const fs::path path = c.name[0] == '/' ? fs::path(c.name) : dir.path() / c.name;
    const PlainFile file = OpenPlainFile(path, c.flags);
    EXPECT_EQ(file.status(), c.expected) << c.name << " " << c.flags;
    EXPECT_EQ(file.fd() >= 0, c.expected == PlainFileStatus::kOpened) << c.name;
  }
  EXPECT_EQ(test::ReadFileBytes(target), "company table");
  EXPECT_FALSE(fs::exists(dir.path() / "new.DB"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.txt"));
}
#endif

TEST(FileSystemPlainFile, CreatesTruncatesAndClosesItsDescriptor) {
  TempDir dir;
  const fs::path path = dir.path() / "exportinfo.txt";
  int fd = -1;
  {
    PlainFile created = OpenPlainFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    ASSERT_EQ(created.status(), PlainFileStatus::kOpened);
    ASSERT_EQ(WriteNative(created.fd(), "abc", 3), 3);
    fd = created.fd();
  }
#ifndef _WIN32
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "closed with its owner";
#endif
  (void)fd;
  EXPECT_EQ(test::ReadFileBytes(path), "abc");
  PlainFile emptied = OpenPlainFile(path, O_RDWR | O_TRUNC);
  ASSERT_EQ(emptied.status(), PlainFileStatus::kOpened);
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_TRUE(emptied.Close());
  EXPECT_EQ(emptied.fd(), -1);
  EXPECT_EQ(OpenPlainFile(dir.path() / "no" / "such.txt", O_WRONLY | O_CREAT).status(),
            PlainFileStatus::kMissing);
}

// ---------------------------------------------------------------------------
// MS-DOS date and time

TEST(FileSystemDosTime, EncodesAndClamps) {
  struct Case {
    LocalDateTime moment;
    uint16_t date;
    uint16_t time;
  };
  const Case cases[] = {
      {{2011, 3, 15, 10, 20, 30, 0},
       ((2011 - 1980) << 9) | (3 << 5) | 15,
       (10 << 11) | (20 << 5) | 15},
      {{2011, 3, 15, 10, 20, 31, 999},
       ((2011 - 1980) << 9) | (3 << 5) | 15,
       (10 << 11) | (20 << 5) | 15},
      {{1980, 1, 1, 0, 0, 0, 0}, (1 << 5) | 1, 0},
      {{1979, 12, 31, 23, 59, 59, 0}, (1 << 5) | 1, 0},
      {{2107, 12, 31, 23, 59, 59, 0}, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
      {{2300, 6, 1, 8, 0, 0, 0}, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
  };
  for (const Case& c : cases) {
    const DosDateTime dos = ToDosDateTime(c.moment);
    EXPECT_EQ(dos.date, c.date) << c.moment.year;
    EXPECT_EQ(dos.time, c.time) << c.moment.year;
  }
}

#ifndef _WIN32
TEST(FileSystemPaths, WithTrailingBackslashAppendsTheNativeSeparator) {
  EXPECT_EQ(WithTrailingBackslash("/data/Davka"), "/data/Davka/");
  EXPECT_EQ(WithTrailingBackslash("/data/Davka/"), "/data/Davka/");
  EXPECT_EQ(WithTrailingBackslash("/"), "/");
  EXPECT_EQ(WithTrailingBackslash("Davka"), "Davka/");
  EXPECT_EQ(WithTrailingBackslash("C:\\Davka\\"), "C:\\Davka\\/");  // "\" is a name character here
  EXPECT_EQ(WithTrailingBackslash(""), "/");
}

TEST(FileSystemPaths, UserConfigFolderFollowsXdgConfigHomeThenHome) {
  test::ScopedEnvironmentVariable home("HOME", "/home/ucetni");
  {
    test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", "/srv/nastaveni");
    EXPECT_EQ(UserConfigFolder(), fs::path("/srv/nastaveni/dalimor"));
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", unset);
    EXPECT_EQ(UserConfigFolder(), fs::path("/home/ucetni/.config/dalimor"));
  }
}
#else
TEST(FileSystemPaths, WithTrailingBackslashAppendsTheNativeSeparator) {
  EXPECT_EQ(WithTrailingBackslash("C:\\Davka"), "C:\\Davka\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\Davka\\"), "C:\\Davka\\");
  EXPECT_EQ(WithTrailingBackslash("C:/Davka/"), "C:/Davka/");
  EXPECT_EQ(WithTrailingBackslash("Davka"), "Davka\\");
}

TEST(FileSystemPaths, UserConfigFolderIsInAppData) {
  test::ScopedEnvironmentVariable app_data("APPDATA", "C:\\Users\\ucetni\\AppData\\Roaming");
  EXPECT_EQ(Utf8FromPath(UserConfigFolder()), "C:\\Users\\ucetni\\AppData\\Roaming\\Dalimor");
}
#endif

#ifndef _WIN32
TEST(FileSystemPaths, UserDataFolderFollowsXdgDataHomeThenHome) {
  test::ScopedEnvironmentVariable home("HOME", "/home/ucetni");
  {
    test::ScopedEnvironmentVariable xdg("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(UserDataFolder(), fs::path("/srv/data/dalimor"));
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnvironmentVariable xdg("XDG_DATA_HOME", unset);
    EXPECT_EQ(UserDataFolder(), fs::path("/home/ucetni/.local/share/dalimor"));
  }
}
#else
TEST(FileSystemPaths, UserDataFolderIsInLocalAppData) {
  test::ScopedEnvironmentVariable local("LOCALAPPDATA", "C:\\Users\\ucetni\\AppData\\Local");
  EXPECT_EQ(Utf8FromPath(UserDataFolder()), "C:\\Users\\ucetni\\AppData\\Local\\Dalimor");
}
#endif

}  // namespace
}  // namespace dalimor
