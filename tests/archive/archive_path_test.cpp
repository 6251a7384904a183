// The archive's name and place, with the separators of the system the
// program runs on.

#include <gtest/gtest.h>

#include "archive/batch_archive.h"

namespace dalimor {
namespace {

#ifdef _WIN32
// Windows paths separate with "\" as well as "/", and name drives and
// network shares.
TEST(ArchiveBaseName, TakesBackslashesAsSeparators) {
  const struct {
    const char* path;
    const char* base;
  } cases[] = {
      {"C:\\Data\\Přenos dávek\\", "Přenos dávek"},
      {"C:\\Data\\Davka", "Davka"},
      {"\\\\server\\share\\Davky\\", "Davky"},
      {"C:/Data/Davka/", "Davka"},
      {"C:\\Data/Davka\\", "Davka"},
      {"C:\\", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiveBaseName(c.path), c.base) << c.path;
}

TEST(ArchivePath, EndsInTheNativeSeparator) {
  EXPECT_EQ(ArchivePath("C:\\Data\\Přenos dávek"), "C:\\Data\\Přenos dávek\\Přenos dávek.zip");
  EXPECT_EQ(ArchivePath("C:\\Data\\Davka\\"), "C:\\Data\\Davka\\Davka.zip");
  EXPECT_EQ(ArchivePath("C:\\"), "C:\\zaloha.zip");
}
#else
// On Linux "\" is an ordinary character of a name.
TEST(ArchiveBaseName, KeepsBackslashesInNames) {
  EXPECT_EQ(ArchiveBaseName("/data/Davka\\2/"), "Davka\\2");
  EXPECT_EQ(ArchivePath("/data/Přenos dávek"), "/data/Přenos dávek/Přenos dávek.zip");
}
#endif

}  // namespace
}  // namespace dalimor
