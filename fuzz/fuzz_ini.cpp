// Feeds arbitrary bytes to the INI file service as the content of a file.
// Reading must never crash; writing or deleting one key must leave the value
// of every other key as it was, and a written value must read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"

namespace {

// Every write of the INI service flushes its file to disk, which on a real
// disk takes far longer than the edit itself.  Memory-backed /dev/shm makes
// the flush free, so a bounded run tries many more inputs; the system's
// temporary folder serves where there is none.
std::string FuzzFolder() {
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  const char* temporary = std::getenv("TMPDIR");
  return temporary && *temporary ? temporary : "/tmp";
}

const std::string& FuzzPath() {
  static const std::string path =
      FuzzFolder() + "/dalimor-fuzz-ini-" + std::to_string(getpid()) + ".ini";
  return path;
}

void WriteInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(FuzzPath().c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

// Letters, digits and a few marks: names that need no trimming, quoting or
// code page conversion, so that ASCII case-insensitive comparison tells
// exactly which other names are the same.
bool IsPlainName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '.' || c == '-'))
      return false;
  return true;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

struct Entry {
  std::string section, key, value;
};

constexpr std::string_view kAbsent =
    "\x01"
    "absent";

// The first entries of the file, enough to see damage without rereading a
// large file once per key of it.
constexpr size_t kCheckedEntries = 32;

std::vector<Entry> Snapshot(const dalimor::IniFile& ini) {
  std::vector<Entry> entries;
  for (const std::string& section : ini.ReadSections()) {
    for (const std::string& key : ini.ReadSection(section)) {
      if (entries.size() == kCheckedEntries) return entries;
      entries.push_back({section, key, ini.ReadString(section, key, kAbsent)});
    }
  }
  return entries;
}

// Every entry outside `section` (and, unless `key` is empty, outside that one
// key of it) still reads as before.
void CheckUnchanged(const dalimor::IniFile& ini, const std::vector<Entry>& before,
                    std::string_view section, std::string_view key) {
  for (const Entry& entry : before) {
    if (SameName(entry.section, section) && (key.empty() || SameName(entry.key, key))) continue;
    if (ini.ReadString(entry.section, entry.key, kAbsent) != entry.value) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  dalimor::IniFile ini(FuzzPath());

  (void)ini.ReadString("Main", "Left", "x");
  (void)ini.ReadInteger("Main", "Top", 7);
  (void)ini.ReadBool("", "", true);
  (void)ini.SectionExists("Main");
  const std::vector<Entry> before = Snapshot(ini);

  // Overwrite the first key when its names are plain, then add a key to a
  // section of our own.
  const std::string value = "v=" + std::to_string(size) + " ;x";
  if (!before.empty() && IsPlainName(before.front().section) && IsPlainName(before.front().key)) {
    const Entry& first = before.front();
    ini.WriteString(first.section, first.key, value);
    if (ini.ReadString(first.section, first.key, "") != value) std::abort();
    CheckUnchanged(ini, before, first.section, first.key);
    ini.DeleteKey(first.section, first.key);
    CheckUnchanged(ini, before, first.section, first.key);
    WriteInput(data, size);
  }
  ini.WriteString("Fuzz", "Written", value);
  if (ini.ReadString("fuzz", "WRITTEN", "") != value) std::abort();
  CheckUnchanged(ini, before, "Fuzz", "Written");
  ini.EraseSection("Fuzz");
  CheckUnchanged(ini, before, "Fuzz", "");
  std::remove(FuzzPath().c_str());
  return 0;
}
