// The reports of a set of runs, made from the databases' results: the
// summary table, the JSON report and the JUnit report.
#include "cli/reports.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "text/win1251.h"

namespace tallo::cli {

namespace {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonOptional(const std::string& text) {
    return text.empty() ? std::string("null") : JsonString(Utf8(text));
}

// Text for XML 1.0: markup escaped, control characters it cannot hold left out.
std::string XmlText(const std::string& utf8, bool attribute = false) {
    std::string out;
    for (unsigned char c : utf8) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\r':
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            default:
                if (c >= 0x20 || c == '\n' || c == '\t')
                    out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

// Text for the reports: Windows-1251 turned to UTF-8 (a name that is UTF-8
// already stays as it is).
std::string Utf8(const std::string& text) {
    return cp1251::IsValidUtf8(text) ? text : cp1251::ToUtf8(text);
}

std::string Seconds(std::chrono::milliseconds elapsed) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(elapsed.count()) / 1000.0);
    return buffer;
}

std::string SummaryTable(const std::vector<DatabaseResult>& results) {
    std::vector<std::vector<std::string>> rows{
        {"database", "outcome", "statements", "errors", "elapsed s", "version before", "version after"}};
    for (const auto& r : results) {
        rows.push_back({Utf8(r.database), OutcomeName(r.outcome), std::to_string(r.statements),
                        std::to_string(r.errors), Seconds(r.elapsed),
                        r.version_before.empty() ? "-" : Utf8(r.version_before),
                        r.version_after.empty() ? "-" : Utf8(r.version_after)});
    }
    // Widths in characters, not bytes, for Cyrillic names.
    auto width = [](const std::string& s) {
        std::size_t n = 0;
        for (unsigned char c : s)
            n += (c & 0xC0) != 0x80;
        return n;
    };
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], width(row[c]));
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - width(row[c]) + 2, ' ');
        }
        text += line + "\n";
    }
    std::map<std::string, int> totals;
    for (const auto& r : results)
        ++totals[OutcomeName(r.outcome)];
    std::string line;
    for (const auto& [name, n] : totals)
        line += (line.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    return text + std::to_string(results.size()) + " databases: " + line + "\n";
}

std::string JsonReport(const std::string& script, const std::string& expected_version,
                       const std::vector<DatabaseResult>& results, int exit_code) {
    std::string json = "{\n  \"schema\": \"tallo-run-report\",\n  \"schema_version\": " +
                       std::to_string(kReportSchemaVersion) + ",\n  \"script\": " + JsonString(Utf8(script)) +
                       ",\n  \"expected_version\": " + JsonOptional(expected_version) +
                       ",\n  \"exit_code\": " + std::to_string(exit_code) + ",\n  \"databases\": [";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const DatabaseResult& r = results[i];
        json += i ? ",\n    {" : "\n    {";
        json += "\"database\": " + JsonString(Utf8(r.database)) + ", \"outcome\": \"" +
                OutcomeName(r.outcome) + "\", \"statements\": " + std::to_string(r.statements) +
                ", \"errors\": " + std::to_string(r.errors) +
                ", \"elapsed_ms\": " + std::to_string(r.elapsed.count()) +
                ", \"version_before\": " + JsonOptional(r.version_before) +
                ", \"version_after\": " + JsonOptional(r.version_after) +
                ", \"protocol\": " + JsonOptional(r.protocol) + ", \"note\": " + JsonOptional(r.note) +
                ", \"messages\": [";
        for (std::size_t m = 0; m < r.messages.size(); ++m)
            json += (m ? ", " : "") + JsonString(Utf8(r.messages[m]));
        json += "], \"failures\": [";
        for (std::size_t f = 0; f < r.failures.size(); ++f) {
            const FleetError& e = r.failures[f];
            json += std::string(f ? ", " : "") + "{\"line\": " + (e.line ? std::to_string(e.line) : "null") +
                    ", \"sqlstate\": " + JsonOptional(e.sqlstate) +
                    ", \"message\": " + JsonString(Utf8(e.message)) + "}";
        }
        json += "]}";
    }
    return json + "\n  ]\n}\n";
}

std::string JunitReport(const std::string& script, const std::vector<DatabaseResult>& results) {
    std::size_t failures = 0, skipped = 0;
    std::chrono::milliseconds total{0};
    for (const auto& r : results) {
        failures += CountsAsFailure(r.outcome);
        skipped += r.outcome == FleetOutcome::Skipped;
        total += r.elapsed;
    }
    const std::string name = XmlText(Utf8(script));
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tallo-run\" tests=\"" +
                      std::to_string(results.size()) + "\" failures=\"" + std::to_string(failures) +
                      "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + Seconds(total) +
                      "\">\n  <testsuite name=\"" + name + "\" tests=\"" + std::to_string(results.size()) +
                      "\" failures=\"" + std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                      std::to_string(skipped) + "\" time=\"" + Seconds(total) + "\">\n";
    for (const auto& r : results) {
        xml += "    <testcase classname=\"" + name + "\" name=\"" + XmlText(Utf8(r.database)) + "\" time=\"" +
               Seconds(r.elapsed) + "\"";
        if (r.outcome == FleetOutcome::Clean) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (r.outcome == FleetOutcome::Skipped) {
            xml += "      <skipped message=\"" + XmlText(Utf8(r.note), true) + "\"/>\n";
        } else {
            std::string first = r.note;
            if (!r.failures.empty()) {
                const FleetError& e = r.failures.front();
                first = "line " + std::to_string(e.line) +
                        (e.sqlstate.empty() ? "" : ", SQLSTATE " + e.sqlstate) + ": " + e.message;
            }
            std::string body;
            for (const auto& m : r.messages)
                body += m + "\n";
            body += first;
            xml += "      <failure type=\"" + std::string(OutcomeName(r.outcome)) + "\" message=\"" +
                   XmlText(Utf8(first), true) + "\">" + XmlText(Utf8(body)) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

}  // namespace tallo::cli
