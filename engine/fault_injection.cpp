#include "engine/fault_injection.h"

#include <signal.h>

#include <cstdlib>

#include <atomic>

namespace dalimor {
namespace {

std::atomic<int64_t> g_remaining{-1};
std::atomic<int64_t> g_counted{0};
std::atomic<int64_t> g_kill_remaining{-1};
std::atomic<int64_t> g_steps{0};

}  // namespace

void FailWriteAfter(int64_t writes) {
  g_remaining = writes;
  g_counted = 0;
}

int64_t CountedWrites() { return g_counted; }

size_t AllowedWriteBytes(size_t size) {
  ++g_counted;
  if (g_remaining < 0) return size;
  if (g_remaining-- > 0) return size;
  g_remaining = -1;  // one failure, then writes work again
  return size / 2;
}

namespace {

// Ends the process at once, as a kill would: no destructor, no flush.
[[noreturn]] void KillNow() {
#ifdef _WIN32
  std::_Exit(137);
#else
  raise(SIGKILL);
  std::_Exit(137);
#endif
}

}  // namespace

void KillAtJournalStep(int64_t steps) {
  g_kill_remaining = steps;
  g_steps = 0;
}

int64_t CountedJournalSteps() { return g_steps; }

void JournalStep() {
  ++g_steps;
  if (g_kill_remaining < 0) return;
  if (g_kill_remaining-- == 0) KillNow();
}

}  // namespace dalimor
