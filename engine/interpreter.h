// The command interpreter: runs a script's statements on a session and
// reports through the three callbacks.
//
// Order of reports for each statement: a status text (throttled: the first
// and the last statement, otherwise at most about ten a second), the
// statement text (passwords masked), then an error if it failed, and for a
// SELECT without OUTPUT its rows as a readable table. At the end one
// statement text sums the run up.
//
// Transactions: AUTODDL (on by default) commits after every data-definition
// statement. At the end of the text the work is committed and the attachment
// ended; after SET BAIL stopped the run, after QUIT, or when the connection
// was lost, it is rolled back instead. CONNECT while connected ends the old
// attachment first and commits its work (the session's Connect does that).
// EXIT ends the script and commits, QUIT ends it and rolls back.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/session.h"

namespace tallo::engine {

// The receiving end of the reports; the exported entry forwards them to the
// caller's callbacks.
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void Error(const std::string& message, const std::string& where) = 0;
    virtual void Status(const std::string& text) = 0;
    virtual void Statement(const std::string& text) = 0;
};

using SessionFactory = std::function<std::unique_ptr<Session>()>;

// Readable tables in the protocol stop after this many rows.
constexpr std::size_t kProtocolTableRows = 1000;

// Runs the whole text; answers the number of errors reported.
int RunScript(std::string_view text, Reporter& reporter, const SessionFactory& make_session);

}  // namespace tallo::engine
