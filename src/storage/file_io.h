// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and writes for the stored panel, prefs.dat, Prefs.ini and
// the export files. A write goes to a temporary file in the same folder which
// is renamed over the target only when every byte is on disk, so a failure or
// a crash leaves either the old file or the new one, never half of one.
//
// Only plain files are read or replaced: a folder, a FIFO, a socket or a
// device in the place of a file is named in the message and left alone, and
// nothing ever waits on it (a FIFO without a writer would block an ordinary
// open for good).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace miral::storage {

enum class ReadStatus {
    Ok,
    Missing,   // no such file
    TooLarge,  // bigger than the limit: read nothing
    NotAFile,  // a folder, a FIFO, a socket or a device is in its place: read nothing
    Failed,    // a plain file that cannot be read (permissions, an I/O error)
};

// Reads a whole file of at most maxBytes. On anything but Ok, *error holds a
// one-line reason naming the file (empty for Missing), e.g.
// "cannot read /x/prefs.dat: it is a FIFO (named pipe), not a plain file".
ReadStatus readWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string* bytes,
                         std::string* error);

// Opens a plain file for reading without ever blocking; -1 with the status
// (Missing, NotAFile or Failed) and a one-line reason otherwise. The caller
// closes the descriptor.
int openPlainFile(const std::filesystem::path& file, ReadStatus* status, std::string* error);

// Writes bytes as the whole content of file (atomically, see above). The file
// gets the usual permissions for new files (0666 less the umask). Returns false
// with a one-line reason in *error ("cannot write FILE: the disk is full (No
// space left on device); the file already there is unchanged"); then nothing
// of the new content is left behind and the old file is as it was. Something
// other than a plain file in the file's place is never replaced.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string* error);

// Moves a damaged or unreadable file aside to FILE.bad (replacing an older
// one), so that the next orderly save does not destroy it. Returns the new
// name, or "" when the rename failed.
std::filesystem::path moveAside(const std::filesystem::path& file);

}  // namespace miral::storage
