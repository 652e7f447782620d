#include "engine/interpreter.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
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

enum class Stop { None, Exit, Quit, Bail, Lost, Operator };

std::string Fixed3(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

std::string Seconds(Clock::duration elapsed) {
    return Fixed3(std::chrono::duration_cast<std::chrono::duration<double>>(elapsed).count());
}

// The statements from the one that runs on, read ahead as far as a block
// needs; each holds a copy of its text.
class StatementQueue {
  public:
    explicit StatementQueue(StatementReader& reader) : reader_(reader) {}

    // Statement `index` (0-based), not before the last one dropped.
    const engine::Statement& At(std::size_t index) {
        while (first_ + held_.size() <= index)
            ReadOne();
        return held_[index - first_].statement;
    }
    void DropBefore(std::size_t index) {
        while (first_ < index && !held_.empty()) {
            held_.pop_front();
            ++first_;
        }
    }

  private:
    struct Held {
        std::string text;
        engine::Statement statement;
    };
    void ReadOne() {
        const std::optional<engine::Statement> next = reader_.Next();
        if (!next)
            throw EngineFailure("The script's text changed while it ran");
        Held& held = held_.emplace_back();
        held.text.assign(next->text);
        held.statement = *next;
        held.statement.text = held.text;
    }

    StatementReader& reader_;
    std::deque<Held> held_;  // statements first_, first_ + 1, ...
    std::size_t first_ = 0;
};

class Runner {
  public:
    Runner(const Script& script, StatementReader& reader, Reporter& reporter, Clock::time_point started,
           StopSignal* stop)
        : script_(script), statements_(reader), reporter_(reporter), started_(started), stop_signal_(stop) {}

    ~Runner() {
        if (stop_signal_)
            stop_signal_->Attach(nullptr);
    }

    int Run(const SessionFactory& make_session) {
        try {
            session_ = make_session();
        } catch (const SessionError& e) {
            ReportError(e.what(), "Before the first statement");
            Summary();
            return errors_;
        }
        if (stop_signal_)
            stop_signal_->Attach(session_.get());
        session_->SetOptions(options_);
        const std::size_t total = script_.count;
        for (std::size_t i = 0; i < total && stop_ == Stop::None; ++i) {
            statements_.DropBefore(i);
            const engine::Statement& st = statements_.At(i);
            if (StopRequested(i))
                break;
            ShowStatus(i + 1, total);
            const Command& cmd = script_.CommandOf(i);
            const auto* invalid = std::get_if<command::Invalid>(&cmd);
            if (!invalid && not_connected_reported_ && NeedsConnection(cmd) && !session_->Connected()) {
                // One error tells that there is no connection; the statements
                // after it up to the next CONNECT are not run and not repeated
                // as errors of their own.
                ++skipped_;
                continue;
            }
            if (std::holds_alternative<command::Sql>(cmd)) {
                if (const std::size_t ran = RunBlock(i, total)) {
                    i += ran - 1;
                    continue;
                }
                // The block the stop cancelled ran nothing: the stop is its
                // first statement's, as when that one runs alone.
                if (stop_signal_ && stop_signal_->Requested()) {
                    reporter_.Statement(MaskPasswords(st.text));
                    ++executed_;
                    StopRequested(i);
                    break;
                }
            }
            reporter_.Statement(MaskPasswords(st.text));
            ++executed_;
            if (invalid) {
                ReportStatementError(invalid->message, st, {});
                continue;
            }
            reporter_.Executing(i + 1, total, st.line, script_.file_names[st.file]);
            try {
                if (stats_ && ShowsStats(cmd)) {
                    ExecuteWithStats(st, cmd);
                } else {
                    Execute(st, cmd);
                }
            } catch (const SessionError& e) {
                // The statement the stop cancelled is the stop's own error.
                if (StopRequested(i))
                    break;
                ReportStatementError(e.what(), st, e.sqlstate);
                if (e.connection_lost)
                    stop_ = Stop::Lost;
            } catch (const CommandError& e) {
                ReportStatementError(e.what(), st, {});
            }
        }
        Finish();
        Summary();
        if (stop_ == Stop::Operator) {
            ++errors_;
            reporter_.Error(StoppedText(stopped_at_ + 1, StoppedLine()),
                            DescribeWhere(StoppedLine(), StoppedFile()));
        }
        return errors_;
    }

    int errors() const { return errors_; }

  private:
    // Data statements of one shape from statement `index` on, sent together
    // when the session can (see Session::ExecuteBlock); answers how many ran.
    // Only while nothing asks for something of each statement (SET COUNT,
    // PLAN, PLANONLY, STATS, BAIL, an OUTPUT file), and never across a client
    // command. After a run that found no block, the next tries wait.
    std::size_t RunBlock(std::size_t index, std::size_t total) {
        if (index < no_block_until_ || bail_ || stats_ || output_ || options_.count || options_.plan ||
            options_.plan_only || !session_->Connected())
            return 0;
        block_.clear();
        for (std::size_t j = index; j < total && block_.size() < kBlockRows; ++j) {
            if (!std::holds_alternative<command::Sql>(script_.CommandOf(j)))
                break;
            block_.push_back(statements_.At(j).text);
        }
        if (block_.size() < 2)
            return 0;
        const engine::Statement& first = statements_.At(index);
        reporter_.Executing(index + 1, total, first.line, script_.file_names[first.file]);
        const std::size_t ran = session_->ExecuteBlock(block_);
        if (ran == 0) {
            no_block_until_ = index + kBlockRows;
            return 0;
        }
        for (std::size_t j = index; j < index + ran; ++j) {
            reporter_.Statement(MaskPasswords(statements_.At(j).text));
            ++executed_;
        }
        return ran;
    }

    // Records the stop at statement `index` (0-based) when one was asked.
    bool StopRequested(std::size_t index) {
        if (stop_signal_ == nullptr || !stop_signal_->Requested())
            return false;
        stop_ = Stop::Operator;
        stopped_at_ = index;
        return true;
    }
    std::uint32_t StoppedLine() { return stopped_at_ < script_.count ? statements_.At(stopped_at_).line : 0; }
    const std::string& StoppedFile() {
        static const std::string none;
        return stopped_at_ < script_.count ? script_.file_names[statements_.At(stopped_at_).file] : none;
    }

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
        ReportError(MaskErrorText(message, st.text), where);
        if (bail_ && stop_ == Stop::None)
            stop_ = Stop::Bail;
    }

    static bool NeedsConnection(const Command& cmd) {
        return std::holds_alternative<command::Sql>(cmd) ||
               std::holds_alternative<command::SetTransaction>(cmd) ||
               std::holds_alternative<command::DropDatabase>(cmd) ||
               std::holds_alternative<command::Show>(cmd) || std::holds_alternative<command::ShowError>(cmd);
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
            ReportPlan(result.plan);
        } else {
            TableBuilder table(heading_, kProtocolTableRows, list_);
            table.SetWidths(&widths_);
            result = session_->Execute(sql, &table);
            ReportPlan(result.plan);
            if (table.RowCount() > 0)
                reporter_.Statement(table.Text());
        }
        if (options_.count && result.rows_affected >= 0)
            reporter_.Statement("Records affected: " + std::to_string(result.rows_affected));
    }

    // SET PLAN: the plan as the database words it, one protocol entry.
    void ReportPlan(const std::string& plan) {
        if (plan.empty())
            return;
        std::string text;
        for (const char c : plan) {
            if (c == '\n')
                text += "\r\n";
            else if (c != '\r')
                text += c;
        }
        while (text.size() >= 2 && text.compare(0, 2, "\r\n") == 0)
            text.erase(0, 2);
        reporter_.Statement(text);
    }

    // Each SET option that changes what the session does is passed on at once.
    void SetOption(bool& option, const std::optional<bool>& on) {
        option = on.value_or(!option);
        session_->SetOptions(options_);
    }

    void Switch(const command::SetSwitch& c) {
        switch (c.option) {
            case command::Option::Autoddl:
                SetOption(options_.autoddl, c.on);
                break;
            case command::Option::Bail:
                bail_ = c.on.value_or(!bail_);
                break;
            case command::Option::Count:
                SetOption(options_.count, c.on);
                break;
            case command::Option::Heading:
                heading_ = c.on.value_or(!heading_);
                break;
            case command::Option::List:
                list_ = c.on.value_or(!list_);
                break;
            case command::Option::Plan:
                SetOption(options_.plan, c.on);
                break;
            case command::Option::PlanOnly:
                // As in isql, PLANONLY on also turns PLAN on, and off leaves
                // PLAN as it is.
                SetOption(options_.plan_only, c.on);
                if (options_.plan_only) {
                    options_.plan = true;
                    session_->SetOptions(options_);
                }
                break;
            case command::Option::Stats:
                stats_ = c.on.value_or(!stats_);
                break;
        }
    }

    // Before CONNECT, CREATE DATABASE and SET TRANSACTION: the open work is
    // rolled back, as isql does it, and the protocol says so.
    void ReportRollback() {
        if (session_->Connected() && session_->InTransaction())
            reporter_.Statement("Rolling back work.");
    }

    void EndAttachment() {
        if (!session_->Connected())
            return;
        ReportRollback();
        session_->EndWork();
        session_->Disconnect(false);
    }

    // isql shows the counters after the statements it sends to the database.
    static bool ShowsStats(const Command& cmd) {
        return std::holds_alternative<command::Sql>(cmd) || std::holds_alternative<command::Commit>(cmd) ||
               std::holds_alternative<command::Rollback>(cmd);
    }

    // SET STATS: the attachment's counters after the statement, in isql's
    // words; memory as it stands, the rest as the statement changed them.
    void ExecuteWithStats(const engine::Statement& st, const Command& cmd) {
        const std::optional<Counters> before = session_->ReadCounters();
        const auto started = Clock::now();
        const std::clock_t cpu = std::clock();
        Execute(st, cmd);
        const std::optional<Counters> after = session_->ReadCounters();
        if (!before || !after)
            return;
        const double cpu_seconds = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        reporter_.Statement(
            "Current memory = " + std::to_string(after->current_memory) +
            "\r\nDelta memory = " + std::to_string(after->current_memory - before->current_memory) +
            "\r\nMax memory = " + std::to_string(after->max_memory) +
            "\r\nElapsed time= " + Seconds(Clock::now() - started) + " sec\r\nCpu = " + Fixed3(cpu_seconds) +
            " sec\r\nBuffers = " + std::to_string(after->buffers) +
            "\r\nReads = " + std::to_string(after->reads - before->reads) +
            "\r\nWrites = " + std::to_string(after->writes - before->writes) +
            "\r\nFetches = " + std::to_string(after->fetches - before->fetches));
    }

    void Connect(const command::Connect& c) {
        ConnectParams params;
        params.database = FileSystemName(c.database);
        params.user = c.user;
        params.password = c.password;
        params.role = c.role;
        params.cache = c.cache;
        params.charset = charset_;
        params.dialect = dialect_;
        login_ = params;
        shown_database_ = c.database;
        not_connected_reported_ = false;
        EndAttachment();
        session_->Connect(params);
    }

    void CreateDatabase(const engine::Statement& st) {
        ConnectParams params = login_;
        params.database.clear();
        params.charset = charset_;
        params.dialect = dialect_;
        shown_database_.clear();
        not_connected_reported_ = false;
        EndAttachment();
        // The statement is ASCII but for the file name, which is turned
        // into the file system's form like every other name.
        session_->CreateDatabase(FileSystemName(std::string(st.text)), params);
    }

    ShowSettings Settings() const { return ShowSettings{dialect_, charset_, shown_database_}; }

    void Execute(const engine::Statement& st, const Command& cmd) {
        std::visit(Overloaded{
                       [&](const command::Sql&) { ExecuteSql(st); },
                       [&](const command::SetNames& c) { charset_ = c.charset; },
                       [&](const command::SetDialect& c) { dialect_ = c.dialect; },
                       [&](const command::SetSwitch& c) { Switch(c); },
                       [&](const command::SetWidth& c) {
                           if (c.width == 0) {
                               widths_.erase(c.column);
                           } else {
                               widths_[c.column] = static_cast<std::size_t>(c.width);
                           }
                       },
                       [&](const command::SetRowCount& c) {
                           options_.row_limit = static_cast<std::uint64_t>(c.rows);
                           session_->SetOptions(options_);
                       },
                       [](const command::SetTerm&) {},
                       [](const command::SetIgnored&) {},
                       [](const command::Input&) {},  // its statements follow in the list
                       [&](const command::SetTransaction&) {
                           RequireConnection();
                           ReportRollback();
                           session_->SetTransaction(std::string(st.text));
                       },
                       [&](const command::Connect& c) { Connect(c); },
                       [&](const command::CreateDatabase&) { CreateDatabase(st); },
                       [&](const command::DropDatabase&) {
                           RequireConnection();
                           session_->DropDatabase();
                       },
                       [&](const command::Commit& c) {
                           if (session_->Connected() && !options_.plan_only)
                               session_->Commit(c.retain);
                       },
                       [&](const command::Rollback& c) {
                           if (session_->Connected() && !options_.plan_only)
                               session_->Rollback(c.retain);
                       },
                       [&](const command::Output& c) {
                           CloseOutput();
                           output_ = std::make_unique<OutputFile>(c.file, c.delimiter);
                       },
                       [&](const command::OutputEnd&) { CloseOutput(); },
                       [&](const command::Exit&) { stop_ = Stop::Exit; },
                       [&](const command::Quit&) { stop_ = Stop::Quit; },
                       [&](const command::Show& c) {
                           RequireConnection();
                           RunShowCommand(*session_, c, Settings(), reporter_, output_.get());
                       },
                       [&](const command::ShowError& c) {
                           RequireConnection();
                           RunShowCommand(*session_, c, reporter_, output_.get());
                       },
                       [](const command::Invalid& c) { throw CommandError(CommandKind::Other, c.message); },
                   },
                   cmd);
    }

    void Finish() {
        try {
            CloseOutput();
        } catch (const CommandError& e) {
            ReportError(e.what(), "At the end of the script");
        }
        if (!session_)
            return;
        if (stop_ == Stop::Operator) {
            // Nothing of a stopped run is committed. A rollback the stop's
            // cancel cut short leaves the work to the attachment's end.
            try {
                session_->Disconnect(false);
            } catch (const SessionError&) {
            }
            return;
        }
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
                           std::to_string(script_.count) + ", errors: " + std::to_string(errors_) +
                           ", elapsed time: " + Seconds(Clock::now() - started_) + " s";
        if (skipped_ > 0)
            text += ", not run for want of a connection: " + std::to_string(skipped_);
        if (stop_ == Stop::Bail)
            text += " (stopped at the first error: SET BAIL)";
        if (stop_ == Stop::Lost)
            text += " (stopped: the connection was lost)";
        if (stop_ == Stop::Operator)
            text += " (stopped by the operator; the work not committed was rolled back)";
        reporter_.Statement(text);
    }

    const Script& script_;
    StatementQueue statements_;
    Reporter& reporter_;
    Clock::time_point started_;
    StopSignal* stop_signal_;
    static constexpr std::size_t kBlockRows = 32;
    std::vector<std::string_view> block_;
    std::size_t no_block_until_ = 0;
    std::size_t stopped_at_ = 0;
    Clock::time_point last_status_{};
    std::unique_ptr<Session> session_;
    std::unique_ptr<OutputFile> output_;
    ConnectParams login_;
    std::string shown_database_;  // the database as the script named it, for SHOW DATABASE
    std::string charset_;
    int dialect_ = 3;
    SessionOptions options_{.autoddl = true};
    bool bail_ = false;
    bool heading_ = true;
    bool list_ = false;
    bool stats_ = false;
    std::map<std::string, std::size_t> widths_;  // SET WIDTH
    Stop stop_ = Stop::None;
    std::size_t executed_ = 0;
    std::size_t skipped_ = 0;
    bool not_connected_reported_ = false;
    std::string sql_;  // reused for every statement's text
    int errors_ = 0;
};

}  // namespace

void StopSignal::Request() {
    requested_.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_)
        session_->Cancel();
}

void StopSignal::Attach(Session* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = session;
    // A stop asked while the session was being made cancels it here.
    if (session_ && Requested())
        session_->Cancel();
}

std::string StoppedText(std::size_t index, std::uint32_t line) {
    return "The operator stopped the script at statement " + std::to_string(index) + ", line " +
           std::to_string(line);
}

int RunScript(ScriptSource& text, Reporter& reporter, const SessionFactory& make_session, StopSignal* stop,
              const std::string& script_folder) {
    const auto started = Clock::now();
    Script script;
    try {
        script = Preflight(text, script_folder);
    } catch (const PreflightFailure& f) {
        reporter.Error(f.what(), DescribeWhere(f.line, f.file));
        reporter.Statement("Statements executed: 0, errors: 1, elapsed time: " +
                           Seconds(Clock::now() - started) + " s (the script was refused before execution)");
        return 1;
    }
    StatementReader reader(script, text);
    Runner runner(script, reader, reporter, started, stop);
    return runner.Run(make_session);
}

int RunScript(std::string_view text, Reporter& reporter, const SessionFactory& make_session, StopSignal* stop,
              const std::string& script_folder) {
    TextSource source(text);
    return RunScript(source, reporter, make_session, stop, script_folder);
}

}  // namespace tallo::engine
