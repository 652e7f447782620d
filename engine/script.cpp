#include "engine/script.h"

#include "engine/file_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/charset_check.h"
#include "engine/commands.h"
#include "engine/splitter.h"
#include "text/script_encoding.h"
#include "text/win1251.h"

namespace tallo::engine {

namespace {

namespace fs = std::filesystem;

// An INPUT file holding a NUL byte would end there for isql and lose what
// follows; such a file is refused, at the line of the NUL, before anything
// runs. Lines end at LF, CR LF or a lone CR.
void RefuseNul(const std::string& content, const std::string& path) {
    const std::size_t nul = CutAtNul(content).size();
    if (nul == content.size())
        return;
    std::size_t line = 1;
    for (std::size_t i = 0; i < nul; ++i) {
        if (content[i] == '\n' || (content[i] == '\r' && (i + 1 >= nul || content[i + 1] != '\n')))
            ++line;
    }
    throw PreflightFailure("INPUT file \"" + path + "\" holds a NUL byte", line, path);
}

// Reads the file at path; the messages name it as shown.
std::string ReadInputFile(const std::string& path, const std::string& shown, std::size_t line,
                          const std::string& from) {
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_regular_file(path, ec))
        throw PreflightFailure("INPUT file \"" + shown + "\" is not a regular file", line, from);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw PreflightFailure("Cannot read INPUT file \"" + shown + "\": " + std::strerror(error), line,
                               from);
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw PreflightFailure("Cannot read INPUT file \"" + shown + "\"", line, from);
    return content;
}

class Loader {
  public:
    Loader(Script& script, const InputReader& read_input, const std::string& script_folder,
           bool keep_statements)
        : script_(script),
          read_input_(read_input),
          script_folder_(script_folder),
          keep_statements_(keep_statements) {}

    // Returns false once EXIT or QUIT has ended the script.
    bool Walk(ScriptSource& source, std::size_t file, const fs::path& folder, int depth) {
        const std::string name = script_.file_names[file];
        WindowSplitter splitter(source);
        try {
            while (auto raw = splitter.Next(terminator_)) {
                CheckCharacterSet(splitter, raw->text, name);
                Command cmd;
                try {
                    cmd = ReadCommand(raw->text);
                } catch (const CommandError& e) {
                    // A wrong SET TERM or INPUT leaves the rest unreadable;
                    // other wrong commands are reported when they run.
                    throw PreflightFailure(e.what(), raw->line, name);
                }
                if (!std::holds_alternative<command::Sql>(cmd))
                    script_.commands.push_back({script_.count, cmd});
                if (keep_statements_)
                    script_.statements.push_back(Statement{raw->text, static_cast<std::uint32_t>(raw->line),
                                                           static_cast<std::uint32_t>(file)});
                ++script_.count;
                if (!Follow(cmd, raw->line, file, folder, depth))
                    return false;
            }
        } catch (const ScriptDamage& e) {
            throw PreflightFailure(e.what(), e.line, name);
        }
        return true;
    }

  private:
    // What the pre-flight itself follows: the terminator, the character set
    // of the connection, INPUT files, and the end at EXIT or QUIT. Returns
    // false once the script has ended.
    bool Follow(const Command& cmd, std::size_t line, std::size_t file, const fs::path& folder, int depth) {
        if (const auto* term = std::get_if<command::SetTerm>(&cmd)) {
            terminator_ = term->terminator;
        } else if (const auto* names = std::get_if<command::SetNames>(&cmd)) {
            names_ = names->charset;
        } else if (std::holds_alternative<command::Connect>(cmd) ||
                   std::holds_alternative<command::CreateDatabase>(cmd)) {
            charset_ = names_;
        } else if (const auto* input = std::get_if<command::Input>(&cmd)) {
            return Include(input->file, line, file, folder, depth);
        }
        return !std::holds_alternative<command::Exit>(cmd) && !std::holds_alternative<command::Quit>(cmd);
    }

    // Every byte of a statement must be one the connection's character set
    // holds (valid UTF-8 for UTF8, a defined character for WIN1251; an
    // introduced literal's content may be its own set's), or the whole text
    // is refused before anything runs.
    void CheckCharacterSet(WindowSplitter& splitter, std::string_view statement,
                           const std::string& name) const {
        const std::size_t bad = FirstByteOutsideCharset(statement, charset_);
        if (bad == std::string_view::npos)
            return;
        const bool utf8 = !cp1251::EqualNoCase(charset_, "WIN1251");
        std::size_t line = 1, column = 1;
        splitter.PositionOf(statement.data() + bad, utf8, line, column);
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(statement[bad]));
        throw PreflightFailure((name.empty() ? std::string("The script") : "\"" + name + "\"") + ": line " +
                                   std::to_string(line) + ", column " + std::to_string(column) +
                                   ": the byte " + byte + " is not a character of the character set " +
                                   charset_,
                               line, name);
    }

    // An INPUT file written as UTF-8 or UTF-16 is read in the character set
    // of the connection, as the main script is.
    std::string ToConnectionText(std::string content, const std::string& shown, std::size_t line,
                                 const std::string& from) const {
        try {
            script_encoding::ToConnectionText(content, charset_, shown);
            return content;
        } catch (const script_encoding::EncodingFailure& e) {
            throw PreflightFailure(e.what(), line, from);
        }
    }

    bool Include(const std::string& target, std::size_t line, std::size_t from, const fs::path& folder,
                 int depth) {
        const std::string from_name = script_.file_names[from];
        // A relative name is joined to the including file's folder and shown
        // so, as the script's author sees it; it is read from the script's
        // folder.
        fs::path path(FileSystemName(target));
        if (path.is_relative() && !folder.empty())
            path = folder / path;
        const fs::path file = path.is_relative() && !script_folder_.empty() ? script_folder_ / path : path;
        std::error_code ec;
        fs::path canonical = fs::weakly_canonical(file, ec);
        if (ec)
            canonical = file.lexically_normal();
        const std::string shown = path.string();
        for (const std::string& open : open_files_) {
            if (open == canonical.string()) {
                std::string chain;
                for (const std::string& f : open_files_)
                    chain += f + " -> ";
                throw PreflightFailure("INPUT cycle: " + chain + canonical.string(), line, from_name);
            }
        }
        if (depth >= kMaxInputDepth)
            throw PreflightFailure("INPUT files nested deeper than " + std::to_string(kMaxInputDepth) +
                                       " levels at \"" + shown + "\"",
                                   line, from_name);
        std::string content_read;
        if (read_input_) {
            std::optional<std::string> supplied = read_input_(file.string());
            if (!supplied)
                throw PreflightFailure("Cannot read INPUT file \"" + shown + "\"", line, from_name);
            content_read = std::move(*supplied);
        } else {
            content_read = ReadInputFile(file.string(), shown, line, from_name);
        }
        // Decoded first: UTF-16 text holds NUL bytes of its own.
        content_read = ToConnectionText(std::move(content_read), shown, line, from_name);
        RefuseNul(content_read, shown);
        script_.contents.push_back(std::make_unique<std::string>(std::move(content_read)));
        TextSource content(*script_.contents.back());
        script_.file_names.push_back(shown);
        const std::size_t index = script_.file_names.size() - 1;
        open_files_.push_back(canonical.string());
        const bool go_on = Walk(content, index, path.parent_path(), depth + 1);
        open_files_.pop_back();
        return go_on;
    }

    Script& script_;
    const InputReader& read_input_;
    const fs::path script_folder_;  // relative names are read from here ("": the current directory)
    const bool keep_statements_;
    std::string terminator_ = ";";
    std::string names_;    // the character set of the next CONNECT (SET NAMES)
    std::string charset_;  // that of the connection in force ("" before one)
    std::vector<std::string> open_files_;
};

}  // namespace

std::string DescribeWhere(std::size_t line, const std::string& file) {
    std::string where = "At line " + std::to_string(line);
    if (!file.empty())
        where += " of file \"" + file + "\"";
    return where;
}

const Command& Script::CommandOf(std::size_t index) const {
    static const Command sql = command::Sql{};
    const auto it = std::lower_bound(commands.begin(), commands.end(), index,
                                     [](const CommandAt& c, std::size_t i) { return c.statement < i; });
    return it != commands.end() && it->statement == index ? it->command : sql;
}

Script LoadScript(std::string_view text, const InputReader& read_input, const std::string& folder) {
    Script script;
    script.file_names.emplace_back();
    Loader loader(script, read_input, folder, true);
    TextSource source(text);
    loader.Walk(source, 0, fs::path(), 0);
    return script;
}

Script Preflight(ScriptSource& source, const std::string& folder, const InputReader& read_input) {
    Script script;
    script.file_names.emplace_back();
    Loader loader(script, read_input, folder, false);
    loader.Walk(source, 0, fs::path(), 0);
    return script;
}

struct StatementReader::File {
    File(std::unique_ptr<ScriptSource> own, ScriptSource& source, std::uint32_t index)
        : own(std::move(own)), splitter(source), index(index) {}
    std::unique_ptr<ScriptSource> own;  // an INPUT file's text
    WindowSplitter splitter;
    std::uint32_t index;  // into Script::file_names
};

StatementReader::StatementReader(const Script& script, ScriptSource& text) : script_(script) {
    files_.push_back(std::make_unique<File>(nullptr, text, 0));
}

StatementReader::~StatementReader() = default;

// The walk of the pre-flight again, its turns taken from the commands it read.
std::optional<Statement> StatementReader::Next() {
    while (index_ < script_.count && !files_.empty()) {
        File& file = *files_.back();
        const std::optional<RawStatement> raw = file.splitter.Next(terminator_);
        if (!raw) {
            files_.pop_back();
            continue;
        }
        const Statement statement{raw->text, static_cast<std::uint32_t>(raw->line), file.index};
        const auto& commands = script_.commands;
        if (command_ < commands.size() && commands[command_].statement == index_) {
            const Command& cmd = commands[command_++].command;
            if (const auto* term = std::get_if<command::SetTerm>(&cmd)) {
                terminator_ = term->terminator;
            } else if (std::holds_alternative<command::Input>(cmd) && inputs_ < script_.contents.size()) {
                auto content = std::make_unique<TextSource>(*script_.contents[inputs_]);
                ScriptSource& source = *content;
                ++inputs_;
                files_.push_back(
                    std::make_unique<File>(std::move(content), source, static_cast<std::uint32_t>(inputs_)));
            }
        }
        ++index_;
        return statement;
    }
    return std::nullopt;
}

}  // namespace tallo::engine
