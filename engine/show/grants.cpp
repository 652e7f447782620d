// SHOW GRANTS and SHOW ROLE: privileges as isql lists them.
#include "engine/show/catalog.h"
#include "text/code_names.h"

namespace tallo::engine::show {

// ---- privileges -------------------------------------------------------

// A name as isql quotes it where a statement could use it: in double quotes
// unless it is an ordinary upper-case identifier.
static std::string SqlName(const std::string& name, int dialect) {
    bool plain = !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
    for (const char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'))
            plain = false;
    }
    return plain ? name : Quoted(name, dialect);
}

static std::string Grantee(const std::string& user, long long type) {
    static constexpr CodeName kKinds[] = {{1, "VIEW "},  {2, "TRIGGER "},   {5, "PROCEDURE "},
                                          {13, "ROLE "}, {15, "FUNCTION "}, {18, "PACKAGE "}};
    if (const char* kind = NameOf(kKinds, type))
        return kind + user;
    return user == "PUBLIC" ? user : "USER " + user;
}

// The privileges granted on objects of one kind (RDB$OBJECT_TYPE), one line
// per object, grantee and grant option; the owner's own privileges are not
// listed.
static std::string ObjectGrants(Catalog& db, int object_type, const char* on,
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

}  // namespace tallo::engine::show
