// The session on Firebird's OO API: one attachment and the transactions
// isql keeps on it, started and ended where isql starts and ends them, so a
// database trigger ON TRANSACTION START sees the same starts (each was
// settled with isql-fb and Firebird's audit trace):
// - the main transaction (default: snapshot, wait, read-write, or what SET
//   TRANSACTION asked for) holds the script's work;
// - the metadata transaction (read committed, no record version, wait,
//   read-write) is where isql compiles statements and, with AUTODDL, runs
//   each data-definition statement and commits it right after (also after
//   a failed one). Without AUTODDL it is not started.
// Both are started at attachment, main first. A COMMIT or ROLLBACK [RETAIN]
// ends the main one as asked and commits the metadata one; an AUTODDL
// commit ends the metadata one. Whatever ended is started again only at the
// next statement that goes to the database (COMMIT and ROLLBACK included,
// SHOW and the SET commands not). SET TRANSACTION rolls the main one back,
// commits the metadata one and starts its own. Each SHOW command reads in a
// default transaction of its own.
//
// The main snapshot is taken at its start: a DML statement does not see the
// system table rows of objects that AUTODDL committed after that point,
// exactly as in isql, though it may use those objects, since it is compiled
// in the metadata transaction, which sees all committed metadata. While the
// main transaction sees the same metadata (nothing committed by AUTODDL
// since it began) compiling in it gives the same answer, and the statement
// takes the quicker one-call path.
#include "engine/firebird/firebird_session.h"

namespace tallo::engine::fb {

void FirebirdSession::EndWork() {
    if (!att_)
        return;
    Guarded([&] {
        if (tra_)
            End(tra_, false);
        End(meta_, true);
    });
}

void FirebirdSession::SetTransaction(const std::string& statement) {
    RequireAttachment();
    Guarded([&] {
        if (tra_)
            End(tra_, false);
        End(meta_, true);
        tra_ = Ref<ITransaction>(
            att_->execute(status_.get(), nullptr, static_cast<unsigned>(statement.size()), statement.data(),
                          static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr));
        apart_ = false;
    });
}

void FirebirdSession::Commit(bool retain) {
    EndMain(true, retain);
}

void FirebirdSession::Rollback(bool retain) {
    EndMain(false, retain);
}

void FirebirdSession::BeginShow() {
    RequireAttachment();
    Guarded([&] { show_ = Ref<ITransaction>(att_->startTransaction(status_.get(), 0, nullptr)); });
}

void FirebirdSession::EndShow() {
    if (!show_)
        return;
    Guarded([&] { End(show_, true); });
}

// Starts the transactions a statement needs that are not open: the main
// one, and with AUTODDL the metadata one.
void FirebirdSession::StartTransactions() {
    if (!tra_) {
        tra_ = Ref<ITransaction>(att_->startTransaction(status_.get(), 0, nullptr));
        apart_ = false;
    }
    if (!meta_ && options_.autoddl) {
        static const unsigned char kReadCommitted[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_wait,
                                                       isc_tpb_read_committed, isc_tpb_no_rec_version};
        meta_ =
            Ref<ITransaction>(att_->startTransaction(status_.get(), sizeof kReadCommitted, kReadCommitted));
    }
}

// Commits or rolls back an open transaction. A failed commit leaves it
// open for the caller to decide.
void FirebirdSession::End(Ref<ITransaction>& tra, bool commit) {
    if (!tra)
        return;
    if (commit) {
        tra->commit(status_.get());
    } else {
        tra->rollback(status_.get());
    }
    tra.Ended();
}

// COMMIT and ROLLBACK [RETAIN]: the main transaction ended as asked (a
// failed commit leaves it open with its work), then the metadata one
// committed.
void FirebirdSession::EndMain(bool commit, bool retain) {
    if (!att_)
        return;
    Guarded([&] {
        StartTransactions();
        try {
            if (retain) {
                if (commit) {
                    tra_->commitRetaining(status_.get());
                } else {
                    tra_->rollbackRetaining(status_.get());
                }
            } else {
                End(tra_, commit);
            }
        } catch (const FbException&) {
            EndQuietly(meta_);
            throw;
        }
        End(meta_, true);
    });
}

// Commits a transaction whose failure is not the one to report (a
// commit that fails rolls it back).
void FirebirdSession::EndQuietly(Ref<ITransaction>& tra) {
    if (!tra)
        return;
    fb::Status status;
    try {
        tra->commit(status.get());
        tra.Ended();
    } catch (const FbException&) {
        tra.Reset();
    }
}
}  // namespace tallo::engine::fb
