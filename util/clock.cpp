#include "util/clock.h"

#include <chrono>
#include <ctime>

namespace dalimor {

LocalDateTime LocalTimeOf(int64_t unix_seconds, int millisecond) {
  const std::time_t seconds = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  LocalDateTime result;
#ifdef _WIN32
  if (localtime_s(&local, &seconds) != 0) return result;
#else
  if (localtime_r(&seconds, &local) == nullptr) return result;
#endif
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  result.millisecond = millisecond;
  return result;
}

LocalDateTime SystemClock::Now() const {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  return LocalTimeOf(ms.count() / 1000, static_cast<int>(ms.count() % 1000));
}

}  // namespace dalimor
