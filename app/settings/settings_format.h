// The text format of the settings file, shared by both accessors: cutting the
// text into lines, classifying a line, the parsed table of sections with its
// case-insensitive look-up, and the edit that writes one key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tallo::settings_format {

// The text ends at its first NUL byte.
std::string_view LogicalText(std::string_view content);

// Removes every byte of value 0x20 or less from both ends.
std::string_view Trim(std::string_view text);

// One line of a text: its bytes are [begin, end); the next line starts at
// next. end == next for a last line without a line end.
struct RawLine {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};
// CR LF, LF and CR each end a line; a line end at the very end adds no line.
std::vector<RawLine> SplitLines(std::string_view text);

enum class LineKind { Blank, Comment, Header, Key, Keyless };
struct LineInfo {
    LineKind kind;
    std::string_view name;   // section name of a header, key of a key line
    std::string_view value;  // value of a key line
};
// Trims the line and classifies it.
LineInfo Classify(std::string_view line);

struct SettingsLine {
    bool keyed = false;  // false for a keyless line
    std::string key;
    std::string value;
};

struct SettingsSection {
    std::string name;
    std::vector<SettingsLine> lines;
    // Upper-cased key -> index of its last key line.
    std::unordered_map<std::string, std::size_t> key_index;
};

// The parsed copy of a settings text: sections in file order, duplicates kept
// apart. Look-ups ignore Windows-1251 letter case and find the last of
// several equal names.
class SettingsTable {
  public:
    SettingsTable() = default;
    explicit SettingsTable(std::string_view content);

    const std::vector<SettingsSection>& sections() const { return sections_; }
    const SettingsSection* FindSection(std::string_view name) const;
    static const SettingsLine* FindKey(const SettingsSection& section, std::string_view key);

  private:
    std::vector<SettingsSection> sections_;
    // Upper-cased section name -> index of its last section.
    std::unordered_map<std::string, std::size_t> section_index_;
};

// True when the header "[section]" and the key line "key=value" read back as
// exactly this section and key, so a write cannot break the file's structure
// (no line breaks or NUL, no blanks around the names, a key without "=" that
// does not turn its line into a comment or a header).
bool Representable(std::string_view section, std::string_view key, std::string_view value);

// The content with key set to value in section, every other byte kept:
// the key's last line in the section's last occurrence is replaced in place;
// a missing key goes after the section's last non-blank, non-comment line; a
// missing section is appended at the end of the text (before a NUL byte, so
// the value stays visible). New lines use the text's first line end, CR LF
// when it has none.
std::string EditSettingsText(std::string_view content, std::string_view section, std::string_view key,
                             std::string_view value);

}  // namespace tallo::settings_format
