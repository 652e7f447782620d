#include "engine/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include "engine/file_names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/commands.h"

namespace tallo::engine {

namespace {

constexpr const char* kNull = "<null>";

void Pad(std::string& line, std::size_t count) {
    line.append(count, ' ');
}

}  // namespace

void TableBuilder::Begin(const std::vector<Column>& columns) {
    started_ = true;
    columns_ = columns;
}

void TableBuilder::Row(const std::vector<std::optional<std::string>>& values) {
    ++total_rows_;
    if (rows_.size() < max_rows_)
        rows_.push_back(values);
}

std::string TableBuilder::Text() const {
    const std::size_t n = columns_.size();
    std::vector<std::size_t> width(n, 0);
    for (std::size_t c = 0; c < n; ++c) {
        if (heading_)
            width[c] = columns_[c].name.size();
        for (const auto& row : rows_) {
            const std::size_t w = c < row.size() && row[c] ? row[c]->size() : std::strlen(kNull);
            width[c] = std::max(width[c], w);
        }
    }
    std::string text;
    auto add_line = [&text](std::string line) {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (!text.empty())
            text += "\r\n";
        text += line;
    };
    if (heading_) {
        std::string titles;
        std::string rule;
        for (std::size_t c = 0; c < n; ++c) {
            if (c > 0) {
                titles += ' ';
                rule += ' ';
            }
            const std::string& name = columns_[c].name;
            if (columns_[c].numeric)
                Pad(titles, width[c] - name.size());
            titles += name;
            if (!columns_[c].numeric)
                Pad(titles, width[c] - name.size());
            rule.append(width[c], '=');
        }
        add_line(titles);
        add_line(rule);
    }
    for (const auto& row : rows_) {
        std::string line;
        for (std::size_t c = 0; c < n; ++c) {
            if (c > 0)
                line += ' ';
            const std::string value = c < row.size() && row[c] ? *row[c] : std::string(kNull);
            const std::size_t pad = width[c] > value.size() ? width[c] - value.size() : 0;
            if (columns_[c].numeric)
                Pad(line, pad);
            line += value;
            if (!columns_[c].numeric)
                Pad(line, pad);
        }
        add_line(line);
    }
    if (total_rows_ > rows_.size()) {
        add_line("... " + std::to_string(total_rows_ - rows_.size()) + " more rows not shown (" +
                 std::to_string(total_rows_) + " rows in all)");
    }
    return text;
}

class DelimitedSink : public RowSink {
  public:
    explicit DelimitedSink(OutputFile& file) : file_(file) {}
    void Begin(const std::vector<Column>&) override {}
    void Row(const std::vector<std::optional<std::string>>& values) override {
        line_.clear();
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                line_ += *file_.delimiter_;
            if (values[i])
                line_ += *values[i];
        }
        line_ += "\r\n";
        file_.Write(line_);
    }
    void End() override {}

  private:
    OutputFile& file_;
    std::string line_;
};

class FileTableSink : public RowSink {
  public:
    FileTableSink(OutputFile& file, bool heading) : file_(file), table_(heading) {}
    void Begin(const std::vector<Column>& columns) override { table_.Begin(columns); }
    void Row(const std::vector<std::optional<std::string>>& values) override { table_.Row(values); }
    void End() override {
        if (table_.RowCount() > 0)
            file_.Write(table_.Text() + "\r\n\r\n");
    }

  private:
    OutputFile& file_;
    TableBuilder table_;
};

OutputFile::OutputFile(std::string path, std::optional<std::string> delimiter)
    : path_(std::move(path)), delimiter_(std::move(delimiter)) {
    // A symbolic link at the name is replaced, never followed: the rows must
    // not land in whatever file the link points at.
    const std::string name = FileSystemName(path_);
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(name.c_str());
    out_.open(name, std::ios::binary | std::ios::trunc);
    if (!out_) {
        const int error = errno;
        throw CommandError(CommandKind::Output,
                           "Cannot create output file \"" + path_ + "\": " + std::strerror(error));
    }
}

OutputFile::~OutputFile() = default;

std::unique_ptr<RowSink> OutputFile::MakeSink(bool heading) {
    if (delimiter_)
        return std::make_unique<DelimitedSink>(*this);
    return std::make_unique<FileTableSink>(*this, heading);
}

void OutputFile::Write(const std::string& bytes) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void OutputFile::Close() {
    if (!out_.is_open())
        return;
    out_.flush();
    const bool ok = static_cast<bool>(out_);
    out_.close();
    if (!ok || out_.fail())
        throw CommandError(CommandKind::Output, "Cannot write output file \"" + path_ + "\"");
}

}  // namespace tallo::engine
