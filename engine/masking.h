// Password masking for every text the engine reports.
#pragma once

#include <string>
#include <string_view>

namespace tallo::engine {

// The text with the operand after every PASSWORD keyword (outside strings,
// identifiers and comments) replaced by ****, its quotes kept:
// CONNECT 'db' USER 'U' PASSWORD 'secret' -> CONNECT 'db' USER 'U' PASSWORD '****'.
// Covers CONNECT, CREATE DATABASE, CREATE/ALTER USER and the like.
std::string MaskPasswords(std::string_view text);

}  // namespace tallo::engine
