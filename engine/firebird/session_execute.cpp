// The session's statements: each sent the way its kind needs (reused,
// run in one call, compiled apart from its transaction, or prepared).
#include <ibase.h>

#include "engine/firebird/firebird_session.h"

namespace tallo::engine::fb {

ExecResult FirebirdSession::Execute(const std::string& sql, RowSink* sink) {
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
        case fb::StatementKind::CommitRetain:
            Commit(kind == fb::StatementKind::CommitRetain);
            return result;
        case fb::StatementKind::Rollback:
        case fb::StatementKind::RollbackRetain:
            Rollback(kind == fb::StatementKind::RollbackRetain);
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
                                      static_cast<unsigned>(dialect_), nullptr, nullptr, nullptr, nullptr);
                    });
                    return;
                }
                // Compiled apart from its execution: a statement that
                // does not compile is no data definition yet, and leaves
                // the metadata transaction open.
                auto* st = status_.get();
                Ref<IStatement> statement(att_->prepare(st, meta_.get(), static_cast<unsigned>(sql.size()),
                                                        sql.data(), static_cast<unsigned>(dialect_), 0));
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
                    Ref<IStatement> statement(att_->prepare(st, compile, static_cast<unsigned>(sql.size()),
                                                            sql.data(), static_cast<unsigned>(dialect_), 0));
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

// A data statement of a shape run before goes through its prepared
// statement; one that may change metadata first frees them all.
bool FirebirdSession::Reuse(fb::StatementKind kind, const std::string& sql, ExecResult& result) {
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
        done =
            cache_.Execute(status_.get(), att_.get(), CompileTransaction(), tra_.get(), dialect_, sql, rows);
    });
    return done;
}

// Compiles sql in compile and runs it in tra, as options ask.
ExecResult FirebirdSession::ExecutePrepared(const std::string& sql, RowSink* sink, ITransaction* compile,
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
        RunDdl([&](ITransaction* ddl) { statement->execute(st, ddl, nullptr, nullptr, nullptr, nullptr); });
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
std::size_t FirebirdSession::ExecuteBlock(const std::vector<std::string_view>& sqls) {
    // Counts and plans come from each statement as written.
    if (!att_ || show_ || options_.count || options_.plan || options_.plan_only)
        return 0;
    std::size_t ran = 0;
    Guarded([&] {
        StartTransactions();
        ran =
            cache_.ExecuteBlock(status_.get(), att_.get(), CompileTransaction(), tra_.get(), dialect_, sqls);
    });
    return ran;
}

}  // namespace tallo::engine::fb
