// The SHOW commands of a script: listings of the database's metadata, read
// from the system tables through the session (in its current transaction)
// and laid out as isql lays them out, so a script written for isql leaves
// the same listing in the protocol.
//
// The listing's lines end with "\n" while it is built; Show answers it with
// the protocol's CR LF.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session.h"

namespace tallo::engine {

// What a listing depends on beyond the database.
struct ShowSettings {
    int client_dialect = 3;
    std::string charset;   // SET NAMES of the connection ("" = none)
    std::string database;  // as the script named it; "" = the server's name for it
};

// A SHOW command that cannot be answered: an unknown object kind, or an
// object that does not exist ("There is no table X in this database").
// listing is what isql prints all the same (its list of the kinds for SHOW
// alone), in the protocol's form; mostly "".
class ShowFailure : public std::runtime_error {
  public:
    explicit ShowFailure(const std::string& message, std::string listing = {})
        : std::runtime_error(message), listing(std::move(listing)) {}
    std::string listing;
};

// Runs one SHOW statement (terminator removed) and answers its listing, lines
// joined with CR LF and without a line end after the last line; "" when the
// listing is empty. Throws ShowFailure and SessionError.
std::string Show(Session& session, std::string_view statement, const ShowSettings& settings);

// The isql commands that belong to an interactive session (SHELL, EDIT,
// BLOBDUMP, BLOBVIEW, HELP, ADD, COPY): the refusal's message when the
// statement is one of them, "" otherwise.
std::string InteractiveCommandRefusal(std::string_view first_word);

// Two names to a line, as isql lists tables, views, domains, roles and
// packages. charset tells how wide a name's bytes are in isql's reckoning.
std::string NameColumns(const std::vector<std::string>& names, const std::string& charset);

}  // namespace tallo::engine
