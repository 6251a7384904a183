#pragma once
// Readable text of a field value for test failure messages.

#include <cstdio>
#include <string>

#include "engine/value.h"

namespace dalimor::test {

inline std::string Show(const Value& v) {
  char buf[64];
  if (IsNull(v)) return "NULL";
  if (const auto* i = std::get_if<int64_t>(&v)) return "int " + std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    std::snprintf(buf, sizeof buf, "double %.17g", *d);
    return buf;
  }
  if (const auto* s = std::get_if<std::string>(&v))
    return "text \"" + (s->size() > 80 ? s->substr(0, 80) + "...\" (" + std::to_string(s->size()) + " bytes)" : *s + "\"");
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
  if (const auto* d = std::get_if<Date>(&v)) {
    std::snprintf(buf, sizeof buf, "date %.17g", d->value);
    return buf;
  }
  if (const auto* t = std::get_if<Time>(&v)) return "time " + std::to_string(t->milliseconds) + " ms";
  if (const auto* t = std::get_if<Timestamp>(&v)) {
    std::snprintf(buf, sizeof buf, "timestamp %.17g", t->value);
    return buf;
  }
  const auto& bytes = std::get<Bytes>(v).data;
  std::string hex;
  for (size_t i = 0; i < bytes.size() && i < 24; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(bytes[i]));
    hex += buf;
  }
  return "bytes[" + std::to_string(bytes.size()) + "] " + hex;
}

}  // namespace dalimor::test
