// The text of a block of statements of one shape: one EXECUTE BLOCK that
// runs `rows` statements of a shape (see engine/literal_shape.h) in one round
// trip, each with its own values. Its input parameters are declared with the
// types the database described for the shape's own parameters, so a value
// reaches each column through the same conversion as in the statement run
// alone with its values as parameters; a block is one statement, so when it
// fails nothing of it remains.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tallo::engine::fb {

// A parameter as the database described it: the SQL type without its
// nullable bit, scale, length in bytes and character set number.
struct DescribedParam {
    unsigned type = 0;
    int scale = 0;
    unsigned length = 0;
    unsigned charset = 0;
};

// The declaration of a described parameter ("INTEGER", "NUMERIC(18, 2)",
// "VARCHAR(40) CHARACTER SET WIN1251", "TIMESTAMP"); nullopt for a type a
// block does not carry (BLOB, ARRAY, a character set not known here).
std::optional<std::string> DeclaredType(const DescribedParam& param);

// The block for rows statements of the shape: shape_text with a "?" for each
// parameter at markers, declared as types. Parameter k of row r is named
// P<r * types.size() + k>.
std::string BlockText(const std::string& shape_text, const std::vector<std::size_t>& markers,
                      const std::vector<std::string>& types, unsigned rows);

}  // namespace tallo::engine::fb
