// The shape of a data statement: its text with each plain literal replaced by
// a "?" marker, and the literals themselves. Statements of one shape differ
// only in their values, so the database can prepare the shape once and run it
// with each statement's values as parameters.
//
// Only these forms are read, each with nothing but blanks between its parts
// (no comments) and nothing after it:
//   INSERT INTO t [(c, ...)] VALUES (v, ...)
//   UPDATE t SET c = v, ... [WHERE c = v [AND c = v]...]
//   DELETE FROM t [WHERE c = v [AND c = v]...]
//   EXECUTE PROCEDURE p [(v, ...) | v, ...]
// where t, c, p are plain or "quoted" names and each v is one literal: an
// unsigned or negative number without exponent (at most 18 digits), a
// '...' string, a q-string, x'...' (whole bytes), a string with a character
// set introducer (_NAME '...' or _NAME x'...'), DATE, TIME or TIMESTAMP with
// an ISO text ('YYYY-MM-DD', 'HH:MM[:SS[.ffff]]', both for TIMESTAMP), or
// NULL. Anything else (expressions, subqueries, RETURNING, other literal
// forms, a text the reader is unsure of) is not a shape: the statement runs
// as written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallo::engine {

struct Literal {
    enum class Kind { Null, Number, String, Date, Time, Timestamp };
    Kind kind = Kind::Null;
    // The value is compared with a column (WHERE), not assigned to one.
    bool compared = false;
    // Number: value / 10^scale; scale is the count of digits after the point.
    std::int64_t value = 0;
    int scale = 0;
    // String: the bytes, quotes undone; the introducer's character set name
    // in capitals ("OCTETS" for x'...'), empty for the connection's.
    std::string bytes;
    std::string charset;
    // Date, Time, Timestamp; fraction in ten-thousandths of a second.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
    bool operator==(const Literal&) const = default;
};

struct LiteralShape {
    std::string text;  // the statement with "?" for each literal
    std::vector<Literal> literals;
    std::vector<std::size_t> markers;  // where each literal's "?" stands in text
    bool operator==(const LiteralShape&) const = default;
};

// Reads sql into shape; false when sql is not one of the forms above. A shape
// that holds the last statement's shape is first laid over sql: when sql is
// that text with other literals, only the literals are read.
bool ReadLiteralShape(std::string_view sql, LiteralShape& shape);

}  // namespace tallo::engine
