// The engine's view of a database: one attachment and the transactions isql
// keeps on it. The main transaction holds the script's work; the metadata
// transaction (read committed, read-write; only under AUTODDL) is where
// statements are compiled and data definition runs and is committed. Both
// are started when the database is attached and, after a COMMIT, ROLLBACK
// or AUTODDL commit ended them, again at the next statement that needs
// them, never sooner: a database trigger ON TRANSACTION START sees the same
// transactions start as under isql.
// The command interpreter drives a Session; the Firebird implementation sits
// on the official client API, and the tests drive the interpreter with a
// scripted fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/failure.h"

namespace tallo::engine {

// Everything the connection parameters carry. Texts are the script's bytes.
struct ConnectParams {
    std::string database;  // passed to Firebird as written
    std::string user;
    std::string password;
    std::string role;
    std::string charset;  // SET NAMES; empty = none
    int dialect = 3;      // SET SQL DIALECT
    int cache = 0;        // CONNECT ... CACHE n; 0 = server default
};

// A failure reported by the database. message is the formatted status text;
// for a user exception raised in PSQL it is that exception's own message alone.
class SessionError : public EngineFailure {
  public:
    SessionError(std::string message, std::string sqlstate = {}, bool user_exception = false,
                 bool connection_lost = false)
        : EngineFailure(std::move(message)),
          sqlstate(std::move(sqlstate)),
          user_exception(user_exception),
          connection_lost(connection_lost) {}
    std::string sqlstate;  // e.g. "42S02"; empty when none
    bool user_exception;   // raised by EXCEPTION in PSQL
    bool connection_lost;  // the attachment is gone; the run must stop
};

struct Column {
    std::string name;      // alias as the database reports it
    bool numeric = false;  // right-aligned in a readable table
};

// Receives the rows of a statement that returns a result set. Values are the
// connection's bytes formatted as text; nullopt is NULL.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void Begin(const std::vector<Column>& columns) = 0;
    virtual void Row(const std::vector<std::optional<std::string>>& values) = 0;
    virtual void End() = 0;
};

struct ExecResult {
    bool ddl = false;  // a data-definition statement
    // What SET COUNT shows: the rows a DML statement changed or a SELECT
    // fetched; -1 for the statements isql counts nothing for (DDL, EXECUTE
    // PROCEDURE, EXECUTE BLOCK, DML with RETURNING) and when not known.
    std::int64_t rows_affected = -1;
    std::string plan;  // with SessionOptions::plan, the access plan ("" when none)
};

// How statements run, as the script's SET commands ask.
struct SessionOptions {
    // SET AUTODDL: each data-definition statement runs in the metadata
    // transaction, which is committed right after it (also when the
    // statement failed); a failed commit is Execute's failure, and leaves the
    // main transaction as it was. When off, DDL runs in the main transaction,
    // statements are compiled there, and no metadata transaction is started.
    bool autoddl = false;
    bool count = false;           // SET COUNT: rows_affected for DML and SELECT
    bool plan = false;            // SET PLAN: ExecResult::plan
    bool plan_only = false;       // SET PLANONLY: statements are prepared, never executed
    std::uint64_t row_limit = 0;  // SET ROWCOUNT: a SELECT stops after this many rows; 0 = all
};

// The attachment's counters that SET STATS shows.
struct Counters {
    std::int64_t current_memory = 0;
    std::int64_t max_memory = 0;
    std::int64_t buffers = 0;
    std::int64_t reads = 0;
    std::int64_t writes = 0;
    std::int64_t fetches = 0;
};

// What an attachment tells of itself beyond the system tables (for the SHOW
// listings of the database and the versions).
struct AttachmentFacts {
    std::int64_t pages_used = -1;  // -1 when not known
    std::int64_t pages_free = -1;
    std::string client_version;                // the client library's version text
    std::vector<std::string> server_versions;  // one line per layer, as isql prints them
};

class Session {
  public:
    virtual ~Session() = default;

    // Attaches; an existing attachment is first ended (its open transaction
    // rolled back).
    virtual void Connect(const ConnectParams& params) = 0;
    // CREATE DATABASE: the whole statement as written in the script; params
    // gives the user, password, character set and dialect in force, which
    // complete the statement where it lacks them. Leaves the new database
    // attached.
    virtual void CreateDatabase(const std::string& statement, const ConnectParams& params) = 0;
    // Drops the attached database.
    virtual void DropDatabase() = 0;
    // Ends the attachment: the open transactions are committed (commit =
    // true) or rolled back, the metadata one first. Never throws for an
    // attachment that is already gone.
    virtual void Disconnect(bool commit) = 0;
    // Before CONNECT or CREATE DATABASE ends the attachment: the main
    // transaction is rolled back and the metadata one committed, as isql
    // does it there; nothing new starts.
    virtual void EndWork() {}
    virtual bool Connected() const = 0;

    // Executes one SQL statement in the main transaction, starting the
    // transactions it needs first. Rows of a result set go to sink (never
    // null when the caller wants them; a null sink discards them).
    virtual ExecResult Execute(const std::string& sql, RowSink* sink) = 0;
    // Runs the first of sqls that can go together (data statements of one
    // shape, whose rows nothing but the statements themselves write) as one
    // statement, in one round trip; answers how many ran. 0 when none could
    // go together, and when the block failed: then none of them ran, and
    // each is to run alone.
    virtual std::size_t ExecuteBlock(const std::vector<std::string_view>& /*sqls*/) { return 0; }
    // SET TRANSACTION ...: the statement as written; rolls back the main
    // transaction and commits the metadata one first, and starts no
    // metadata transaction.
    virtual void SetTransaction(const std::string& statement) = 0;
    // COMMIT and ROLLBACK [RETAIN] start the transactions first when they
    // are not open, as isql does; the metadata transaction is committed
    // after the main one ended, also when that failed.
    virtual void Commit(bool retain) = 0;
    virtual void Rollback(bool retain) = 0;
    // Whether the main transaction is open.
    virtual bool InTransaction() const = 0;

    // SHOW reads the metadata as isql does: each command in a default
    // transaction of its own, started by BeginShow and committed by EndShow,
    // so it sees what is committed when it runs (DDL that AUTODDL committed,
    // not DDL still open in the main transaction). In between, Execute runs
    // its SELECTs there and starts nothing else.
    virtual void BeginShow() {}
    virtual void EndShow() {}

    // The initial options are all off.
    virtual void SetOptions(const SessionOptions& options) = 0;
    // nullopt when no database is attached.
    virtual std::optional<Counters> ReadCounters() = 0;

    // Cancels the statement the database is running for this session, if
    // any; it then fails. Safe from another thread while the session works.
    virtual void Cancel() {}

    // The attachment's own facts; a session that cannot tell them answers
    // them unknown.
    virtual AttachmentFacts Facts() { return {}; }
};

// The session on Firebird's client API (local path = embedded, "host:path" =
// server). Defined by the Firebird implementation.
std::unique_ptr<Session> MakeFirebirdSession();
// Ends the client library's work (its threads, the embedded engine's
// databases) before the process exits. Defined by the same implementation.
void ShutdownFirebirdClient();

}  // namespace tallo::engine
