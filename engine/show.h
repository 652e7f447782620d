// The SHOW commands of a script: listings of the database's metadata, read
// from the system tables through the session (in a transaction of the
// command's own, see Session::BeginShow) and laid out as isql lays them out,
// so a script written for isql leaves the same listing in the protocol.
//
// A listing is answered as its lines: each becomes one protocol entry, so a
// line the tool leaves out of its protocol (one naming CONNECT, say) takes
// no other line with it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/commands.h"
#include "engine/failure.h"
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
// alone); mostly empty.
class ShowFailure : public EngineFailure {
  public:
    explicit ShowFailure(const std::string& message, std::vector<std::string> listing = {})
        : EngineFailure(message), listing(std::move(listing)) {}
    std::vector<std::string> listing;
};

// Reads a SHOW statement (terminator removed) into its node: a Show, or a
// ShowError for one no database can answer.
Command ParseShow(std::string_view statement);

// Runs one SHOW command and answers the lines of its listing. Throws
// ShowFailure and SessionError.
std::vector<std::string> Show(Session& session, const command::Show& show, const ShowSettings& settings);

class OutputFile;
class Reporter;

// Runs a SHOW command of a script: the listing goes to the protocol, a line
// to an entry, and while one is open to the OUTPUT file. A command that
// cannot be answered is an error of the statement, as in isql: throws
// CommandError (after the lines isql prints all the same) and SessionError.
void RunShowCommand(Session& session, const command::Show& show, const ShowSettings& settings,
                    Reporter& reporter, OutputFile* output);
void RunShowCommand(Session& session, const command::ShowError& error, Reporter& reporter,
                    OutputFile* output);

// The isql commands that belong to an interactive session (SHELL, EDIT,
// BLOBDUMP, BLOBVIEW, HELP, ADD, COPY): the refusal's message when the
// statement is one of them, "" otherwise.
std::string InteractiveCommandRefusal(std::string_view first_word);

// Two names to a line, as isql lists tables, views, domains, roles and
// packages. charset tells how wide a name's bytes are in isql's reckoning.
std::string NameColumns(const std::vector<std::string>& names, const std::string& charset);

}  // namespace tallo::engine
