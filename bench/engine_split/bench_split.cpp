// Splits a generated script of about 100 MB (INSERTs with strings holding the
// terminator, comments, PSQL bodies with and without SET TERM, Windows-1251
// text) through the whole pre-flight, and prints the speed and the peak
// memory. Baseline in the same run: one memchr pass counting ";" over the
// same bytes. Goals: >= 200 MB/s, peak <= 2x the script + 50 MB.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/script.h"

namespace {

// Peak resident memory of the process in bytes (VmHWM).
std::size_t PeakResident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    }
    return 0;
}

std::string Generate(std::size_t target) {
    std::string text;
    text.reserve(target + 4096);
    text += "SET NAMES WIN1251;\r\nSET SQL DIALECT 3;\r\n";
    std::size_t n = 0;
    while (text.size() < target) {
        ++n;
        if (n % 5000 == 0) {
            text +=
                "SET TERM ^ ;\r\nCREATE OR ALTER PROCEDURE P" + std::to_string(n) +
                " (A INTEGER) RETURNS (B VARCHAR(20)) AS\r\n  DECLARE VARIABLE X INTEGER;\r\nBEGIN\r\n"
                "  X = CASE WHEN A > 0 THEN 1 ELSE 0 END;\r\n  B = 'end; begin';\r\n  SUSPEND;\r\nEND^\r\n"
                "SET TERM ; ^\r\n";
        } else if (n % 5000 == 2500) {
            text +=
                "EXECUTE BLOCK AS DECLARE I INT; BEGIN I = 0; WHILE (I < 10) DO BEGIN I = I + 1; END "
                "END;\r\n";
        } else if (n % 100 == 0) {
            text += "/* batch " + std::to_string(n) + "; next part */\r\nCOMMIT WORK;\r\n";
        } else {
            text += "INSERT INTO GOODS (ID, NAME, NOTE, PRICE) VALUES (" + std::to_string(n) +
                    ", '\xD2\xEE\xE2\xE0\xF0 \xB9" + std::to_string(n) +
                    "', 'it''s; fine -- not a comment', 12.50); -- line note\r\n";
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
    const std::string text = Generate(megabytes * 1024 * 1024);
    const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    const std::size_t before = PeakResident();

    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    std::size_t semicolons = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, ';', text.size() - (p - text.data())))) != nullptr; ++p)
        ++semicolons;
    const double baseline_s = std::chrono::duration<double>(Clock::now() - t0).count();

    t0 = Clock::now();
    std::size_t statements = 0;
    {
        const tallo::engine::Script script = tallo::engine::LoadScript(text);
        statements = script.statements.size();
    }
    const double split_s = std::chrono::duration<double>(Clock::now() - t0).count();
    const std::size_t peak = PeakResident();

    const double rate = mb / split_s;
    const double peak_mb = static_cast<double>(peak) / (1024.0 * 1024.0);
    const double limit_mb = 2 * mb + 50;
    std::printf("script: %.1f MB, %zu statements (%zu ';' bytes)\n", mb, statements, semicolons);
    std::printf("baseline memchr pass: %.3f s (%.0f MB/s)\n", baseline_s, mb / baseline_s);
    std::printf("pre-flight split:     %.3f s (%.0f MB/s), %.1fx the baseline time\n", split_s, rate,
                split_s / baseline_s);
    std::printf("peak memory: %.1f MB (%.1f MB before splitting; limit 2x script + 50 MB = %.1f MB)\n",
                peak_mb, static_cast<double>(before) / (1024.0 * 1024.0), limit_mb);
    std::printf("goals: speed %s (>= 200 MB/s), memory %s\n", rate >= 200 ? "met" : "MISSED",
                peak_mb <= limit_mb ? "met" : "MISSED");
    return 0;
}
