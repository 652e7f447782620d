// The session on Firebird's OO API: one attachment and the transactions
// isql keeps on it. Its parts: the attachment (firebird_session.cpp), the
// statements (session_execute.cpp) and the transactions
// (session_transactions.cpp, where the rules are told).
#pragma once

#include <ibase.h>

#include <cstring>
#include <mutex>

#include "engine/firebird/fb_api.h"
#include "engine/firebird/row_reader.h"
#include "engine/firebird/statement_cache.h"
#include "engine/firebird/statement_kind.h"
#include "engine/firebird/status_text.h"
#include "engine/session.h"

namespace tallo::engine::fb {

using Firebird::FbException;
using Firebird::IAttachment;
using Firebird::IMessageMetadata;
using Firebird::IProvider;
using Firebird::IResultSet;
using Firebird::IStatement;
using Firebird::IStatus;
using Firebird::ITransaction;
using Firebird::IXpbBuilder;

// Its transactions and their rules: session_transactions.cpp.
class FirebirdSession final : public Session {
  public:
    FirebirdSession() : util_(fb::Master()->getUtilInterface()), provider_(fb::Master()->getDispatcher()) {}

    ~FirebirdSession() override;

    // The attachment changes only under att_mutex_, so a cancel from another
    // thread never meets one that is being ended.
    void Cancel() override;
    void Connect(const ConnectParams& params) override;
    void CreateDatabase(const std::string& statement, const ConnectParams& params) override;
    void DropDatabase() override;
    void Disconnect(bool commit) override;
    void EndWork() override;
    bool Connected() const override { return static_cast<bool>(att_); }

    ExecResult Execute(const std::string& sql, RowSink* sink) override;
    std::size_t ExecuteBlock(const std::vector<std::string_view>& sqls) override;
    void SetTransaction(const std::string& statement) override;
    void Commit(bool retain) override;
    void Rollback(bool retain) override;
    bool InTransaction() const override { return static_cast<bool>(tra_); }

    void SetOptions(const SessionOptions& options) override { options_ = options; }

    void BeginShow() override;
    void EndShow() override;
    std::optional<Counters> ReadCounters() override;
    AttachmentFacts Facts() override;

  private:
    void RequireAttachment() const {
        if (!att_)
            throw SessionError("No database is connected", "08003");
    }

    // Starts the transactions a statement needs that are not open: the main
    // one, and with AUTODDL the metadata one.
    void StartTransactions();

    // Commits or rolls back an open transaction. A failed commit leaves it
    // open for the caller to decide.
    void End(Ref<ITransaction>& tra, bool commit);

    // COMMIT and ROLLBACK [RETAIN]: the main transaction ended as asked (a
    // failed commit leaves it open with its work), then the metadata one
    // committed.
    void EndMain(bool commit, bool retain);

    // Commits a transaction whose failure is not the one to report (a
    // commit that fails rolls it back).
    void EndQuietly(Ref<ITransaction>& tra);

    // The transaction statements are compiled in: with AUTODDL the metadata
    // one while the main one's view of the metadata is not the committed
    // one; the main one otherwise (without AUTODDL isql compiles there).
    ITransaction* CompileTransaction() {
        return options_.autoddl && apart_ && meta_ ? meta_.get() : tra_.get();
    }

    // Runs a data-definition statement: without AUTODDL in the main
    // transaction; with AUTODDL in the metadata transaction, which is then
    // committed whatever the statement did: a failed commit rolls it back
    // and is the statement's failure; a failed statement is the failure to
    // report. The main transaction is neither committed nor touched. (isql
    // does this: after "insert ...; alter table ... add foreign key" whose
    // check fails at the commit, one error is shown, the insert stays in the
    // main transaction and the next COMMIT keeps it.)
    template <class F>
    void RunDdl(F&& execute) {
        apart_ = true;
        if (!options_.autoddl) {
            execute(tra_.get());
            return;
        }
        try {
            execute(meta_.get());
        } catch (const FbException&) {
            EndQuietly(meta_);
            throw;
        }
        try {
            End(meta_, true);
        } catch (const FbException&) {
            meta_.Reset();
            throw;
        }
    }

    // A data statement of a shape run before goes through its prepared
    // statement; one that may change metadata first frees them all.
    bool Reuse(fb::StatementKind kind, const std::string& sql, ExecResult& result);

    // Compiles sql in compile and runs it in tra, as options ask.
    ExecResult ExecutePrepared(const std::string& sql, RowSink* sink, ITransaction* compile,
                               ITransaction* tra, const SessionOptions& options);

    // Runs body, turning a Firebird failure into SessionError. A lost
    // connection leaves nothing to end but the interfaces themselves.
    template <class F>
    void Guarded(F&& body) {
        try {
            body();
        } catch (const FbException& e) {
            bool attached = static_cast<bool>(att_);
            SessionError error = fb::ToSessionError(util_, e.getStatus(), attached);
            if (error.connection_lost) {
                show_.Abandon();
                meta_.Abandon();
                tra_.Abandon();
                std::lock_guard<std::mutex> lock(att_mutex_);
                att_.Abandon();
            }
            throw error;
        }
    }

    Firebird::IUtil* util_;
    fb::Status status_;
    Ref<IProvider> provider_;
    void SetAttachment(Ref<IAttachment> att) {
        std::lock_guard<std::mutex> lock(att_mutex_);
        att_ = std::move(att);
    }

    Ref<IAttachment> att_;
    std::mutex att_mutex_;  // held while att_ changes and while it is cancelled
    Ref<ITransaction> tra_;
    Ref<ITransaction> meta_;  // the metadata transaction (see the top)
    Ref<ITransaction> show_;  // the running SHOW command's
    bool apart_ = false;      // AUTODDL committed metadata since the main transaction began
    int dialect_ = 3;
    SessionOptions options_;
    fb::RowReader rows_;
    fb::StatementCache cache_;
};

}  // namespace tallo::engine::fb
