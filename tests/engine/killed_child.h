#pragma once
// Runs a piece of work in a forked child that kills itself with SIGKILL at
// a chosen step of the run journal, as a power cut or kill -9 would stop a
// run there.  POSIX only.

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "engine/fault_injection.h"

namespace dalimor::test {

enum class Ending { kFinished, kKilled, kFailed };

// Runs `work` in a child process that kills itself at journal step `kill_at`
// (never when negative); kFailed when the work threw.
inline Ending InChild(int64_t kill_at, const std::function<void()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    KillAtJournalStep(kill_at);
    try {
      work();
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return Ending::kKilled;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Ending::kFinished : Ending::kFailed;
}

}  // namespace dalimor::test
#endif
