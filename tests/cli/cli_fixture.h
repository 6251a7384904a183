#pragma once
// The real dalimor-cli binary on a demo installation in a temporary folder,
// as a scheduled job runs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/test_support.h"

namespace dalimor {

struct CliResult {
  int code;
  std::string output;
};

class CliTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder());
    ASSERT_EQ(Cli("demo " + Q(installation())).code, 0);
  }
  CliResult Cli(const std::string& arguments, const std::string& input = "") {
    CliResult result;
    // The run log and the unpacked archives stay inside the test's folder.
    std::filesystem::create_directories(temporary());
    const std::string env = (cwd.empty() ? std::string() : "cd " + Q(cwd) + " && ") +
                            "DALIMOR_ENGINE_CONFIG=" + Q(dir.File("engine.cfg")) +
                            " XDG_DATA_HOME=" + Q(data_home()) + " TMPDIR=" + Q(temporary()) + " ";
    const std::string feed = input.empty() ? " </dev/null" : " <<< " + Q(input);
    result.code = test::RunCommand(
        "bash -c " + Q(env + launcher + std::string(DALIMOR_CLI_PATH) + " " + arguments + feed),
        &result.output);
    return result;
  }
  static std::string Q(const std::string& s) {
    std::string quoted = "'";
    for (const char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }
  std::string installation() const { return dir.File("kalmeo"); }
  std::string folder() const { return dir.File("přenos"); }
  // $XDG_DATA_HOME of the command: the run log is in its "dalimor".
  std::string data_home() const { return dir.File("data"); }
  // $TMPDIR of the command.
  std::string temporary() const { return dir.File("tmp"); }
  std::string Common(const char* company) const {
    return "--installation " + Q(installation()) + " --company " + Q(company) + " --folder " +
           Q(folder());
  }
  // Every file below the installation with its bytes.
  std::map<std::string, std::string> InstallationFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(installation()))
      if (entry.is_regular_file())
        files[entry.path().string()] = test::ReadFileBytes(entry.path());
    return files;
  }
  test::TempDir dir;
  std::string cwd;  // the working folder of the command; empty: this process's
  std::string launcher;  // a command that runs the binary, with its arguments first
};

}  // namespace dalimor
