// dalimor-cli: the headless front end over the same core as the desktop
// program, for scripted and scheduled transfers and for tests.

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/terminal_ui.h"
#include "platform/native_io.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  dalimor::UseUtf8Console();
  dalimor::InstallStopSignals();
  const std::vector<std::string> args = dalimor::CommandLineArguments(argc, argv);
  return dalimor::RunCli(args, std::cout, std::cerr, std::cin);
}
