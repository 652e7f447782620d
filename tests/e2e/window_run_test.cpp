// The main window, offscreen, running real scripts through the real engine
// "IBEScript.dll" (loaded by FormCreate from the current directory) against
// fresh Firebird databases. Only the operator's answers to the modal boxes
// are scripted; the databases are created and checked with isql-fb.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/form1.h"
#include "app/gui/script_commands.h"
#include "app/look/codec.h"
#include "app/startup/startup.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "script/engine_binding.h"
#include "script/run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "text/win1251.h"

namespace tallo {
namespace {

namespace fs = std::filesystem;
using cp1251::operator""_cp;
using gui::TForm1;
using testing::CurrentFolder;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// A modal box the window showed, and what the operator answered.
struct Box {
    std::string text;  // Windows-1251, line breaks as shown ("\n")
    bool question = false;
};

// Windows-1251 text as a message box shows it: CR LF breaks become "\n".
std::string Shown(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n')
            shown.push_back(text[i]);
    }
    return shown;
}

// A word for the shell, in single quotes.
std::string ShellWord(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs isql-fb on a script, connected to database when one is given (isql's
// own CONNECT command does not take doubled quotes, the command line does);
// answers what it printed (stdout and stderr).
std::string Isql(const TempDir& dir, const std::string& script, const std::string& database = "") {
    const std::string file = dir / "isql-input.sql";
    WriteBytes(file, script);
    std::string command = "isql-fb -q -user SYSDBA -password masterkey ";
    if (!database.empty())
        command += ShellWord(database) + " ";
    command += "-i " + ShellWord(file) + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        throw std::runtime_error("cannot start isql-fb");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    return out;
}

// Firebird's quoting of a string literal.
std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c;
        if (c == '\'')
            q += '\'';
    }
    return q + "'";
}

// The bytes of a zlib stream, inflated by zlib itself.
std::string Inflate(const std::string& packed) {
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        char buffer[16384];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

// The protocol without the engine's closing summary, whose elapsed time
// differs from run to run.
std::string WithoutSummary(const std::string& protocol) {
    std::size_t at = protocol.rfind("Statements executed: ");
    return at == std::string::npos ? protocol : protocol.substr(0, at);
}

const char* const kUser = "SYSDBA";
const char* const kPassword = "Pa55-secret";

// "CREATE TABLE people" with two rows, in four statements.
const char* const kPeopleScript =
    "CREATE TABLE people (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(40) CHARACTER SET WIN1251);\r\n"
    "INSERT INTO people VALUES (1, 'Ann');\r\n"
    "INSERT INTO people VALUES (2, '\xCF\xB8\xF2\xF0');\r\n"  // "Пётр"
    "COMMIT;\r\n";

// One work folder per case: the engine beside "Tallo-3.ini", the current
// directory while the case runs, databases and scripts inside it.
class WindowRun : public ::testing::Test {
  protected:
    void TearDown() override { form_.reset(); }

    // The built engine, linked into the work folder under its own name.
    void InstallEngine() { fs::create_symlink(TALLO_ENGINE_LIBRARY, dir_ / "IBEScript.dll"); }

    // A fresh database; path is local (embedded) or "host:path".
    void CreateDatabase(const std::string& path, const std::string& more_sql = "") {
        std::string out =
            Isql(dir_, "SET SQL DIALECT 3;\nCREATE DATABASE " + Quoted(path) +
                           " USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET WIN1251;\n" + more_sql +
                           "COMMIT;\n");
        ASSERT_EQ(out, "") << "isql-fb could not create " << path;
    }

    // What isql-fb prints for one query, headings off.
    std::string Query(const std::string& database, const std::string& sql) {
        return Isql(dir_, "SET HEADING OFF;\n" + sql + ";\n", database);
    }

    // Creates the window as the program does: FormCreate with the settings
    // file of the work folder naming `database`, the script commands wired.
    // The engine installed, a fresh database of that name in the folder
    // (more_sql run in it), and the window opened on it; the database.
    std::string OpenWindowOnNewDatabase(const std::string& name, const std::string& more_sql = "") {
        InstallEngine();
        const std::string db = dir_ / name;
        CreateDatabase(db, more_sql);
        OpenWindow(db);
        return db;
    }

    void OpenWindow(const std::string& database) {
        WriteBytes(dir_ / "Tallo-3.ini", "[System]\r\nSelectedDatabase=E2E\r\nDatabase=" + database + "\r\n");
        gui::TForm1Handlers handlers;
        const std::string ini = dir_ / "Tallo-3.ini";
        handlers.FormCreate = [this, ini](TForm1& form) { FormCreate(form, engine_, ini); };
        handlers.FormDestroy = [this](TForm1&) { FormDestroy(engine_); };
        gui::WireScriptCommands(handlers, engine_, script_text_);
        form_ = std::make_unique<TForm1>(std::move(handlers));
        form_->show();
        form_->SetText(Field::eUserName, kUser);
        form_->SetText(Field::ePassw, kPassword);
    }

    // Performs `command` while answering every modal box: an information
    // box with OK, a question with the next of `answers` (No when none is
    // left). `before_answer` runs just before a question is answered.
    std::vector<Box> Answering(const std::function<void()>& command, std::deque<bool> answers = {},
                               const std::function<void()>& before_answer = {}) {
        std::vector<Box> boxes;
        QPointer<QMessageBox> answered;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible() || box == answered)
                return;
            answered = box;
            Box seen;
            seen.text = gui::ToCp1251(box->text());
            QAbstractButton* press = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == QStringLiteral("&Yes"))
                    seen.question = true;
            }
            bool yes = false;
            if (seen.question) {
                if (!answers.empty()) {
                    yes = answers.front();
                    answers.pop_front();
                }
                if (before_answer)
                    before_answer();
            }
            const QString wanted =
                seen.question ? (yes ? QStringLiteral("&Yes") : QStringLiteral("&No")) : QStringLiteral("OK");
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == wanted)
                    press = b;
            }
            boxes.push_back(seen);
            if (press)
                press->click();
            else
                box->close();
        });
        timer.start();
        command();
        timer.stop();
        return boxes;
    }

    // Picks the script in the window and presses the run button.
    std::vector<Box> RunScript(const std::string& script, std::deque<bool> answers = {},
                               const std::function<void()>& before_answer = {}) {
        form_->SetText(Field::eScript, script);
        return Answering([this] { form_->SpeedButton1->click(); }, std::move(answers), before_answer);
    }

    std::vector<Box> AskVersion() {
        return Answering([this] { form_->DBVersionBitBtn->click(); });
    }

    std::string Status() const { return form_->Text(Field::Panel3); }

    TempDir dir_;
    CurrentFolder in_dir_{dir_.path()};
    EngineBinding engine_;
    std::string script_text_;
    std::unique_ptr<TForm1> form_;
};

// --- A plain script --------------------------------------------------------------------

TEST_F(WindowRun, PlainScriptFillsTheDatabaseAndReportsSuccess) {
    const std::string db = OpenWindowOnNewDatabase("plain.fdb");
    ASSERT_TRUE(form_->aExecScript->isEnabled());
    fs::create_directory(dir_ / "scripts");
    const std::string script = dir_ / "scripts/people.sql";
    WriteBytes(script, kPeopleScript);

    std::vector<Box> boxes = RunScript(script);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].question);
    EXPECT_EQ(boxes[0].text, script::SuccessText());
    EXPECT_EQ(Status(), script::SuccessText());
    EXPECT_TRUE(form_->InputEnabled());
    EXPECT_EQ(form_->CursorValue(), kCursorDefault);
    EXPECT_TRUE(form_->aExecScript->isEnabled());
    // The rows, Windows-1251 text included, as another program sees them.
    std::string rows = Query(db, "SELECT id || ':' || name FROM people ORDER BY id");
    EXPECT_NE(rows.find("1:Ann"), std::string::npos) << rows;
    EXPECT_NE(rows.find("2:\xCF\xB8\xF2\xF0"), std::string::npos) << rows;
}

TEST_F(WindowRun, PlainProtocolLiesBesideTheScriptWithoutConnectOrPassword) {
    OpenWindowOnNewDatabase("protocol.fdb");
    fs::create_directory(dir_ / "scripts");
    const std::string script = dir_ / "scripts/people.sql";
    WriteBytes(script, kPeopleScript);

    RunScript(script);

    ASSERT_TRUE(fs::is_regular_file(dir_ / "scripts/Result.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "Result.txt"));
    std::string protocol = ReadBytes(dir_ / "scripts/Result.txt");
    EXPECT_EQ(protocol, script::ProtocolText());
    for (const char* line :
         {"CREATE TABLE people (id INTEGER NOT NULL PRIMARY KEY", "INSERT INTO people VALUES (1, 'Ann')\r\n",
          "INSERT INTO people VALUES (2, '\xCF\xB8\xF2\xF0')\r\n", "COMMIT\r\n"}) {
        EXPECT_NE(protocol.find(line), std::string::npos) << line << " missing in\n" << protocol;
    }
    EXPECT_EQ(protocol.find("CONNECT"), std::string::npos) << protocol;
    EXPECT_EQ(protocol.find(kPassword), std::string::npos) << protocol;
    EXPECT_EQ(protocol.find("Error: "), std::string::npos) << protocol;
    // Every entry ends with CR LF.
    ASSERT_GE(protocol.size(), 2u);
    EXPECT_EQ(protocol.substr(protocol.size() - 2), "\r\n");
}

// --- A packed script -------------------------------------------------------------------

TEST_F(WindowRun, PackedScriptRunsAndItsProtocolIsPacked) {
    InstallEngine();
    const std::string plain_db = dir_ / "plain.fdb";
    const std::string packed_db = dir_ / "packed.fdb";
    CreateDatabase(plain_db);
    CreateDatabase(packed_db);
    fs::create_directory(dir_ / "plain");
    fs::create_directory(dir_ / "packed");
    WriteBytes(dir_ / "plain/people.sql", kPeopleScript);
    ASSERT_TRUE(PackTextToFile(kPeopleScript, dir_ / "packed/people.ZQL"));

    // The same script, plain into one database, packed into the other.
    OpenWindow(plain_db);
    RunScript(dir_ / "plain/people.sql");
    const std::string plain_protocol = ReadBytes(dir_ / "plain/Result.txt");
    form_->SetText(Field::eDB, packed_db);
    std::vector<Box> boxes = RunScript(dir_ / "packed/people.ZQL");

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, script::SuccessText());
    std::string rows = Query(packed_db, "SELECT COUNT(*) FROM people");
    EXPECT_NE(rows.find("2"), std::string::npos) << rows;
    EXPECT_FALSE(fs::exists(dir_ / "packed/Result.txt"));
    ASSERT_TRUE(fs::is_regular_file(dir_ / "packed/Result.Zxt"));
    const std::string packed = ReadBytes(dir_ / "packed/Result.Zxt");
    const std::string unpacked = Inflate(packed);
    EXPECT_EQ(unpacked, script::ProtocolText());
    EXPECT_EQ(UnpackFileToText(dir_ / "packed/Result.Zxt"), unpacked);
    EXPECT_EQ(WithoutSummary(unpacked), WithoutSummary(plain_protocol));
    EXPECT_NE(unpacked.find("INSERT INTO people VALUES (1, 'Ann')\r\n"), std::string::npos);
}

// --- Engine errors -----------------------------------------------------------------------

TEST_F(WindowRun, ErrorsGiveTheFailureTextAndExactlyTheOneMsgLine) {
    const std::string db = OpenWindowOnNewDatabase("errors.fdb", "CREATE EXCEPTION e_balance 'balance';\n");
    const std::string script = dir_ / "failing.sql";
    WriteBytes(
        script,
        "CREATE TABLE broken (id INTEGER;\r\n"
        "CREATE TABLE fine (id INTEGER);\r\n"
        "COMMIT;\r\n"
        "EXECUTE BLOCK AS BEGIN EXCEPTION e_balance 'MSG:\xC1\xE0\xEB\xE0\xED\xF1 < 0'; END;\r\n"  // Баланс
        "COMMIT;\r\n");

    std::vector<Box> boxes = RunScript(script);

    const std::string expected = script::FailureText() + "\r\n" + "\xC1\xE0\xEB\xE0\xED\xF1 < 0";
    EXPECT_EQ(Status(), expected);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].question);
    EXPECT_EQ(boxes[0].text, Shown(expected));
    EXPECT_TRUE(form_->InputEnabled());
    EXPECT_EQ(form_->CursorValue(), kCursorDefault);

    const std::string protocol = ReadBytes(dir_ / "Result.txt");
    // Each error: "Error: " + message, CR LF, the place where it happened.
    EXPECT_NE(protocol.find("Error: MSG:\xC1\xE0\xEB\xE0\xED\xF1 < 0\r\nAt line 4"), std::string::npos)
        << protocol;
    std::size_t syntax = protocol.find("Error: Dynamic SQL Error\r\n");
    ASSERT_NE(syntax, std::string::npos) << protocol;
    EXPECT_NE(protocol.find("\r\nAt line 1", syntax), std::string::npos) << protocol;
    // The engine went on after the errors.
    EXPECT_NE(Query(db, "SELECT COUNT(*) FROM rdb$relations WHERE rdb$relation_name = 'FINE'").find("1"),
              std::string::npos);
}

// --- Header quoting ----------------------------------------------------------------------

TEST_F(WindowRun, DatabasePathWithQuotesReachesFirebirdIntact) {
    InstallEngine();
    fs::create_directory(dir_ / "O'Brien's data");
    const std::string db = dir_ / "O'Brien's data/it's.fdb";
    CreateDatabase(db);
    OpenWindow(db);
    ASSERT_EQ(form_->Text(Field::eDB), db);
    const std::string script = dir_ / "O'Brien's data/people.sql";
    WriteBytes(script, kPeopleScript);

    std::vector<Box> boxes = RunScript(script);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, script::SuccessText());
    const std::string rows = Query(db, "SELECT name FROM people WHERE id = 1");
    EXPECT_NE(rows.find("Ann"), std::string::npos) << rows;
    // No other database came into being on the way.
    std::vector<std::string> databases;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
        if (entry.path().extension() == ".fdb")
            databases.push_back(entry.path().string());
    }
    EXPECT_EQ(databases, std::vector<std::string>{db});
    EXPECT_TRUE(fs::is_regular_file(dir_ / "O'Brien's data/Result.txt"));
}

// Over the loopback server, which checks passwords: a user whose password
// holds single quotes logs in with exactly that password and no other.
class ServerWindowRun : public WindowRun {
  protected:
    void TearDown() override {
        if (user_created_)
            Query(server_db_, "DROP USER E2E_QUOTE USING PLUGIN Srp; COMMIT");
        WindowRun::TearDown();
    }

    std::string server_db_;
    bool user_created_ = false;
};

TEST_F(ServerWindowRun, ServerPasswordWithQuotesReachesFirebirdIntact) {
    InstallEngine();
    const std::string password = "it's 'quoted''";
    server_db_ = testing::TestServerDatabase(dir_ / "server.fdb");
    CreateDatabase(server_db_, "CREATE TABLE logins (who VARCHAR(63));\nGRANT ALL ON logins TO PUBLIC;\n");
    std::string out = Query(server_db_, "CREATE OR ALTER USER E2E_QUOTE PASSWORD " + Quoted(password) +
                                            " USING PLUGIN Srp; COMMIT");
    ASSERT_EQ(out, "");
    user_created_ = true;
    OpenWindow(server_db_);
    form_->SetText(Field::eUserName, "E2E_QUOTE");
    const std::string script = dir_ / "login.sql";
    WriteBytes(script, "INSERT INTO logins VALUES (CURRENT_USER);\r\nCOMMIT;\r\n");

    // The password with one quote less does not log in.
    form_->SetText(Field::ePassw, "it's 'quoted'");
    std::vector<Box> refused = RunScript(script);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].text.rfind(Shown(script::FailureText()), 0), 0u) << refused[0].text;
    EXPECT_NE(ReadBytes(dir_ / "Result.txt").find("Error: "), std::string::npos);

    form_->SetText(Field::ePassw, password);
    std::vector<Box> boxes = RunScript(script);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, script::SuccessText()) << ReadBytes(dir_ / "Result.txt");
    std::string rows = Query(server_db_, "SELECT who FROM logins");
    EXPECT_NE(rows.find("E2E_QUOTE"), std::string::npos) << rows;
}

// --- A protocol that cannot be written ---------------------------------------------------

TEST_F(WindowRun, UnwritableProtocolAsksAgainAndNoEndsQuietly) {
    OpenWindowOnNewDatabase("blocked.fdb");
    const std::string script = dir_ / "people.sql";
    WriteBytes(script, kPeopleScript);
    // A folder of the protocol's name stands in the way.
    fs::create_directory(dir_ / "Result.txt");

    std::vector<Box> boxes = RunScript(script, {true, false});

    const std::string question = script::ProtocolRetryQuestion(dir_ / "Result.txt");
    EXPECT_EQ(question.rfind("Не удается создать файл протокола"_cp, 0), 0u);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(boxes[0].question);
    EXPECT_EQ(boxes[0].text, Shown(question));
    EXPECT_TRUE(boxes[1].question);  // Yes asked once more
    EXPECT_EQ(boxes[1].text, Shown(question));
    // After No, nothing but the outcome of the run.
    EXPECT_FALSE(boxes[2].question);
    EXPECT_EQ(boxes[2].text, script::SuccessText());
    EXPECT_EQ(Status(), script::SuccessText());
    EXPECT_TRUE(fs::is_directory(dir_ / "Result.txt"));
    EXPECT_TRUE(fs::is_empty(dir_ / "Result.txt"));
    EXPECT_TRUE(form_->InputEnabled());
}

TEST_F(WindowRun, RetryWritesTheProtocolOnceTheWayIsFree) {
    OpenWindowOnNewDatabase("retry.fdb");
    fs::create_directory(dir_ / "z");
    const std::string script = dir_ / "z/people.zql";
    ASSERT_TRUE(PackTextToFile(kPeopleScript, script));
    fs::create_directory(dir_ / "z/Result.Zxt");

    std::vector<Box> boxes = RunScript(script, {true}, [this] { fs::remove(dir_ / "z/Result.Zxt"); });

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].question);
    const std::string name = dir_ / "z/Result.Zxt";
    EXPECT_EQ(boxes[0].text, Shown("Не удается создать файл протокола выполнения скрипта '"_cp + name +
                                   "'.\r\n" + "Попытаться еще раз?"_cp));
    EXPECT_EQ(boxes[1].text, script::SuccessText());
    ASSERT_TRUE(fs::is_regular_file(name));
    EXPECT_EQ(UnpackFileToText(name), script::ProtocolText());
}

// --- The version query -------------------------------------------------------------------

TEST_F(WindowRun, VersionQueryShowsTheContentOfDbVersion) {
    OpenWindowOnNewDatabase("versioned.fdb",
                            "CREATE TABLE db_version (Version VARCHAR(20));\nCOMMIT;\n"
                            "INSERT INTO db_version VALUES ('1.0.3');\n");

    std::vector<Box> boxes = AskVersion();

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Status(), "Версия БД: 1.0.3\r\n"_cp);
    EXPECT_FALSE(fs::exists(dir_ / "DBVersion.out"));
    EXPECT_TRUE(form_->InputEnabled());
}

TEST_F(WindowRun, VersionQueryWithoutDbVersionSaysSoAndTheNextRunStartsClean) {
    OpenWindowOnNewDatabase("unversioned.fdb");

    std::vector<Box> boxes = AskVersion();

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Status(), "Версию БД получить не удалось"_cp);
    EXPECT_FALSE(fs::exists(dir_ / "DBVersion.out"));
    // The query's error stayed in the run state until the next run...
    EXPECT_TRUE(TheRunState().ScriptFailed);

    const std::string script = dir_ / "people.sql";
    WriteBytes(script, kPeopleScript);
    std::vector<Box> run = RunScript(script);

    // ...which clears it: a clean run, a protocol of its own statements only.
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0].text, script::SuccessText());
    const std::string protocol = ReadBytes(dir_ / "Result.txt");
    EXPECT_EQ(protocol.find("db_version"), std::string::npos) << protocol;
    EXPECT_EQ(protocol.find("DBVersion.out"), std::string::npos) << protocol;
    EXPECT_EQ(protocol.find("Error: "), std::string::npos) << protocol;
    EXPECT_NE(protocol.find("INSERT INTO people VALUES (1, 'Ann')"), std::string::npos);
}

// --- Stopping a run ----------------------------------------------------------------------

TEST_F(WindowRun, CloseBoxAndYesStopALongStatementAndTheRunFailsWithNothingKept) {
    const std::string db = OpenWindowOnNewDatabase("stopped.fdb", "CREATE TABLE marks (id INTEGER);\n");
    const std::string script = dir_ / "long.sql";
    WriteBytes(script,
               "INSERT INTO marks VALUES (1);\r\n"
               "SET TERM ^ ;\r\n"
               "EXECUTE BLOCK AS DECLARE t0 TIMESTAMP; BEGIN t0 = CAST('NOW' AS TIMESTAMP);\r\n"
               "  WHILE (DATEDIFF(SECOND FROM :t0 TO CAST('NOW' AS TIMESTAMP)) < 120) DO BEGIN END END^\r\n"
               "SET TERM ; ^\r\n"
               "COMMIT;\r\n");
    // The close box, once the long statement runs (the status reports process messages).
    QTimer::singleShot(1500, form_.get(), [this] { form_->close(); });
    const auto start = std::chrono::steady_clock::now();

    std::vector<Box> boxes = RunScript(script, {true});

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].question);
    EXPECT_EQ(boxes[0].text, script::StopScriptQuestion());
    EXPECT_EQ(boxes[1].text, Shown(script::FailureText()));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(form_->InputEnabled());
    const std::string protocol = ReadBytes(dir_ / "Result.txt");
    const std::size_t stop = protocol.find("Error: The operator stopped the script at statement ");
    ASSERT_NE(stop, std::string::npos) << protocol;
    EXPECT_EQ(protocol.substr(protocol.find(", ", stop), 10), ", line 3\r\n") << protocol;
    EXPECT_NE(Query(db, "SELECT 'rows:' || COUNT(*) FROM marks").find("rows:0"), std::string::npos);
}

// --- Without the engine ------------------------------------------------------------------

TEST_F(WindowRun, MissingEngineDisablesTheRunButTheVersionStillReadsALeftOverFile) {
    const std::string db = dir_ / "absent.fdb";
    OpenWindow(db);
    EXPECT_FALSE(form_->aExecScript->isEnabled());
    EXPECT_FALSE(form_->SpeedButton1->isEnabled());
    const std::string script = dir_ / "people.sql";
    WriteBytes(script, kPeopleScript);
    form_->SetText(Field::Panel3, "before");
    std::vector<Box> boxes = RunScript(script);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Status(), "before");
    EXPECT_FALSE(fs::exists(dir_ / "Result.txt"));

    WriteBytes(dir_ / "DBVersion.out", "2.4.1\r\n");
    boxes = AskVersion();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Status(), "Версия БД: 2.4.1\r\n"_cp);
    EXPECT_FALSE(fs::exists(dir_ / "DBVersion.out"));
    EXPECT_FALSE(fs::exists(db));
}

}  // namespace
}  // namespace tallo

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Firebird's client and engine keep some allocations for the whole process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfbclient.so\nleak:libtommath.so\nleak:libEngine12.so\nleak:libSrp.so\n"
           "leak:libLegacy_Auth.so\nleak:libicuuc.so\nleak:libicui18n.so\nleak:libfontconfig\n";
}
