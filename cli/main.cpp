// dalimor-cli: the headless front end over the same core as the desktop
// program, for scripted and scheduled transfers and for tests.

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void PrintUsage() {
  std::printf(
      "Dalimor %s - přenos účetních dokladů mezi instalacemi Kalmea\n"
      "\n"
      "Použití:\n"
      "  dalimor-cli --version\n"
      "\n"
      "Další příkazy (demo, send, receive) přibudou s jádrem přenosu.\n",
      DALIMOR_VERSION);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", DALIMOR_VERSION);
    return 0;
  }
  PrintUsage();
  return argc > 1 ? 2 : 0;
}
