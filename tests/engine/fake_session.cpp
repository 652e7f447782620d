// A scripted session for the engine's contract tests, built into a variant of
// IBEScript.dll. Its behaviour comes from a plan file named by the
// environment variable TALLO_FAKE_SESSION_PLAN; every call it receives is
// appended as one line to the file named by TALLO_FAKE_SESSION_LOG.
//
// Plan lines, fields separated by tabs; <match> is a substring of the call's
// key (the SQL text for Execute, "CONNECT <database>" for Connect, the
// statement for CreateDatabase and SetTransaction, "DROP DATABASE", "COMMIT",
// "ROLLBACK"):
//   fail <match> <message> [<sqlstate>]   the call fails
//   user <match> <message>                fails as a user exception
//   lost <match> <message>                fails and the attachment is gone
//   ddl <match>                           Execute answers a DDL statement
//   cols <match> <name>,#<numeric name>   Execute answers a result set
//   row <match> <value>|<value>           one row of it (~ for NULL)
//   affected <match> <n>                  rows affected
//   sleep <match> <ms>                    Execute takes that long, or until cancelled
//   hang <match>                          Execute takes a minute and ignores a cancel
//   crash <match> segv|abort|<exit code>  the process dies in Execute
// With TALLO_FAKE_SESSION_SELF set, the session writes its process's id, its
// command line and the environment it started with into that file when it
// is made.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/session.h"

namespace tallo::engine {

namespace {

struct Rule {
    std::string kind;
    std::string match;
    std::vector<std::string> fields;
};

std::vector<std::string> SplitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

std::string FileText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FakeSession : public Session {
  public:
    FakeSession() {
        if (const char* self = std::getenv("TALLO_FAKE_SESSION_SELF")) {
            std::ofstream out(self, std::ios::binary);
            out << ::getpid() << '\n'
                << FileText("/proc/self/cmdline") << '\n'
                << FileText("/proc/self/environ");
        }
        if (const char* log = std::getenv("TALLO_FAKE_SESSION_LOG"))
            log_path_ = log;
        if (const char* plan = std::getenv("TALLO_FAKE_SESSION_PLAN")) {
            std::ifstream in(plan, std::ios::binary);
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                std::vector<std::string> parts = SplitOn(line, '\t');
                if (parts.size() < 2)
                    continue;
                Rule rule{parts[0], parts[1], {parts.begin() + 2, parts.end()}};
                rules_.push_back(rule);
            }
        }
    }

    void Connect(const ConnectParams& p) override {
        Log("connect " + p.database + " user=" + p.user + " password=" + p.password + " role=" + p.role +
            " charset=" + p.charset + " dialect=" + std::to_string(p.dialect) +
            " cache=" + std::to_string(p.cache));
        MaybeFail("CONNECT " + p.database);
        connected_ = true;
        in_transaction_ = true;
    }
    void CreateDatabase(const std::string& statement, const ConnectParams& p) override {
        Log("create " + statement + " user=" + p.user + " password=" + p.password + " charset=" + p.charset +
            " dialect=" + std::to_string(p.dialect));
        MaybeFail(statement);
        connected_ = true;
        in_transaction_ = true;
    }
    void DropDatabase() override {
        Log("drop");
        MaybeFail("DROP DATABASE");
        connected_ = false;
        in_transaction_ = false;
    }
    void Disconnect(bool commit) override {
        Log(std::string("disconnect commit=") + (commit ? "1" : "0"));
        connected_ = false;
        in_transaction_ = false;
    }
    bool Connected() const override { return connected_; }
    ExecResult Execute(const std::string& sql, RowSink* sink) override {
        ExecResult result;
        for (const Rule& r : rules_) {
            if (r.kind == "ddl" && sql.find(r.match) != std::string::npos)
                result.ddl = true;
        }
        // A DDL statement under AUTODDL logs as "ddl" and runs apart from
        // the main transaction.
        Log((result.ddl && options_.autoddl ? "ddl " : "execute ") + sql);
        Misbehave(sql);
        MaybeFail(sql);
        bool has_rows = false;
        for (const Rule& r : rules_) {
            if (sql.find(r.match) == std::string::npos)
                continue;
            if (r.kind == "affected" && !r.fields.empty())
                result.rows_affected = std::stoll(r.fields[0]);
            if (r.kind == "cols" && !r.fields.empty() && sink != nullptr) {
                std::vector<Column> columns;
                for (const std::string& name : SplitOn(r.fields[0], ',')) {
                    if (!name.empty() && name[0] == '#')
                        columns.push_back(Column{name.substr(1), true});
                    else
                        columns.push_back(Column{name, false});
                }
                sink->Begin(columns);
                has_rows = true;
            }
            if (r.kind == "row" && !r.fields.empty() && sink != nullptr && has_rows) {
                std::vector<std::optional<std::string>> values;
                for (const std::string& v : SplitOn(r.fields[0], '|')) {
                    if (v == "~")
                        values.emplace_back(std::nullopt);
                    else
                        values.emplace_back(v);
                }
                sink->Row(values);
            }
        }
        if (has_rows)
            sink->End();
        return result;
    }
    void SetTransaction(const std::string& statement) override {
        Log("settransaction " + statement);
        MaybeFail(statement);
        in_transaction_ = true;
    }
    void Commit(bool retain) override {
        Log(std::string("commit retain=") + (retain ? "1" : "0"));
        MaybeFail("COMMIT");
    }
    void Rollback(bool retain) override {
        Log(std::string("rollback retain=") + (retain ? "1" : "0"));
        MaybeFail("ROLLBACK");
    }
    bool InTransaction() const override { return in_transaction_; }
    void SetOptions(const SessionOptions& options) override { options_ = options; }
    // Each reading counts one more fetch.
    std::optional<Counters> ReadCounters() override {
        if (!connected_)
            return std::nullopt;
        Counters c;
        c.fetches = ++fetches_;
        return c;
    }

    void Cancel() override { cancelled_ = true; }

  private:
    void Misbehave(const std::string& sql) {
        using namespace std::chrono;
        for (const Rule& r : rules_) {
            if (sql.find(r.match) == std::string::npos)
                continue;
            if (r.kind == "sleep" || r.kind == "hang") {
                const bool hang = r.kind == "hang";
                const auto until =
                    steady_clock::now() + milliseconds(hang ? 60000 : std::stoi(r.fields.at(0)));
                while (steady_clock::now() < until) {
                    if (cancelled_.exchange(false) && !hang)
                        throw SessionError("operation was cancelled", "HY008");
                    std::this_thread::sleep_for(milliseconds(5));
                }
            }
            if (r.kind == "crash") {
                const std::string how = r.fields.at(0);
                if (how == "segv")
                    ::raise(SIGSEGV);
                if (how == "abort")
                    std::abort();
                ::_exit(std::stoi(how));
            }
        }
    }

    void Log(const std::string& line) {
        if (log_path_.empty())
            return;
        std::ofstream out(log_path_, std::ios::binary | std::ios::app);
        out << line << '\n';
    }

    void MaybeFail(const std::string& key) {
        for (const Rule& r : rules_) {
            if (key.find(r.match) == std::string::npos)
                continue;
            const std::string message = r.fields.empty() ? "failed" : r.fields[0];
            if (r.kind == "fail")
                throw SessionError(message, r.fields.size() > 1 ? r.fields[1] : "");
            if (r.kind == "user")
                throw SessionError(message, "HY000", true);
            if (r.kind == "lost") {
                connected_ = false;
                throw SessionError(message, "08006", false, true);
            }
        }
    }

    std::string log_path_;
    std::vector<Rule> rules_;
    bool connected_ = false;
    bool in_transaction_ = false;
    SessionOptions options_;
    std::int64_t fetches_ = 0;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<Session> MakeFirebirdSession() {
    return std::make_unique<FakeSession>();
}

void ShutdownFirebirdClient() {}

}  // namespace tallo::engine
