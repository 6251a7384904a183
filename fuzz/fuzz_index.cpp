// Feeds arbitrary bytes to the secondary-index reader and writer as the
// index files of a small valid table.  Input: one byte choosing the index
// (a single-field .X02 or a named .XG0), u32 length of the .X, the .X, then
// (the rest) the .Y.  Opening the table for writing, inserting a row and
// deleting it again must end normally or in an EngineError, and when the
// write went through, the index must be readable again.
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
    std::string d = "/tmp/dalimor-fuzz-index-" + std::to_string(getpid());
    std::system(("mkdir -p " + d).c_str());
    return d;
  }();
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::string out;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) std::abort();
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) out.append(buffer, n);
  std::fclose(file);
  return out;
}

void WriteFile(const std::string& name, const void* data, size_t size) {
  FILE* file = std::fopen((FuzzDir() + "/" + name).c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

// The table's .DB and .PX, made once: Czech text keyed by number, with a
// date and a name to index.
struct Table {
  std::string db;
  std::string px;
};

const Table& Template() {
  static const Table t = [] {
    const std::string path = FuzzDir() + "/T.DB";
    {
      auto table =
          dalimor::ParadoxTable::Create(path,
                                        {{"Klic", dalimor::FieldType::kLong, 0},
                                         {"Firma", dalimor::FieldType::kAlpha, 20},
                                         {"Datum", dalimor::FieldType::kDate, 0}},
                                        1, dalimor::CreateOptions{1250, "anczechw", 83, 1024});
      table->set_auto_flush(false);
      const char* names[] = {"Čermák", "cermak", "Chalupa", "Hora", "Žabka", "", "Alfa"};
      for (int i = 1; i <= 60; ++i)
        table->Insert({int64_t{i}, std::string(names[i % 7]), dalimor::Date{40000.0 + i % 9}});
      table->Close();
    }
    return Table{ReadFile(path), ReadFile(FuzzDir() + "/T.PX")};
  }();
  return t;
}

uint32_t Length(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Table& t = Template();
  if (size < 5) return 0;
  const bool named = (data[0] & 1) != 0;
  size_t x = Length(data + 1);
  data += 5;
  size -= 5;
  if (x > size) x = size;
  std::remove((FuzzDir() + "/T.X02").c_str());
  std::remove((FuzzDir() + "/T.Y02").c_str());
  std::remove((FuzzDir() + "/T.XG0").c_str());
  std::remove((FuzzDir() + "/T.YG0").c_str());
  WriteFile("T.DB", t.db.data(), t.db.size());
  WriteFile("T.PX", t.px.data(), t.px.size());
  WriteFile(named ? "T.XG0" : "T.X02", data, x);
  WriteFile(named ? "T.YG0" : "T.Y02", data + x, size - x);
  bool written = false;
  try {
    const auto table = dalimor::ParadoxTable::Open(FuzzDir() + "/T.DB", dalimor::OpenMode::kShared);
    table->Delete(table->Insert({int64_t{1000}, std::string("Řezník"), dalimor::Date{40100.0}}));
    table->Close();
    written = true;
  } catch (const dalimor::EngineError&) {
  }
  if (written) {
    // What the write left must be an index the engine accepts again.
    const auto again = dalimor::ParadoxTable::Open(FuzzDir() + "/T.DB", dalimor::OpenMode::kShared);
    try {
      again->Insert({int64_t{1001}, std::string("Alfa"), dalimor::Date{40101.0}});
    } catch (const dalimor::EngineError& e) {
      // A unique index may hold that name already.
      if (e.kind() != dalimor::EngineErrorKind::kKeyViolation) throw;
    }
    again->Close();
  }
  return 0;
}
