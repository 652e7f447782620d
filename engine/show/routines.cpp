// SHOW of procedures, functions, packages, and the comments on objects.
#include "engine/show/catalog.h"
#include "text/code_names.h"

namespace tallo::engine::show {

// ---- procedures, functions and packages -------------------------------

static std::string DependedOnTypeName(long long type) {
    static constexpr CodeName kNames[] = {
        {0, "Table"},  {1, "View"},       {2, "Trigger"},   {5, "Procedure"},  {7, "Exception"},
        {9, "Domain"}, {14, "Generator"}, {15, "Function"}, {17, "Collation"}, {18, "Package"}};
    const char* name = NameOf(kNames, type);
    return name ? name : "Object type " + std::to_string(type);
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
static std::string ParameterLine(Catalog& db, const Values& r, const char* direction, bool type_of) {
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
static std::string ShowExternalFunction(Catalog& db, const std::string& name, const Values& function) {
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

}  // namespace tallo::engine::show
