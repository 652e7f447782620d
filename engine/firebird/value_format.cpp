#include "engine/firebird/value_format.h"

#include <charconv>
#include <system_error>

namespace tallo::engine::fb {
namespace {

void AppendDigits(unsigned value, int width, std::string& out) {
    char buf[10];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buf, static_cast<std::size_t>(width));
}

template <class T>
void AppendShortest(T value, std::string& out) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec == std::errc())
        out.append(buf, end);
}

}  // namespace

void AppendScaled(std::int64_t value, int scale, std::string& out) {
    // Work on the magnitude as unsigned so INT64_MIN has one too.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : value;
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude);
    (void)ec;
    std::size_t count = static_cast<std::size_t>(end - digits);
    if (value < 0)
        out.push_back('-');
    if (scale >= 0) {
        out.append(digits, count);
        if (value != 0)
            out.append(static_cast<std::size_t>(scale), '0');
        return;
    }
    std::size_t fraction = static_cast<std::size_t>(-scale);
    if (count <= fraction) {
        out.append("0.");
        out.append(fraction - count, '0');
        out.append(digits, count);
        return;
    }
    out.append(digits, count - fraction);
    out.push_back('.');
    out.append(digits + (count - fraction), fraction);
}

void AppendDouble(double value, std::string& out) {
    AppendShortest(value, out);
}
void AppendFloat(float value, std::string& out) {
    AppendShortest(value, out);
}

void AppendDate(std::int32_t days, std::string& out) {
    // Civil date from a day count (proleptic Gregorian), counted from
    // 0000-03-01 so leap days fall at the end of each year.
    std::int64_t z =
        static_cast<std::int64_t>(days) - 40587 + 719468;  // 1858-11-17 -> 1970-01-01 -> 0000-03-01
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    auto doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned day = doy - (153 * mp + 2) / 5 + 1;
    unsigned month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    if (year < 0 || year > 9999) {
        AppendShortest(year, out);
    } else {
        AppendDigits(static_cast<unsigned>(year), 4, out);
    }
    out.push_back('-');
    AppendDigits(month, 2, out);
    out.push_back('-');
    AppendDigits(day, 2, out);
}

void AppendTime(std::uint32_t ticks, std::string& out) {
    unsigned fraction = ticks % 10000;
    unsigned seconds = ticks / 10000;
    AppendDigits(seconds / 3600, 2, out);
    out.push_back(':');
    AppendDigits(seconds / 60 % 60, 2, out);
    out.push_back(':');
    AppendDigits(seconds % 60, 2, out);
    out.push_back('.');
    AppendDigits(fraction, 4, out);
}

void AppendHex(const void* data, std::size_t size, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t at = out.size();
    out.resize(at + 2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out[at++] = kDigits[bytes[i] >> 4];
        out[at++] = kDigits[bytes[i] & 15];
    }
}

}  // namespace tallo::engine::fb
