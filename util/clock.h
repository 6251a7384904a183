#pragma once
// The source of "now" for the whole program.  Core code never reads the
// system clock directly; it is handed a Clock so that tests can fix the date.

#include <cstdint>

namespace dalimor {

// A local calendar date and time of day, as the user's machine shows it.
struct LocalDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The local date and time of a moment given in seconds since 1970 UTC,
// with its milliseconds as they stand.
LocalDateTime LocalTimeOf(int64_t unix_seconds, int millisecond);

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time.
  virtual LocalDateTime Now() const = 0;
};

// The machine's own local time.
class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};

// Always answers the moment it was given; for tests and reproducible runs.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(LocalDateTime now) : now_(now) {}
  LocalDateTime Now() const override { return now_; }
  void Set(LocalDateTime now) { now_ = now; }

 private:
  LocalDateTime now_;
};

}  // namespace dalimor
