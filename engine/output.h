// Where the rows of a SELECT go: a readable table for the protocol, or the
// file named by OUTPUT (delimited rows, or the readable table without a row
// limit when no delimiter was given). Rows end with CR LF.
#pragma once

#include <cstdint>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"

namespace tallo::engine {

// Builds a readable table: the column titles (when heading is on), a line of
// '=' under each column, then the rows; numeric columns right-aligned, NULL
// shown as <null>. At most max_rows rows are kept; a last line tells how many
// more there were. As a list (SET LIST) each row is one line per column, the
// name padded to 31 characters, a blank and the value, and an empty line
// between rows, as isql shows them.
class TableBuilder : public RowSink {
  public:
    explicit TableBuilder(bool heading, std::size_t max_rows = std::numeric_limits<std::size_t>::max(),
                          bool list = false)
        : heading_(heading), list_(list), max_rows_(max_rows) {}

    // SET WIDTH: a text column of that name is exactly so many characters
    // wide, longer values and titles cut; numeric columns keep theirs.
    void SetWidths(const std::map<std::string, std::size_t>* widths) { widths_ = widths; }
    void Begin(const std::vector<Column>& columns) override;
    void Row(const std::vector<std::optional<std::string>>& values) override;
    void End() override {}

    bool Started() const { return started_; }
    std::uint64_t RowCount() const { return total_rows_; }
    // The lines joined with CR LF, without a final CR LF.
    std::string Text() const;

  private:
    std::string ListText() const;

    bool heading_;
    bool list_;
    std::size_t max_rows_;
    const std::map<std::string, std::size_t>* widths_ = nullptr;
    bool started_ = false;
    std::vector<Column> columns_;
    std::vector<std::vector<std::optional<std::string>>> rows_;
    std::uint64_t total_rows_ = 0;
};

// The file of an OUTPUT command, opened (an existing file replaced) at once.
class OutputFile {
  public:
    // Throws CommandError when the file cannot be created.
    OutputFile(std::string path, std::optional<std::string> delimiter);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The sink for one statement's rows.
    std::unique_ptr<RowSink> MakeSink(bool heading);
    // Text written as it is (a metadata listing, say).
    void WriteText(const std::string& bytes) { Write(bytes); }
    // Flushes and closes; throws CommandError when writing failed.
    void Close();
    const std::string& path() const { return path_; }

  private:
    friend class DelimitedSink;
    friend class FileTableSink;
    void Write(const std::string& bytes);

    std::string path_;
    std::optional<std::string> delimiter_;
    std::ofstream out_;
};

}  // namespace tallo::engine
