// Whole-file reads and writes for the stored panel, prefs.dat and the export
// files. A write goes to a temporary file in the same folder which is renamed
// over the target only when every byte is on disk, so a failure or a crash
// leaves either the old file or the new one, never half of one.
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
    Failed,    // exists but cannot be read (permissions, a folder, an I/O error)
};

// Reads a whole file of at most maxBytes. On anything but Ok, *error holds a
// one-line reason (empty for Missing).
ReadStatus readWholeFile(const std::filesystem::path& file, std::size_t maxBytes, std::string* bytes,
                         std::string* error);

// Writes bytes as the whole content of file (atomically, see above). The file
// gets the usual permissions for new files (0666 less the umask). Returns false
// with a one-line reason in *error ("cannot write FILE: reason"); then nothing
// of the new content is left behind.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string* error);

// Moves a damaged file aside to FILE.bad (replacing an older one), so that the
// next orderly save does not destroy it. Returns the new name, or "" when the
// rename failed.
std::filesystem::path moveAside(const std::filesystem::path& file);

}  // namespace miral::storage
