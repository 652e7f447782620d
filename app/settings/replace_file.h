// Crash-safe replacement of a file's whole content.
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace tallo::settings_io {

// Mode and owner of the file being replaced.
struct Ownership {
    mode_t mode;
    uid_t uid;
    gid_t gid;
};

// Writes bytes to a new file in target's folder, flushes it to disk and
// renames it over target, then flushes the folder. keep: the old file's mode
// and owner to give the new one (null for a file that did not exist: the
// default mode under the umask). On any failure the temporary file is
// removed, target is untouched, and the result is false.
bool ReplaceFileContent(const std::string& target, std::string_view bytes, const Ownership* keep);

}  // namespace tallo::settings_io
