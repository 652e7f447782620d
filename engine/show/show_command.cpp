// The SHOW command: its words read into a node when the script is loaded,
// and the listing of the kind it names.
#include <cstddef>
#include <optional>
#include <string>

#include "engine/commands.h"
#include "engine/interpreter.h"
#include "engine/output.h"
#include "engine/show.h"
#include "engine/show/catalog.h"
#include "text/win1251.h"

namespace tallo::engine {

namespace {

using namespace show;
using command::ShowKind;

// How SHOW answers a kind isql knows: with its listing, with isql's
// "Command error" (as isql 3 does for SCHEMAS), or not at all.
enum class Answer { Listing, CommandError, NotAvailable };

// isql's words for the object kinds: any start of the word at least
// min_length long.
struct KindWord {
    const char* word;
    std::size_t min_length;
    ShowKind kind;
    Answer answer = Answer::Listing;
};
constexpr KindWord kKindWords[] = {
    {"CHECKS", 5, ShowKind::Checks},
    {"COMMENTS", 7, ShowKind::Comments},
    {"COLLATES", 7, ShowKind::Collations},
    {"COLLATIONS", 9, ShowKind::Collations},
    {"DOMAINS", 6, ShowKind::Domains},
    {"DB", 2, ShowKind::Database},
    {"DATABASE", 8, ShowKind::Database},
    {"DEPENDENCY", 5, ShowKind::Tables, Answer::NotAvailable},
    {"DEPENDENCIES", 5, ShowKind::Tables, Answer::NotAvailable},
    {"EXCEPTIONS", 5, ShowKind::Exceptions},
    {"FILTERS", 6, ShowKind::Filters},
    {"FUNCTIONS", 4, ShowKind::Functions},
    {"GENERATORS", 3, ShowKind::Generators},
    {"GRANTS", 5, ShowKind::Grants},
    {"INDEXES", 3, ShowKind::Indices},
    {"INDICES", 7, ShowKind::Indices},
    {"MAPPING", 3, ShowKind::Mappings},
    {"PROCEDURES", 4, ShowKind::Procedures},
    {"PACKAGES", 4, ShowKind::Packages},
    {"ROLES", 4, ShowKind::Roles},
    {"SYSTEM", 3, ShowKind::System},
    {"SEQUENCES", 3, ShowKind::Generators},
    {"SECCLASSES", 6, ShowKind::Tables, Answer::NotAvailable},
    {"SCHEMAS", 4, ShowKind::Tables, Answer::CommandError},
    {"TABLES", 5, ShowKind::Tables},
    {"TRIGGERS", 4, ShowKind::Triggers},
    {"USERS", 5, ShowKind::Users},
    {"VIEWS", 4, ShowKind::Views},
    {"VERSION", 3, ShowKind::Version},
};

// isql's answer to SHOW without a kind.
constexpr const char* kValidOptions =
    "Valid options are:\n"
    "CHECKs                   COMMENTs                 COLLATEs                 \n"
    "COLLATIONs               DOMAINs                  DB                       \n"
    "DATABASE                 DEPENdency               DEPENdencies             \n"
    "EXCEPtions               FILTERs                  FUNCtions                \n"
    "GENerators               GRANTs                   INDexes                  \n"
    "INDICES                  MAPping                  PROCedures               \n"
    "PACKages                 ROLEs                    SYStem                   \n"
    "SEQuences                SECURITY CLAsses         SECCLAsses               \n"
    "SCHEmas                  TABLEs                   TRIGgers                 \n"
    "USERS                    VIEWs                    \n";

// A kind of object SHOW shows by name, or lists when no name is given: the
// names come from column of relation, of the user's objects that meet the
// condition (appended; empty for none), sorted; plural names the kind in
// the line said when there are none.
struct ListedKind {
    std::string (*show)(Catalog&, const std::string&);
    const char* column;
    const char* relation;
    const char* condition;
    const char* plural;
};

std::string ShowOrList(Catalog& db, const std::optional<std::string>& name, const ListedKind& kind) {
    if (name)
        return kind.show(db, *name);
    std::string sql = "SELECT ";
    sql.append(kind.column).append(" FROM ").append(kind.relation).append(" WHERE ").append(kUserObject);
    sql.append(kind.condition).append(" ORDER BY 1");
    std::string none = "There are no ";
    return List(db, sql, none.append(kind.plural).append(" in this database"));
}

std::string Listing(Catalog& db, const command::Show& show) {
    const auto& name = show.name;
    switch (show.kind) {
        case ShowKind::Tables:
            return ShowOrList(
                db, name,
                {ShowTable, "RDB$RELATION_NAME", "RDB$RELATIONS", " AND RDB$VIEW_BLR IS NULL", "tables"});
        case ShowKind::Views:
            return ShowOrList(
                db, name,
                {ShowView, "RDB$RELATION_NAME", "RDB$RELATIONS", " AND RDB$VIEW_BLR IS NOT NULL", "views"});
        case ShowKind::Domains:
            return ShowOrList(db, name,
                              {ShowDomain, "RDB$FIELD_NAME", "RDB$FIELDS",
                               " AND RDB$FIELD_NAME NOT STARTING 'RDB$'", "domains"});
        case ShowKind::Roles:
            return ShowOrList(db, name, {ShowRole, "RDB$ROLE_NAME", "RDB$ROLES", "", "roles"});
        case ShowKind::Packages:
            return ShowOrList(db, name, {ShowPackage, "RDB$PACKAGE_NAME", "RDB$PACKAGES", "", "packages"});
        case ShowKind::Generators:
            return ShowGenerators(db, name);
        case ShowKind::Indices:
            return ShowIndices(db, name);
        case ShowKind::Triggers:
            return name ? ShowTrigger(db, *name) : ShowTriggers(db);
        case ShowKind::Exceptions:
            return ShowExceptions(db, name);
        case ShowKind::Procedures:
            return name ? ShowProcedure(db, *name) : ShowRoutines(db, false);
        case ShowKind::Functions:
            return name ? ShowFunction(db, *name) : ShowRoutines(db, true);
        case ShowKind::Checks:
            return ShowCheck(db, name.value_or(std::string()));
        case ShowKind::Comments:
            return ShowComments(db);
        case ShowKind::Collations:
            return ShowCollations(db, name);
        case ShowKind::SqlDialect:
            return ShowDialect(db);
        case ShowKind::Users:
            return ShowUsers(db);
        case ShowKind::Mappings:
            return ShowMappings(db, name);
        case ShowKind::Grants:
            return ShowGrants(db, name);
        case ShowKind::Database:
            return ShowDatabase(db);
        case ShowKind::Version:
            return ShowVersion(db);
        case ShowKind::System:
            return ShowSystem(db, name);
        case ShowKind::Filters:
            return ShowOrList(db, name, {ShowFilter, "RDB$FUNCTION_NAME", "RDB$FILTERS", "", "filters"});
    }
    return {};
}

}  // namespace

Command ParseShow(std::string_view statement) {
    TokenReader tokens(statement);
    tokens.Next();  // SHOW
    const std::string command_error = "Command error: " + std::string(statement);
    const Token word = tokens.Next();
    if (word.kind == Token::Kind::End)
        return command::ShowError{command_error, Lines(kValidOptions)};
    const std::string w = word.kind == Token::Kind::Bare ? BareName(word.value) : std::string();
    command::Show show;
    Answer answer = Answer::Listing;
    bool known = false;
    if (w == "SQL") {
        const Token dialect = tokens.Next();
        known = dialect.kind == Token::Kind::Bare && BareName(dialect.value) == "DIALECT";
        show.kind = ShowKind::SqlDialect;
    } else if (w == "SECURITY") {
        const Token classes = tokens.Next();
        const std::string c = BareName(classes.value);
        known = classes.kind == Token::Kind::Bare && c.size() >= 3 && std::string("CLASSES").rfind(c, 0) == 0;
        answer = Answer::NotAvailable;
    } else {
        for (const KindWord& k : kKindWords) {
            if (w.size() >= k.min_length && std::string_view(k.word).substr(0, w.size()) == w) {
                show.kind = k.kind;
                answer = k.answer;
                known = true;
                break;
            }
        }
    }
    if (!known)
        return command::ShowError{command_error, {}};
    // Bare names in capitals, quoted ones as written; words after the name
    // are not read, as in isql.
    const Token name = tokens.Next();
    if (name.kind == Token::Kind::Bare) {
        show.name = BareName(name.value);
    } else if (name.kind == Token::Kind::Quoted) {
        show.name = name.value;
    } else if (name.kind == Token::Kind::String) {
        return command::ShowError{command_error, {}};
    }
    if (answer == Answer::CommandError)
        return command::ShowError{command_error, {}};
    if (answer == Answer::NotAvailable)
        return command::ShowError{"This SHOW command is not available in a script run by this engine", {}};
    if (show.kind == ShowKind::Checks && !show.name)
        return command::ShowError{"SHOW CHECK needs a table name", {}};
    return show;
}

std::string NameColumns(const std::vector<std::string>& names, const std::string& charset) {
    // isql reckons a name's width in UTF-8 bytes while it writes the
    // connection's bytes: a name with k characters beyond ASCII stands k
    // places further right and its column keeps the width it reckoned.
    const bool win1251 = cp1251::Upper(charset) == "WIN1251";
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const std::size_t wide = win1251 ? cp1251::ToUtf8(name).size() : name.size();
        const std::size_t extra = wide - name.size();
        const bool second = i % 2 == 1;
        text.append(7 + extra, ' ');
        text += name;
        const std::size_t width = second ? kNameWidth - 1 : kNameWidth;
        if (wide < width)
            text.append(width - wide, ' ');
        if (second)
            text += "\n";
    }
    // The list ends with a line end of its own, a blank line after a full
    // last line.
    return text + "\n";
}

std::string InteractiveCommandRefusal(std::string_view first_word) {
    static constexpr std::string_view kCommands[] = {"SHELL", "EDIT", "BLOBDUMP", "BLOBVIEW",
                                                     "HELP",  "ADD",  "COPY"};
    for (const std::string_view command : kCommands) {
        if (EqualsWord(first_word, command))
            return std::string(command) +
                   " is a command of isql's interactive session; a script run does not execute it";
    }
    return {};
}

std::vector<std::string> Show(Session& session, const command::Show& show, const ShowSettings& settings) {
    // Every SHOW command reads in a transaction of its own, as in isql.
    session.BeginShow();
    std::vector<std::string> lines;
    try {
        Catalog db(session, settings);
        lines = Lines(Listing(db, show));
    } catch (...) {
        try {
            session.EndShow();
        } catch (const SessionError&) {
            // The failure to report is the one that ended the command.
        }
        throw;
    }
    session.EndShow();
    return lines;
}

namespace {

// The listing to the protocol, a line to an entry, and while one is open to
// the OUTPUT file.
void Report(const std::vector<std::string>& lines, Reporter& reporter, OutputFile* output) {
    for (const std::string& line : lines) {
        reporter.Statement(line);
        if (output != nullptr)
            output->WriteText(line + "\r\n");
    }
}

}  // namespace

void RunShowCommand(Session& session, const command::Show& show, const ShowSettings& settings,
                    Reporter& reporter, OutputFile* output) {
    try {
        Report(Show(session, show, settings), reporter, output);
    } catch (const ShowFailure& e) {
        Report(e.listing, reporter, output);
        throw CommandError(CommandKind::Show, e.what());
    }
}

void RunShowCommand(Session& session, const command::ShowError& error, Reporter& reporter,
                    OutputFile* output) {
    // isql fails it in a transaction of its own too.
    session.BeginShow();
    try {
        session.EndShow();
    } catch (const SessionError&) {
        // The failure to report is the command's own.
    }
    Report(error.listing, reporter, output);
    throw CommandError(CommandKind::Show, error.message);
}

}  // namespace tallo::engine
