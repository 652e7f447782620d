// The SQL type of a field as isql writes it in its listings ("VARCHAR(10)
// CHARACTER SET WIN1251", "NUMERIC(18, 2)", an array's bounds ...), from the
// field's description alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallo::engine::show {

// The width of the name column in isql's listings.
constexpr std::size_t kNameWidth = 32;
inline const std::string kIndent(kNameWidth, ' ');

// RDB$FIELD_TYPE values.
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

bool HasCharset(int type);

// A field's description: its row of RDB$FIELDS, and what the catalogue adds
// for the type text (the character set's name and width, an array's bounds).
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
    std::optional<std::string> default_source;
    std::optional<std::string> validation_source;
    std::optional<std::string> computed_source;

    std::string charset_name;
    int bytes_per_char = 1;
    bool default_charset = true;                          // the database's default character set
    std::vector<std::pair<long long, long long>> bounds;  // lower and upper, one pair a dimension
};

// The type as isql writes it: an array's bounds on a line of their own, the
// character set where it is not the database's default or a collation is
// named (always_charset: in any case, as for an external function's
// arguments).
std::string TypeText(const FieldType& f, int collation, bool always_charset = false);

}  // namespace tallo::engine::show
