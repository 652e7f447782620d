// Text forms of Firebird values as the engine writes them: exact numerics
// with their scale, floating point in the shortest form that reads back,
// DATE "YYYY-MM-DD", TIME "HH:MM:SS.ffff", binary data in hex. Each appends
// to out, so a caller can reuse one string's storage for every row.
#pragma once

#include <cstdint>
#include <string>

namespace tallo::engine::fb {

// value * 10^scale, e.g. (1250, -2) -> "12.50", (-5, -2) -> "-0.05".
void AppendScaled(std::int64_t value, int scale, std::string& out);
void AppendDouble(double value, std::string& out);
void AppendFloat(float value, std::string& out);
// Days since 1858-11-17 (Firebird's ISC_DATE).
void AppendDate(std::int32_t days, std::string& out);
// Ten-thousandths of a second since midnight (Firebird's ISC_TIME).
void AppendTime(std::uint32_t ticks, std::string& out);
// Upper-case hex, two digits a byte.
void AppendHex(const void* data, std::size_t size, std::string& out);

}  // namespace tallo::engine::fb
