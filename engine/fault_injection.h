#pragma once
// A test hook into the engine's file writes: after a set number of further
// writes, the next one writes only part of its bytes and fails, as a full
// disk or a pulled cable would.  Off unless a test turns it on; one counter
// for the whole process.

#include <cstdint>
#include <string_view>

namespace dalimor {

// The write after `writes` further successful ones fails (0: the next one);
// a negative value turns the hook off.
void FailWriteAfter(int64_t writes);
// Writes counted since the last FailWriteAfter (also when off).
int64_t CountedWrites();

// Called by the file layer before a write of `size` bytes: returns how many
// of them may be written before the write must fail (size when it need not
// fail).
size_t AllowedWriteBytes(size_t size);

// A test hook into the run journal's file operations (each copy, sync,
// write, truncation, rename and removal counts one step): the process kills
// itself with SIGKILL just before step `steps` further on (0: the next one),
// as a power cut or kill -9 would stop it there.  Meant for a forked child;
// a negative value turns it off.
void KillAtJournalStep(int64_t steps);
// Steps counted since the last KillAtJournalStep (also when off).
int64_t CountedJournalSteps();
// Called by the journal before each file operation.
void JournalStep();

}  // namespace dalimor
