#include "engine/show/type_text.h"

namespace tallo::engine::show {

namespace {

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
            const int length =
                f.char_length ? *f.char_length : f.length / (f.bytes_per_char < 1 ? 1 : f.bytes_per_char);
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

// "ARRAY OF [3, 0:4]"; a lower bound of 1 is left out.
std::string ArrayBounds(const FieldType& f) {
    std::string text = "ARRAY OF [";
    for (std::size_t i = 0; i < f.bounds.size(); ++i) {
        const auto [lower, upper] = f.bounds[i];
        if (i > 0)
            text += ", ";
        text += lower == 1 ? std::to_string(upper) : std::to_string(lower) + ":" + std::to_string(upper);
    }
    return text + "]";
}

}  // namespace

bool HasCharset(int type) {
    return type == kChar || type == kVarchar || type == kCstring || type == kBlob;
}

std::string TypeText(const FieldType& f, int collation, bool always_charset) {
    std::string text;
    if (f.dimensions > 0)
        text = ArrayBounds(f) + "\n" + kIndent;
    text += BaseType(f);
    if (HasCharset(f.type) && (always_charset || !f.default_charset || collation != 0))
        text += " CHARACTER SET " + f.charset_name;
    return text;
}

}  // namespace tallo::engine::show
