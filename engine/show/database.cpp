// SHOW of collations, the dialect, users and mappings, the database and its versions, filters and system
// objects.
#include "engine/show/catalog.h"

namespace tallo::engine::show {

// ---- collations, dialect, users ----------------------------------------

std::string ShowCollations(Catalog& db, const std::optional<std::string>& name, bool system) {
    std::string sql =
        "SELECT C.RDB$COLLATION_NAME, S.RDB$CHARACTER_SET_NAME, C.RDB$BASE_COLLATION_NAME, "
        "C.RDB$COLLATION_ATTRIBUTES, C.RDB$SPECIFIC_ATTRIBUTES FROM RDB$COLLATIONS C JOIN RDB$CHARACTER_SETS "
        "S "
        "ON S.RDB$CHARACTER_SET_ID = C.RDB$CHARACTER_SET_ID WHERE COALESCE(C.RDB$SYSTEM_FLAG, 0) = ";
    sql += system ? "1" : "0";
    const auto rows = ListingRows(db, sql, "C.RDB$COLLATION_NAME", name, "collation",
                                  "There are no user-defined collations in this database");
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
    const auto rows =
        ListingRows(db, sql, "RDB$MAP_NAME", name, "mapping", "There are no mappings in this database");
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

}  // namespace tallo::engine::show
