// Feeds arbitrary bytes to the batch archive reader as the content of a zip
// file.  Checking and unpacking must never crash, never write outside the
// private folder and always remove that folder again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/batch_unpack.h"

namespace {

// Memory-backed /dev/shm keeps the many small writes cheap; the system's
// temporary folder serves where there is none.
std::string FuzzFolder() {
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  const char* temporary = std::getenv("TMPDIR");
  return temporary && *temporary ? temporary : "/tmp";
}

// Never destroyed, so that the exit handler can still name the folder.
const std::string& FuzzRoot() {
  static const std::string* const root = [] {
    auto* path = new std::string(FuzzFolder() + "/dalimor-fuzz-zip-" + std::to_string(getpid()));
    std::filesystem::create_directories(*path);
    // The (empty) root goes with the process.
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove(FuzzRoot(), ec);
    });
    return path;
  }();
  return *root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive = FuzzRoot() + ".zip";
  FILE* file = std::fopen(archive.c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();

  dalimor::UnpackRules rules;
  rules.max_entries = 64;
  rules.temporary_root = FuzzRoot();
  try {
    dalimor::UnpackedArchive unpacked(archive, rules);
  } catch (const dalimor::ArchiveRefused&) {
  }
  // Whatever happened, the private folder is gone.
  if (!std::filesystem::is_empty(FuzzRoot())) std::abort();
  std::remove(archive.c_str());
  return 0;
}
