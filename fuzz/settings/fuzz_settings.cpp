// Feeds arbitrary bytes to the settings parser, looks up everything it
// found, and checks that writing one key changes that key alone.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings/settings_format.h"
#include "text/win1251.h"

using namespace tallo::settings_format;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// Every section and key of the table is found, in its last occurrence.
void CheckLookups(const SettingsTable& table) {
    for (const SettingsSection& section : table.sections()) {
        const SettingsSection* found = table.FindSection(section.name);
        Check(found != nullptr && tallo::cp1251::EqualNoCase(found->name, section.name));
        for (const SettingsLine& line : section.lines) {
            if (!line.keyed)
                continue;
            Check(SettingsTable::FindKey(section, line.key) != nullptr);
        }
    }
}

// Sets section/key to value and checks the result reads back with every
// other value unchanged and the bytes after a NUL kept.
void CheckEdit(std::string_view content, const SettingsTable& before, std::string_view section,
               std::string_view key, std::string_view value) {
    if (!Representable(section, key, value))
        return;
    std::string edited = EditSettingsText(content, section, key, value);
    SettingsTable after(edited);
    const SettingsSection* s = after.FindSection(section);
    Check(s != nullptr);
    const SettingsLine* line = SettingsTable::FindKey(*s, key);
    Check(line != nullptr && line->value == Trim(value));

    for (const SettingsSection& old_section : before.sections()) {
        const SettingsSection* old_last = before.FindSection(old_section.name);
        const SettingsSection* new_last = after.FindSection(old_section.name);
        Check(new_last != nullptr);
        bool same_section = tallo::cp1251::EqualNoCase(old_section.name, section);
        for (const SettingsLine& old_line : old_last->lines) {
            if (!old_line.keyed || (same_section && tallo::cp1251::EqualNoCase(old_line.key, key)))
                continue;
            const SettingsLine* old_value = SettingsTable::FindKey(*old_last, old_line.key);
            const SettingsLine* new_value = SettingsTable::FindKey(*new_last, old_line.key);
            Check(new_value != nullptr && new_value->value == old_value->value);
        }
    }
    std::size_t nul = content.find('\0');
    if (nul != std::string_view::npos) {
        std::string_view tail = content.substr(nul);
        Check(edited.size() >= tail.size() &&
              std::string_view(edited).substr(edited.size() - tail.size()) == tail);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view content(reinterpret_cast<const char*>(data), size);
    SettingsTable table(content);
    CheckLookups(table);
    CheckEdit(content, table, "System", "Database", "/db/x.fdb;role=a=b");
    CheckEdit(content, table, "System", "SelectedDatabase", "");
    // A section and key taken from the input itself.
    if (!table.sections().empty()) {
        const SettingsSection& last = table.sections().back();
        for (const SettingsLine& line : last.lines) {
            if (line.keyed) {
                CheckEdit(content, table, last.name, line.key, "v");
                break;
            }
        }
        CheckEdit(content, table, last.name, "new", "n");
    }
    return 0;
}
