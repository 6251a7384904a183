#pragma once
// Packing the transfer folder into one zip archive after a send, so that the
// batch travels as a single file.  The archive lies in the transfer folder
// itself and is named after it ("/data/Davka/" gives "/data/Davka/Davka.zip").
// It holds every file directly in the folder, in listing order, except hidden
// and system files, sub-folders and the archive itself; names are stored in
// code page 852.  The record layout is in docs/zip_format.md.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "util/ui.h"

namespace dalimor {

// The status bar text while the archive is written.
inline constexpr std::string_view kArchiveStatusText = "Probíhá komprimace dávky do archivu zip...";
// The base name used when the transfer folder path is too short to name one.
inline constexpr std::string_view kArchiveFallbackBaseName = "zaloha";
// The message of a write that found the disk full.
inline constexpr std::string_view kArchiveDiskFullText = "Not enough room to write archive";

// zlib level and the size of the input pieces and of the output buffer.
inline constexpr int kArchiveCompressionLevel = 6;
inline constexpr size_t kArchiveBufferSize = 65535;

// The last component of a folder path that ends in the separator "/": the
// characters after the last "/" that comes before the final character, up
// to but not including the final "/".  Empty when the path has fewer than 4
// characters ("/" or "/a/").  A path with no "/" before its final character
// gives the whole path without that character.  A path that does not end in
// "/" is taken as if it did ("/data/Davka" gives "Davka").  On Windows "\"
// separates as well as "/" ("C:\Prenos\Davka\" gives "Davka").
std::string ArchiveBaseName(std::string_view folder_path);

// Where the archive of a transfer folder goes: the folder path (with a
// trailing "/"), the base name (or "zaloha") and ".zip".
std::string ArchivePath(const std::string& transfer_folder_path);

// The one system call through which the archive is written: pwrite's
// contract (bytes written, or -1 with errno set).  Tests replace it to
// simulate a full disk or a failing device.
using ArchiveWriteFunction =
    std::function<int64_t(int fd, const void* data, size_t size, uint64_t offset)>;

// The one system call through which the packed files are read: read's
// contract.  Tests replace it to simulate a failing disk.
using ArchiveReadFunction = std::function<int64_t(int fd, void* data, size_t size)>;

struct ArchiveOptions {
  ArchiveWriteFunction write;  // empty: WriteNativeAt (pwrite)
  ArchiveReadFunction read;    // empty: ReadNative (read)
};

// Packs the transfer folder into its archive (ArchivePath), replacing an
// earlier archive of that name.  The archive is written under a hidden
// temporary name in the folder and takes its own name only once it is
// complete and flushed to disk, so a crash or a kill never leaves a partly
// written archive under that name; temporary files that a killed send left
// are deleted first (hidden files are never packed).  Shows
// kArchiveStatusText in the status bar and the busy cursor while it runs,
// and calls ui.ProcessPendingEvents() after each piece of input so that the
// window keeps repainting (the front end should not act on user input
// there).  A file that cannot be opened is left out without a message.
//
// Never throws.  Any failure (the archive cannot be created or written, a
// read error, a file or an archive too large for the plain zip format, more
// than 65534 files, an earlier archive that cannot be replaced) stops the
// packing, deletes the partly written archive (its temporary file) and the
// earlier one (which no longer matches the batch) and shows the error with
// MsgError (OK button, no caption of its own); the caller carries on.  A
// relative folder is taken from the working folder and named by its full
// path.  Returns true when the archive was written.
bool ArchiveBatch(Ui& ui, const std::string& transfer_folder_path,
                  const ArchiveOptions& options = {});

}  // namespace dalimor
