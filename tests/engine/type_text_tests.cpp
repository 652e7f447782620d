// The type text of SHOW's listings, from a field's description alone.
#include <gtest/gtest.h>

#include "engine/show/type_text.h"

namespace tallo::engine::show {
namespace {

FieldType Field(int type, int sub_type = 0, int length = 0, int scale = 0, int precision = 0) {
    FieldType f;
    f.type = type;
    f.sub_type = sub_type;
    f.length = length;
    f.scale = scale;
    f.precision = precision;
    return f;
}

FieldType Text(int type, int length, const char* charset, int bytes_per_char, bool default_charset) {
    FieldType f = Field(type, 0, length);
    f.charset_name = charset;
    f.bytes_per_char = bytes_per_char;
    f.default_charset = default_charset;
    return f;
}

FieldType WithCharLength(FieldType f, int chars) {
    f.char_length = chars;
    return f;
}

FieldType Array(FieldType f, std::vector<std::pair<long long, long long>> bounds) {
    f.dimensions = static_cast<int>(bounds.size());
    f.bounds = std::move(bounds);
    return f;
}

TEST(TypeText, EachTypeAsIsqlWritesIt) {
    const std::string indent(kNameWidth, ' ');
    const struct {
        FieldType field;
        int collation;
        bool always_charset;
        std::string text;
    } cases[] = {
        {Field(kSmallint), 0, false, "SMALLINT"},
        {Field(kInteger), 0, false, "INTEGER"},
        {Field(kBigint), 0, false, "BIGINT"},
        {Field(kBigint, 1, 8, -2, 18), 0, false, "NUMERIC(18, 2)"},
        {Field(kInteger, 2, 4, -3, 9), 0, false, "DECIMAL(9, 3)"},
        {Field(kSmallint, 0, 2, -1, 0), 0, false, "NUMERIC(4, 1)"},  // no precision stored: the type's
        {Field(kBigint, 1, 8, 0, 0), 0, false, "NUMERIC(18, 0)"},
        {Field(kDouble), 0, false, "DOUBLE PRECISION"},
        {Field(kFloat), 0, false, "FLOAT"},
        {Field(kTimestamp), 0, false, "TIMESTAMP"},
        {Field(kDate), 0, false, "DATE"},
        {Field(kTime), 0, false, "TIME"},
        {Field(kBoolean), 0, false, "BOOLEAN"},
        {Field(99), 0, false, "Unknown type 99"},
        {Text(kVarchar, 10, "WIN1251", 1, true), 0, false, "VARCHAR(10)"},
        {Text(kVarchar, 10, "WIN1251", 1, false), 0, false, "VARCHAR(10) CHARACTER SET WIN1251"},
        // A collation names the character set even where it is the default.
        {Text(kChar, 4, "WIN1251", 1, true), 5, false, "CHAR(4) CHARACTER SET WIN1251"},
        {Text(kCstring, 8, "NONE", 1, true), 0, true, "CSTRING(8) CHARACTER SET NONE"},
        // The length in characters: stored, or the bytes over the set's width.
        {Text(kVarchar, 40, "UTF8", 4, false), 0, false, "VARCHAR(10) CHARACTER SET UTF8"},
        {WithCharLength(Text(kChar, 40, "UTF8", 4, true), 7), 0, false, "CHAR(7)"},
        {Text(kBlob, 0, "WIN1251", 1, true), 0, false, "BLOB segment 0, subtype BINARY"},
        {[] {
             FieldType f = Text(kBlob, 0, "UTF8", 4, false);
             f.sub_type = 1;
             f.segment = 80;
             return f;
         }(),
         0, false, "BLOB segment 80, subtype TEXT CHARACTER SET UTF8"},
        {Array(Field(kInteger), {{1, 3}, {0, 4}}), 0, false, "ARRAY OF [3, 0:4]\n" + indent + "INTEGER"},
        {Array(Text(kVarchar, 5, "WIN1251", 1, true), {{-2, 2}}), 0, false,
         "ARRAY OF [-2:2]\n" + indent + "VARCHAR(5)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TypeText(c.field, c.collation, c.always_charset), c.text);
}

}  // namespace
}  // namespace tallo::engine::show
