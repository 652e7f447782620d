// SHOW of tables, views, generators, indices, triggers, domains and exceptions.
#include "engine/show/catalog.h"
#include "text/code_names.h"

namespace tallo::engine::show {

// ---- tables and views -------------------------------------------------

static std::string TriggerType(long long type) {
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
static std::string TriggerLine(const Values& r) {
    return Text(r[0]) + ", Sequence: " + std::to_string(Number(r[1])) +
           ", Type: " + TriggerType(Number(r[2])) + ", " + (Number(r[3]) == 1 ? "Inactive" : "Active");
}

constexpr const char* kTriggerColumns =
    "RDB$TRIGGER_NAME, RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_TYPE, RDB$TRIGGER_INACTIVE";

static std::string TableTriggers(Catalog& db, const std::string& table) {
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
static bool BaseNotNull(Catalog& db, const std::string& view, long long context, const std::string& field,
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

static std::string FieldLines(Catalog& db, const std::string& relation, bool view) {
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

static std::string IndexFields(Catalog& db, const std::string& index) {
    return Join(Names(db, "SELECT RDB$FIELD_NAME FROM RDB$INDEX_SEGMENTS WHERE RDB$INDEX_NAME = " +
                              Literal(index) + " ORDER BY RDB$FIELD_POSITION"),
                ", ");
}

static std::string RuleText(const std::string& rule) {
    if (rule == "CASCADE")
        return "Cascade";
    if (rule == "SET NULL")
        return "Set Null";
    if (rule == "SET DEFAULT")
        return "Set Default";
    return {};
}

// The constraints (RDB$RELATION_CONSTRAINTS RC) of table that condition
// picks, in the order of their names: select is the query up to its WHERE,
// condition what follows the table's name.
static std::vector<Values> Constraints(Catalog& db, const std::string& table, const char* select,
                                       const char* condition) {
    return db.Query(std::string(select) + " WHERE RC.RDB$RELATION_NAME = " + Literal(table) + condition +
                    " ORDER BY RC.RDB$CONSTRAINT_NAME");
}

static std::string CheckConstraints(Catalog& db, const std::string& table) {
    std::string text;
    for (const Values& r : Constraints(
             db, table,
             "SELECT RC.RDB$CONSTRAINT_NAME, MIN(T.RDB$TRIGGER_TYPE) FROM RDB$RELATION_CONSTRAINTS RC "
             "JOIN RDB$CHECK_CONSTRAINTS CC ON CC.RDB$CONSTRAINT_NAME = RC.RDB$CONSTRAINT_NAME "
             "JOIN RDB$TRIGGERS T ON T.RDB$TRIGGER_NAME = CC.RDB$TRIGGER_NAME",
             " AND RC.RDB$CONSTRAINT_TYPE = 'CHECK' GROUP BY RC.RDB$CONSTRAINT_NAME")) {
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

static std::string KeyConstraints(Catalog& db, const std::string& table) {
    std::string text;
    for (const Values& r :
         Constraints(db, table,
                     "SELECT RC.RDB$CONSTRAINT_NAME, RC.RDB$CONSTRAINT_TYPE, RC.RDB$INDEX_NAME, "
                     "REF.RDB$UPDATE_RULE, REF.RDB$DELETE_RULE, UQ.RDB$RELATION_NAME, "
                     "UQ.RDB$INDEX_NAME FROM RDB$RELATION_CONSTRAINTS RC "
                     "LEFT JOIN RDB$REF_CONSTRAINTS REF "
                     "ON REF.RDB$CONSTRAINT_NAME = RC.RDB$CONSTRAINT_NAME "
                     "LEFT JOIN RDB$RELATION_CONSTRAINTS UQ "
                     "ON UQ.RDB$CONSTRAINT_NAME = REF.RDB$CONST_NAME_UQ",
                     " AND RC.RDB$CONSTRAINT_TYPE IN ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY')")) {
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

// ---- generators -------------------------------------------------------

std::string ShowGenerators(Catalog& db, const std::optional<std::string>& name) {
    std::string sql =
        "SELECT RDB$GENERATOR_NAME, RDB$INITIAL_VALUE, RDB$GENERATOR_INCREMENT FROM RDB$GENERATORS WHERE ";
    sql += kUserObject;
    const auto rows = ListingRows(db, sql, "RDB$GENERATOR_NAME", name, "generator",
                                  "There are no generators in this database");
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

static std::string IndexLine(Catalog& db, const Values& r) {
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
static std::string DependentTypeName(long long type) {
    static constexpr CodeName kNames[] = {{2, "Trigger"}, {5, "Stored procedure"}};
    const char* name = NameOf(kNames, type);
    return name ? name : "Unknown";
}

std::string ShowExceptions(Catalog& db, const std::optional<std::string>& name) {
    std::string sql = "SELECT RDB$EXCEPTION_NAME, RDB$MESSAGE FROM RDB$EXCEPTIONS WHERE ";
    sql += kUserObject;
    const auto rows = ListingRows(db, sql, "RDB$EXCEPTION_NAME", name, "exception",
                                  "There are no exceptions in this database");
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

}  // namespace tallo::engine::show
