// What every SHOW listing reads with: the catalogue of the database (through
// the session, in the command's own transaction), the helpers that turn its
// rows into text, and the listings' entry points.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/output.h"
#include "engine/session.h"
#include "engine/show.h"
#include "engine/show/type_text.h"

namespace tallo::engine::show {

using Value = std::optional<std::string>;
using Values = std::vector<Value>;

inline const std::string kSourceRule(77, '=');

std::string Text(const Value& v);
long long Number(const Value& v);
// A text as an SQL string literal.
std::string Literal(std::string_view text);
std::string PadRight(std::string text, std::size_t width);
std::string Join(const std::vector<std::string>& parts, std::string_view separator);
// Names the engine makes for fields without a domain of their own ("RDB$"
// and digits).
bool ImplicitDomain(std::string_view name);
// A name in double quotes in dialect 3, as written before.
std::string Quoted(const std::string& name, int dialect);
// The listing's lines, without their line ends.
std::vector<std::string> Lines(const std::string& listing);

// The columns of RDB$FIELDS (alias F) a type is described from.
constexpr const char* kFieldColumns =
    "F.RDB$FIELD_NAME, F.RDB$FIELD_TYPE, F.RDB$FIELD_SUB_TYPE, F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE, "
    "F.RDB$FIELD_PRECISION, F.RDB$CHARACTER_LENGTH, F.RDB$CHARACTER_SET_ID, F.RDB$COLLATION_ID, "
    "F.RDB$SEGMENT_LENGTH, F.RDB$DIMENSIONS, F.RDB$NULL_FLAG, F.RDB$DEFAULT_SOURCE, "
    "F.RDB$VALIDATION_SOURCE, F.RDB$COMPUTED_SOURCE";
constexpr std::size_t kFieldColumnCount = 15;

// The field described by the kFieldColumns of row, from column at on.
FieldType ReadField(const Values& row, std::size_t at);

// The database's metadata as the listings need it; the character sets and
// collations are read once per command.
class Catalog {
  public:
    Catalog(Session& session, const ShowSettings& settings) : session_(session), settings_(settings) {}

    std::vector<Values> Query(const std::string& sql);

    const ShowSettings& settings() const { return settings_; }
    AttachmentFacts Facts() { return session_.Facts(); }

    std::string CharsetName(int id);
    int BytesPerChar(int id);
    std::string CollationName(int charset, int collation);
    int DefaultCharset();

    // TypeText of the field, its description completed from the catalogue.
    std::string TypeText(FieldType f, int collation, bool always_charset = false);

    // "\n ... COLLATE X" for a collation other than the character set's
    // default, "" otherwise.
    std::string CollateLine(const FieldType& f, int collation);

  private:
    void LoadCharsets();

    Session& session_;
    const ShowSettings& settings_;
    bool charsets_loaded_ = false;
    std::map<int, std::pair<std::string, int>> charsets_;
    std::optional<std::map<std::pair<int, int>, std::string>> collations_;
    std::optional<int> default_charset_;
};

constexpr const char* kUserObject = "COALESCE(RDB$SYSTEM_FLAG, 0) = 0";

// The names one query answers, in its order.
std::vector<std::string> Names(Catalog& db, const std::string& sql);
bool Exists(Catalog& db, const std::string& sql);
[[noreturn]] void Missing(const std::string& message);
// "There is no <kind> <name> in this database"
[[noreturn]] void NoSuch(const char* kind, const std::string& name);
// The rows of the query about one object: the query's text is select, the
// object's name as a literal, then rest; NoSuch(kind, name) when there are
// none.
std::vector<Values> RowsAbout(Catalog& db, const char* kind, const std::string& name,
                              const std::string& select, const char* rest = "");
// The rows of a listing: where (a query up to and with its WHERE conditions)
// narrowed to the object whose column is name when one is given, ordered by
// column; NoSuch(kind, name), or Missing(none) without a name, when there are
// none.
std::vector<Values> ListingRows(Catalog& db, std::string where, const char* column,
                                const std::optional<std::string>& name, const char* kind, const char* none);
// The names of the query in two columns; Missing(none) when there are none.
std::string List(Catalog& db, const std::string& sql, const std::string& none);

// ---- the listings, one a kind of object ----------------------------------

enum class RelationKind { Table, View };
std::optional<RelationKind> FindRelation(Catalog& db, const std::string& name);

// relations.cpp
std::string ShowTable(Catalog& db, const std::string& name);
std::string ShowView(Catalog& db, const std::string& name);
std::string ShowCheck(Catalog& db, const std::string& name);
std::string ShowGenerators(Catalog& db, const std::optional<std::string>& name);
std::string ShowIndices(Catalog& db, const std::optional<std::string>& name);
std::string ShowTriggers(Catalog& db);
std::string ShowTrigger(Catalog& db, const std::string& name);
std::string ShowDomain(Catalog& db, const std::string& name);
std::string ShowExceptions(Catalog& db, const std::optional<std::string>& name);
// routines.cpp
std::string ShowRoutines(Catalog& db, bool functions);
std::string ShowProcedure(Catalog& db, const std::string& name);
std::string ShowFunction(Catalog& db, const std::string& name);
std::string ShowPackage(Catalog& db, const std::string& name);
std::string ShowComments(Catalog& db);
// database.cpp
std::string ShowCollations(Catalog& db, const std::optional<std::string>& name, bool system = false);
std::string ShowDialect(Catalog& db);
std::string ShowUsers(Catalog& db);
std::string ShowMappings(Catalog& db, const std::optional<std::string>& name);
std::string ShowDatabase(Catalog& db);
std::string ShowVersion(Catalog& db);
std::string ShowFilter(Catalog& db, const std::string& name);
std::string ShowSystem(Catalog& db, const std::optional<std::string>& part);
// grants.cpp
std::string ShowGrants(Catalog& db, const std::optional<std::string>& name);
std::string ShowRole(Catalog& db, const std::string& name);

}  // namespace tallo::engine::show
