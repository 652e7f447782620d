// The lock folder of the embedded engine. Firebird keeps its lock and shared
// memory files in one folder (FIREBIRD_LOCK, by default /tmp/firebird, which
// the server package makes writable for group firebird only). An ordinary
// user would fail every embedded attachment there, so before the first
// Firebird call the engine picks a private per-user folder when FIREBIRD_LOCK
// is unset and the default folder is not writable for this process.
#pragma once

#include <string>

namespace tallo::engine::fb {

// Firebird's default lock folder on this platform.
inline constexpr const char* kDefaultLockFolder = "/tmp/firebird";

// The folder to use: "" keeps Firebird's own choice (FIREBIRD_LOCK set, or
// the default folder usable), otherwise "/tmp/firebird-<uid>".
std::string ChooseLockFolder(const char* env_lock, const std::string& default_folder, unsigned uid);

// Applies the choice to this process once (sets FIREBIRD_LOCK and creates
// the private folder, mode 0700, refusing one that another user owns).
// Answers the folder set, "" when Firebird's own choice stands.
std::string PrepareLockFolder();

}  // namespace tallo::engine::fb
