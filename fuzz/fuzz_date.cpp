// Feeds arbitrary bytes to the date completion; it must never crash, and an
// accepted text must be empty or a valid dd.mm.yyyy date.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/date_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const dalimor::FixedClock clock({2011, 3, 15, 12, 0, 0, 0});
  std::string text(reinterpret_cast<const char*>(data), size);
  if (dalimor::CompleteDateText(text, clock) && !text.empty()) {
    if (text.size() != 10 || text[2] != '.' || text[5] != '.') std::abort();
    // A completed date in the accepted year range completes to itself.
    const int year = std::atoi(text.c_str() + 6);
    std::string again = text;
    if (year >= 1000 && year <= 2099 &&
        (!dalimor::CompleteDateText(again, clock) || again != text))
      std::abort();
  }
  return 0;
}
