// Feeds arbitrary bytes to the Paradox reader as the three files of a
// table.  Input: u32 length of the .DB, u32 length of the .PX, then the .DB,
// the .PX and (the rest) the .MB.  Opening, reading every record and
// checking the index must end normally or in an EngineError.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine_error.h"
#include "engine/paradox/table.h"

namespace {

const std::string& FuzzDir() {
  static const std::string dir = [] {
    std::string d = "/tmp/dalimor-fuzz-paradox-" + std::to_string(getpid());
    std::system(("mkdir -p " + d).c_str());
    return d;
  }();
  return dir;
}

void WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  FILE* file = std::fopen((FuzzDir() + "/" + name).c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

uint32_t Length(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  size_t db = Length(data);
  size_t px = Length(data + 4);
  data += 8;
  size -= 8;
  if (db > size) db = size;
  if (px > size - db) px = size - db;
  WriteFile("T.DB", data, db);
  WriteFile("T.PX", data + db, px);
  WriteFile("T.MB", data + db + px, size - db - px);
  try {
    const auto table = dalimor::ParadoxTable::Open(FuzzDir() + "/T.DB", dalimor::OpenMode::kReadOnly);
    table->ReadAll();
    table->CheckIndex();
    for (auto p = table->Last(); p; p = table->Prior(*p)) table->OrdinalOf(*p);
  } catch (const dalimor::EngineError&) {
  }
  return 0;
}
