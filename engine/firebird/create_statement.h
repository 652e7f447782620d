// CREATE DATABASE as the engine sends it: the script's statement, completed
// the way isql completes it with the session's settings: USER, PASSWORD and
// the connection character set (SET NAMES) are added right after the file
// name when the statement does not give them itself. The database's default
// character set stays as the statement says (isql adds none either).
#pragma once

#include <string>

#include "engine/session.h"

namespace tallo::engine::fb {

std::string CompleteCreateDatabase(const std::string& statement, const ConnectParams& params);

// s in single quotes, inner quotes doubled.
std::string QuoteLiteral(const std::string& s);

}  // namespace tallo::engine::fb
