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
#include <ibase.h>

#include <cstring>
#include <mutex>

#include "engine/firebird/attachment_facts.h"
#include "engine/firebird/create_statement.h"
#include "engine/firebird/fb_api.h"
#include "engine/firebird/lock_folder.h"
#include "engine/firebird/row_reader.h"
#include "engine/firebird/statement_cache.h"
#include "engine/firebird/statement_kind.h"
#include "engine/firebird/status_text.h"
#include "engine/session.h"

namespace tallo::engine {
namespace fb {

namespace {

// Shuts Firebird down (attachments, the embedded engine and its threads)
// when the process ends or this library is unloaded. Made right after
// Firebird is first reached, so it runs before Firebird's own libraries are
// finished: without it Firebird's threads still run while the process exits,
// and the database files are closed by the system instead of by Firebird.
struct FirebirdShutdown {
    ~FirebirdShutdown() { fb_shutdown(0, fb_shutrsn_app_stopped); }
};

}  // namespace

Firebird::IMaster* Master() {
    static Firebird::IMaster* master = [] {
        PrepareLockFolder();
        Firebird::IMaster* m = Firebird::fb_get_master_interface();
        static FirebirdShutdown shutdown;
        return m;
    }();
    return master;
}

}  // namespace fb

namespace {

using fb::Ref;
using Firebird::FbException;
using Firebird::IAttachment;
using Firebird::IMessageMetadata;
using Firebird::IProvider;
using Firebird::IResultSet;
using Firebird::IStatement;
using Firebird::IStatus;
using Firebird::ITransaction;
using Firebird::IXpbBuilder;

class FirebirdSession final : public Session {
  public:
    FirebirdSession() : util_(fb::Master()->getUtilInterface()), provider_(fb::Master()->getDispatcher()) {}

    ~FirebirdSession() override {
        // A session dropped without Disconnect rolls back what it left open.
        cache_.Clear();
        show_.Reset();
        meta_.Reset();
        tra_.Reset();
        std::lock_guard<std::mutex> lock(att_mutex_);
        att_.Reset();
    }

    // The attachment changes only under att_mutex_, so a cancel from another
    // thread never meets one that is being ended.
    void Cancel() override {
        std::lock_guard<std::mutex> lock(att_mutex_);
        if (!att_)
            return;
        fb::Status status;
        try {
            att_->cancelOperation(status.get(), fb_cancel_raise);
        } catch (const FbException&) {
            // Nothing running to cancel, or the attachment is gone.
        }
    }

    void Connect(const ConnectParams& params) override {
        Disconnect(false);
        Guarded([&] {
            fb::Xpb dpb(status_, IXpbBuilder::DPB);
            auto* st = status_.get();
            if (!params.user.empty())
                dpb->insertString(st, isc_dpb_user_name, params.user.c_str());
            if (!params.password.empty())
                dpb->insertString(st, isc_dpb_password, params.password.c_str());
            if (!params.role.empty())
                dpb->insertString(st, isc_dpb_sql_role_name, params.role.c_str());
            if (!params.charset.empty())
                dpb->insertString(st, isc_dpb_lc_ctype, params.charset.c_str());
            dpb->insertInt(st, isc_dpb_sql_dialect, params.dialect);
            if (params.cache > 0)
                dpb->insertInt(st, isc_dpb_num_buffers, params.cache);
#ifndef _WIN32
            // The engine hands file names over in UTF-8 here; a server on
            // another system converts them to its own file names.
            dpb->insertTag(st, isc_dpb_utf8_filename);
#endif
            // A local path must open the file in this process: without this
            // Firebird quietly tries the loopback server when the embedded
            // engine fails.
            if (!fb::IsServerDatabase(params.database)) {
                dpb->insertString(st, isc_dpb_config, "Providers=Engine12");
            }
            Ref<IAttachment> att(provider_->attachDatabase(st, params.database.c_str(),
                                                           dpb->getBufferLength(st), dpb->getBuffer(st)));
            SetAttachment(std::move(att));
            StartTransactions();
        });
        dialect_ = params.dialect;
    }

    void CreateDatabase(const std::string& statement, const ConnectParams& params) override {
        Disconnect(false);
        std::string sql = fb::CompleteCreateDatabase(statement, params);
        Guarded([&] {
            FB_BOOLEAN is_create = 0;
            SetAttachment(Ref<IAttachment>(
                util_->executeCreateDatabase(status_.get(), static_cast<unsigned>(sql.size()), sql.c_str(),
                                             static_cast<unsigned>(params.dialect), &is_create)));
            if (!is_create)
                throw SessionError("Not a CREATE DATABASE statement");
            StartTransactions();
        });
        dialect_ = params.dialect;
    }

    void DropDatabase() override {
        RequireAttachment();
        cache_.Clear();
        Guarded([&] {
            show_.Reset();
            meta_.Reset();
            tra_.Reset();
            std::lock_guard<std::mutex> lock(att_mutex_);
            att_->dropDatabase(status_.get());
            att_.Ended();
        });
    }

    void Disconnect(bool commit) override {
        cache_.Clear();
        if (!att_)
            return;
        try {
            Guarded([&] {
                show_.Reset();
                End(meta_, commit);
                if (tra_)
                    End(tra_, commit);
                std::lock_guard<std::mutex> lock(att_mutex_);
                att_->detach(status_.get());
                att_.Ended();
            });
        } catch (const SessionError& e) {
            // Whatever failed, the attachment ends here (a transaction that
            // could not commit is rolled back); only a live one's failure is
            // news to the caller.
            show_.Reset();
            meta_.Reset();
            tra_.Reset();
            {
                std::lock_guard<std::mutex> lock(att_mutex_);
                att_.Reset();
            }
            if (!e.connection_lost)
                throw;
        }
    }

    void EndWork() override {
        if (!att_)
            return;
        Guarded([&] {
            if (tra_)
                End(tra_, false);
            End(meta_, true);
        });
    }

    bool Connected() const override {
        return static_cast<bool>(att_);
    }

    ExecResult Execute(const std::string& sql, RowSink* sink) override {
        RequireAttachment();
        ExecResult result;
        if (show_) {
            // SHOW's own reads: SET PLAN, PLANONLY and ROWCOUNT are not
            // theirs.
            static const SessionOptions kRead;
            Guarded([&] { result = ExecutePrepared(sql, sink, show_.get(), show_.get(), kRead); });
            return result;
        }
        const fb::StatementKind kind = fb::ClassifyStatement(sql);
        if (Reuse(kind, sql, result))
            return result;
        switch (kind) {
            case fb::StatementKind::Commit:
                Commit(false);
                return result;
            case fb::StatementKind::CommitRetain:
                Commit(true);
                return result;
            case fb::StatementKind::Rollback:
                Rollback(false);
                return result;
            case fb::StatementKind::RollbackRetain:
                Rollback(true);
                return result;
            case fb::StatementKind::SetTransaction:
                SetTransaction(sql);
                return result;
            case fb::StatementKind::Ddl:
                result.ddl = true;
                if (options_.plan_only)
                    break;
                Guarded([&] {
                    StartTransactions();
                    if (!options_.autoddl) {
                        RunDdl([&](ITransaction* tra) {
                            att_->execute(status_.get(), tra, static_cast<unsigned>(sql.size()), sql.data(),
                                          static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr,
                                          nullptr);
                        });
                        return;
                    }
                    // Compiled apart from its execution: a statement that
                    // does not compile is no data definition yet, and leaves
                    // the metadata transaction open.
                    auto* st = status_.get();
                    Ref<IStatement> statement(att_->prepare(st, meta_.get(),
                                                            static_cast<unsigned>(sql.size()), sql.data(),
                                                            static_cast<unsigned>(dialect_), 0));
                    RunDdl([&](ITransaction* tra) {
                        statement->execute(st, tra, nullptr, nullptr, nullptr, nullptr);
                    });
                    statement->free(st);
                    statement.Ended();
                });
                return result;
            case fb::StatementKind::Plain:
                // The one-call path tells neither the rows affected nor the plan.
                if (options_.count || options_.plan || options_.plan_only)
                    break;
                Guarded([&] {
                    StartTransactions();
                    ITransaction* compile = CompileTransaction();
                    if (compile != tra_.get()) {
                        // Compiled apart, executed in the main transaction,
                        // with nothing asked of the statement but that.
                        auto* st = status_.get();
                        Ref<IStatement> statement(att_->prepare(st, compile,
                                                                static_cast<unsigned>(sql.size()), sql.data(),
                                                                static_cast<unsigned>(dialect_), 0));
                        statement->execute(st, tra_.get(), nullptr, nullptr, nullptr, nullptr);
                        statement->free(st);
                        statement.Ended();
                        return;
                    }
                    att_->execute(status_.get(), tra_.get(), static_cast<unsigned>(sql.size()), sql.data(),
                                  static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr);
                });
                return result;
            case fb::StatementKind::Prepared:
                break;
        }
        Guarded([&] {
            StartTransactions();
            result = ExecutePrepared(sql, sink, CompileTransaction(), tra_.get(), options_);
        });
        return result;
    }

    void SetTransaction(const std::string& statement) override {
        RequireAttachment();
        Guarded([&] {
            if (tra_)
                End(tra_, false);
            End(meta_, true);
            tra_ = Ref<ITransaction>(att_->execute(
                status_.get(), nullptr, static_cast<unsigned>(statement.size()), statement.data(),
                static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr));
            apart_ = false;
        });
    }

    void Commit(bool retain) override {
        EndMain(true, retain);
    }

    void Rollback(bool retain) override {
        EndMain(false, retain);
    }

    bool InTransaction() const override {
        return static_cast<bool>(tra_);
    }

    void SetOptions(const SessionOptions& options) override {
        options_ = options;
    }

    void BeginShow() override {
        RequireAttachment();
        Guarded([&] { show_ = Ref<ITransaction>(att_->startTransaction(status_.get(), 0, nullptr)); });
    }

    void EndShow() override {
        if (!show_)
            return;
        Guarded([&] { End(show_, true); });
    }

    std::optional<Counters> ReadCounters() override {
        if (!att_)
            return std::nullopt;
        static const unsigned char kItems[] = {
            isc_info_current_memory, isc_info_max_memory, isc_info_num_buffers, isc_info_reads,
            isc_info_writes,         isc_info_fetches,    isc_info_end};
        unsigned char buffer[128] = {};
        Guarded([&] { att_->getInfo(status_.get(), sizeof kItems, kItems, sizeof buffer, buffer); });
        Counters counters;
        const unsigned char* p = buffer;
        const unsigned char* const end = buffer + sizeof buffer;
        while (p + 3 <= end && *p != isc_info_end) {
            const unsigned char item = *p;
            const auto length = static_cast<unsigned short>(isc_portable_integer(p + 1, 2));
            if (p + 3 + length > end)
                break;
            const std::int64_t value = isc_portable_integer(p + 3, static_cast<short>(length));
            p += 3 + length;
            switch (item) {
                case isc_info_current_memory:
                    counters.current_memory = value;
                    break;
                case isc_info_max_memory:
                    counters.max_memory = value;
                    break;
                case isc_info_num_buffers:
                    counters.buffers = value;
                    break;
                case isc_info_reads:
                    counters.reads = value;
                    break;
                case isc_info_writes:
                    counters.writes = value;
                    break;
                case isc_info_fetches:
                    counters.fetches = value;
                    break;
                default:
                    break;
            }
        }
        return counters;
    }

    AttachmentFacts Facts() override {
        RequireAttachment();
        AttachmentFacts facts;
        Guarded([&] { facts = fb::ReadAttachmentFacts(status_.get(), util_, att_.get()); });
        return facts;
    }

  private:
    void RequireAttachment() const {
        if (!att_)
            throw SessionError("No database is connected", "08003");
    }

    // Starts the transactions a statement needs that are not open: the main
    // one, and with AUTODDL the metadata one.
    void StartTransactions() {
        if (!tra_) {
            tra_ = Ref<ITransaction>(att_->startTransaction(status_.get(), 0, nullptr));
            apart_ = false;
        }
        if (!meta_ && options_.autoddl) {
            static const unsigned char kReadCommitted[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_wait,
                                                           isc_tpb_read_committed, isc_tpb_no_rec_version};
            meta_ = Ref<ITransaction>(
                att_->startTransaction(status_.get(), sizeof kReadCommitted, kReadCommitted));
        }
    }

    // Commits or rolls back an open transaction. A failed commit leaves it
    // open for the caller to decide.
    void End(Ref<ITransaction>& tra, bool commit) {
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
    void EndMain(bool commit, bool retain) {
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
    void EndQuietly(Ref<ITransaction>& tra) {
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
    bool Reuse(fb::StatementKind kind, const std::string& sql, ExecResult& result) {
        if (!fb::KeepsStatements(kind, sql)) {
            cache_.Clear();
            return false;
        }
        if (kind != fb::StatementKind::Plain && kind != fb::StatementKind::Prepared)
            return false;
        // Counts and plans (SET COUNT, PLAN, PLANONLY) come from the
        // statement as written.
        if (options_.count || options_.plan || options_.plan_only)
            return false;
        bool done = false;
        std::int64_t* rows = kind == fb::StatementKind::Prepared ? &result.rows_affected : nullptr;
        Guarded([&] {
            StartTransactions();
            done = cache_.Execute(status_.get(), att_.get(), CompileTransaction(), tra_.get(), dialect_, sql,
                                  rows);
        });
        return done;
    }

    // Compiles sql in compile and runs it in tra, as options ask.
    ExecResult ExecutePrepared(const std::string& sql, RowSink* sink, ITransaction* compile,
                               ITransaction* tra, const SessionOptions& options) {
        auto* st = status_.get();
        ExecResult result;
        Ref<IStatement> statement(att_->prepare(st, compile, static_cast<unsigned>(sql.size()), sql.data(),
                                                static_cast<unsigned>(dialect_),
                                                IStatement::PREPARE_PREFETCH_METADATA));
        unsigned type = statement->getType(st);
        result.ddl = type == isc_info_sql_stmt_ddl;
        if (options.plan || options.plan_only) {
            // DDL, EXECUTE PROCEDURE and plain INSERTs have no plan.
            const char* plan = statement->getPlan(st, false);
            if (plan != nullptr)
                result.plan = plan;
        }
        if (options.plan_only) {
            statement->free(st);
            statement.Ended();
            return result;
        }
        Ref<IMessageMetadata> output(statement->getOutputMetadata(st));
        if (result.ddl) {
            RunDdl(
                [&](ITransaction* ddl) { statement->execute(st, ddl, nullptr, nullptr, nullptr, nullptr); });
        } else if (output->getCount(st) == 0) {
            statement->execute(st, tra, nullptr, nullptr, nullptr, nullptr);
            // isql counts no rows for EXECUTE PROCEDURE and EXECUTE BLOCK.
            if (type != isc_info_sql_stmt_exec_procedure)
                result.rows_affected = static_cast<std::int64_t>(statement->getAffectedRecords(st));
        } else if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
            rows_.Describe(st, output.get());
            Ref<IResultSet> cursor(statement->openCursor(st, tra, nullptr, nullptr, output.get(), 0));
            // The sink hears of the result only once the first fetch has
            // answered, so a statement failing there leaves it untouched.
            // SET ROWCOUNT ends the fetching early.
            const std::uint64_t limit = options.row_limit;
            std::uint64_t fetched = 0;
            auto fetch = [&] {
                if (limit != 0 && fetched == limit)
                    return false;
                const bool got = cursor->fetchNext(st, rows_.buffer()) == IStatus::RESULT_OK;
                fetched += got ? 1 : 0;
                return got;
            };
            bool more = fetch();
            if (sink)
                sink->Begin(rows_.columns());
            for (; more; more = fetch()) {
                if (sink)
                    sink->Row(rows_.Format(st, att_.get(), tra));
            }
            cursor->close(st);
            cursor.Ended();
            if (sink)
                sink->End();
            result.rows_affected = static_cast<std::int64_t>(fetched);
        } else {
            // EXECUTE PROCEDURE and DML with RETURNING answer one row (and
            // isql counts none).
            rows_.Describe(st, output.get());
            statement->execute(st, tra, nullptr, nullptr, output.get(), rows_.buffer());
            if (sink) {
                sink->Begin(rows_.columns());
                sink->Row(rows_.Format(st, att_.get(), tra));
                sink->End();
            }
        }
        statement->free(st);
        statement.Ended();
        return result;
    }

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

}  // namespace

std::unique_ptr<Session> MakeFirebirdSession() {
    return std::make_unique<FirebirdSession>();
}

void ShutdownFirebirdClient() {
    fb_shutdown(0, fb_shutrsn_app_stopped);
}

}  // namespace tallo::engine
