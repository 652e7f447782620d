// A cheap look at a statement's leading words: enough to send most
// statements straight to execution without a prepare round trip, and to
// tell the transaction statements the session handles itself.
#pragma once

#include <string_view>

namespace tallo::engine::fb {

enum class StatementKind {
    Plain,           // no result set: execute at once
    Ddl,             // data definition: execute at once (apart from the main transaction under AUTODDL)
    Prepared,        // may return rows or needs the server's classification
    Commit,          // COMMIT [WORK]
    CommitRetain,    // COMMIT [WORK] RETAIN [SNAPSHOT]
    Rollback,        // ROLLBACK [WORK]
    RollbackRetain,  // ROLLBACK [WORK] RETAIN [SNAPSHOT]
    SetTransaction,  // SET TRANSACTION ...
};

StatementKind ClassifyStatement(std::string_view sql);

// Whether the database text names a server ("host:path", "host/port:path",
// "\\host\path", "inet://...") rather than a local file or alias, which is
// opened embedded. A colon right after one letter is a drive letter; a text
// beginning with '/', '.' or '\' is a path even with a colon further on.
bool IsServerDatabase(std::string_view database);

}  // namespace tallo::engine::fb
