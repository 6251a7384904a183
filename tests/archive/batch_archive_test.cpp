#include "archive/batch_archive.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::RunCommand;
using test::ScriptedUi;
using test::TempDir;
using test::WriteFileBytes;

const std::string kCzechName = "Příliš žluťoučký.txt";
// The same name in code page 852, as iconv -t CP852 gives it.
const std::string kCzechNameCp852 =
    "\x50\xfd\xa1\x6c\x69\xe7\x20\xa7\x6c\x75\x9c\x6f\x75\x9f\x6b\xec\x2e\x74\x78\x74";

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Rows of a fixed-width table, as a Paradox table holds them.
std::string TableLikeBytes(size_t size) {
  std::string bytes;
  bytes.reserve(size);
  for (int row = 0; bytes.size() < size; ++row) {
    char line[80];
    std::snprintf(line, sizeof line, "%08d|FV2011%05d|Odberatel %-20d|%12.2f|\r\n", row,
                  row % 9000, row % 37, row * 17.25);
    bytes += line;
  }
  bytes.resize(size);
  return bytes;
}

void SetLocalMtime(const fs::path& path, int year, int month, int day, int hour, int minute,
                   int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// One entry as Python's zipfile reads it, names decoded from code page 852
// (UTF-8 when bit 11 is set).
struct PyEntry {
  std::string name;
  int flags, create_version, create_system, extract_version, method, internal, external;
  std::string date_time;
  uint64_t size;
  std::string same;  // "1" when the content equals the file of that name in the folder
};

const char kInspectScript[] = R"PY(
import os, sys, zipfile
archive, folder = sys.argv[1], sys.argv[2]
try:
    z = zipfile.ZipFile(archive, metadata_encoding='cp852')
except TypeError:
    z = zipfile.ZipFile(archive)
for i in z.infolist():
    name = i.filename
    if not (i.flag_bits & 0x800) and not hasattr(z, 'metadata_encoding'):
        name = name.encode('cp437').decode('cp852')
    data = z.read(i)
    path = os.path.join(folder, name)
    same = 'missing'
    if os.path.isfile(path):
        with open(path, 'rb') as f:
            same = '1' if f.read() == data else '0'
    print('\t'.join([name] + [str(v) for v in (i.flag_bits, i.create_version, i.create_system,
          i.extract_version, i.compress_type, i.internal_attr, i.external_attr)] +
          ['%04d-%02d-%02d %02d:%02d:%02d' % i.date_time, str(i.file_size), same]))
print('TESTZIP', z.testzip())
)PY";

// Reads the archive with Python's zipfile; `folder` holds the originals.
std::vector<PyEntry> InspectWithPython(const TempDir& scratch, const fs::path& archive,
                                       const fs::path& folder, std::string* testzip) {
  const fs::path script = scratch.path() / "inspect.py";
  WriteFileBytes(script, kInspectScript);
  std::string output;
  const int status = RunCommand("python3 " + ShellQuote(script.string()) + " " +
                                    ShellQuote(archive.string()) + " " +
                                    ShellQuote(folder.string()),
                                &output);
  EXPECT_EQ(status, 0) << output;
  std::vector<PyEntry> entries;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("TESTZIP ", 0) == 0) {
      if (testzip) *testzip = line.substr(8);
      continue;
    }
    std::vector<std::string> cells;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, '\t')) cells.push_back(cell);
    if (cells.size() != 11) {
      ADD_FAILURE() << "unexpected python output: " << line;
      continue;
    }
    PyEntry e;
    e.name = cells[0];
    e.flags = std::stoi(cells[1]);
    e.create_version = std::stoi(cells[2]);
    e.create_system = std::stoi(cells[3]);
    e.extract_version = std::stoi(cells[4]);
    e.method = std::stoi(cells[5]);
    e.internal = std::stoi(cells[6]);
    e.external = std::stoi(cells[7]);
    e.date_time = cells[8];
    e.size = std::stoull(cells[9]);
    e.same = cells[10];
    entries.push_back(e);
  }
  return entries;
}

std::vector<std::string> Names(const std::vector<PyEntry>& entries) {
  std::vector<std::string> names;
  for (const PyEntry& e : entries) names.push_back(e.name);
  return names;
}

// The raw central directory: per entry its fixed part and its name bytes,
// found through the end record at the very end of the file.
struct RawCentralEntry {
  std::string fixed;
  std::string name;
};

std::vector<RawCentralEntry> RawCentralDirectory(const std::string& archive) {
  auto u16 = [&](size_t at) {
    return static_cast<size_t>(static_cast<unsigned char>(archive[at]) |
                               (static_cast<unsigned char>(archive[at + 1]) << 8));
  };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  std::vector<RawCentralEntry> entries;
  if (archive.size() < 22) return entries;
  const size_t end = archive.size() - 22;
  EXPECT_EQ(archive.substr(end, 4), std::string("PK\x05\x06", 4));
  const size_t count = u16(end + 10);
  size_t at = u32(end + 16);
  for (size_t k = 0; k < count && at + 46 <= end; ++k) {
    EXPECT_EQ(archive.substr(at, 4), std::string("PK\x01\x02", 4));
    const size_t name_length = u16(at + 28);
    entries.push_back({archive.substr(at, 46), archive.substr(at + 46, name_length)});
    at += 46 + name_length + u16(at + 30) + u16(at + 32);
  }
  EXPECT_EQ(entries.size(), count);
  return entries;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void ExpectOneErrorBox(const ScriptedUi& ui, const std::string& text_part) {
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MsgKind::kError);
  EXPECT_EQ(ui.boxes[0].caption, "Dalimor");
  EXPECT_EQ(ui.boxes[0].buttons, kMbOk);
  EXPECT_NE(ui.boxes[0].text.find(text_part), std::string::npos) << ui.boxes[0].text;
  EXPECT_EQ(ui.busy_cursor.depth, 0);
}

// ---------------------------------------------------------------------------

TEST(ArchiveBaseName, IsTheLastComponentOfTheFolderPath) {
  const struct {
    const char* path;
    const char* base;
  } cases[] = {
      {"/data/Davky/Pobocka 2/", "Pobocka 2"},  // spaces kept
      {"/data/Davka/", "Davka"},
      {"//server/share/", "share"},  // a network path gives its last component
      {"//server/share/Davky/", "Davky"},
      {"Davka/", "Davka"},     // nothing before: the whole path less the separator
      {"/data/Davka", "Davka"},  // as if the separator were there
      {"/ab/", "ab"},
      {"/a/", ""},  // fewer than 4 characters
      {"/", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiveBaseName(c.path), c.base) << c.path;
}

TEST(ArchivePath, LiesInTheFolderAndFallsBackToZaloha) {
  EXPECT_EQ(ArchivePath("/data/Davky/Pobocka 2/"), "/data/Davky/Pobocka 2/Pobocka 2.zip");
  EXPECT_EQ(ArchivePath("/data/Davka"), "/data/Davka/Davka.zip");
  EXPECT_EQ(ArchivePath("/"), "/zaloha.zip");
  EXPECT_EQ(ArchivePath("/a/"), "/a/zaloha.zip");
}

// ---------------------------------------------------------------------------
// One batch folder with every kind of entry, packed once.

struct SourceFile {
  std::string name;
  std::string content;
  std::string when;  // the DOS time Python should report
  int attributes;
};

class PackedBatch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new TempDir();
    folder_ = scratch_->path() / "Pobocka 2";
    fs::create_directory(folder_);
    files_ = new std::vector<SourceFile>{
        // In the order of the listing: names without regard to case.
        {"big.bin", RandomBytes(5 * 1024 * 1024 + 123, 7), "2011-03-15 14:37:42", 0x20},
        {"big.txt", TableLikeBytes(5 * 1024 * 1024), "2011-03-15 14:37:58", 0x20},
        {"CENIK.DB", TableLikeBytes(70000), "1999-12-31 23:59:58", 0x21},  // read-only
        {"export.ini", "[LastSend]\r\nDateTime=15.3.2011 14:37:42\r\n", "2011-03-15 08:00:00",
         0x20},
        {"exportinfo.txt", "", "2011-03-15 08:00:02", 0x20},  // empty
        {kCzechName, "Úpěl ďábelské ódy.\r\n", "2010-01-01 00:00:00", 0x20},
        {"SPFH.DB", TableLikeBytes(300000), "2011-03-14 12:00:00", 0x20},
        {"SPFH.PX", RandomBytes(4096, 3), "2011-03-14 12:00:00", 0x20},
        {"Stara.zip", RandomBytes(1000, 5), "2008-05-05 05:05:04", 0x20},  // another archive
    };
    for (const SourceFile& f : *files_) WriteFileBytes(folder_ / f.name, f.content);
    // Odd seconds round down to the 2-second steps of DOS times.
    SetLocalMtime(folder_ / "big.bin", 2011, 3, 15, 14, 37, 43);
    SetLocalMtime(folder_ / "big.txt", 2011, 3, 15, 14, 37, 58);
    SetLocalMtime(folder_ / "CENIK.DB", 1999, 12, 31, 23, 59, 59);
    SetLocalMtime(folder_ / "export.ini", 2011, 3, 15, 8, 0, 0);
    SetLocalMtime(folder_ / "exportinfo.txt", 2011, 3, 15, 8, 0, 3);
    SetLocalMtime(folder_ / kCzechName, 2010, 1, 1, 0, 0, 0);
    SetLocalMtime(folder_ / "SPFH.DB", 2011, 3, 14, 12, 0, 0);
    SetLocalMtime(folder_ / "SPFH.PX", 2011, 3, 14, 12, 0, 1);
    SetLocalMtime(folder_ / "Stara.zip", 2008, 5, 5, 5, 5, 5);
    fs::permissions(folder_ / "CENIK.DB", fs::perms::owner_read | fs::perms::group_read);

    // What must stay out: a hidden file, a sub-folder with a file, a named
    // pipe (opening it for reading would block), a dangling link and the
    // earlier archive of this folder.
    WriteFileBytes(folder_ / ".skryty", "hidden");
    fs::create_directory(folder_ / "sub");
    WriteFileBytes(folder_ / "sub" / "inner.txt", "inner");
    mkfifo((folder_ / "roura").c_str(), 0644);
    fs::create_symlink(folder_ / "nothing-there", folder_ / "odkaz");
    WriteFileBytes(folder_ / "Pobocka 2.zip", "an earlier archive, to be replaced");

    ui_ = new ScriptedUi();
    ui_->cursor = Cursor::kOther;
    result_ = ArchiveBatch(*ui_, folder_.string() + "/");
    archive_ = folder_ / "Pobocka 2.zip";
  }

  static void TearDownTestSuite() {
    delete ui_;
    delete files_;
    delete scratch_;
  }

  static TempDir* scratch_;
  static fs::path folder_;
  static fs::path archive_;
  static std::vector<SourceFile>* files_;
  static ScriptedUi* ui_;
  static bool result_;
};

TempDir* PackedBatch::scratch_ = nullptr;
fs::path PackedBatch::folder_;
fs::path PackedBatch::archive_;
std::vector<SourceFile>* PackedBatch::files_ = nullptr;
ScriptedUi* PackedBatch::ui_ = nullptr;
bool PackedBatch::result_ = false;

TEST_F(PackedBatch, SucceedsQuietlyWithStatusTextBusyCursorAndRepaints) {
  EXPECT_TRUE(result_);
  EXPECT_TRUE(ui_->boxes.empty());
  ASSERT_FALSE(ui_->status_texts.empty());
  EXPECT_EQ(ui_->status_texts.front(), kArchiveStatusText);
  EXPECT_EQ(ui_->cursor_changes.front(), Cursor::kHourGlass);
  EXPECT_EQ(ui_->cursor, Cursor::kOther);
  EXPECT_EQ(ui_->busy_cursor.depth, 0);
  // At least once per 64 kB piece of the two large files.
  EXPECT_GE(ui_->pending_event_calls, 2 * (5 * 1024 * 1024 / 65535));
}

TEST_F(PackedBatch, UnzipAnd7zTestTheArchiveWithoutComplaint) {
  std::string output;
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(archive_.string()), &output), 0) << output;
  EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
  EXPECT_EQ(RunCommand("7z t " + ShellQuote(archive_.string()), &output), 0) << output;
  EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
}

TEST_F(PackedBatch, PythonFindsEveryFileInListingOrderWithItsRecord) {
  std::string testzip;
  const std::vector<PyEntry> entries = InspectWithPython(*scratch_, archive_, folder_, &testzip);
  EXPECT_EQ(testzip, "None");  // every CRC checks
  ASSERT_EQ(entries.size(), files_->size()) << ::testing::PrintToString(Names(entries));
  for (size_t k = 0; k < entries.size(); ++k) {
    const PyEntry& e = entries[k];
    const SourceFile& f = (*files_)[k];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(e.name, f.name);
    EXPECT_EQ(e.same, "1");
    EXPECT_EQ(e.size, f.content.size());
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(e.create_version, 50);
    EXPECT_EQ(e.create_system, 0);
    EXPECT_EQ(e.extract_version, 20);
    EXPECT_EQ(e.method, 8);  // deflate, also for the empty file
    EXPECT_EQ(e.internal, 1);
    EXPECT_EQ(e.external, f.attributes);
    EXPECT_EQ(e.date_time, f.when);
  }
}

TEST_F(PackedBatch, CentralDirectoryBytesHoldCp852NamesAndFixedFields) {
  const std::vector<RawCentralEntry> raw = RawCentralDirectory(ReadFileBytes(archive_));
  ASSERT_EQ(raw.size(), files_->size());
  for (const RawCentralEntry& entry : raw) {
    EXPECT_EQ(entry.fixed.substr(4, 2), std::string("\x32\x00", 2));   // made by 5.0, MS-DOS
    EXPECT_EQ(entry.fixed.substr(6, 2), std::string("\x14\x00", 2));   // needs 2.0
    EXPECT_EQ(entry.fixed.substr(8, 2), std::string("\x00\x00", 2));   // flags
    EXPECT_EQ(entry.fixed.substr(36, 2), std::string("\x01\x00", 2));  // text bit
  }
  EXPECT_EQ(raw[5].name, kCzechNameCp852);
  EXPECT_EQ(raw[6].name, "SPFH.DB");
  // The empty file: two bytes of deflate data, size 0.
  EXPECT_EQ(raw[4].name, "exportinfo.txt");
  EXPECT_EQ(raw[4].fixed.substr(20, 8), std::string("\x02\x00\x00\x00\x00\x00\x00\x00", 8));
}

// Neither unzip nor 7z here can be told the names' code page (that is
// checked through Python above), so the one non-ASCII name is matched by
// elimination; the bytes must be identical for every file.
TEST_F(PackedBatch, UnzipAnd7zRestoreEveryFileByteForByte) {
  const struct {
    const char* tool;
    std::string command;
  } tools[] = {
      {"unzip", "unzip -q " + ShellQuote(archive_.string()) + " -d "},
      {"7z", "7z x -y " + ShellQuote(archive_.string()) + " -o"},
  };
  for (const auto& t : tools) {
    SCOPED_TRACE(t.tool);
    const fs::path out = scratch_->path() / (std::string("unpacked-") + t.tool);
    std::string output;
    ASSERT_EQ(RunCommand(t.command + ShellQuote(out.string()), &output), 0) << output;
    std::vector<std::string> unpacked = FolderNames(out);
    ASSERT_EQ(unpacked.size(), files_->size()) << ::testing::PrintToString(unpacked);
    for (const SourceFile& f : *files_) {
      if (f.name == kCzechName) continue;
      EXPECT_EQ(ReadFileBytes(out / f.name), f.content) << f.name;
      unpacked.erase(std::remove(unpacked.begin(), unpacked.end(), f.name), unpacked.end());
    }
    ASSERT_EQ(unpacked.size(), 1u);
    EXPECT_EQ(ReadFileBytes(out / unpacked[0]), (*files_)[5].content);
  }
}

TEST_F(PackedBatch, LeavesTheFolderAsItWasPlusTheNewArchive) {
  const std::vector<std::string> expected = {
      ".skryty", "CENIK.DB", "Pobocka 2.zip", "SPFH.DB", "SPFH.PX", "Stara.zip",
      "big.bin", "big.txt", "export.ini", "exportinfo.txt", "odkaz", "roura", "sub", kCzechName};
  std::vector<std::string> sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(FolderNames(folder_), sorted);
  EXPECT_NE(ReadFileBytes(archive_), "an earlier archive, to be replaced");
}

// ---------------------------------------------------------------------------

class ArchiveBatchTest : public ::testing::Test {
 protected:
  ArchiveBatchTest() : folder_(tmp_.path() / "Davka") { fs::create_directory(folder_); }

  std::string FolderPath() const { return folder_.string() + "/"; }
  fs::path Archive() const { return folder_ / "Davka.zip"; }
  std::vector<PyEntry> Inspect() { return InspectWithPython(tmp_, Archive(), folder_, nullptr); }

  TempDir tmp_;
  fs::path folder_;
  ScriptedUi ui_;
};

TEST_F(ArchiveBatchTest, SecondSendReplacesTheArchiveInsteadOfAddingToIt) {
  WriteFileBytes(folder_ / "a.txt", "first");
  WriteFileBytes(folder_ / "b.txt", "second");
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  fs::remove(folder_ / "b.txt");
  WriteFileBytes(folder_ / "c.txt", "third");
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  const std::vector<PyEntry> entries = Inspect();
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"a.txt", "c.txt"}));
  for (const PyEntry& e : entries) EXPECT_EQ(e.same, "1") << e.name;
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(ArchiveBatchTest, EarlierArchiveSpelledInAnotherCaseIsReplacedNotPacked) {
  WriteFileBytes(folder_ / "a.txt", "data");
  WriteFileBytes(folder_ / "DAVKA.ZIP", "old archive");
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  EXPECT_EQ(FolderNames(folder_), (std::vector<std::string>{"Davka.zip", "a.txt"}));
  EXPECT_EQ(Names(Inspect()), (std::vector<std::string>{"a.txt"}));
}

TEST_F(ArchiveBatchTest, EmptyFolderGivesAnArchiveWithoutEntries) {
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  const std::string bytes = ReadFileBytes(Archive());
  EXPECT_EQ(bytes.size(), 22u);
  EXPECT_TRUE(Inspect().empty());
}

TEST_F(ArchiveBatchTest, NamesOutsideCodePage852AreStoredInUtf8AndBackslashesFlattened) {
  const struct {
    std::string disk_name;
    std::string stored_name;  // as a reader gives it back
    int flags;
  } cases[] = {
      {"Faktura 100€.pdf", "Faktura 100€.pdf", 0x800},  // no euro sign in 852
      {"Žádost.doc", "Žádost.doc", 0},
      {"x\\..\\..\\y.txt", "x_.._.._y.txt", 0},  // never a path
  };
  for (const auto& c : cases) WriteFileBytes(folder_ / c.disk_name, c.disk_name);
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  std::map<std::string, PyEntry> by_name;
  for (const PyEntry& e : Inspect()) by_name[e.name] = e;
  ASSERT_EQ(by_name.size(), 3u);
  for (const auto& c : cases) {
    ASSERT_EQ(by_name.count(c.stored_name), 1u) << c.stored_name;
    EXPECT_EQ(by_name[c.stored_name].flags, c.flags) << c.stored_name;
  }
  std::string output;
  EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(Archive().string()), &output), 0) << output;
}

TEST_F(ArchiveBatchTest, FileThatVanishesWhilePackingIsLeftOutSilently) {
  class DeletingUi : public ScriptedUi {
   public:
    explicit DeletingUi(fs::path victim) : victim_(std::move(victim)) {}
    void ProcessPendingEvents() override {
      ScriptedUi::ProcessPendingEvents();
      fs::remove(victim_);
    }

   private:
    fs::path victim_;
  };
  WriteFileBytes(folder_ / "a.bin", RandomBytes(200000, 1));
  WriteFileBytes(folder_ / "b.txt", "gone before it is packed");
  WriteFileBytes(folder_ / "c.txt", "stays");
  DeletingUi ui(folder_ / "b.txt");
  ASSERT_TRUE(ArchiveBatch(ui, FolderPath()));
  EXPECT_TRUE(ui.boxes.empty());
  const std::vector<PyEntry> entries = Inspect();
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"a.bin", "c.txt"}));
  for (const PyEntry& e : entries) EXPECT_EQ(e.same, "1") << e.name;
}

TEST_F(ArchiveBatchTest, ReadErrorHalfWayDeletesThePartlyWrittenArchive) {
  WriteFileBytes(folder_ / "a.bin", RandomBytes(300000, 2));
  WriteFileBytes(folder_ / "b.DB", RandomBytes(300000, 3));
  WriteFileBytes(folder_ / "c.txt", "after");
  // The disk fails with EIO in the middle of the second file.
  int reads = 0;
  ArchiveOptions options;
  options.read = [&reads](int fd, void* data, size_t size) -> ssize_t {
    if (++reads == 8) {
      errno = EIO;
      return -1;
    }
    return ::read(fd, data, size);
  };
  EXPECT_FALSE(ArchiveBatch(ui_, FolderPath(), options));
  ExpectOneErrorBox(ui_, "Cannot read file");
  EXPECT_NE(ui_.boxes.back().text.find("b.DB"), std::string::npos) << ui_.boxes.back().text;
  EXPECT_FALSE(fs::exists(Archive()));
  EXPECT_EQ(FolderNames(folder_), (std::vector<std::string>{"a.bin", "b.DB", "c.txt"}));
}

// A link planted in the shared folder carries nothing off: it is left out
// of the archive, whatever it points to.
TEST_F(ArchiveBatchTest, LinksInTheFolderAreNotPacked) {
  WriteFileBytes(tmp_.path() / "tajne.txt", "someone else's file");
  WriteFileBytes(folder_ / "a.txt", "data");
  fs::create_symlink(tmp_.path() / "tajne.txt", folder_ / "odkaz.txt");
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath()));
  const std::vector<PyEntry> entries = Inspect();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "a.txt");
}

// Failures injected into the write call: the box, and no archive left.
TEST_F(ArchiveBatchTest, WriteFailuresEndInOneErrorBoxAndNoArchive) {
  WriteFileBytes(folder_ / "a.bin", RandomBytes(400000, 4));
  WriteFileBytes(folder_ / "b.txt", TableLikeBytes(100000));
  struct Case {
    const char* what;
    std::function<ssize_t(int, const void*, size_t, off_t, uint64_t&)> write;
    std::string text;
  };
  const Case cases[] = {
      {"short write, then a full disk",
       [](int fd, const void* data, size_t size, off_t offset, uint64_t& total) -> ssize_t {
         if (total >= 150000) {
           errno = ENOSPC;
           return -1;
         }
         const size_t n = std::min<uint64_t>(size, 150000 - total);
         const ssize_t written = ::pwrite(fd, data, n, offset);
         if (written > 0) total += static_cast<uint64_t>(written);
         return written;
       },
       std::string(kArchiveDiskFullText)},
      {"disk quota exceeded",
       [](int, const void*, size_t, off_t, uint64_t&) -> ssize_t {
         errno = EDQUOT;
         return -1;
       },
       std::string(kArchiveDiskFullText)},
      {"device error",
       [](int fd, const void* data, size_t size, off_t offset, uint64_t& total) -> ssize_t {
         if (total >= 100000) {
           errno = EIO;
           return -1;
         }
         total += size;
         return ::pwrite(fd, data, size, offset);
       },
       "Cannot write archive"},
      {"rewriting the first local header",
       [](int fd, const void* data, size_t size, off_t offset, uint64_t& total) -> ssize_t {
         if (offset == 0 && total > 0) {
           errno = EIO;
           return -1;
         }
         total += size;
         return ::pwrite(fd, data, size, offset);
       },
       "Cannot write archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedUi ui;
    ui.cursor = Cursor::kOther;
    uint64_t total = 0;
    ArchiveOptions options;
    options.write = [&c, &total](int fd, const void* data, size_t size, off_t offset) {
      return c.write(fd, data, size, offset, total);
    };
    EXPECT_FALSE(ArchiveBatch(ui, FolderPath(), options));
    ExpectOneErrorBox(ui, c.text);
    EXPECT_EQ(ui.cursor, Cursor::kOther);
    EXPECT_FALSE(fs::exists(Archive()));
    EXPECT_EQ(FolderNames(folder_), (std::vector<std::string>{"a.bin", "b.txt"}));
  }
}

// A process killed while it writes the archive never leaves a partly
// written archive under the archive's name; the temporary file it leaves is
// deleted by the next archiving of the folder, and never packed.
TEST_F(ArchiveBatchTest, KilledWhileWritingLeavesNoArchiveAndTheNextRunRemovesItsTemporaryFile) {
  WriteFileBytes(folder_ / "a.bin", RandomBytes(400000, 6));
  WriteFileBytes(folder_ / "b.txt", TableLikeBytes(100000));
  WriteFileBytes(folder_ / "c.txt", "last");
  const std::vector<std::string> batch = FolderNames(folder_);
  int writes = 0;
  ArchiveOptions counting;
  counting.write = [&writes](int fd, const void* data, size_t size, off_t offset) {
    ++writes;
    return ::pwrite(fd, data, size, offset);
  };
  ASSERT_TRUE(ArchiveBatch(ui_, FolderPath(), counting));
  ASSERT_GE(writes, 10);
  for (const int kill_at : {1, 2, writes / 2, writes - 1, writes}) {
    SCOPED_TRACE("killed at write " + std::to_string(kill_at));
    // The archive of an earlier send is there when the send starts.
    ASSERT_TRUE(fs::exists(Archive()));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int calls = 0;
      ArchiveOptions options;
      options.write = [&calls, kill_at](int fd, const void* data, size_t size, off_t offset) {
        if (++calls == kill_at) ::kill(::getpid(), SIGKILL);
        return ::pwrite(fd, data, size, offset);
      };
      ScriptedUi ui;
      ArchiveBatch(ui, FolderPath(), options);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_FALSE(fs::exists(Archive()));
    std::vector<std::string> left = FolderNames(folder_);
    ASSERT_EQ(left.size(), batch.size() + 1) << ::testing::PrintToString(left);
    EXPECT_EQ(left.front().rfind(".Davka.zip.", 0), 0u) << left.front();

    ScriptedUi ui;
    ASSERT_TRUE(ArchiveBatch(ui, FolderPath()));
    EXPECT_TRUE(ui.boxes.empty());
    left = FolderNames(folder_);
    left.erase(std::remove(left.begin(), left.end(), "Davka.zip"), left.end());
    EXPECT_EQ(left, batch);
    const std::vector<PyEntry> entries = Inspect();
    EXPECT_EQ(Names(entries), batch);
    for (const PyEntry& e : entries) EXPECT_EQ(e.same, "1") << e.name;
  }
}

// Temporary files of the archive are deleted only when nobody writes them:
// one a running writer holds (locked) stays, and so does a hidden file that
// only looks similar.  None of them is packed.
TEST_F(ArchiveBatchTest, UnfinishedArchivesAreRemovedUnlessAWriterHoldsThem) {
  WriteFileBytes(folder_ / "a.txt", "data");
  const fs::path stale = folder_ / ".DAVKA.ZIP.4242.7.tmp";  // the folder spelled in capitals
  const fs::path held = folder_ / ".Davka.zip.4243.0.tmp";
  const fs::path other = folder_ / ".Davka.zip.poznamky.tmp";
  WriteFileBytes(stale, "PK\x03\x04 unfinished");
  WriteFileBytes(held, "PK\x03\x04 being written");
  WriteFileBytes(other, "not an archive");
  const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_TRUE(ArchiveBatch(ui_, FolderPath()));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(Names(Inspect()), (std::vector<std::string>{"a.txt"}));
  // Its writer gone, the next run deletes it.
  ::close(fd);
  EXPECT_TRUE(ArchiveBatch(ui_, FolderPath()));
  EXPECT_EQ(FolderNames(folder_),
            (std::vector<std::string>{".Davka.zip.poznamky.tmp", "Davka.zip", "a.txt"}));
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(ArchiveBatchTest, FullTmpfsGivesNotEnoughRoomAndNoArchive) {
  const fs::path mount_point = tmp_.path() / "small";
  fs::create_directory(mount_point);
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=512k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
  }
  struct Unmount {
    fs::path where;
    ~Unmount() { umount2(where.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  const fs::path folder = mount_point / "Davka";
  fs::create_directory(folder);
  const std::string random = RandomBytes(300 * 1024, 9);  // barely compressible
  WriteFileBytes(folder / "SPFH.DB", random);
  EXPECT_FALSE(ArchiveBatch(ui_, folder.string() + "/"));
  ExpectOneErrorBox(ui_, std::string(kArchiveDiskFullText));
  EXPECT_EQ(ui_.boxes[0].text, kArchiveDiskFullText);
  EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"SPFH.DB"}));
  EXPECT_EQ(ReadFileBytes(folder / "SPFH.DB"), random);
}

TEST_F(ArchiveBatchTest, FileOf4GiBIsRefusedInsteadOfWritingACorruptArchive) {
  WriteFileBytes(folder_ / "a.txt", "small");
  {
    const int fd = ::open((folder_ / "huge.DB").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{1} << 32), 0);  // sparse: takes no room
    ::close(fd);
  }
  EXPECT_FALSE(ArchiveBatch(ui_, FolderPath()));
  ExpectOneErrorBox(ui_, "Zip64");
  EXPECT_NE(ui_.boxes[0].text.find("huge.DB"), std::string::npos);
  EXPECT_FALSE(fs::exists(Archive()));
}

TEST_F(ArchiveBatchTest, MoreFilesThanThePlainFormatCountsAreRefused) {
  for (int k = 0; k < 65535; ++k) {
    const int fd = ::open((folder_ / ("f" + std::to_string(k))).c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  EXPECT_FALSE(ArchiveBatch(ui_, FolderPath()));
  ExpectOneErrorBox(ui_, "65534");
  EXPECT_FALSE(fs::exists(Archive()));
}

// An earlier archive that cannot be replaced is reported and then removed:
// left there, it would pass for this send's archive.
TEST_F(ArchiveBatchTest, ReadOnlyEarlierArchiveIsReportedAndRemoved) {
  WriteFileBytes(folder_ / "a.txt", "data");
  WriteFileBytes(Archive(), "earlier archive");
  fs::permissions(Archive(), fs::perms::owner_read);
  EXPECT_FALSE(ArchiveBatch(ui_, FolderPath()));
  ExpectOneErrorBox(ui_, "read-only");
  EXPECT_FALSE(fs::exists(Archive()));
  EXPECT_EQ(ReadFileBytes(folder_ / "a.txt"), "data");
}

// A folder given relative to the working folder is named by its full path:
// "b9" alone is too short to give a name.
TEST_F(ArchiveBatchTest, RelativeFolderIsNamedByItsFullPath) {
  const fs::path folder = tmp_.path() / "b9";
  fs::create_directory(folder);
  WriteFileBytes(folder / "a.txt", "data");
  const fs::path before = fs::current_path();
  fs::current_path(tmp_.path());
  const bool archived = ArchiveBatch(ui_, "b9");
  fs::current_path(before);
  EXPECT_TRUE(archived);
  EXPECT_TRUE(fs::exists(folder / "b9.zip"));
  EXPECT_FALSE(fs::exists(folder / "zaloha.zip"));
}

TEST_F(ArchiveBatchTest, MissingFolderIsReportedAndTheCallerCarriesOn) {
  EXPECT_FALSE(ArchiveBatch(ui_, (tmp_.path() / "missing").string() + "/"));
  ExpectOneErrorBox(ui_, "Cannot create archive");
}

}  // namespace
}  // namespace dalimor
