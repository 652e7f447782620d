// The names of packed files and of what they unpack to.
#pragma once

#include <string>

namespace tallo {

// The packed file's name: the extension becomes ".Z" followed by its third
// and fourth characters (the dot counts as the first): upd.sql -> upd.Zql,
// upd.sqlite -> upd.Zql, upd.s -> upd.Z, upd -> upd.Z.
std::string PackedNameFor(const std::string& source);
// The unpacked file's name: ".zql" (any letter case) gives ".sql", every
// other extension, none included, gives ".txt".
std::string UnpackedNameFor(const std::string& source);

}  // namespace tallo
