#include "engine/firebird/statement_block.h"

#include <ibase.h>

#include "engine/firebird/statement_cache.h"

namespace tallo::engine::fb {

std::optional<std::string> DeclaredType(const DescribedParam& param) {
    const auto exact = [&param](const char* integer, int precision) -> std::string {
        if (param.scale == 0)
            return integer;
        return "NUMERIC(" + std::to_string(precision) + ", " + std::to_string(-param.scale) + ")";
    };
    switch (param.type) {
        case SQL_SHORT:
            return exact("SMALLINT", 4);
        case SQL_LONG:
            return exact("INTEGER", 9);
        case SQL_INT64:
            return exact("BIGINT", 18);
        case SQL_FLOAT:
            return std::string("FLOAT");
        case SQL_DOUBLE:
            return std::string("DOUBLE PRECISION");
        case SQL_TYPE_DATE:
            return std::string("DATE");
        case SQL_TYPE_TIME:
            return std::string("TIME");
        case SQL_TIMESTAMP:
            return std::string("TIMESTAMP");
        case SQL_BOOLEAN:
            return std::string("BOOLEAN");
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::optional<CharsetName> charset = CharsetById(param.charset);
            if (!charset || charset->max_bytes == 0 || param.length % charset->max_bytes != 0)
                return std::nullopt;
            return std::string(param.type == SQL_TEXT ? "CHAR(" : "VARCHAR(") +
                   std::to_string(param.length / charset->max_bytes) + ") CHARACTER SET " +
                   std::string(charset->name);
        }
        default:
            return std::nullopt;
    }
}

std::string BlockText(const std::string& shape_text, const std::vector<std::size_t>& markers,
                      const std::vector<std::string>& types, unsigned rows) {
    const std::size_t per_row = types.size();
    std::string text = per_row == 0 ? "EXECUTE BLOCK" : "EXECUTE BLOCK (";
    for (unsigned r = 0; r < rows; ++r) {
        for (std::size_t k = 0; k < per_row; ++k) {
            if (r + k > 0)
                text += ", ";
            text += "P" + std::to_string(r * per_row + k) + " " + types[k] + " = ?";
        }
    }
    text += per_row == 0 ? "\nAS\nBEGIN\n" : ")\nAS\nBEGIN\n";
    for (unsigned r = 0; r < rows; ++r) {
        std::size_t from = 0;
        for (std::size_t k = 0; k < markers.size(); ++k) {
            text.append(shape_text, from, markers[k] - from);
            text += ":P" + std::to_string(r * per_row + k);
            from = markers[k] + 1;
        }
        text.append(shape_text, from, std::string::npos);
        text += ";\n";
    }
    text += "END";
    return text;
}

}  // namespace tallo::engine::fb
