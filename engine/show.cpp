#include "engine/show.h"

#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <utility>

#include "engine/commands.h"
#include "engine/interpreter.h"
#include "engine/output.h"
#include "text/win1251.h"

namespace tallo::engine {

namespace {

using Value = std::optional<std::string>;
using Values = std::vector<Value>;

// The width of the name column in isql's listings.
constexpr std::size_t kNameWidth = 32;
const std::string kIndent(kNameWidth, ' ');
const std::string kSourceRule(77, '=');

class Collector : public RowSink {
  public:
    void Begin(const std::vector<Column>&) override {}
    void Row(const Values& values) override { rows.push_back(values); }
    void End() override {}
    std::vector<Values> rows;
};

std::string Text(const Value& v) {
    return v ? *v : std::string();
}

long long Number(const Value& v) {
    return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

// A text as an SQL string literal.
std::string Literal(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        out += c;
        if (c == '\'')
            out += c;
    }
    return out + "'";
}

std::string PadRight(std::string text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

// Names the engine makes for fields without a domain of their own
// ("RDB$" and digits).
bool ImplicitDomain(std::string_view name) {
    if (name.size() <= 4 || name.substr(0, 4) != "RDB$")
        return false;
    for (const char c : name.substr(4)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The columns of RDB$FIELDS (alias F) a type is described from.
constexpr const char* kFieldColumns =
    "F.RDB$FIELD_NAME, F.RDB$FIELD_TYPE, F.RDB$FIELD_SUB_TYPE, F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE, "
    "F.RDB$FIELD_PRECISION, F.RDB$CHARACTER_LENGTH, F.RDB$CHARACTER_SET_ID, F.RDB$COLLATION_ID, "
    "F.RDB$SEGMENT_LENGTH, F.RDB$DIMENSIONS, F.RDB$NULL_FLAG, F.RDB$DEFAULT_SOURCE, "
    "F.RDB$VALIDATION_SOURCE, F.RDB$COMPUTED_SOURCE";
constexpr std::size_t kFieldColumnCount = 15;

struct FieldType {
    std::string source;
    int type = 0;
    int sub_type = 0;
    int length = 0;
    int scale = 0;
    int precision = 0;
    std::optional<int> char_length;
    int charset = 0;
    int collation = 0;
    int segment = 0;
    int dimensions = 0;
    bool not_null = false;
    Value default_source;
    Value validation_source;
    Value computed_source;
};

FieldType ReadField(const Values& row, std::size_t at) {
    FieldType f;
    f.source = Text(row[at]);
    f.type = static_cast<int>(Number(row[at + 1]));
    f.sub_type = static_cast<int>(Number(row[at + 2]));
    f.length = static_cast<int>(Number(row[at + 3]));
    f.scale = static_cast<int>(Number(row[at + 4]));
    f.precision = static_cast<int>(Number(row[at + 5]));
    if (row[at + 6])
        f.char_length = static_cast<int>(Number(row[at + 6]));
    f.charset = static_cast<int>(Number(row[at + 7]));
    f.collation = static_cast<int>(Number(row[at + 8]));
    f.segment = static_cast<int>(Number(row[at + 9]));
    f.dimensions = static_cast<int>(Number(row[at + 10]));
    f.not_null = Number(row[at + 11]) == 1;
    f.default_source = row[at + 12];
    f.validation_source = row[at + 13];
    f.computed_source = row[at + 14];
    return f;
}

constexpr int kSmallint = 7;
constexpr int kInteger = 8;
constexpr int kQuad = 9;
constexpr int kFloat = 10;
constexpr int kDFloat = 11;
constexpr int kDate = 12;
constexpr int kTime = 13;
constexpr int kChar = 14;
constexpr int kBigint = 16;
constexpr int kBoolean = 23;
constexpr int kDouble = 27;
constexpr int kTimestamp = 35;
constexpr int kVarchar = 37;
constexpr int kCstring = 40;
constexpr int kBlob = 261;

bool HasCharset(int type) {
    return type == kChar || type == kVarchar || type == kCstring || type == kBlob;
}

// The database's metadata as the listings need it; the character sets and
// collations are read once per command.
class Catalog {
  public:
    Catalog(Session& session, const ShowSettings& settings) : session_(session), settings_(settings) {}

    std::vector<Values> Query(const std::string& sql) {
        Collector rows;
        session_.Execute(sql, &rows);
        return std::move(rows.rows);
    }

    const ShowSettings& settings() const { return settings_; }
    AttachmentFacts Facts() { return session_.Facts(); }

    std::string CharsetName(int id) {
        LoadCharsets();
        const auto it = charsets_.find(id);
        return it == charsets_.end() ? std::to_string(id) : it->second.first;
    }

    int BytesPerChar(int id) {
        LoadCharsets();
        const auto it = charsets_.find(id);
        return it == charsets_.end() || it->second.second < 1 ? 1 : it->second.second;
    }

    std::string CollationName(int charset, int collation) {
        if (!collations_) {
            collations_.emplace();
            for (const Values& r : Query("SELECT RDB$CHARACTER_SET_ID, RDB$COLLATION_ID, RDB$COLLATION_NAME "
                                         "FROM RDB$COLLATIONS"))
                (*collations_)[{static_cast<int>(Number(r[0])), static_cast<int>(Number(r[1]))}] = Text(r[2]);
        }
        const auto it = collations_->find({charset, collation});
        return it == collations_->end() ? std::to_string(collation) : it->second;
    }

    int DefaultCharset() {
        if (!default_charset_) {
            const auto rows = Query(
                "SELECT C.RDB$CHARACTER_SET_ID FROM RDB$DATABASE D JOIN RDB$CHARACTER_SETS C "
                "ON C.RDB$CHARACTER_SET_NAME = D.RDB$CHARACTER_SET_NAME");
            default_charset_ = rows.empty() ? 0 : static_cast<int>(Number(rows[0][0]));
        }
        return *default_charset_;
    }

    // "ARRAY OF [3, 0:4]" for an array field, "" otherwise.
    std::string ArrayBounds(const FieldType& f) {
        if (f.dimensions <= 0)
            return {};
        std::vector<std::string> bounds;
        for (const Values& r : Query("SELECT RDB$LOWER_BOUND, RDB$UPPER_BOUND FROM RDB$FIELD_DIMENSIONS "
                                     "WHERE RDB$FIELD_NAME = " +
                                     Literal(f.source) + " ORDER BY RDB$DIMENSION")) {
            const long long lower = Number(r[0]);
            const long long upper = Number(r[1]);
            bounds.push_back(lower == 1 ? std::to_string(upper)
                                        : std::to_string(lower) + ":" + std::to_string(upper));
        }
        return "ARRAY OF [" + Join(bounds, ", ") + "]";
    }

    // The type as isql writes it: an array's bounds on a line of their own,
    // the character set where it is not the database's default or a
    // collation is named.
    // An external function's arguments always name their character set.
    std::string TypeText(const FieldType& f, int collation, bool always_charset = false) {
        std::string text = ArrayBounds(f);
        if (!text.empty())
            text += "\n" + kIndent;
        text += BaseType(f);
        if (HasCharset(f.type) && (always_charset || f.charset != DefaultCharset() || collation != 0))
            text += " CHARACTER SET " + CharsetName(f.charset);
        return text;
    }

    // "\n ... COLLATE X" for a collation other than the character set's
    // default, "" otherwise.
    std::string CollateLine(const FieldType& f, int collation) {
        if (!HasCharset(f.type) || collation == 0)
            return {};
        return "\n" + kIndent + " COLLATE " + CollationName(f.charset, collation);
    }

  private:
    std::string BaseType(const FieldType& f) {
        switch (f.type) {
            case kSmallint:
            case kInteger:
            case kBigint:
                if (f.sub_type == 1 || f.sub_type == 2 || f.scale < 0) {
                    int precision = f.precision;
                    if (precision == 0)
                        precision = f.type == kSmallint ? 4 : f.type == kInteger ? 9 : 18;
                    return std::string(f.sub_type == 2 ? "DECIMAL" : "NUMERIC") + "(" +
                           std::to_string(precision) + ", " + std::to_string(-f.scale) + ")";
                }
                return f.type == kSmallint ? "SMALLINT" : f.type == kInteger ? "INTEGER" : "BIGINT";
            case kQuad:
                return "QUAD";
            case kFloat:
                return "FLOAT";
            case kDFloat:
                return "D_FLOAT";
            case kDouble:
                return "DOUBLE PRECISION";
            case kDate:
                return "DATE";
            case kTime:
                return "TIME";
            case kTimestamp:
                return "TIMESTAMP";
            case kBoolean:
                return "BOOLEAN";
            case kChar:
            case kVarchar:
            case kCstring: {
                const int length = f.char_length ? *f.char_length : f.length / BytesPerChar(f.charset);
                const char* name = f.type == kChar ? "CHAR" : f.type == kVarchar ? "VARCHAR" : "CSTRING";
                return std::string(name) + "(" + std::to_string(length) + ")";
            }
            case kBlob: {
                static const char* const kSubTypes[] = {"BINARY",
                                                        "TEXT",
                                                        "BLR",
                                                        "ACL",
                                                        "RANGES",
                                                        "SUMMARY",
                                                        "FORMAT",
                                                        "TRANSACTION_DESCRIPTION",
                                                        "EXTERNAL_FILE_DESCRIPTION"};
                const std::string sub =
                    f.sub_type >= 0 && f.sub_type <= 8 ? kSubTypes[f.sub_type] : std::to_string(f.sub_type);
                return "BLOB segment " + std::to_string(f.segment) + ", subtype " + sub;
            }
            default:
                return "Unknown type " + std::to_string(f.type);
        }
    }

    void LoadCharsets() {
        if (charsets_loaded_)
            return;
        charsets_loaded_ = true;
        for (const Values& r : Query("SELECT RDB$CHARACTER_SET_ID, RDB$CHARACTER_SET_NAME, "
                                     "RDB$BYTES_PER_CHARACTER FROM RDB$CHARACTER_SETS"))
            charsets_[static_cast<int>(Number(r[0]))] = {Text(r[1]), static_cast<int>(Number(r[2]))};
    }

    Session& session_;
    const ShowSettings& settings_;
    bool charsets_loaded_ = false;
    std::map<int, std::pair<std::string, int>> charsets_;
    std::optional<std::map<std::pair<int, int>, std::string>> collations_;
    std::optional<int> default_charset_;
};

constexpr const char* kUserObject = "COALESCE(RDB$SYSTEM_FLAG, 0) = 0";

// The names one query answers, in its order.
std::vector<std::string> Names(Catalog& db, const std::string& sql) {
    std::vector<std::string> names;
    for (const Values& r : db.Query(sql))
        names.push_back(Text(r[0]));
    return names;
}

bool Exists(Catalog& db, const std::string& sql) {
    return !db.Query(sql).empty();
}

[[noreturn]] void Missing(const std::string& message) {
    throw ShowFailure(message);
}

// "There is no <kind> <name> in this database"
[[noreturn]] void NoSuch(const char* kind, const std::string& name) {
    std::string message = "There is no ";
    Missing(message.append(kind).append(" ").append(name).append(" in this database"));
}

// The rows of the query about one object: the query's text is select, the
// object's name as a literal, then rest; NoSuch(kind, name) when there are
// none.
std::vector<Values> RowsAbout(Catalog& db, const char* kind, const std::string& name,
                              const std::string& select, const char* rest = "") {
    std::string sql = select;
    std::vector<Values> rows = db.Query(sql.append(Literal(name)).append(rest));
    if (rows.empty())
        NoSuch(kind, name);
    return rows;
}

// ---- tables and views -------------------------------------------------

std::string TriggerType(long long type) {
    if ((type & 0x6000) == 0x2000) {
        static const char* const kDatabaseEvents[] = {"CONNECT", "DISCONNECT", "TRANSACTION START",
                                                      "TRANSACTION COMMIT", "TRANSACTION ROLLBACK"};
        const long long event = type & 0x1FFF;
        return event >= 0 && event <= 4 ? std::string("ON ") + kDatabaseEvents[event] : "ON DATABASE EVENT";
    }
    if ((type & 0x6000) == 0x4000) {
        // One bit per statement kind, the bits 13 to 15 left out.
        static const char* const kDdlEvents[] = {
            "",
            "CREATE TABLE",
            "ALTER TABLE",
            "DROP TABLE",
            "CREATE PROCEDURE",
            "ALTER PROCEDURE",
            "DROP PROCEDURE",
            "CREATE FUNCTION",
            "ALTER FUNCTION",
            "DROP FUNCTION",
            "CREATE TRIGGER",
            "ALTER TRIGGER",
            "DROP TRIGGER",
            "",
            "",
            "",
            "CREATE EXCEPTION",
            "ALTER EXCEPTION",
            "DROP EXCEPTION",
            "CREATE VIEW",
            "ALTER VIEW",
            "DROP VIEW",
            "CREATE DOMAIN",
            "ALTER DOMAIN",
            "DROP DOMAIN",
            "CREATE ROLE",
            "ALTER ROLE",
            "DROP ROLE",
            "CREATE INDEX",
            "ALTER INDEX",
            "DROP INDEX",
            "CREATE SEQUENCE",
            "ALTER SEQUENCE",
            "DROP SEQUENCE",
            "CREATE USER",
            "ALTER USER",
            "DROP USER",
            "CREATE COLLATION",
            "DROP COLLATION",
            "ALTER CHARACTER SET",
            "CREATE PACKAGE",
            "ALTER PACKAGE",
            "DROP PACKAGE",
            "CREATE PACKAGE BODY",
            "DROP PACKAGE BODY",
            "CREATE MAPPING",
            "ALTER MAPPING",
            "DROP MAPPING",
        };
        constexpr long long kAnyDdl = 0x7FFFFFFFFFFFFFFFLL & ~0x6000LL & ~1LL;
        const std::string when = (type & 1) ? "AFTER " : "BEFORE ";
        const long long events = type & ~0x6000LL & ~1LL;
        if (events == kAnyDdl)
            return when + "ANY DDL STATEMENT";
        std::vector<std::string> names;
        for (std::size_t bit = 1; bit < std::size(kDdlEvents); ++bit) {
            if ((events >> bit) & 1)
                names.push_back(kDdlEvents[bit]);
        }
        return when + Join(names, " OR ");
    }
    static const char* const kActions[] = {"", "INSERT", "UPDATE", "DELETE"};
    std::string text = ((type + 1) & 1) ? "AFTER" : "BEFORE";
    std::vector<std::string> actions;
    for (int slot = 1; slot <= 3; ++slot) {
        const long long action = ((type + 1) >> (slot * 2 - 1)) & 3;
        if (action != 0)
            actions.push_back(kActions[action]);
    }
    return text + " " + Join(actions, " OR ");
}

// "NAME, Sequence: 0, Type: BEFORE INSERT, Active" for each row of
// (name, sequence, type, inactive).
std::string TriggerLine(const Values& r) {
    return Text(r[0]) + ", Sequence: " + std::to_string(Number(r[1])) +
           ", Type: " + TriggerType(Number(r[2])) + ", " + (Number(r[3]) == 1 ? "Inactive" : "Active");
}

constexpr const char* kTriggerColumns =
    "RDB$TRIGGER_NAME, RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_TYPE, RDB$TRIGGER_INACTIVE";

std::string TableTriggers(Catalog& db, const std::string& table) {
    const auto rows = db.Query(std::string("SELECT ") + kTriggerColumns +
                               " FROM RDB$TRIGGERS WHERE RDB$RELATION_NAME = " + Literal(table) + " AND " +
                               kUserObject + " ORDER BY RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_NAME");
    if (rows.empty())
        return {};
    std::string text = "\nTriggers on Table " + table + ":\n";
    for (const Values& r : rows)
        text += TriggerLine(r) + "\n";
    return text;
}

// Whether the field a view column comes from is NOT NULL.
bool BaseNotNull(Catalog& db, const std::string& view, long long context, const std::string& field,
                 int depth) {
    if (depth > 16)
        return false;
    const auto rows = db.Query(
        "SELECT RF.RDB$NULL_FLAG, F.RDB$NULL_FLAG, RF.RDB$BASE_FIELD, RF.RDB$VIEW_CONTEXT, "
        "VR.RDB$RELATION_NAME FROM RDB$VIEW_RELATIONS VR JOIN RDB$RELATION_FIELDS RF "
        "ON RF.RDB$RELATION_NAME = VR.RDB$RELATION_NAME JOIN RDB$FIELDS F "
        "ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE WHERE VR.RDB$VIEW_NAME = " +
        Literal(view) + " AND VR.RDB$VIEW_CONTEXT = " + std::to_string(context) +
        " AND RF.RDB$FIELD_NAME = " + Literal(field));
    if (rows.empty())
        return false;
    const Values& r = rows[0];
    if (Number(r[0]) == 1 || Number(r[1]) == 1)
        return true;
    if (r[2] && r[3])
        return BaseNotNull(db, Text(r[4]), Number(r[3]), Text(r[2]), depth + 1);
    return false;
}

std::string FieldLines(Catalog& db, const std::string& relation, bool view) {
    std::string text;
    const auto rows = db.Query(
        std::string("SELECT RF.RDB$FIELD_NAME, RF.RDB$NULL_FLAG, RF.RDB$DEFAULT_SOURCE, RF.RDB$COLLATION_ID, "
                    "RF.RDB$BASE_FIELD, RF.RDB$VIEW_CONTEXT, ") +
        kFieldColumns +
        " FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "WHERE RF.RDB$RELATION_NAME = " +
        Literal(relation) + " ORDER BY RF.RDB$FIELD_POSITION");
    for (const Values& r : rows) {
        const FieldType f = ReadField(r, 6);
        std::string line = PadRight(Text(r[0]), kNameWidth);
        if (f.computed_source) {
            text += line + "Computed by: " + *f.computed_source + "\n";
            continue;
        }
        if (!ImplicitDomain(f.source))
            line += "(" + f.source + ") ";
        const int collation = r[3] ? static_cast<int>(Number(r[3])) : f.collation;
        line += db.TypeText(f, collation);
        bool not_null = Number(r[1]) == 1 || f.not_null;
        if (!not_null && view && r[4] && r[5])
            not_null = BaseNotNull(db, relation, Number(r[5]), Text(r[4]), 0);
        line += not_null ? " Not Null " : " Nullable ";
        const Value& default_source = r[2] ? r[2] : f.default_source;
        if (default_source)
            line += *default_source;
        line += db.CollateLine(f, collation);
        if (f.validation_source && !ImplicitDomain(f.source))
            line += "\n" + kIndent + *f.validation_source;
        text += line + "\n";
    }
    return text;
}

std::string IndexFields(Catalog& db, const std::string& index) {
    return Join(Names(db, "SELECT RDB$FIELD_NAME FROM RDB$INDEX_SEGMENTS WHERE RDB$INDEX_NAME = " +
                              Literal(index) + " ORDER BY RDB$FIELD_POSITION"),
                ", ");
}

std::string RuleText(const std::string& rule) {
    if (rule == "CASCADE")
        return "Cascade";
    if (rule == "SET NULL")
        return "Set Null";
    if (rule == "SET DEFAULT")
        return "Set Default";
    return {};
}

std::string CheckConstraints(Catalog& db, const std::string& table) {
    std::string text;
    for (const Values& r :
         db.Query("SELECT RC.RDB$CONSTRAINT_NAME, MIN(T.RDB$TRIGGER_TYPE) FROM RDB$RELATION_CONSTRAINTS RC "
                  "JOIN RDB$CHECK_CONSTRAINTS CC ON CC.RDB$CONSTRAINT_NAME = RC.RDB$CONSTRAINT_NAME "
                  "JOIN RDB$TRIGGERS T ON T.RDB$TRIGGER_NAME = CC.RDB$TRIGGER_NAME "
                  "WHERE RC.RDB$RELATION_NAME = " +
                  Literal(table) +
                  " AND RC.RDB$CONSTRAINT_TYPE = 'CHECK' GROUP BY RC.RDB$CONSTRAINT_NAME "
                  "ORDER BY RC.RDB$CONSTRAINT_NAME")) {
        const auto source = db.Query(
            "SELECT T.RDB$TRIGGER_SOURCE FROM RDB$CHECK_CONSTRAINTS CC JOIN RDB$TRIGGERS T "
            "ON T.RDB$TRIGGER_NAME = CC.RDB$TRIGGER_NAME WHERE CC.RDB$CONSTRAINT_NAME = " +
            Literal(Text(r[0])) + " AND T.RDB$TRIGGER_TYPE = " + std::to_string(Number(r[1])));
        text += "CONSTRAINT " + Text(r[0]) + ":\n";
        if (!source.empty())
            text += "  " + Text(source[0][0]) + "\n";
    }
    return text;
}

std::string KeyConstraints(Catalog& db, const std::string& table) {
    std::string text;
    for (const Values& r :
         db.Query("SELECT RC.RDB$CONSTRAINT_NAME, RC.RDB$CONSTRAINT_TYPE, RC.RDB$INDEX_NAME, "
                  "REF.RDB$UPDATE_RULE, REF.RDB$DELETE_RULE, UQ.RDB$RELATION_NAME, "
                  "UQ.RDB$INDEX_NAME FROM RDB$RELATION_CONSTRAINTS RC "
                  "LEFT JOIN RDB$REF_CONSTRAINTS REF "
                  "ON REF.RDB$CONSTRAINT_NAME = RC.RDB$CONSTRAINT_NAME "
                  "LEFT JOIN RDB$RELATION_CONSTRAINTS UQ "
                  "ON UQ.RDB$CONSTRAINT_NAME = REF.RDB$CONST_NAME_UQ "
                  "WHERE RC.RDB$RELATION_NAME = " +
                  Literal(table) +
                  " AND RC.RDB$CONSTRAINT_TYPE IN ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY') "
                  "ORDER BY RC.RDB$CONSTRAINT_NAME")) {
        const std::string type = Text(r[1]);
        text += "CONSTRAINT " + Text(r[0]) + ":\n";
        const std::string fields = IndexFields(db, Text(r[2]));
        if (type == "PRIMARY KEY") {
            text += "  Primary key (" + fields + ")\n";
        } else if (type == "UNIQUE") {
            text += "  Unique key (" + fields + ")\n";
        } else {
            text += "  Foreign key (" + fields + ")    References " + Text(r[5]) + " (" +
                    IndexFields(db, Text(r[6])) + ")";
            const std::string on_update = RuleText(Text(r[3]));
            const std::string on_delete = RuleText(Text(r[4]));
            if (!on_update.empty())
                text += " On Update " + on_update;
            if (!on_delete.empty())
                text += " On Delete " + on_delete;
            text += "\n";
        }
    }
    return text;
}

enum class RelationKind { Table, View };

std::optional<RelationKind> FindRelation(Catalog& db, const std::string& name) {
    const auto rows =
        db.Query("SELECT RDB$VIEW_BLR IS NULL FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = " + Literal(name));
    if (rows.empty())
        return std::nullopt;
    return Text(rows[0][0]) == "TRUE" ? RelationKind::Table : RelationKind::View;
}

std::string ShowTable(Catalog& db, const std::string& name) {
    if (FindRelation(db, name) != RelationKind::Table)
        NoSuch("table", name);
    return FieldLines(db, name, false) + KeyConstraints(db, name) + CheckConstraints(db, name) +
           TableTriggers(db, name);
}

std::string ShowView(Catalog& db, const std::string& name) {
    if (FindRelation(db, name) != RelationKind::View)
        NoSuch("view", name);
    const auto source =
        db.Query("SELECT RDB$VIEW_SOURCE FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = " + Literal(name));
    return FieldLines(db, name, true) + "View Source:\n==== ======\n" + Text(source[0][0]) + "\n" +
           TableTriggers(db, name);
}

std::string ShowCheck(Catalog& db, const std::string& name) {
    if (FindRelation(db, name) != RelationKind::Table)
        NoSuch("table", name);
    std::string text = CheckConstraints(db, name);
    if (text.empty())
        Missing("There are no check constraints on table " + name + " in this database");
    return text;
}

// ---- lists of names ---------------------------------------------------

std::string List(Catalog& db, const std::string& sql, const std::string& none) {
    const auto names = Names(db, sql);
    if (names.empty())
        Missing(none);
    return NameColumns(names, db.settings().charset);
}

// ---- generators -------------------------------------------------------

std::string Quoted(const std::string& name, int dialect) {
    if (dialect < 3)
        return name;
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"')
            out += c;
    }
    return out + "\"";
}

std::string ShowGenerators(Catalog& db, const std::optional<std::string>& name) {
    std::string sql =
        "SELECT RDB$GENERATOR_NAME, RDB$INITIAL_VALUE, RDB$GENERATOR_INCREMENT FROM RDB$GENERATORS WHERE ";
    sql += kUserObject;
    if (name)
        sql += " AND RDB$GENERATOR_NAME = " + Literal(*name);
    const auto rows = db.Query(sql + " ORDER BY RDB$GENERATOR_NAME");
    if (rows.empty())
        Missing(name ? "There is no generator " + *name + " in this database"
                     : "There are no generators in this database");
    std::string text;
    for (const Values& r : rows) {
        const auto current = db.Query("SELECT GEN_ID(" + Quoted(Text(r[0]), db.settings().client_dialect) +
                                      ", 0) FROM RDB$DATABASE");
        text += "Generator " + Text(r[0]) + ", current value: " + Text(current[0][0]) +
                ", initial value: " + std::to_string(Number(r[1])) +
                ", increment: " + std::to_string(Number(r[2])) + "\n";
    }
    return text;
}

// ---- indices ----------------------------------------------------------

std::string IndexLine(Catalog& db, const Values& r) {
    // name, relation, unique, descending, inactive, expression
    std::string line = Text(r[0]) + " ";
    if (Number(r[2]) == 1)
        line += "UNIQUE ";
    if (Number(r[3]) == 1)
        line += "DESCENDING ";
    line += "INDEX ON " + Text(r[1]);
    if (r[5]) {
        line += " COMPUTED BY " + *r[5];
    } else {
        line += "(" + IndexFields(db, Text(r[0])) + ") ";
        if (Number(r[4]) == 1)
            line += "(inactive)";
    }
    return line + "\n";
}

std::string ShowIndices(Catalog& db, const std::optional<std::string>& name) {
    std::string sql =
        "SELECT RDB$INDEX_NAME, RDB$RELATION_NAME, RDB$UNIQUE_FLAG, RDB$INDEX_TYPE, RDB$INDEX_INACTIVE, "
        "RDB$EXPRESSION_SOURCE FROM RDB$INDICES WHERE ";
    sql += kUserObject;
    if (name) {
        const std::string filter =
            FindRelation(db, *name) ? " AND RDB$RELATION_NAME = " : " AND RDB$INDEX_NAME = ";
        sql += filter + Literal(*name);
    }
    const auto rows = db.Query(sql + " ORDER BY RDB$RELATION_NAME, RDB$INDEX_NAME");
    if (rows.empty()) {
        if (!name)
            Missing("There are no indices in this database");
        if (FindRelation(db, *name))
            Missing("There are no indices on table " + *name + " in this database");
        NoSuch("table or index", *name);
    }
    std::string text;
    for (const Values& r : rows)
        text += IndexLine(db, r);
    return text;
}

// ---- triggers ---------------------------------------------------------

std::string ShowTriggers(Catalog& db) {
    const auto database =
        db.Query(std::string("SELECT RDB$TRIGGER_NAME, RDB$VALID_BLR FROM RDB$TRIGGERS WHERE ") +
                 kUserObject + " AND RDB$RELATION_NAME IS NULL ORDER BY RDB$TRIGGER_NAME");
    const auto tables = db.Query(
        std::string("SELECT RDB$RELATION_NAME, RDB$TRIGGER_NAME, RDB$VALID_BLR FROM RDB$TRIGGERS WHERE ") +
        kUserObject + " AND RDB$RELATION_NAME IS NOT NULL ORDER BY RDB$RELATION_NAME, RDB$TRIGGER_NAME");
    if (database.empty() && tables.empty())
        Missing("There are no triggers in this database");
    auto invalid = [](const Value& valid) {
        return std::string(valid && Number(valid) == 0 ? "INVALID" : "");
    };
    std::string text;
    if (!database.empty()) {
        text += "Trigger name                     Invalid\n================================ =======\n";
        for (const Values& r : database)
            text += PadRight(Text(r[0]), kNameWidth) + " " + PadRight(invalid(r[1]), 7) + "\n";
        if (!tables.empty())
            text += "\n";
    }
    if (!tables.empty()) {
        text +=
            "Table name                       Trigger name                     Invalid\n"
            "================================ ================================ =======\n";
        for (const Values& r : tables)
            text += PadRight(Text(r[0]), kNameWidth) + " " + PadRight(Text(r[1]), kNameWidth) + " " +
                    PadRight(invalid(r[2]), 7) + "\n";
    }
    return text;
}

std::string ShowTrigger(Catalog& db, const std::string& name) {
    const auto rows = RowsAbout(db, "trigger", name,
                                std::string("SELECT ") + kTriggerColumns +
                                    ", RDB$RELATION_NAME, RDB$TRIGGER_SOURCE FROM RDB$TRIGGERS WHERE "
                                    "RDB$TRIGGER_NAME = ");
    const Values& r = rows[0];
    std::string text;
    if (r[4])
        text += "\nTriggers on Table " + Text(r[4]) + ":\n";
    text += TriggerLine(r) + "\n";
    if (r[5])
        text += "Trigger text:\n" + kSourceRule + "\n" + *r[5] + "\n" + kSourceRule + "\n";
    return text;
}

// ---- domains ----------------------------------------------------------

std::string ShowDomain(Catalog& db, const std::string& name) {
    const auto rows = db.Query(std::string("SELECT ") + kFieldColumns +
                               " FROM RDB$FIELDS F WHERE F.RDB$FIELD_NAME = " + Literal(name));
    if (rows.empty() || ImplicitDomain(name))
        NoSuch("domain", name);
    const FieldType f = ReadField(rows[0], 0);
    std::string text = PadRight(name, kNameWidth);
    if (f.computed_source)
        return text + "Computed by: " + *f.computed_source + "\n";
    text += db.TypeText(f, f.collation) + (f.not_null ? " Not Null" : " Nullable");
    text += db.CollateLine(f, f.collation);
    if (f.default_source)
        text += "\n" + kIndent + *f.default_source;
    if (f.validation_source)
        text += "\n" + kIndent + *f.validation_source;
    return text + "\n";
}

// ---- exceptions -------------------------------------------------------

// isql names only these users of an exception.
std::string DependentTypeName(long long type) {
    switch (type) {
        case 2:
            return "Trigger";
        case 5:
            return "Stored procedure";
        default:
            return "Unknown";
    }
}

std::string ShowExceptions(Catalog& db, const std::optional<std::string>& name) {
    std::string sql = "SELECT RDB$EXCEPTION_NAME, RDB$MESSAGE FROM RDB$EXCEPTIONS WHERE ";
    sql += kUserObject;
    if (name)
        sql += " AND RDB$EXCEPTION_NAME = " + Literal(*name);
    const auto rows = db.Query(sql + " ORDER BY RDB$EXCEPTION_NAME");
    if (rows.empty())
        Missing(name ? "There is no exception " + *name + " in this database"
                     : "There are no exceptions in this database");
    std::string text =
        "Exception Name                  Used by, Type\n"
        "=============================== =============================================\n";
    for (const Values& r : rows) {
        const auto users = db.Query(
            "SELECT DISTINCT RDB$DEPENDENT_NAME, RDB$DEPENDENT_TYPE FROM RDB$DEPENDENCIES WHERE "
            "RDB$DEPENDED_ON_TYPE = 7 AND RDB$DEPENDED_ON_NAME = " +
            Literal(Text(r[0])) + " ORDER BY 2, 1");
        std::string line = PadRight(Text(r[0]), kNameWidth);
        if (users.empty())
            text += line + "\n";
        for (std::size_t i = 0; i < users.size(); ++i) {
            text += (i == 0 ? line : kIndent) + Text(users[i][0]) + ", " +
                    DependentTypeName(Number(users[i][1])) + "\n";
        }
        text += "Msg: " + Text(r[1]) + "\n\n";
    }
    // One exception named: isql adds a blank line.
    return name ? text + "\n" : text;
}

// ---- procedures, functions and packages -------------------------------

std::string DependedOnTypeName(long long type) {
    switch (type) {
        case 0:
            return "Table";
        case 1:
            return "View";
        case 2:
            return "Trigger";
        case 5:
            return "Procedure";
        case 7:
            return "Exception";
        case 9:
            return "Domain";
        case 14:
            return "Generator";
        case 15:
            return "Function";
        case 17:
            return "Collation";
        case 18:
            return "Package";
        default:
            return "Object type " + std::to_string(type);
    }
}

// The routines of one kind, global ones first, then those of each package:
// "Procedure Name ... Invalid Dependency, Type".
std::string ShowRoutines(Catalog& db, bool functions) {
    const std::string table = functions ? "RDB$FUNCTIONS" : "RDB$PROCEDURES";
    const std::string column = functions ? "RDB$FUNCTION_NAME" : "RDB$PROCEDURE_NAME";
    const std::string title =
        functions ? "Function Name                    " : "Procedure Name                   ";
    const int dependent_type = functions ? 15 : 5;
    const auto rows = db.Query("SELECT " + column + ", RDB$PACKAGE_NAME, RDB$VALID_BLR FROM " + table +
                               " WHERE " + kUserObject + " ORDER BY RDB$PACKAGE_NAME NULLS FIRST, " + column);
    if (rows.empty())
        Missing(functions ? "There are no user-defined functions in this database"
                          : "There are no stored procedures in this database");
    auto invalid = [](const Value& valid) {
        return std::string(valid && Number(valid) == 0 ? "INVALID" : "");
    };
    std::string text;
    std::optional<std::string> package;
    bool first = true;
    for (const Values& r : rows) {
        if (first || r[1] != package) {
            if (!r[1]) {
                text += std::string(functions ? "Global functions" : "Global procedures") + "\n\n" + title +
                        " Invalid Dependency, Type\n"
                        "================================= ======= =====================================\n";
            } else {
                if (!first)
                    text += "\n\n";
                text += "Package: " + Text(r[1]) + "\n\n" + title +
                        " Invalid\n================================= =======\n";
            }
            package = r[1];
            first = false;
        }
        const std::string line = PadRight(Text(r[0]), 33) + " " + PadRight(invalid(r[2]), 7) + " ";
        if (r[1]) {
            text += line + "\n";
            continue;
        }
        const auto deps = db.Query(
            "SELECT DISTINCT RDB$DEPENDED_ON_NAME, RDB$DEPENDED_ON_TYPE FROM RDB$DEPENDENCIES WHERE "
            "RDB$DEPENDENT_TYPE = " +
            std::to_string(dependent_type) + " AND RDB$DEPENDENT_NAME = " + Literal(Text(r[0])) +
            " ORDER BY 2, 1");
        if (deps.empty())
            text += line + "\n";
        for (std::size_t i = 0; i < deps.size(); ++i) {
            text += (i == 0 ? line : std::string(line.size(), ' ')) + Text(deps[i][0]) + ", " +
                    DependedOnTypeName(Number(deps[i][1])) + "\n";
        }
    }
    return text;
}

// The parameter's own columns (of RDB$PROCEDURE_PARAMETERS or
// RDB$FUNCTION_ARGUMENTS, alias P) that ParameterLine reads after the name
// and the direction, before the field's.
constexpr const char* kParameterColumns =
    "P.RDB$DEFAULT_SOURCE, P.RDB$RELATION_NAME, P.RDB$FIELD_NAME, P.RDB$COLLATION_ID, ";

// r: name, direction, the parameter's columns, its mechanism (1 = TYPE OF),
// the field's columns. A parameter as isql lists it: its domain (TYPE OF a domain or a column
// named so), the type with the collation on the same line, its own default.
std::string ParameterLine(Catalog& db, const Values& r, const char* direction, bool type_of) {
    const Value& default_source = r[2];
    const FieldType f = ReadField(r, 7);
    std::string line = PadRight(Text(r[0]), 33) + " " + direction + " ";
    if (r[3] && r[4])
        line += "(TYPE OF COLUMN " + *r[3] + "." + *r[4] + ") ";
    else if (!ImplicitDomain(f.source))
        line += std::string(type_of ? "(TYPE OF " : "(") + f.source + ") ";
    const int collation = r[5] ? static_cast<int>(Number(r[5])) : f.collation;
    line += db.TypeText(f, collation);
    if (HasCharset(f.type) && collation != 0)
        line += " COLLATE " + db.CollationName(f.charset, collation);
    if (default_source)
        line += " " + *default_source;
    return line + "\n";
}

std::string ShowProcedure(Catalog& db, const std::string& name) {
    const auto rows = RowsAbout(db, "stored procedure", name,
                                "SELECT RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = ",
                                " AND RDB$PACKAGE_NAME IS NULL");
    std::string text =
        "Procedure text:\n" + kSourceRule + "\n" + Text(rows[0][0]) + "\n" + kSourceRule + "\n";
    const auto params = db.Query(std::string("SELECT P.RDB$PARAMETER_NAME, P.RDB$PARAMETER_TYPE, ") +
                                 kParameterColumns + "P.RDB$PARAMETER_MECHANISM, " + kFieldColumns +
                                 " FROM RDB$PROCEDURE_PARAMETERS P JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = "
                                 "P.RDB$FIELD_SOURCE WHERE P.RDB$PROCEDURE_NAME = " +
                                 Literal(name) +
                                 " AND P.RDB$PACKAGE_NAME IS NULL ORDER BY P.RDB$PARAMETER_TYPE, "
                                 "P.RDB$PARAMETER_NUMBER");
    if (!params.empty()) {
        text += "Parameters:\n";
        for (const Values& p : params)
            text += ParameterLine(db, p, Number(p[1]) == 0 ? "INPUT" : "OUTPUT", Number(p[6]) == 1);
    }
    return text;
}

// A function of an external library (DECLARE EXTERNAL FUNCTION).
std::string ShowExternalFunction(Catalog& db, const std::string& name, const Values& function) {
    // How an argument is passed, as isql writes it; FREE_IT for a negative
    // mechanism of the result.
    static const char* const kMechanisms[] = {" BY VALUE",        "",     " BY DESCRIPTOR", "",
                                              " BY SCALAR_ARRAY", " NULL"};
    auto mechanism = [](long long m) -> std::string {
        if (m < 0)
            return " FREE_IT";
        return m < 6 ? kMechanisms[m] : " ERROR-type-unknown";
    };
    std::string text = "\nExternal function " + name + ":\nFunction library is " + Text(function[1]) +
                       "\nEntry point is " + Text(function[2]) + "\n";
    const long long returns = Number(function[3]);
    const auto args = db.Query(
        "SELECT CAST('' AS CHAR(1)), A.RDB$FIELD_TYPE, A.RDB$FIELD_SUB_TYPE, A.RDB$FIELD_LENGTH, "
        "A.RDB$FIELD_SCALE, "
        "A.RDB$FIELD_PRECISION, A.RDB$CHARACTER_LENGTH, A.RDB$CHARACTER_SET_ID, A.RDB$COLLATION_ID, "
        "CAST(NULL AS INTEGER), CAST(0 AS INTEGER), CAST(NULL AS INTEGER), CAST(NULL AS VARCHAR(1)), "
        "CAST(NULL AS VARCHAR(1)), CAST(NULL AS VARCHAR(1)), A.RDB$ARGUMENT_POSITION, A.RDB$MECHANISM "
        "FROM RDB$FUNCTION_ARGUMENTS A WHERE A.RDB$FUNCTION_NAME = " +
        Literal(name) + " AND A.RDB$PACKAGE_NAME IS NULL ORDER BY A.RDB$ARGUMENT_POSITION");
    std::string arguments;
    for (const Values& a : args) {
        const FieldType f = ReadField(a, 0);
        const std::string type = mechanism(Number(a[kFieldColumnCount + 1])) + " " + db.TypeText(f, 0, true);
        const long long position = Number(a[kFieldColumnCount]);
        if (position == returns)
            text += "Returns " + type + "\n";
        else
            arguments += "Argument " + std::to_string(position) + ":" + type + "\n";
    }
    return text + arguments;
}

std::string ShowFunction(Catalog& db, const std::string& name) {
    const auto rows = RowsAbout(
        db, "user-defined function", name,
        "SELECT RDB$FUNCTION_SOURCE, RDB$MODULE_NAME, RDB$ENTRYPOINT, RDB$RETURN_ARGUMENT FROM RDB$FUNCTIONS "
        "WHERE RDB$FUNCTION_NAME = ",
        " AND RDB$PACKAGE_NAME IS NULL");
    if (rows[0][1])
        return ShowExternalFunction(db, name, rows[0]);
    std::string text = "Function text:\n" + kSourceRule + "\n" + Text(rows[0][0]) + "\n" + kSourceRule + "\n";
    const auto args =
        db.Query(std::string("SELECT P.RDB$ARGUMENT_NAME, P.RDB$ARGUMENT_POSITION, ") + kParameterColumns +
                 "P.RDB$ARGUMENT_MECHANISM, " + kFieldColumns +
                 " FROM RDB$FUNCTION_ARGUMENTS P JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = "
                 "P.RDB$FIELD_SOURCE WHERE P.RDB$FUNCTION_NAME = " +
                 Literal(name) + " AND P.RDB$PACKAGE_NAME IS NULL ORDER BY P.RDB$ARGUMENT_POSITION");
    if (!args.empty()) {
        text += "Parameters:\n";
        for (const Values& a : args)
            text += ParameterLine(db, a, a[0] ? "INPUT" : "OUTPUT", Number(a[6]) == 1);
    }
    return text;
}

std::string ShowPackage(Catalog& db, const std::string& name) {
    const auto rows = RowsAbout(db, "package", name,
                                "SELECT RDB$PACKAGE_HEADER_SOURCE, RDB$PACKAGE_BODY_SOURCE FROM RDB$PACKAGES "
                                "WHERE RDB$PACKAGE_NAME = ");
    std::string text = PadRight(name, kNameWidth) + "\nHeader source:\n" + Text(rows[0][0]) + "\n";
    if (rows[0][1])
        text += "\nBody source:\n" + *rows[0][1] + "\n";
    return text;
}

// ---- comments ---------------------------------------------------------

std::string ShowComments(Catalog& db) {
    struct Kind {
        const char* label;
        const char* sql;
    };
    // Relations come with the comments of their columns, procedures with
    // those of their parameters.
    std::string text;
    auto add = [&text](const std::string& label, const Values& r) {
        text += "COMMENT ON " + label + Text(r[0]) + " IS " + Text(r[1]) + ";\n";
    };
    const auto database =
        db.Query("SELECT RDB$DESCRIPTION FROM RDB$DATABASE WHERE RDB$DESCRIPTION IS NOT NULL");
    for (const Values& r : database)
        text += "COMMENT ON DATABASE     IS " + Text(r[0]) + ";\n";
    for (const Values& r :
         db.Query(std::string("SELECT RDB$FIELD_NAME, RDB$DESCRIPTION FROM RDB$FIELDS WHERE ") + kUserObject +
                  " AND RDB$DESCRIPTION IS NOT NULL AND RDB$FIELD_NAME NOT STARTING 'RDB$' "
                  "ORDER BY 1"))
        add("DOMAIN       ", r);
    for (const bool views : {false, true}) {
        for (const Values& rel : db.Query(std::string("SELECT RDB$RELATION_NAME, RDB$DESCRIPTION FROM "
                                                      "RDB$RELATIONS WHERE ") +
                                          kUserObject + " AND RDB$VIEW_BLR IS " +
                                          (views ? "NOT NULL" : "NULL") + " ORDER BY 1")) {
            if (rel[1])
                add(views ? "VIEW         " : "TABLE        ", rel);
            for (const Values& f : db.Query("SELECT RDB$FIELD_NAME, RDB$DESCRIPTION FROM RDB$RELATION_FIELDS "
                                            "WHERE RDB$RELATION_NAME = " +
                                            Literal(Text(rel[0])) +
                                            " AND RDB$DESCRIPTION IS NOT NULL ORDER BY RDB$FIELD_POSITION"))
                text += "COMMENT ON    COLUMN    " + Text(rel[0]) + "." + Text(f[0]) + " IS " + Text(f[1]) +
                        ";\n";
        }
    }
    for (const Values& proc : db.Query(
             std::string("SELECT RDB$PROCEDURE_NAME, RDB$DESCRIPTION, RDB$PACKAGE_NAME FROM RDB$PROCEDURES "
                         "WHERE ") +
             kUserObject + " ORDER BY RDB$PACKAGE_NAME NULLS FIRST, RDB$PROCEDURE_NAME")) {
        if (proc[1] && !proc[2])
            add("PROCEDURE    ", proc);
        const std::string package = proc[2] ? " AND RDB$PACKAGE_NAME = " + Literal(*proc[2])
                                            : std::string(" AND RDB$PACKAGE_NAME IS NULL");
        for (const Values& p :
             db.Query("SELECT RDB$PARAMETER_NAME, RDB$DESCRIPTION FROM RDB$PROCEDURE_PARAMETERS "
                      "WHERE RDB$PROCEDURE_NAME = " +
                      Literal(Text(proc[0])) + package +
                      " AND RDB$DESCRIPTION IS NOT NULL "
                      "ORDER BY RDB$PARAMETER_TYPE, RDB$PARAMETER_NUMBER"))
            text += "COMMENT ON    PROCEDURE PARAMETER " + (proc[2] ? *proc[2] + "." : std::string()) +
                    Text(proc[0]) + "." + Text(p[0]) + " IS " + Text(p[1]) + ";\n";
    }
    const Kind kinds[] = {
        {"TRIGGER      ", "SELECT RDB$TRIGGER_NAME, RDB$DESCRIPTION FROM RDB$TRIGGERS WHERE "},
        {"FUNCTION     ",
         "SELECT RDB$FUNCTION_NAME, RDB$DESCRIPTION FROM RDB$FUNCTIONS WHERE RDB$PACKAGE_NAME IS NULL AND "},
        {"FILTER       ", "SELECT RDB$FUNCTION_NAME, RDB$DESCRIPTION FROM RDB$FILTERS WHERE "},
        {"EXCEPTION    ", "SELECT RDB$EXCEPTION_NAME, RDB$DESCRIPTION FROM RDB$EXCEPTIONS WHERE "},
        {"GENERATOR    ", "SELECT RDB$GENERATOR_NAME, RDB$DESCRIPTION FROM RDB$GENERATORS WHERE "},
        {"INDEX        ", "SELECT RDB$INDEX_NAME, RDB$DESCRIPTION FROM RDB$INDICES WHERE "},
        {"ROLE         ", "SELECT RDB$ROLE_NAME, RDB$DESCRIPTION FROM RDB$ROLES WHERE "},
        {"PACKAGE      ", "SELECT RDB$PACKAGE_NAME, RDB$DESCRIPTION FROM RDB$PACKAGES WHERE "},
        {"COLLATION    ", "SELECT RDB$COLLATION_NAME, RDB$DESCRIPTION FROM RDB$COLLATIONS WHERE "},
        {"CHARACTER SET ", "SELECT RDB$CHARACTER_SET_NAME, RDB$DESCRIPTION FROM RDB$CHARACTER_SETS WHERE "},
    };
    for (const Kind& kind : kinds) {
        for (const Values& r :
             db.Query(std::string(kind.sql) + kUserObject + " AND RDB$DESCRIPTION IS NOT NULL ORDER BY 1"))
            add(kind.label, r);
    }
    if (text.empty())
        Missing("There are no comments for objects in this database");
    return text;
}

// ---- collations, dialect, users ----------------------------------------

std::string ShowCollations(Catalog& db, const std::optional<std::string>& name, bool system = false) {
    std::string sql =
        "SELECT C.RDB$COLLATION_NAME, S.RDB$CHARACTER_SET_NAME, C.RDB$BASE_COLLATION_NAME, "
        "C.RDB$COLLATION_ATTRIBUTES, C.RDB$SPECIFIC_ATTRIBUTES FROM RDB$COLLATIONS C JOIN RDB$CHARACTER_SETS "
        "S "
        "ON S.RDB$CHARACTER_SET_ID = C.RDB$CHARACTER_SET_ID WHERE COALESCE(C.RDB$SYSTEM_FLAG, 0) = ";
    sql += system ? "1" : "0";
    if (name)
        sql += " AND C.RDB$COLLATION_NAME = " + Literal(*name);
    const auto rows = db.Query(sql + " ORDER BY C.RDB$COLLATION_NAME");
    if (rows.empty())
        Missing(name ? "There is no collation " + *name + " in this database"
                     : "There are no user-defined collations in this database");
    std::string text;
    for (const Values& r : rows) {
        const long long attributes = Number(r[3]);
        text += Text(r[0]) + ", CHARACTER SET " + Text(r[1]);
        if (r[2])
            text += ", FROM EXTERNAL ('" + *r[2] + "')";
        text += (attributes & 1) ? ", PAD SPACE" : ", NO PAD";
        if (attributes & 2)
            text += ", CASE INSENSITIVE";
        if (attributes & 4)
            text += ", ACCENT INSENSITIVE";
        if (r[4])
            text += ", '" + *r[4] + "'";
        text += system ? ", SYSTEM\n" : "\n";
    }
    return text + "\n";
}

std::string ShowDialect(Catalog& db) {
    const auto rows = db.Query("SELECT MON$SQL_DIALECT FROM MON$DATABASE");
    return "        Client SQL dialect is set to: " + std::to_string(db.settings().client_dialect) +
           " and database SQL dialect is: " + (rows.empty() ? std::string("?") : Text(rows[0][0])) + "\n";
}

std::string ShowUsers(Catalog& db) {
    const auto rows = db.Query(
        "SELECT MON$USER, COUNT(*), MAX(IIF(MON$ATTACHMENT_ID = CURRENT_CONNECTION, 1, 0)) "
        "FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0 GROUP BY MON$USER ORDER BY MON$USER");
    if (rows.empty())
        Missing("There are no connected users");
    std::string text = "Users in the database\n";
    for (const Values& r : rows) {
        std::string count = std::to_string(Number(r[1]));
        if (count.size() < 3)
            count.insert(0, 3 - count.size(), ' ');
        text += count + " " + (Number(r[2]) == 1 ? "#" : " ") + PadRight(Text(r[0]), 34) + "\n";
    }
    return text;
}

std::string ShowMappings(Catalog& db, const std::optional<std::string>& name) {
    std::string sql =
        "SELECT RDB$MAP_NAME, RDB$MAP_USING, RDB$MAP_PLUGIN, RDB$MAP_DB, RDB$MAP_FROM_TYPE, RDB$MAP_FROM, "
        "RDB$MAP_TO_TYPE, RDB$MAP_TO FROM RDB$AUTH_MAPPING WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0";
    if (name)
        sql += " AND RDB$MAP_NAME = " + Literal(*name);
    const auto rows = db.Query(sql + " ORDER BY RDB$MAP_NAME");
    if (rows.empty())
        Missing(name ? "There is no mapping " + *name + " in this database"
                     : "There are no mappings in this database");
    std::string text;
    for (const Values& r : rows) {
        const std::string how = Text(r[1]);
        text += Text(r[0]) + " USING ";
        if (how == "P")
            text += r[2] ? "PLUGIN " + *r[2] : std::string("ANY PLUGIN");
        else if (how == "S")
            text += "ANY PLUGIN SERVERWIDE";
        else if (how == "M")
            text += "MAPPING";
        else
            text += how;
        if (r[3])
            text += " IN " + *r[3];
        const std::string from = Text(r[5]);
        text += " FROM " + (from == "*" ? "ANY " + Text(r[4]) : Text(r[4]) + " " + from);
        text += std::string(" TO ") + (Number(r[6]) == 1 ? "ROLE " : "USER ") + Text(r[7]) + "\n";
    }
    return text;
}

// ---- the database and the versions --------------------------------------

std::string ShowDatabase(Catalog& db) {
    const auto rows = db.Query(
        "SELECT MON$DATABASE_NAME, MON$PAGE_SIZE, MON$PAGES, MON$SWEEP_INTERVAL, MON$FORCED_WRITES, "
        "MON$OLDEST_TRANSACTION, MON$OLDEST_ACTIVE, MON$OLDEST_SNAPSHOT, MON$NEXT_TRANSACTION, "
        "MON$ODS_MAJOR, "
        "MON$ODS_MINOR, MON$CRYPT_PAGE, EXTRACT(YEAR FROM MON$CREATION_DATE), "
        "EXTRACT(MONTH FROM MON$CREATION_DATE), EXTRACT(DAY FROM MON$CREATION_DATE), "
        "EXTRACT(HOUR FROM MON$CREATION_DATE), EXTRACT(MINUTE FROM MON$CREATION_DATE), "
        "FLOOR(EXTRACT(SECOND FROM MON$CREATION_DATE)), "
        "(SELECT RDB$OWNER_NAME FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'RDB$DATABASE'), "
        "(SELECT RDB$CHARACTER_SET_NAME FROM RDB$DATABASE) FROM MON$DATABASE");
    if (rows.empty())
        throw ShowFailure("The database does not describe itself (MON$DATABASE is empty)");
    const Values& r = rows[0];
    const AttachmentFacts facts = db.Facts();
    const std::string& name = db.settings().database;
    std::string text = "Database: " + (name.empty() ? Text(r[0]) : name) + "\n";
    text += "        Owner: " + PadRight(Text(r[18]), 31) + "\n";
    text += "PAGE_SIZE " + Text(r[1]) + "\n";
    text += "Number of DB pages allocated = " + Text(r[2]) + "\n";
    if (facts.pages_used >= 0)
        text += "Number of DB pages used = " + std::to_string(facts.pages_used) + "\n";
    if (facts.pages_free >= 0)
        text += "Number of DB pages free = " + std::to_string(facts.pages_free) + "\n";
    text += "Sweep interval = " + Text(r[3]) + "\n";
    text += std::string("Forced Writes are ") + (Number(r[4]) == 1 ? "ON" : "OFF") + "\n";
    text += "Transaction - oldest = " + Text(r[5]) + "\n";
    text += "Transaction - oldest active = " + Text(r[6]) + "\n";
    text += "Transaction - oldest snapshot = " + Text(r[7]) + "\n";
    text += "Transaction - Next = " + Text(r[8]) + "\n";
    text += "ODS = " + Text(r[9]) + "." + Text(r[10]) + "\n";
    text += Number(r[11]) == 0 ? "Database not encrypted\n" : "Database encrypted\n";
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long long month = Number(r[13]);
    auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    text += std::string("Creation date: ") + (month >= 1 && month <= 12 ? kMonths[month - 1] : "?") + " " +
            std::to_string(Number(r[14])) + ", " + std::to_string(Number(r[12])) + " " +
            std::to_string(Number(r[15])) + ":" + two(Number(r[16])) + ":" + two(Number(r[17])) + "\n";
    text += "Default Character set: " + Text(r[19]) + "\n";
    return text;
}

std::string ShowVersion(Catalog& db) {
    const AttachmentFacts facts = db.Facts();
    std::string text = "ISQL Version: " + facts.client_version + "\nServer version:\n";
    for (const std::string& line : facts.server_versions)
        text += line + "\n";
    return text;
}

// ---- filters ----------------------------------------------------------

std::string ShowFilter(Catalog& db, const std::string& name) {
    const auto rows = RowsAbout(
        db, "filter", name,
        "SELECT RDB$INPUT_SUB_TYPE, RDB$OUTPUT_SUB_TYPE, RDB$MODULE_NAME, RDB$ENTRYPOINT FROM RDB$FILTERS "
        "WHERE RDB$FUNCTION_NAME = ");
    const Values& r = rows[0];
    return "BLOB Filter: " + name + " \n        Input subtype: " + std::to_string(Number(r[0])) +
           " Output subtype: " + std::to_string(Number(r[1])) + "\n        Filter library is " + Text(r[2]) +
           "\n        Entry point is " + Text(r[3]) + "\n\n";
}

// ---- system objects ---------------------------------------------------

std::string ShowSystem(Catalog& db, const std::optional<std::string>& part) {
    auto tables = [&db] {
        return NameColumns(Names(db,
                                 "SELECT RDB$RELATION_NAME FROM RDB$RELATIONS WHERE RDB$SYSTEM_FLAG = 1 "
                                 "ORDER BY 1"),
                           db.settings().charset);
    };
    auto collations = [&db] {
        return NameColumns(Names(db,
                                 "SELECT RDB$COLLATION_NAME FROM RDB$COLLATIONS WHERE RDB$SYSTEM_FLAG = 1 "
                                 "ORDER BY 1"),
                           db.settings().charset);
    };
    if (!part)
        return "Tables:\n" + tables() + "Collations:\n" + collations();
    const std::string& p = *part;
    if (p.size() >= 5 && std::string_view("TABLES").substr(0, p.size()) == p)
        return tables();
    if (p.size() >= 7 && std::string_view("COLLATIONS").substr(0, p.size()) == p)
        return ShowCollations(db, std::nullopt, true);
    throw ShowFailure("Command error: SHOW SYSTEM " + p);
}

// ---- privileges -------------------------------------------------------

// A name as isql quotes it where a statement could use it: in double quotes
// unless it is an ordinary upper-case identifier.
std::string SqlName(const std::string& name, int dialect) {
    bool plain = !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
    for (const char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'))
            plain = false;
    }
    return plain ? name : Quoted(name, dialect);
}

std::string Grantee(const std::string& user, long long type) {
    switch (type) {
        case 1:
            return "VIEW " + user;
        case 2:
            return "TRIGGER " + user;
        case 5:
            return "PROCEDURE " + user;
        case 13:
            return "ROLE " + user;
        case 15:
            return "FUNCTION " + user;
        case 18:
            return "PACKAGE " + user;
        default:
            return user == "PUBLIC" ? user : "USER " + user;
    }
}

// The privileges granted on objects of one kind (RDB$OBJECT_TYPE), one line
// per object, grantee and grant option; the owner's own privileges are not
// listed.
std::string ObjectGrants(Catalog& db, int object_type, const char* on,
                         const std::optional<std::string>& name) {
    std::string sql =
        "SELECT RDB$RELATION_NAME, RDB$USER, RDB$USER_TYPE, RDB$GRANT_OPTION, RDB$PRIVILEGE, RDB$FIELD_NAME "
        "FROM RDB$USER_PRIVILEGES WHERE RDB$OBJECT_TYPE = " +
        std::to_string(object_type) +
        " AND RDB$GRANTOR IS NOT NULL AND NOT (RDB$USER = RDB$GRANTOR AND RDB$USER_TYPE = 8)";
    if (name)
        sql += " AND RDB$RELATION_NAME = " + Literal(*name);
    const auto rows =
        db.Query(sql + " ORDER BY RDB$RELATION_NAME, RDB$USER, RDB$USER_TYPE, RDB$GRANT_OPTION");
    std::string text;
    for (std::size_t i = 0; i < rows.size();) {
        const Values& first = rows[i];
        // Table privileges in isql's order; UPDATE and REFERENCES may name
        // columns.
        std::map<char, std::vector<std::string>> privileges;
        std::size_t j = i;
        for (; j < rows.size() && rows[j][0] == first[0] && rows[j][1] == first[1] &&
               rows[j][2] == first[2] && rows[j][3] == first[3];
             ++j) {
            const std::string p = Text(rows[j][4]);
            auto& columns = privileges[p.empty() ? '?' : p[0]];
            if (rows[j][5])
                columns.push_back(*rows[j][5]);
        }
        i = j;
        std::vector<std::string> words;
        auto add = [&](char code, const char* word) {
            const auto it = privileges.find(code);
            if (it == privileges.end())
                return;
            std::string text = word;
            if (!it->second.empty())
                text += " (" + Join(it->second, ", ") + ")";
            words.push_back(text);
        };
        add('D', "DELETE");
        add('I', "INSERT");
        add('S', "SELECT");
        add('U', "UPDATE");
        add('R', "REFERENCES");
        add('X', "EXECUTE");
        add('G', "USAGE");
        const std::string object = Text(first[0]);
        if (object_type == 13) {
            text += "GRANT " + object + " TO " + Text(first[1]);
            text += Number(first[3]) != 0 ? " WITH ADMIN OPTION\n" : "\n";
            continue;
        }
        text += "GRANT " + Join(words, ", ") + " ON " + on + object + " TO " +
                Grantee(Text(first[1]), Number(first[2]));
        text += Number(first[3]) != 0 ? " WITH GRANT OPTION\n" : "\n";
    }
    return text;
}

struct GrantKind {
    int object_type;
    const char* on;
};
constexpr GrantKind kGrantKinds[] = {
    {0, ""},           {13, ""},          {5, "PROCEDURE "}, {18, "PACKAGE "},       {15, "FUNCTION "},
    {14, "SEQUENCE "}, {7, "EXCEPTION "}, {9, "DOMAIN "},    {11, "CHARACTER SET "}, {17, "COLLATION "},
};

std::string ShowGrants(Catalog& db, const std::optional<std::string>& name) {
    std::string text;
    for (const GrantKind& kind : kGrantKinds)
        text += ObjectGrants(db, kind.object_type, kind.on, name);
    if (name) {
        if (text.empty()) {
            const std::string on = " " + *name + " in this database";
            if (FindRelation(db, *name))
                Missing("There is no privilege granted on table" + on);
            if (Exists(db, "SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = " + Literal(*name)))
                Missing("There is no privilege granted on stored procedure" + on);
            if (Exists(db, "SELECT 1 FROM RDB$ROLES WHERE RDB$ROLE_NAME = " + Literal(*name)))
                Missing("There is no membership privilege granted on" + on);
            for (const char* table :
                 {"RDB$FUNCTIONS WHERE RDB$FUNCTION_NAME", "RDB$GENERATORS WHERE RDB$GENERATOR_NAME",
                  "RDB$PACKAGES WHERE RDB$PACKAGE_NAME", "RDB$EXCEPTIONS WHERE RDB$EXCEPTION_NAME"}) {
                if (Exists(db, std::string("SELECT 1 FROM ") + table + " = " + Literal(*name)))
                    Missing("There is no privilege granted on" + on);
            }
            Missing("There is no metadata object" + on);
        }
        return text;
    }
    if (text.empty())
        Missing("There is no privilege granted in this database");
    return "\n/* Grant permissions for this database */\n" + text;
}

std::string ShowRole(Catalog& db, const std::string& name) {
    if (!Exists(db, "SELECT 1 FROM RDB$ROLES WHERE RDB$ROLE_NAME = " + Literal(name)))
        NoSuch("role", name);
    std::string text = "Role " + SqlName(name, db.settings().client_dialect) + " is granted to:\n";
    for (const std::string& user :
         Names(db,
               "SELECT RDB$USER FROM RDB$USER_PRIVILEGES WHERE RDB$OBJECT_TYPE = 13 "
               "AND RDB$PRIVILEGE = 'M' AND RDB$RELATION_NAME = " +
                   Literal(name) + " ORDER BY 1"))
        text += user + "\n";
    return text;
}

// The listing's lines, without their line ends.
std::vector<std::string> Lines(const std::string& listing) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        lines.push_back(listing.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// ---- the command ------------------------------------------------------

enum class What {
    Checks,
    Comments,
    Collations,
    Domains,
    Database,
    Dependencies,
    Exceptions,
    Filters,
    Functions,
    Generators,
    Grants,
    Indices,
    Mappings,
    Procedures,
    Packages,
    Roles,
    System,
    SecurityClasses,
    Schemas,
    Tables,
    Triggers,
    Users,
    Views,
    Version,
    SqlDialect,
};

// isql's words for the object kinds: any start of the word at least
// min_length long.
struct KindWord {
    const char* word;
    std::size_t min_length;
    What what;
};
constexpr KindWord kKindWords[] = {
    {"CHECKS", 5, What::Checks},
    {"COMMENTS", 7, What::Comments},
    {"COLLATES", 7, What::Collations},
    {"COLLATIONS", 9, What::Collations},
    {"DOMAINS", 6, What::Domains},
    {"DB", 2, What::Database},
    {"DATABASE", 8, What::Database},
    {"DEPENDENCY", 5, What::Dependencies},
    {"DEPENDENCIES", 5, What::Dependencies},
    {"EXCEPTIONS", 5, What::Exceptions},
    {"FILTERS", 6, What::Filters},
    {"FUNCTIONS", 4, What::Functions},
    {"GENERATORS", 3, What::Generators},
    {"GRANTS", 5, What::Grants},
    {"INDEXES", 3, What::Indices},
    {"INDICES", 7, What::Indices},
    {"MAPPING", 3, What::Mappings},
    {"PROCEDURES", 4, What::Procedures},
    {"PACKAGES", 4, What::Packages},
    {"ROLES", 4, What::Roles},
    {"SYSTEM", 3, What::System},
    {"SEQUENCES", 3, What::Generators},
    {"SECCLASSES", 6, What::SecurityClasses},
    {"SCHEMAS", 4, What::Schemas},
    {"TABLES", 5, What::Tables},
    {"TRIGGERS", 4, What::Triggers},
    {"USERS", 5, What::Users},
    {"VIEWS", 4, What::Views},
    {"VERSION", 3, What::Version},
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

struct Request {
    What what = What::Tables;
    std::optional<std::string> name;  // the object named, as stored
};

// "SHOW TABLE x": bare names in capitals, quoted ones as written; words
// after the name are not read, as in isql.
Request ParseRequest(std::string_view statement) {
    TokenReader tokens(statement);
    tokens.Next();  // SHOW
    const std::string command_error = "Command error: " + std::string(statement);
    const Token word = tokens.Next();
    if (word.kind == Token::Kind::End)
        throw ShowFailure(command_error, Lines(kValidOptions));
    const std::string w = word.kind == Token::Kind::Bare ? cp1251::Upper(word.value) : std::string();
    Request request;
    bool known = false;
    if (w == "SQL") {
        const Token dialect = tokens.Next();
        known = dialect.kind == Token::Kind::Bare && cp1251::Upper(dialect.value) == "DIALECT";
        request.what = What::SqlDialect;
    } else if (w == "SECURITY") {
        const Token classes = tokens.Next();
        const std::string c = cp1251::Upper(classes.value);
        known = classes.kind == Token::Kind::Bare && c.size() >= 3 && std::string("CLASSES").rfind(c, 0) == 0;
        request.what = What::SecurityClasses;
    } else {
        for (const KindWord& k : kKindWords) {
            if (w.size() >= k.min_length && std::string_view(k.word).substr(0, w.size()) == w) {
                request.what = k.what;
                known = true;
                break;
            }
        }
    }
    if (!known)
        throw ShowFailure(command_error);
    const Token name = tokens.Next();
    if (name.kind == Token::Kind::Bare) {
        request.name = cp1251::Upper(name.value);
    } else if (name.kind == Token::Kind::Quoted) {
        request.name = name.value;
    } else if (name.kind == Token::Kind::String) {
        throw ShowFailure(command_error);
    }
    return request;
}

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

std::string Listing(Catalog& db, const Request& r, std::string_view statement) {
    const auto& name = r.name;
    switch (r.what) {
        case What::Tables:
            return ShowOrList(
                db, name,
                {ShowTable, "RDB$RELATION_NAME", "RDB$RELATIONS", " AND RDB$VIEW_BLR IS NULL", "tables"});
        case What::Views:
            return ShowOrList(
                db, name,
                {ShowView, "RDB$RELATION_NAME", "RDB$RELATIONS", " AND RDB$VIEW_BLR IS NOT NULL", "views"});
        case What::Domains:
            return ShowOrList(db, name,
                              {ShowDomain, "RDB$FIELD_NAME", "RDB$FIELDS",
                               " AND RDB$FIELD_NAME NOT STARTING 'RDB$'", "domains"});
        case What::Roles:
            return ShowOrList(db, name, {ShowRole, "RDB$ROLE_NAME", "RDB$ROLES", "", "roles"});
        case What::Packages:
            return ShowOrList(db, name, {ShowPackage, "RDB$PACKAGE_NAME", "RDB$PACKAGES", "", "packages"});
        case What::Generators:
            return ShowGenerators(db, name);
        case What::Indices:
            return ShowIndices(db, name);
        case What::Triggers:
            return name ? ShowTrigger(db, *name) : ShowTriggers(db);
        case What::Exceptions:
            return ShowExceptions(db, name);
        case What::Procedures:
            return name ? ShowProcedure(db, *name) : ShowRoutines(db, false);
        case What::Functions:
            return name ? ShowFunction(db, *name) : ShowRoutines(db, true);
        case What::Checks:
            if (!name)
                throw ShowFailure("SHOW CHECK needs a table name");
            return ShowCheck(db, *name);
        case What::Comments:
            return ShowComments(db);
        case What::Collations:
            return ShowCollations(db, name);
        case What::SqlDialect:
            return ShowDialect(db);
        case What::Users:
            return ShowUsers(db);
        case What::Mappings:
            return ShowMappings(db, name);
        case What::Grants:
            return ShowGrants(db, name);
        case What::Database:
            return ShowDatabase(db);
        case What::Version:
            return ShowVersion(db);
        case What::System:
            return ShowSystem(db, name);
        case What::Filters:
            return ShowOrList(db, name, {ShowFilter, "RDB$FUNCTION_NAME", "RDB$FILTERS", "", "filters"});
        case What::Schemas:
            throw ShowFailure("Command error: " + std::string(statement));
        case What::Dependencies:
        case What::SecurityClasses:
            break;
    }
    throw ShowFailure("This SHOW command is not available in a script run by this engine");
}

}  // namespace

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
    static const char* const kCommands[] = {"SHELL", "EDIT", "BLOBDUMP", "BLOBVIEW", "HELP", "ADD", "COPY"};
    for (const char* command : kCommands) {
        if (EqualsWord(first_word, command))
            return std::string(command) +
                   " is a command of isql's interactive session; a script run does not execute it";
    }
    return {};
}

std::vector<std::string> Show(Session& session, std::string_view statement, const ShowSettings& settings) {
    // Every SHOW command reads in a transaction of its own, one that cannot
    // be answered too, as in isql.
    session.BeginShow();
    std::vector<std::string> lines;
    try {
        Catalog db(session, settings);
        lines = Lines(Listing(db, ParseRequest(statement), statement));
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

void RunShowCommand(Session& session, std::string_view statement, const ShowSettings& settings,
                    Reporter& reporter, OutputFile* output) {
    auto report = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            reporter.Statement(line);
            if (output != nullptr)
                output->WriteText(line + "\r\n");
        }
    };
    try {
        report(Show(session, statement, settings));
    } catch (const ShowFailure& e) {
        report(e.listing);
        throw CommandError(CommandKind::Show, e.what());
    }
}

}  // namespace tallo::engine
