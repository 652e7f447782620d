// The command interpreter: runs a script's statements on a session and
// reports through the three callbacks.
//
// Order of reports for each statement: a status text (throttled: the first
// and the last statement, otherwise at most about ten a second), the
// statement text (passwords masked), then an error if it failed, and for a
// SELECT without OUTPUT its rows as a readable table. At the end one
// statement text sums the run up.
//
// isql's SET options that change what runs or what the protocol shows, each
// with isql's effect and in isql's words:
// - COUNT: "Records affected: n" after each DML statement and SELECT (none
//   after DDL, EXECUTE PROCEDURE, EXECUTE BLOCK and DML with RETURNING).
// - ROWCOUNT n: a SELECT fetches at most n rows (0: all); INSERT ... SELECT
//   and the like are not limited.
// - PLAN: the access plan of each statement that has one, before its rows.
// - PLANONLY: SQL statements, DDL included, are prepared and their plans
//   shown, and nothing is executed, COMMIT and ROLLBACK included; client
//   commands, SET TRANSACTION and SHOW still run. Turning it on turns PLAN on
//   too; turning it off leaves PLAN on.
// - LIST: rows as "name value" lines (see TableBuilder); HEADING: the column
//   titles of a table.
// - STATS: the attachment's counters after each statement sent to the
//   database (COMMIT and ROLLBACK too), after its rows and its count.
// - WIDTH column n: that text column of a table is n characters wide, longer
//   values cut ("SET WIDTH column" alone goes back to the default).
// Accepted and without effect: ECHO (the protocol shows every statement
// anyway), BLOB/BLOBDISPLAY (BLOB text is always shown in the
// row), TIME (only dialect 1 DATE values would change), WARNINGS, WNG,
// SQLDA_DISPLAY, EXEC_PATH_DISPLAY, EXPLAIN, MAXROWS, LOCAL_TIMEOUT,
// AUTOTERM, KEEP_TRAN_PARAMS, PER_TABLE_STATS, WIRE_STATS.
//
// Transactions follow isql (Firebird 3), rule by rule; each was settled by
// running the same script through isql-fb on an embedded database, and the
// transactions started by counting them with a trigger ON TRANSACTION START
// (the session starts exactly isql's, see engine/session.h):
// - The main transaction is started when a database is attached; COMMIT and
//   ROLLBACK [WORK] [RETAIN] act on it (without RETAIN the next one starts
//   at the next statement that goes to the database, so after a COMMIT a
//   CONNECT has no work to roll back). A COMMIT that fails leaves it open
//   with its work, so every later COMMIT fails the same way, and so does the
//   commit at the end, after which the work is rolled back: "set autoddl
//   off; alter table t add <foreign key the rows violate>; insert ...;
//   commit; insert ...; commit;" gives three errors in isql (both COMMITs
//   and the end) and leaves none of the rows.
// - AUTODDL on (the default): each data-definition statement runs in the
//   session's metadata transaction, committed at once; a failed commit is
//   one error and that transaction is rolled back, the main one is
//   untouched (see the session). "insert ...; alter table ... add <violated
//   foreign key>; insert ...; commit;" gives one error in isql and keeps
//   both inserts. AUTODDL off: DDL runs in the main transaction (a table
//   created there takes no rows before COMMIT).
// - SHOW reads in a transaction of its own, committed after it: it shows
//   what AUTODDL committed, and not DDL still open in the main transaction
//   under AUTODDL off (nor after that is rolled back).
// - The end of the text and EXIT commit; QUIT and SET BAIL stopping the run
//   roll back, and so does a stop the operator asks for (StopSignal): the
//   running statement is cancelled, no statement after it runs, and the
//   protocol ends with one error naming the statement it stopped at. A lost
//   connection ends the run with one error; what was not committed is gone
//   with the attachment.
// - CONNECT and CREATE DATABASE while attached roll the open work back and
//   detach before the new attachment is tried (also when it then fails);
//   isql shows "Rolling back work." when a main transaction was open, and so
//   does the protocol.
// - SET TRANSACTION rolls the open work back too ("Rolling back work.")
//   before it starts the transaction it describes; the one after its COMMIT
//   is a default one again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/session.h"
#include "engine/splitter.h"

namespace tallo::engine {

// The receiving end of the reports; the exported entry forwards them to the
// caller's callbacks.
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void Error(const std::string& message, const std::string& where) = 0;
    virtual void Status(const std::string& text) = 0;
    virtual void Statement(const std::string& text) = 0;
    // The statement reported last (number `index` of `total`, at `line` of
    // `file`, "" for the script text) is about to be sent to the database.
    virtual void Executing(std::size_t index, std::size_t total, std::uint32_t line,
                           const std::string& file) {
        (void)index, (void)total, (void)line, (void)file;
    }
};

// A stop of the run asked from another thread. The run attaches its session
// while it has one, so that a stop also cancels the statement the database
// is running.
class StopSignal {
  public:
    // Any thread, any moment, more than once.
    void Request();
    bool Requested() const { return requested_.load(std::memory_order_acquire); }
    // The run's session (null: none); the session outlives its attachment.
    void Attach(Session* session);

  private:
    std::atomic<bool> requested_{false};
    std::mutex mutex_;
    Session* session_ = nullptr;
};

// The error that ends a run the operator stopped.
std::string StoppedText(std::size_t index, std::uint32_t line);

using SessionFactory = std::function<std::unique_ptr<Session>()>;

// Readable tables in the protocol stop after this many rows.
constexpr std::size_t kProtocolTableRows = 1000;

// Runs the whole text; answers the number of errors reported.
// A stop requested on `stop` (when given) ends it early. Relative INPUT names
// of the text are taken from script_folder ("" for the current directory).
int RunScript(std::string_view text, Reporter& reporter, const SessionFactory& make_session,
              StopSignal* stop = nullptr, const std::string& script_folder = {});
// The same for a text read from source, in windows when it is not whole.
int RunScript(ScriptSource& text, Reporter& reporter, const SessionFactory& make_session,
              StopSignal* stop = nullptr, const std::string& script_folder = {});

}  // namespace tallo::engine
