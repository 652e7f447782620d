#include "app/settings/settings_format.h"

#include <optional>

#include "base/text_rules.h"
#include "text/win1251.h"

namespace tallo::settings_format {

std::string_view LogicalText(std::string_view content) {
    std::size_t nul = content.find('\0');
    return nul == std::string_view::npos ? content : content.substr(0, nul);
}

std::string_view Trim(std::string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20)
        --e;
    return text.substr(b, e - b);
}

std::vector<RawLine> SplitLines(std::string_view text) {
    std::vector<RawLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back({pos, text.size(), text.size()});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n')
            ++next;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

LineInfo Classify(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty())
        return {LineKind::Blank, {}, {}};
    if (t.front() == ';')
        return {LineKind::Comment, {}, {}};
    if (t.front() == '[' && t.back() == ']' && t.size() >= 2) {
        return {LineKind::Header, Trim(t.substr(1, t.size() - 2)), {}};
    }
    std::size_t eq = t.find('=');
    if (eq != std::string_view::npos)
        return {LineKind::Key, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
    return {LineKind::Keyless, t, {}};
}

SettingsTable::SettingsTable(std::string_view content) {
    std::string_view text = LogicalText(content);
    for (const RawLine& raw : SplitLines(text)) {
        LineInfo info = Classify(text.substr(raw.begin, raw.end - raw.begin));
        switch (info.kind) {
            case LineKind::Blank:
            case LineKind::Comment:
                break;
            case LineKind::Header:
                sections_.push_back({std::string(info.name), {}, {}});
                section_index_[cp1251::Upper(info.name)] = sections_.size() - 1;
                break;
            case LineKind::Key:
                if (!sections_.empty()) {
                    SettingsSection& s = sections_.back();
                    s.lines.push_back({true, std::string(info.name), std::string(info.value)});
                    s.key_index[cp1251::Upper(info.name)] = s.lines.size() - 1;
                }
                break;
            case LineKind::Keyless:
                if (!sections_.empty())
                    sections_.back().lines.push_back({false, {}, {}});
                break;
        }
    }
}

const SettingsSection* SettingsTable::FindSection(std::string_view name) const {
    auto it = section_index_.find(cp1251::Upper(name));
    return it == section_index_.end() ? nullptr : &sections_[it->second];
}

const SettingsLine* SettingsTable::FindKey(const SettingsSection& section, std::string_view key) {
    auto it = section.key_index.find(cp1251::Upper(key));
    return it == section.key_index.end() ? nullptr : &section.lines[it->second];
}

bool Representable(std::string_view section, std::string_view key, std::string_view value) {
    for (std::string_view part : {section, key, value}) {
        if (part.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            return false;
    }
    std::string header = Joined({"[", section, "]"});
    LineInfo h = Classify(header);
    if (h.kind != LineKind::Header || h.name != section)
        return false;
    std::string line = Joined({key, "=", value});
    LineInfo k = Classify(line);
    return k.kind == LineKind::Key && k.name == key;
}

namespace {

std::string_view FirstLineEnd(std::string_view text) {
    std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos)
        return "\r\n";
    if (text[end] == '\n')
        return "\n";
    return end + 1 < text.size() && text[end + 1] == '\n' ? "\r\n" : "\r";
}

}  // namespace

std::string EditSettingsText(std::string_view content, std::string_view section, std::string_view key,
                             std::string_view value) {
    std::string_view text = LogicalText(content);
    std::vector<RawLine> lines = SplitLines(text);
    std::string_view eol = FirstLineEnd(text);
    std::string key_line = Joined({key, "=", value});

    // The last occurrence of the section, its last line of the key, and its
    // last line that is neither blank nor a comment.
    std::optional<std::size_t> header;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t key_at = kNone;
    std::optional<std::size_t> last_content;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        LineInfo info = Classify(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (info.kind == LineKind::Header) {
            inside = cp1251::EqualNoCase(info.name, section);
            if (inside) {
                header = i;
                key_at = kNone;
                last_content = i;
            }
            continue;
        }
        if (!inside)
            continue;
        if (info.kind == LineKind::Key) {
            if (cp1251::EqualNoCase(info.name, key))
                key_at = i;
            last_content = i;
        } else if (info.kind == LineKind::Keyless) {
            last_content = i;
        }
    }

    std::string out(content);
    if (key_at != kNone) {
        const RawLine& l = lines[key_at];
        out.replace(l.begin, l.end - l.begin, key_line);
        return out;
    }
    std::size_t pos;
    std::string insert;
    if (header) {
        const RawLine& l = lines[*last_content];
        pos = l.next;
        if (l.next == l.end) {
            insert = std::string(eol) + key_line;
        } else {
            // A lone CR before an LF that starts the next line would join the
            // two into one line end and swallow a blank line.
            if (eol == "\r" && pos < text.size() && text[pos] == '\n')
                eol = "\r\n";
            insert = Joined({key_line, eol});
        }
    } else {
        pos = text.size();
        if (!lines.empty() && lines.back().next == lines.back().end)
            insert = eol;
        insert += Joined({"[", section, "]", eol, key_line, eol});
    }
    out.insert(pos, insert);
    return out;
}

}  // namespace tallo::settings_format
