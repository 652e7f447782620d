// The session on Firebird's OO API: one attachment, one main transaction
// started when a statement needs it.
#include <ibase.h>

#include <cstring>

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
        tra_.Reset();
        att_.Reset();
    }

    void Connect(const ConnectParams& params) override {
        Disconnect(true);
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
            att_ = Ref<IAttachment>(provider_->attachDatabase(st, params.database.c_str(),
                                                              dpb->getBufferLength(st), dpb->getBuffer(st)));
        });
        dialect_ = params.dialect;
    }

    void CreateDatabase(const std::string& statement, const ConnectParams& params) override {
        Disconnect(true);
        std::string sql = fb::CompleteCreateDatabase(statement, params);
        Guarded([&] {
            FB_BOOLEAN is_create = 0;
            att_ = Ref<IAttachment>(
                util_->executeCreateDatabase(status_.get(), static_cast<unsigned>(sql.size()), sql.c_str(),
                                             static_cast<unsigned>(params.dialect), &is_create));
            if (!is_create)
                throw SessionError("Not a CREATE DATABASE statement");
        });
        dialect_ = params.dialect;
    }

    void DropDatabase() override {
        RequireAttachment();
        cache_.Clear();
        Guarded([&] {
            tra_.Reset();
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
                if (tra_) {
                    if (commit) {
                        tra_->commit(status_.get());
                    } else {
                        tra_->rollback(status_.get());
                    }
                    tra_.Ended();
                }
                att_->detach(status_.get());
                att_.Ended();
            });
        } catch (const SessionError& e) {
            // Whatever failed, the attachment ends here (a transaction that
            // could not commit is rolled back); only a live one's failure is
            // news to the caller.
            tra_.Reset();
            att_.Reset();
            if (!e.connection_lost)
                throw;
        }
    }

    bool Connected() const override {
        return static_cast<bool>(att_);
    }

    ExecResult Execute(const std::string& sql, RowSink* sink) override {
        RequireAttachment();
        ExecResult result;
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
                [[fallthrough]];
            case fb::StatementKind::Plain:
                Guarded([&] {
                    EnsureTransaction();
                    att_->execute(status_.get(), tra_.get(), static_cast<unsigned>(sql.size()), sql.data(),
                                  static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr);
                });
                return result;
            case fb::StatementKind::Prepared:
                break;
        }
        Guarded([&] { result = ExecutePrepared(sql, sink); });
        return result;
    }

    void SetTransaction(const std::string& statement) override {
        RequireAttachment();
        Commit(false);
        Guarded([&] {
            tra_ = Ref<ITransaction>(att_->execute(
                status_.get(), nullptr, static_cast<unsigned>(statement.size()), statement.data(),
                static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr));
        });
    }

    void Commit(bool retain) override {
        if (!tra_)
            return;
        Guarded([&] {
            if (retain) {
                tra_->commitRetaining(status_.get());
            } else {
                tra_->commit(status_.get());
                tra_.Ended();
            }
        });
    }

    void Rollback(bool retain) override {
        if (!tra_)
            return;
        Guarded([&] {
            if (retain) {
                tra_->rollbackRetaining(status_.get());
            } else {
                tra_->rollback(status_.get());
                tra_.Ended();
            }
        });
    }

    bool InTransaction() const override {
        return static_cast<bool>(tra_);
    }

  private:
    void RequireAttachment() const {
        if (!att_)
            throw SessionError("No database is connected", "08003");
    }

    void EnsureTransaction() {
        if (!tra_)
            tra_ = Ref<ITransaction>(att_->startTransaction(status_.get(), 0, nullptr));
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
        bool done = false;
        // Counts come only where the statement as written gives them.
        std::int64_t* rows = kind == fb::StatementKind::Prepared ? &result.rows_affected : nullptr;
        Guarded([&] {
            EnsureTransaction();
            done = cache_.Execute(status_.get(), att_.get(), tra_.get(), dialect_, sql, rows);
        });
        return done;
    }

    ExecResult ExecutePrepared(const std::string& sql, RowSink* sink) {
        EnsureTransaction();
        auto* st = status_.get();
        ExecResult result;
        Ref<IStatement> statement(att_->prepare(st, tra_.get(), static_cast<unsigned>(sql.size()), sql.data(),
                                                static_cast<unsigned>(dialect_),
                                                IStatement::PREPARE_PREFETCH_METADATA));
        unsigned type = statement->getType(st);
        result.ddl = type == isc_info_sql_stmt_ddl;
        Ref<IMessageMetadata> output(statement->getOutputMetadata(st));
        if (output->getCount(st) == 0) {
            statement->execute(st, tra_.get(), nullptr, nullptr, nullptr, nullptr);
            if (!result.ddl)
                result.rows_affected = static_cast<std::int64_t>(statement->getAffectedRecords(st));
        } else if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
            rows_.Describe(st, output.get());
            Ref<IResultSet> cursor(statement->openCursor(st, tra_.get(), nullptr, nullptr, output.get(), 0));
            // The sink hears of the result only once the first fetch has
            // answered, so a statement failing there leaves it untouched.
            bool more = cursor->fetchNext(st, rows_.buffer()) == IStatus::RESULT_OK;
            if (sink)
                sink->Begin(rows_.columns());
            for (; more; more = cursor->fetchNext(st, rows_.buffer()) == IStatus::RESULT_OK) {
                if (sink)
                    sink->Row(rows_.Format(st, att_.get(), tra_.get()));
            }
            cursor->close(st);
            cursor.Ended();
            if (sink)
                sink->End();
        } else {
            // EXECUTE PROCEDURE and DML with RETURNING answer one row.
            rows_.Describe(st, output.get());
            statement->execute(st, tra_.get(), nullptr, nullptr, output.get(), rows_.buffer());
            result.rows_affected = static_cast<std::int64_t>(statement->getAffectedRecords(st));
            if (sink) {
                sink->Begin(rows_.columns());
                sink->Row(rows_.Format(st, att_.get(), tra_.get()));
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
                tra_.Abandon();
                att_.Abandon();
            }
            throw error;
        }
    }

    Firebird::IUtil* util_;
    fb::Status status_;
    Ref<IProvider> provider_;
    Ref<IAttachment> att_;
    Ref<ITransaction> tra_;
    int dialect_ = 3;
    fb::RowReader rows_;
    fb::StatementCache cache_;
};

}  // namespace

std::unique_ptr<Session> MakeFirebirdSession() {
    return std::make_unique<FirebirdSession>();
}

}  // namespace tallo::engine
