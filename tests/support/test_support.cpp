#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "platform/native_io.h"

namespace dalimor::test {
namespace {

// Sets or (nullptr) removes an environment variable of this process.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("dalimor-test-" + std::to_string(CurrentProcessId()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(random() % 100000));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return Utf8FromPath(path_ / PathFromUtf8(name));
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value)
    : name_(name) {
  if (const char* old = std::getenv(name)) saved_ = old;
  SetVariable(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetVariable(name_.c_str(), saved_ ? saved_->c_str() : nullptr);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path FixturesDir() {
  std::filesystem::path dir;
  if (const char* env = std::getenv("DALIMOR_FIXTURES"); env && *env) dir = env;
  std::error_code ec;
  if (!dir.empty() && std::filesystem::is_directory(dir, ec)) return std::filesystem::canonical(dir);
  return {};
}

int RunCommand(const std::string& command, std::string* output) {
#ifdef _WIN32
  FILE* pipe = _popen((command + " 2>&1").c_str(), "rb");
#else
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
#endif
  if (!pipe) return -1;
  std::array<char, 4096> buffer{};
  std::string text;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
#ifdef _WIN32
  const int status = _pclose(pipe);
  if (output) *output = text;
  return status;
#else
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace dalimor::test
