// Password masking for every text the engine reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallo::engine {

struct MaskedText {
    std::string text;
    // What was masked, as written and as its value (quotes undone, hex
    // decoded), for texts that may repeat it.
    std::vector<std::string> secrets;
};

// The statement with every secret replaced by ****, its delimiters kept:
// - the operand after the keyword PASSWORD (outside comments) when it is a
//   literal: '...', q'{...}', x'...', or one with an introducer (_win1251 '...');
// - in CONNECT, CREATE DATABASE and the USER statements (CREATE/ALTER/
//   RECREATE [OR ALTER] USER, ALTER CURRENT USER), that operand in any form,
//   a bare word or a "..." one too;
// - in CONNECT and CREATE DATABASE, every string operand after the first
//   (the database), whatever keyword stands before it, so that one whose
//   keywords are misspelled keeps its secrets too;
// - in the USER statements, every literal in every form ('...', q'{...}',
//   x'...', with an introducer) and every "..." but the user name,
//   whatever keywords stand around it;
// - inside a string that names PASSWORD (a text for EXECUTE STATEMENT), the
//   same, applied to the text the string holds.
MaskedText MaskSecrets(std::string_view statement);

// MaskSecrets(text).text:
// CONNECT 'db' USER 'U' PASSWORD 'secret' -> CONNECT 'db' USER '****' PASSWORD '****'.
std::string MaskPasswords(std::string_view text);

// An error text about the statement with every secret of the statement that
// it repeats as a whole token replaced by **** (Firebird's "Token unknown"
// names the bare word it stumbled on).
std::string MaskErrorText(std::string_view message, std::string_view statement);

}  // namespace tallo::engine
