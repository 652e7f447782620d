// The reports of a set of runs, made from the databases' results: the summary
// table on stdout, the JSON report and the JUnit report (all UTF-8).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/fleet.h"

namespace tallo::cli {

// Text for the reports: Windows-1251 turned to UTF-8 (a name that is UTF-8
// already stays as it is).
std::string Utf8(const std::string& text);
// Elapsed time in seconds, three decimals.
std::string Seconds(std::chrono::milliseconds elapsed);

// The summary table.
std::string SummaryTable(const std::vector<DatabaseResult>& results);

inline constexpr int kReportSchemaVersion = 1;
// exit_code: the runner's own (FleetExitCode, or 128 + the stop signal).
std::string JsonReport(const std::string& script, const std::string& expected_version,
                       const std::vector<DatabaseResult>& results, int exit_code);
std::string JunitReport(const std::string& script, const std::vector<DatabaseResult>& results);

}  // namespace tallo::cli
