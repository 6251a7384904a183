// Unpacking a batch archive: archives written by us, by Info-ZIP, by 7-Zip
// and by Python's zipfile unpack byte for byte; hostile and damaged ones
// are refused with nothing left behind.

#include "archive/batch_unpack.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/batch_archive.h"
#include "batch/catalogue.h"
#include "platform/native_io.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::RunCommand;
using test::TempDir;
using test::WriteFileBytes;

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Bytes like a Paradox table's: short records padded with zeros, so that
// they pack about as well as a real table does.
std::string TableLikeBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += 64)
    for (size_t j = i; j < std::min(size, i + 20); ++j)
      bytes[j] = static_cast<char>('A' + random() % 26);
  return bytes;
}

// A small batch: some table files, one of them empty, and the two
// information files.
std::map<std::string, std::string> SampleBatch() {
  return {{"SPFH.DB", TableLikeBytes(200000, 1)},
          {"SPFH.PX", TableLikeBytes(4096, 2)},
          {"Svfh.MB", std::string()},
          {"LMemo.DB", TableLikeBytes(70000, 3)},
          {"export.ini", "[Export]\r\nCompanyName=Pobo\x9A" "ka\r\n"},
          {"exportinfo.txt", "Ahoj"}};
}

class BatchUnpack : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(source());
    fs::create_directories(root());
    for (const auto& [name, bytes] : SampleBatch()) WriteFileBytes(fs::path(source()) / name, bytes);
  }
  std::string source() const { return dir.File("Davka"); }
  std::string root() const { return dir.File("tmp"); }

  UnpackRules Rules() const {
    UnpackRules rules;
    rules.accepts = IsBatchFileName;
    rules.max_entries = kMaxBatchFiles;
    rules.temporary_root = root();
    return rules;
  }

  // Runs a Python script that writes the archive `zip` with zipfile.
  std::string Python(const std::string& body) {
    const std::string zip = dir.File("made.zip");
    fs::remove(zip);
    const std::string script = "import zipfile, zlib, struct, os\nzip = " + ShellQuote(zip) +
                               "\n" + body + "\n";
    WriteFileBytes(dir.File("make.py"), script);
    std::string output;
    EXPECT_EQ(RunCommand("python3 " + ShellQuote(dir.File("make.py")), &output), 0) << output;
    return zip;
  }

  // The refusal's text; empty when the archive was accepted.
  std::string Refusal(const std::string& zip) {
    try {
      UnpackedArchive unpacked(zip, Rules());
    } catch (const ArchiveRefused& e) {
      return e.what();
    }
    return {};
  }

  void ExpectUnpacksToSample(const std::string& zip) {
    std::string folder;
    {
      UnpackedArchive unpacked(zip, Rules());
      folder = unpacked.folder();
      EXPECT_EQ(unpacked.file_count(), SampleBatch().size());
      for (const auto& [name, bytes] : SampleBatch())
        EXPECT_EQ(ReadFileBytes(folder + name), bytes) << name << " from " << zip;
#ifndef _WIN32
      struct stat info;
      ASSERT_EQ(stat(folder.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
      EXPECT_EQ(fs::path(folder).parent_path().parent_path(), fs::path(root()));
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_empty(root()));
  }

  TempDir dir;
};

TEST_F(BatchUnpack, ArchivesOfEveryZipProgramUnpackByteForByte) {
  test::ScriptedUi ui;
  ASSERT_TRUE(ArchiveBatch(ui, source()));
  ExpectUnpacksToSample(source() + "/Davka.zip");
  DALIMOR_SKIP_ON_WINDOWS("the other zip programs are Linux tools");

  const std::string files = "cd " + ShellQuote(source()) + " && ";
  const std::string list = "SPFH.DB SPFH.PX Svfh.MB LMemo.DB export.ini exportinfo.txt";
  struct Maker {
    const char* what;
    std::string command;
  };
  const std::string zip = dir.File("made.zip");
  const std::vector<Maker> makers = {
      {"zip -j", "zip -q -j " + ShellQuote(zip) + " " + list},
      {"zip stored", "zip -q -0 " + ShellQuote(zip) + " " + list},
      // Data descriptors after every entry, and Zip64 records.
      {"zip -fd", "zip -q -fd " + ShellQuote(zip) + " " + list},
      {"zip -fz", "zip -q -fz " + ShellQuote(zip) + " " + list},
      {"7z", "7z a -tzip -bd " + ShellQuote(zip) + " " + list + " >/dev/null"},
      {"7z stored", "7z a -tzip -mx=0 -bd " + ShellQuote(zip) + " " + list + " >/dev/null"},
  };
  for (const Maker& maker : makers) {
    SCOPED_TRACE(maker.what);
    fs::remove(zip);
    std::string output;
    ASSERT_EQ(RunCommand(files + maker.command, &output), 0) << output;
    ExpectUnpacksToSample(zip);
  }
  // Python writes Zip64 extra fields on request, for every entry.
  std::string python = "with zipfile.ZipFile(zip, 'w', zipfile.ZIP_DEFLATED) as z:\n";
  for (const auto& [name, bytes] : SampleBatch())
    python += "  with z.open(" + ShellQuote(name) + ", 'w', force_zip64=True) as f: f.write(open(" +
              ShellQuote(source() + "/" + name) + ", 'rb').read())\n";
  ExpectUnpacksToSample(Python(python));
}

// Each hostile or damaged archive, made by Python, and a word its refusal
// must contain.
struct Hostile {
  const char* what;
  std::string script;
  const char* expected;
};

TEST_F(BatchUnpack, HostileAndDamagedArchivesAreRefusedLeavingNothing) {
  DALIMOR_SKIP_ON_WINDOWS("the archives are made with python3");
  const std::string open = "with zipfile.ZipFile(zip, 'w', zipfile.ZIP_DEFLATED) as z:\n";
  const auto one = [&](const std::string& name) {
    return open + "  z.writestr(" + ShellQuote(name) + ", b'data')\n  z.writestr('SPFH.PX', b'x')\n";
  };
  std::string many = open;
  for (int i = 0; i < 60; ++i) many += "  z.writestr('f" + std::to_string(i) + ".DB', b'')\n";
  const std::vector<Hostile> cases = {
      {"traversal", one("../SPFH.DB"), "\"..\""},
      {"traversal with backslash", one("..\\SPFH.DB"), "\"..\""},
      {"absolute path", one("/etc/SPFH.DB"), "absolutní cestu"},
      {"drive letter", one("C:SPFH.DB"), "absolutní cestu"},
      {"folder part", one("Davka/SPFH.DB"), "složku"},
      {"folder entry", one("SPFH/"), "je složka"},
      {"not a batch file", one("virus.exe"), "do dávky nepatří"},
      {"control character", one("SPFH\x01.DB"), "řídicí znak"},
      {"duplicate without regard to case", one("spfh.px"), "víckrát"},
      {"too many entries", many, "60 souborů"},
      {"symbolic link",
       open + "  i = zipfile.ZipInfo('SPFH.DB')\n  i.create_system = 3\n"
              "  i.external_attr = 0o120777 << 16\n  z.writestr(i, '/etc/passwd')\n",
       "symbolický odkaz"},
      {"zip bomb",
       open + "  z.writestr('SPFH.DB', bytes(200 * 1024 * 1024))\n", "zip bombu"},
      {"unsupported method",
       "with zipfile.ZipFile(zip, 'w', zipfile.ZIP_BZIP2) as z:\n  z.writestr('SPFH.DB', b'x' * 100)\n",
       "nepodporovanou metodou"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string refusal = Refusal(Python(c.script));
    EXPECT_NE(refusal.find(c.expected), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("nelze přijmout"), std::string::npos) << refusal;
    EXPECT_TRUE(fs::is_empty(root()));
  }
}

// Damage done to the bytes of a good archive of ours.
TEST_F(BatchUnpack, DamagedBytesAreRefusedNeverUnpackedHalfWay) {
  test::ScriptedUi ui;
  ASSERT_TRUE(ArchiveBatch(ui, source()));
  const std::string good = ReadFileBytes(source() + "/Davka.zip");
  const std::string zip = dir.File("damaged.zip");
  // Offsets into the entry "LMemo.DB": its CRC in the local header, and a
  // byte of its data.
  const size_t header = good.find("LMemo.DB") - 30;
  const size_t local_crc = header + 14;
  const size_t data = header + 30 + std::string("LMemo.DB").size() + 100;
  struct Damage {
    const char* what;
    std::function<std::string(std::string)> apply;
    const char* expected;
  };
  const std::vector<Damage> damages = {
      {"truncated to half", [](std::string b) { return b.substr(0, b.size() / 2); }, "zkrácený"},
      {"truncated by one byte", [](std::string b) { return b.substr(0, b.size() - 1); }, "zkrácený"},
      {"empty file", [](std::string) { return std::string(); }, "nejde o archiv zip"},
      {"no zip at all", [](std::string) { return std::string(5000, 'x'); }, "nejde o archiv zip"},
      {"a data byte flipped",
       [&](std::string b) {
         b[data] = static_cast<char>(b[data] ^ 0x55);
         return b;
       },
       "poškozený"},
      {"CRC changed in both headers",
       [&](std::string b) {
         const uint32_t crc = static_cast<uint8_t>(b[local_crc]) ^ 0x01u;
         b[local_crc] = static_cast<char>(crc);
         const size_t at = b.rfind("LMemo.DB") - 46;
         b[at + 16] = static_cast<char>(crc);
         return b;
       },
       "CRC"},
      {"CRC changed in the directory only",
       [&](std::string b) {
         const size_t at = b.rfind("LMemo.DB") - 46;
         b[at + 16] = static_cast<char>(b[at + 16] ^ 0x01);
         return b;
       },
       "nesouhlasí"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    WriteFileBytes(zip, damage.apply(good));
    const std::string refusal = Refusal(zip);
    EXPECT_NE(refusal.find(damage.expected), std::string::npos) << refusal;
    EXPECT_TRUE(fs::is_empty(root()));
  }
}

TEST_F(BatchUnpack, AStreamLongerThanItsDeclaredSizeIsCutOffAndRefused) {
  DALIMOR_SKIP_ON_WINDOWS("the archive is made with python3");
  // The directory says 10 bytes; the data inflate to a megabyte.
  const std::string zip = Python(
      "data = zlib.compressobj(6, zlib.DEFLATED, -15)\n"
      "packed = data.compress(bytes(1 << 20)) + data.flush()\n"
      "with zipfile.ZipFile(zip, 'w', zipfile.ZIP_DEFLATED) as z: z.writestr('SPFH.DB', bytes(10))\n"
      "b = bytearray(open(zip, 'rb').read())\n"
      "start = 30 + len('SPFH.DB')\n"
      "old = struct.unpack('<I', b[18:22])[0]\n"
      "b[start:start + old] = packed\n"
      "struct.pack_into('<I', b, 18, len(packed))\n"
      "c = b.find(b'PK\\x01\\x02')\n"
      "struct.pack_into('<I', b, c + 20, len(packed))\n"
      "e = b.find(b'PK\\x05\\x06')\n"
      "struct.pack_into('<I', b, e + 16, c)\n"
      "open(zip, 'wb').write(b)\n");
  const std::string refusal = Refusal(zip);
  EXPECT_NE(refusal.find("poškozený"), std::string::npos) << refusal;
  EXPECT_TRUE(fs::is_empty(root()));
}

TEST_F(BatchUnpack, AStopWhileUnpackingRemovesTheFolder) {
  test::ScriptedUi ui;
  ASSERT_TRUE(ArchiveBatch(ui, source()));
  UnpackRules rules = Rules();
  int pieces = 0;
  rules.progress = [&] {
    if (++pieces == 2) throw std::runtime_error("stop");
  };
  EXPECT_THROW(UnpackedArchive(source() + "/Davka.zip", rules), std::runtime_error);
  EXPECT_TRUE(fs::is_empty(root()));
}

// Gives `folder` a last change `seconds` ago.
bool SetFolderTimeInThePast(const std::string& folder, int seconds) {
#ifdef _WIN32
  const HANDLE handle =
      CreateFileW(PathFromUtf8(folder).c_str(), FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  ticks.QuadPart -= static_cast<ULONGLONG>(seconds) * 10000000;
  FILETIME then;
  then.dwLowDateTime = ticks.LowPart;
  then.dwHighDateTime = ticks.HighPart;
  const bool set = SetFileTime(handle, nullptr, &then, &then) != 0;
  CloseHandle(handle);
  return set;
#else
  const time_t old = time(nullptr) - seconds;
  const struct timespec times[2] = {{old, 0}, {old, 0}};
  return utimensat(AT_FDCWD, folder.c_str(), times, 0) == 0;
#endif
}

TEST_F(BatchUnpack, FoldersOfKilledRunsGoButAFolderInUseStays) {
  test::ScriptedUi ui;
  ASSERT_TRUE(ArchiveBatch(ui, source()));
  const std::string abandoned = root() + "/dalimor-zip-abc123";
  const std::string in_use = root() + "/dalimor-zip-def456";
  const std::string other = root() + "/somebody-else";
  for (const std::string& folder : {abandoned, in_use, other}) {
    fs::create_directories(folder);
    WriteFileBytes(folder + "/SPFH.DB", "x");
    // Still for two minutes: the run that made them is long gone.
    ASSERT_TRUE(SetFolderTimeInThePast(folder, 120)) << folder;
  }
  // Another run holds this one, as an unpacking run holds its own.
  const int lock = OpenFolderNative(PathFromUtf8(in_use));
  ASSERT_GE(lock, 0);
  ASSERT_EQ(TryLockFolder(lock), LockOutcome::kLocked);
  {
    UnpackedArchive unpacked(source() + "/Davka.zip", Rules());
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(in_use));
    EXPECT_TRUE(fs::exists(other));
  }
  CloseNative(lock);
}

}  // namespace
}  // namespace dalimor
