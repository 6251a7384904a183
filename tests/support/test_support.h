#pragma once
// Helpers shared by the test binaries: temporary folders, file I/O, and the
// location of the shared fixture files.

#include <filesystem>
#include <optional>
#include <string>

namespace dalimor::test {

// A fresh folder under the system temporary folder, removed with everything
// in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a native string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// Sets an environment variable (nullptr: unsets it) for as long as the
// object lives, then puts back what was there.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const char* value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// The shared fixtures folder (DALIMOR_FIXTURES, else ../shared/fixtures), or
// an empty path when it is absent.
std::filesystem::path FixturesDir();

// Runs a shell command, returns its exit status and (if asked) its output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace dalimor::test

// Skips the current test with a message when the fixtures are not there.
#define DALIMOR_REQUIRE_FIXTURES()                                               \
  do {                                                                           \
    if (::dalimor::test::FixturesDir().empty())                                  \
      GTEST_SKIP() << "shared fixtures folder not found (set DALIMOR_FIXTURES)"; \
  } while (0)

// Skips the current test on Windows, where what it exercises does not exist
// or behaves otherwise by design (symbolic links for everyone, permission
// bits, pipes in the file system, names differing only in case, Linux tools).
#ifdef _WIN32
#define DALIMOR_SKIP_ON_WINDOWS(why) GTEST_SKIP() << "not on Windows: " << (why)
#else
#define DALIMOR_SKIP_ON_WINDOWS(why) \
  do {                               \
  } while (0)
#endif
