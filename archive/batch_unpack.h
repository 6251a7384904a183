#pragma once
// Receiving a batch straight from its zip archive: the archive is checked
// as a whole before anything is unpacked (names, counts, sizes against the
// free space), then unpacked entry by entry into a private temporary folder
// with every CRC checked, so that a receive can read the batch from there
// exactly as from a transfer folder.  The folder goes when the object goes,
// whatever happened.  Our own archives, Info-ZIP's and 7-Zip's are read
// alike: stored and deflated entries, data descriptors, Zip64 records.  The
// rules are in docs/zip_format.md under "Reading".

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dalimor {

// An archive that is not received; what() is the Czech text for the user,
// naming the archive and what is wrong with it.
class ArchiveRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The status bar text while the archive is unpacked.
inline constexpr std::string_view kUnpackStatusText = "Probíhá rozbalování archivu dávky...";

// Limits against archives that would fill the disk ("zip bombs").  The
// total of the unpacked sizes must stay below kUnpackMaxTotalSize and leave
// kUnpackFreeSpaceReserve free in the temporary folder's file system; an
// entry of more than kUnpackRatioFloor bytes may be at most
// kUnpackMaxRatio times its packed size (Paradox tables pack about 10:1).
inline constexpr uint64_t kUnpackMaxTotalSize = uint64_t{16} << 30;
inline constexpr uint64_t kUnpackFreeSpaceReserve = uint64_t{64} << 20;
inline constexpr uint64_t kUnpackRatioFloor = uint64_t{16} << 20;
inline constexpr uint64_t kUnpackMaxRatio = 250;

// Prefix of the private folders below the temporary root.
inline constexpr std::string_view kUnpackFolderPrefix = "dalimor-zip-";

struct UnpackRules {
  // Whether an entry of this name belongs in the archive (the batch's file
  // names, compared without regard to case).  Unset: every name.
  std::function<bool(std::string_view name)> accepts;
  // The most entries the archive may hold.
  size_t max_entries = 0;
  // Where the private folder is made; empty: the system's temporary folder
  // ($TMPDIR, else /tmp).
  std::filesystem::path temporary_root;
  // Runs after each piece unpacked; may throw to stop (the folder goes).
  std::function<void()> progress;
};

// A checked archive unpacked into a private temporary folder.
class UnpackedArchive {
 public:
  // Checks `archive_path` and unpacks it into a new folder
  // "<root>/dalimor-zip-XXXXXX" (mode 0700, only the user can enter it).
  // Folders of that name that unpacking runs killed earlier left behind
  // are removed first (a folder in use is locked by its run and stays).
  // Refused, with the folder removed again, when the archive:
  //  - cannot be read, is no zip, is truncated or damaged, spans several
  //    disks, or its records contradict one another;
  //  - holds more than rules.max_entries entries, or one name twice
  //    (without regard to case);
  //  - holds a name with a folder part, "..", an absolute path, a drive
  //    letter, a control character, or a name rules.accepts refuses;
  //  - holds a folder, a link or an encrypted entry, or a compression
  //    method other than stored and deflate;
  //  - would unpack to more than the limits above or than the free space;
  //  - holds an entry whose data do not unpack to its size and CRC.
  // Throws ArchiveRefused, and whatever rules.progress throws.
  UnpackedArchive(const std::string& archive_path, const UnpackRules& rules);
  // Removes the folder and everything in it.
  ~UnpackedArchive();
  UnpackedArchive(const UnpackedArchive&) = delete;
  UnpackedArchive& operator=(const UnpackedArchive&) = delete;

  // The folder holding the unpacked files, ending in "/".
  const std::string& folder() const { return folder_; }
  // The number of files unpacked.
  size_t file_count() const { return file_count_; }

 private:
  void Remove();

  std::filesystem::path path_;  // the folder, as the system names it
  std::string folder_;
  int lock_fd_ = -1;  // keeps the folder's lock while it is in use
  size_t file_count_ = 0;
};

}  // namespace dalimor
