#include "engine/show/catalog.h"

#include <cstdlib>

#include "text/quoting.h"

namespace tallo::engine::show {

namespace {

class Collector : public RowSink {
  public:
    void Begin(const std::vector<Column>&) override {}
    void Row(const Values& values) override { rows.push_back(values); }
    void End() override {}
    std::vector<Values> rows;
};

}  // namespace

std::string Text(const Value& v) {
    return v ? *v : std::string();
}

long long Number(const Value& v) {
    return v ? std::strtoll(v->c_str(), nullptr, 10) : 0;
}

// A text as an SQL string literal.
std::string Literal(std::string_view text) {
    return Q(text);
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

std::string Quoted(const std::string& name, int dialect) {
    return dialect < 3 ? name : Enclosed(name, '"');
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

std::vector<Values> Catalog::Query(const std::string& sql) {
    Collector rows;
    session_.Execute(sql, &rows);
    return std::move(rows.rows);
}

std::string Catalog::CharsetName(int id) {
    LoadCharsets();
    const auto it = charsets_.find(id);
    return it == charsets_.end() ? std::to_string(id) : it->second.first;
}

int Catalog::BytesPerChar(int id) {
    LoadCharsets();
    const auto it = charsets_.find(id);
    return it == charsets_.end() || it->second.second < 1 ? 1 : it->second.second;
}

std::string Catalog::CollationName(int charset, int collation) {
    if (!collations_) {
        collations_.emplace();
        for (const Values& r : Query("SELECT RDB$CHARACTER_SET_ID, RDB$COLLATION_ID, RDB$COLLATION_NAME "
                                     "FROM RDB$COLLATIONS"))
            (*collations_)[{static_cast<int>(Number(r[0])), static_cast<int>(Number(r[1]))}] = Text(r[2]);
    }
    const auto it = collations_->find({charset, collation});
    return it == collations_->end() ? std::to_string(collation) : it->second;
}

int Catalog::DefaultCharset() {
    if (!default_charset_) {
        const auto rows = Query(
            "SELECT C.RDB$CHARACTER_SET_ID FROM RDB$DATABASE D JOIN RDB$CHARACTER_SETS C "
            "ON C.RDB$CHARACTER_SET_NAME = D.RDB$CHARACTER_SET_NAME");
        default_charset_ = rows.empty() ? 0 : static_cast<int>(Number(rows[0][0]));
    }
    return *default_charset_;
}

std::string Catalog::TypeText(FieldType f, int collation, bool always_charset) {
    if (f.dimensions > 0) {
        for (const Values& r : Query("SELECT RDB$LOWER_BOUND, RDB$UPPER_BOUND FROM RDB$FIELD_DIMENSIONS "
                                     "WHERE RDB$FIELD_NAME = " +
                                     Literal(f.source) + " ORDER BY RDB$DIMENSION"))
            f.bounds.emplace_back(Number(r[0]), Number(r[1]));
    }
    if (HasCharset(f.type)) {
        f.default_charset = f.charset == DefaultCharset();
        f.charset_name = CharsetName(f.charset);
        f.bytes_per_char = BytesPerChar(f.charset);
    }
    return show::TypeText(f, collation, always_charset);
}

std::string Catalog::CollateLine(const FieldType& f, int collation) {
    if (!HasCharset(f.type) || collation == 0)
        return {};
    return "\n" + kIndent + " COLLATE " + CollationName(f.charset, collation);
}

void Catalog::LoadCharsets() {
    if (charsets_loaded_)
        return;
    charsets_loaded_ = true;
    for (const Values& r : Query("SELECT RDB$CHARACTER_SET_ID, RDB$CHARACTER_SET_NAME, "
                                 "RDB$BYTES_PER_CHARACTER FROM RDB$CHARACTER_SETS"))
        charsets_[static_cast<int>(Number(r[0]))] = {Text(r[1]), static_cast<int>(Number(r[2]))};
}

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
                              const std::string& select, const char* rest) {
    std::string sql = select;
    std::vector<Values> rows = db.Query(sql.append(Literal(name)).append(rest));
    if (rows.empty())
        NoSuch(kind, name);
    return rows;
}
std::vector<Values> ListingRows(Catalog& db, std::string where, const char* column,
                                const std::optional<std::string>& name, const char* kind, const char* none) {
    if (name)
        where.append(" AND ").append(column).append(" = ").append(Literal(*name));
    std::vector<Values> rows = db.Query(where.append(" ORDER BY ").append(column));
    if (rows.empty()) {
        if (name)
            NoSuch(kind, *name);
        Missing(none);
    }
    return rows;
}
std::string List(Catalog& db, const std::string& sql, const std::string& none) {
    const auto names = Names(db, sql);
    if (names.empty())
        Missing(none);
    return NameColumns(names, db.settings().charset);
}
std::optional<RelationKind> FindRelation(Catalog& db, const std::string& name) {
    const auto rows =
        db.Query("SELECT RDB$VIEW_BLR IS NULL FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = " + Literal(name));
    if (rows.empty())
        return std::nullopt;
    return Text(rows[0][0]) == "TRUE" ? RelationKind::Table : RelationKind::View;
}

}  // namespace tallo::engine::show
