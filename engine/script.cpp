#include "engine/script.h"

#include "engine/file_names.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/commands.h"
#include "engine/splitter.h"
#include "engine/words.h"

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

std::string ReadInputFile(const std::string& path, std::size_t line, const std::string& from) {
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_regular_file(path, ec))
        throw PreflightFailure("INPUT file \"" + path + "\" is not a regular file", line, from);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw PreflightFailure("Cannot read INPUT file \"" + path + "\": " + std::strerror(error), line,
                               from);
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw PreflightFailure("Cannot read INPUT file \"" + path + "\"", line, from);
    RefuseNul(content, path);
    return content;
}

class Loader {
  public:
    Loader(Script& script, const InputReader& read_input) : script_(script), read_input_(read_input) {}

    // Returns false once EXIT or QUIT has ended the script.
    bool Walk(std::string_view text, std::size_t file, const fs::path& folder, int depth) {
        const std::string name = script_.file_names[file];
        Splitter splitter(text);
        try {
            while (auto raw = splitter.Next(terminator_)) {
                script_.statements.push_back(Statement{raw->text, static_cast<std::uint32_t>(raw->line),
                                                       static_cast<std::uint32_t>(file)});
                // Only SET TERM, INPUT, EXIT and QUIT matter here.
                const std::string_view head = WordReader(raw->text, 0).Next();
                if (!EqualsWord(head, "SET") && !AbbreviatesWord(head, "INPUT", 2) &&
                    !EqualsWord(head, "EXIT") && !EqualsWord(head, "QUIT"))
                    continue;
                Command cmd;
                try {
                    cmd = ParseCommand(raw->text);
                } catch (const CommandError& e) {
                    // A wrong SET TERM or INPUT leaves the rest unreadable;
                    // other wrong commands are reported when they run.
                    if (e.kind == CommandKind::SetTerm || e.kind == CommandKind::Input)
                        throw PreflightFailure(e.what(), raw->line, name);
                    continue;
                }
                switch (cmd.kind) {
                    case CommandKind::SetTerm:
                        terminator_ = cmd.arg;
                        break;
                    case CommandKind::Input:
                        if (!Include(cmd.arg, raw->line, file, folder, depth))
                            return false;
                        break;
                    case CommandKind::Exit:
                    case CommandKind::Quit:
                        return false;
                    default:
                        break;
                }
            }
        } catch (const ScriptDamage& e) {
            throw PreflightFailure(e.what(), e.line, name);
        }
        return true;
    }

  private:
    bool Include(const std::string& target, std::size_t line, std::size_t from, const fs::path& folder,
                 int depth) {
        const std::string from_name = script_.file_names[from];
        fs::path path(FileSystemName(target));
        if (path.is_relative() && !folder.empty())
            path = folder / path;
        std::error_code ec;
        fs::path canonical = fs::weakly_canonical(path, ec);
        if (ec)
            canonical = path.lexically_normal();
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
            std::optional<std::string> supplied = read_input_(shown);
            if (!supplied)
                throw PreflightFailure("Cannot read INPUT file \"" + shown + "\"", line, from_name);
            content_read = std::move(*supplied);
            RefuseNul(content_read, shown);
        } else {
            content_read = ReadInputFile(shown, line, from_name);
        }
        script_.contents.push_back(std::make_unique<std::string>(std::move(content_read)));
        const std::string_view content = *script_.contents.back();
        script_.file_names.push_back(shown);
        const std::size_t index = script_.file_names.size() - 1;
        open_files_.push_back(canonical.string());
        const bool go_on = Walk(content, index, path.parent_path(), depth + 1);
        open_files_.pop_back();
        return go_on;
    }

    Script& script_;
    const InputReader& read_input_;
    std::string terminator_ = ";";
    std::vector<std::string> open_files_;
};

}  // namespace

std::string DescribeWhere(std::size_t line, const std::string& file) {
    std::string where = "At line " + std::to_string(line);
    if (!file.empty())
        where += " of file \"" + file + "\"";
    return where;
}

Script LoadScript(std::string_view text, const InputReader& read_input) {
    Script script;
    script.file_names.emplace_back();
    Loader loader(script, read_input);
    loader.Walk(CutAtNul(text), 0, fs::path(), 0);
    return script;
}

}  // namespace tallo::engine
