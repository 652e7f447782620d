#include "engine/interpreter.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "engine/commands.h"
#include "engine/file_names.h"
#include "engine/masking.h"
#include "engine/output.h"
#include "engine/script.h"
#include "engine/show.h"

namespace tallo::engine {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStatusInterval = std::chrono::milliseconds(100);

enum class Stop { None, Exit, Quit, Bail, Lost };

std::string Seconds(Clock::duration elapsed) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f",
                  std::chrono::duration_cast<std::chrono::duration<double>>(elapsed).count());
    return buffer;
}

class Runner {
  public:
    Runner(const Script& script, Reporter& reporter, Clock::time_point started)
        : script_(script), reporter_(reporter), started_(started) {}

    int Run(const SessionFactory& make_session) {
        try {
            session_ = make_session();
        } catch (const SessionError& e) {
            ReportError(e.what(), "Before the first statement");
            Summary();
            return errors_;
        }
        const std::size_t total = script_.statements.size();
        for (std::size_t i = 0; i < total && stop_ == Stop::None; ++i) {
            const engine::Statement& st = script_.statements[i];
            ShowStatus(i + 1, total);
            Command cmd;
            std::optional<std::string> parse_error;
            try {
                cmd = ParseCommand(st.text);
            } catch (const CommandError& e) {
                parse_error = e.what();
            }
            if (!parse_error && not_connected_reported_ && NeedsConnection(cmd.kind) &&
                !session_->Connected()) {
                // One error tells that there is no connection; the statements
                // after it up to the next CONNECT are not run and not repeated
                // as errors of their own.
                ++skipped_;
                continue;
            }
            reporter_.Statement(MaskPasswords(st.text));
            ++executed_;
            if (parse_error) {
                ReportStatementError(*parse_error, st, {});
                continue;
            }
            try {
                Execute(st, cmd);
            } catch (const SessionError& e) {
                ReportStatementError(e.what(), st, e.sqlstate);
                if (e.connection_lost)
                    stop_ = Stop::Lost;
            } catch (const CommandError& e) {
                ReportStatementError(e.what(), st, {});
            }
        }
        Finish();
        Summary();
        return errors_;
    }

    int errors() const { return errors_; }

  private:
    void ShowStatus(std::size_t index, std::size_t total) {
        const auto now = Clock::now();
        if (index != 1 && index != total && now - last_status_ < kStatusInterval)
            return;
        last_status_ = now;
        reporter_.Status("Statement " + std::to_string(index) + " of " + std::to_string(total) + " (" +
                         std::to_string(index * 100 / total) + "%)");
    }

    void ReportError(const std::string& message, const std::string& where) {
        ++errors_;
        reporter_.Error(message, where);
    }

    void ReportStatementError(const std::string& message, const engine::Statement& st,
                              const std::string& sqlstate) {
        std::string where = DescribeWhere(st.line, script_.file_names[st.file]);
        if (!sqlstate.empty())
            where += ", SQLSTATE " + sqlstate;
        where += "\r\n" + MaskPasswords(st.text);
        ReportError(message, where);
        if (bail_ && stop_ == Stop::None)
            stop_ = Stop::Bail;
    }

    static bool NeedsConnection(CommandKind kind) {
        return kind == CommandKind::Sql || kind == CommandKind::SetTransaction ||
               kind == CommandKind::DropDatabase || kind == CommandKind::Show;
    }

    void RequireConnection() {
        if (!session_->Connected()) {
            not_connected_reported_ = true;
            throw CommandError(CommandKind::Sql, "No database is connected");
        }
    }

    void CloseOutput() {
        if (!output_)
            return;
        const std::unique_ptr<OutputFile> file = std::move(output_);
        file->Close();
    }

    void ExecuteSql(const engine::Statement& st) {
        RequireConnection();
        sql_.assign(st.text);
        const std::string& sql = sql_;
        ExecResult result;
        if (output_) {
            const std::unique_ptr<RowSink> sink = output_->MakeSink(heading_);
            result = session_->Execute(sql, sink.get());
        } else {
            TableBuilder table(heading_, kProtocolTableRows);
            result = session_->Execute(sql, &table);
            if (table.RowCount() > 0)
                reporter_.Statement(table.Text());
        }
        if (count_ && result.rows_affected >= 0)
            reporter_.Statement("Records affected: " + std::to_string(result.rows_affected));
        if (result.ddl && autoddl_)
            session_->Commit(false);
    }

    void Execute(const engine::Statement& st, const Command& cmd) {
        switch (cmd.kind) {
            case CommandKind::Sql:
                ExecuteSql(st);
                break;
            case CommandKind::SetNames:
                charset_ = cmd.arg;
                break;
            case CommandKind::SetDialect:
                dialect_ = cmd.number;
                break;
            case CommandKind::SetAutoddl:
                autoddl_ = cmd.on.value_or(!autoddl_);
                break;
            case CommandKind::SetBail:
                bail_ = cmd.on.value_or(!bail_);
                break;
            case CommandKind::SetCount:
                count_ = cmd.on.value_or(!count_);
                break;
            case CommandKind::SetHeading:
                heading_ = cmd.on.value_or(!heading_);
                break;
            case CommandKind::SetTerm:
            case CommandKind::SetIgnored:
            case CommandKind::Input:  // its statements follow in the list
                break;
            case CommandKind::SetTransaction:
                RequireConnection();
                session_->SetTransaction(cmd.arg);
                break;
            case CommandKind::Connect: {
                ConnectParams params = cmd.connect;
                params.database = FileSystemName(params.database);
                params.charset = charset_;
                params.dialect = dialect_;
                login_ = params;
                shown_database_ = cmd.connect.database;
                not_connected_reported_ = false;
                session_->Connect(params);
                break;
            }
            case CommandKind::CreateDatabase: {
                ConnectParams params = login_;
                params.database.clear();
                params.charset = charset_;
                params.dialect = dialect_;
                shown_database_.clear();
                not_connected_reported_ = false;
                // The statement is ASCII but for the file name, which is turned
                // into the file system's form like every other name.
                session_->CreateDatabase(FileSystemName(cmd.arg), params);
                break;
            }
            case CommandKind::DropDatabase:
                RequireConnection();
                session_->DropDatabase();
                break;
            case CommandKind::Commit:
                if (session_->Connected())
                    session_->Commit(cmd.retain);
                break;
            case CommandKind::Rollback:
                if (session_->Connected())
                    session_->Rollback(cmd.retain);
                break;
            case CommandKind::Output:
                CloseOutput();
                output_ = std::make_unique<OutputFile>(cmd.arg, cmd.delimiter);
                break;
            case CommandKind::OutputEnd:
                CloseOutput();
                break;
            case CommandKind::Exit:
                stop_ = Stop::Exit;
                break;
            case CommandKind::Quit:
                stop_ = Stop::Quit;
                break;
            case CommandKind::Show:
                RequireConnection();
                RunShowCommand(*session_, cmd.arg, ShowSettings{dialect_, charset_, shown_database_},
                               reporter_, output_.get());
                break;
        }
    }

    void Finish() {
        try {
            CloseOutput();
        } catch (const CommandError& e) {
            ReportError(e.what(), "At the end of the script");
        }
        if (!session_)
            return;
        if (stop_ == Stop::Bail || stop_ == Stop::Lost || stop_ == Stop::Quit) {
            session_->Disconnect(false);
            return;
        }
        if (!session_->Connected())
            return;
        try {
            session_->Disconnect(true);
        } catch (const SessionError& e) {
            ReportError(e.what(), "At the end of the script (commit)");
        }
    }

    void Summary() {
        std::string text = "Statements executed: " + std::to_string(executed_) + " of " +
                           std::to_string(script_.statements.size()) +
                           ", errors: " + std::to_string(errors_) +
                           ", elapsed time: " + Seconds(Clock::now() - started_) + " s";
        if (skipped_ > 0)
            text += ", not run for want of a connection: " + std::to_string(skipped_);
        if (stop_ == Stop::Bail)
            text += " (stopped at the first error: SET BAIL)";
        if (stop_ == Stop::Lost)
            text += " (stopped: the connection was lost)";
        reporter_.Statement(text);
    }

    const Script& script_;
    Reporter& reporter_;
    Clock::time_point started_;
    Clock::time_point last_status_{};
    std::unique_ptr<Session> session_;
    std::unique_ptr<OutputFile> output_;
    ConnectParams login_;
    std::string shown_database_;  // the database as the script named it, for SHOW DATABASE
    std::string charset_;
    int dialect_ = 3;
    bool autoddl_ = true;
    bool bail_ = false;
    bool count_ = false;
    bool heading_ = true;
    Stop stop_ = Stop::None;
    std::size_t executed_ = 0;
    std::size_t skipped_ = 0;
    bool not_connected_reported_ = false;
    std::string sql_;  // reused for every statement's text
    int errors_ = 0;
};

}  // namespace

int RunScript(std::string_view text, Reporter& reporter, const SessionFactory& make_session) {
    const auto started = Clock::now();
    Script script;
    try {
        script = LoadScript(text);
    } catch (const PreflightFailure& f) {
        reporter.Error(f.what(), DescribeWhere(f.line, f.file));
        reporter.Statement("Statements executed: 0, errors: 1, elapsed time: " +
                           Seconds(Clock::now() - started) + " s (the script was refused before execution)");
        return 1;
    }
    Runner runner(script, reporter, started);
    return runner.Run(make_session);
}

}  // namespace tallo::engine
