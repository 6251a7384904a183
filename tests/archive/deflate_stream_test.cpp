// Each entry's compressed data is exactly zlib's raw deflate at level 6 of
// the file, as another program computes it (Python's zlib), whatever the
// 65535-byte pieces the writer feeds it in.

#include <gtest/gtest.h>

#include <random>

#include "archive/batch_archive.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/test_support.h"

namespace dalimor {
namespace {

constexpr const char* kCheck = R"PY(
import sys, zipfile, zlib, struct
path = sys.argv[1]
raw = open(path, 'rb').read()
with zipfile.ZipFile(path) as z:
    for info in z.infolist():
        data = z.read(info)
        offset = info.header_offset
        name_len, extra_len = struct.unpack('<HH', raw[offset + 26:offset + 30])
        start = offset + 30 + name_len + extra_len
        stored = raw[start:start + info.compress_size]
        c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
        expected = c.compress(data) + c.flush()
        if stored != expected:
            print('differs:', info.filename, len(stored), len(expected))
            sys.exit(1)
print('ok')
)PY";

TEST(ArchiveDeflate, EntriesAreZlibRawDeflateAtLevelSix) {
  DALIMOR_SKIP_ON_WINDOWS("the archive is checked with python3");
  test::TempDir dir;
  std::mt19937 random(7);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  std::string text;
  while (text.size() < 400000) text += "Faktura FV-2011-" + std::to_string(text.size()) + ";Pobočka\r\n";
  test::WriteFileBytes(dir.path() / "noise.bin", noise);
  test::WriteFileBytes(dir.path() / "SPFH.DB", text);
  test::WriteFileBytes(dir.path() / "exact.bin", std::string(65535, 'x'));
  test::WriteFileBytes(dir.path() / "empty.txt", "");
  test::WriteFileBytes(dir.path() / "check.py", kCheck);

  test::ScriptedUi ui;
  ASSERT_TRUE(ArchiveBatch(ui, dir.path().string() + "/"));
  const std::string archive = ArchivePath(dir.path().string() + "/");
  std::string output;
  EXPECT_EQ(test::RunCommand("python3 " + dir.File("check.py") + " '" + archive + "'", &output), 0)
      << output;
}

}  // namespace
}  // namespace dalimor
