#pragma once
// The Borland engine's multi-user control: every folder whose tables are open
// holds a "PDOXUSRS.LCK" naming the network control folder ("NET DIR", with
// its "PDOXUSRS.NET") that governs it.  A folder governed by another control
// folder — typically because the accounting program runs with its own — must
// not be opened.  The layout is described in docs/paradox_format.md.

#include <optional>
#include <string>

namespace dalimor {

// What a folder's "PDOXUSRS.LCK" says about its controller.
struct DirectoryLock {
  std::string lock_file;     // full path of the lock file
  std::string net_dir;       // the controlling network folder as stored (a Windows path)
  std::string stamp;         // 4-byte stamp of that folder's PDOXUSRS.NET
};

// Reads the lock file of a folder (name matched without regard to case).
// None when there is no lock file, or it is too short to name a controller.
std::optional<DirectoryLock> ReadDirectoryLock(const std::string& folder);

// Throws EngineError kDirectoryControlled, "Directory is controlled by other
// .NET file." followed by a line naming the lock file, when `folder` is
// governed by a control folder other than `net_file_dir`.  The two are the
// same controller when the PDOXUSRS.NET in `net_file_dir` carries the lock's
// stamp, or when the lock's path, read as a Windows path, names `net_file_dir`
// (drive letter or server share dropped, compared without regard to case,
// the shorter path matching the tail of the longer; a drive root matches
// only a root).  An empty `net_file_dir`
// or a folder without a lock file is never controlled.
void CheckDirectoryControl(const std::string& folder, const std::string& net_file_dir);

}  // namespace dalimor
