#include "app/settings/settings.h"

#include "base/errors.h"
#include "base/platform.h"

namespace tallo {

namespace {

using platform::Access;
using platform::Disposition;
using platform::File;
using platform::Share;

// Reads an open file to its end; false with *error set on a read failure.
bool ReadToEnd(File& file, std::string* out, int* error) {
    out->clear();
    std::int64_t size = file.Size(error);
    if (size < 0)
        return false;
    out->reserve(static_cast<std::size_t>(size));
    char buffer[65536];
    for (;;) {
        std::int64_t n = file.Read(buffer, sizeof buffer, error);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string SettingsPath() {
    return platform::FolderOf(platform::ExecutablePath()) + IniFileName;
}

TSettingsReader::TSettingsReader(const std::string& path) {
    if (path.empty() || !platform::FileExists(path))
        return;
    // Others may read the file meanwhile, but not write it.
    int error = 0;
    File file = File::Open(path, Access::Read, Share::Read, Disposition::OpenExisting, &error);
    std::string content;
    if (!file.IsOpen() || !ReadToEnd(file, &content, &error))
        throw OpenFileFailure::For(path, error);
    table_ = settings_format::SettingsTable(content);
}

std::string TSettingsReader::GetValue(const std::string& section, const std::string& key,
                                      const std::string& def) const {
    const auto* s = table_.FindSection(section);
    if (!s)
        return def;
    const auto* line = settings_format::SettingsTable::FindKey(*s, key);
    return line ? line->value : def;
}

void TSettingsReader::ListKeys(const std::string& section, std::vector<std::string>& target) const {
    target.clear();
    const auto* s = table_.FindSection(section);
    if (!s)
        return;
    for (const auto& line : s->lines)
        target.push_back(line.keyed ? line.key : std::string());
}

TProfileSettings::TProfileSettings(std::string path) : path_(std::move(path)) {}

TProfileSettings::~TProfileSettings() = default;

std::string TProfileSettings::GetValue(const std::string& section, const std::string& key,
                                       const std::string& def) {
    if (!platform::FileExists(path_))
        return def;
    int error = 0;
    File file = File::Open(path_, Access::Read, Share::ReadWrite, Disposition::OpenExisting, &error);
    std::string content;
    if (!file.IsOpen() || !ReadToEnd(file, &content, &error))
        return def;
    settings_format::SettingsTable table(content);
    const auto* s = table.FindSection(section);
    const auto* line = s ? settings_format::SettingsTable::FindKey(*s, key) : nullptr;
    if (!line)
        return def;
    return line->value.substr(0, MaxValueLength);
}

void TProfileSettings::SetValue(const std::string& section, const std::string& key,
                                const std::string& value) {
    if (!settings_format::Representable(section, key, value))
        throw SettingsWriteFailure(path_);

    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = path_;
    if (platform::IsSymbolicLink(path_)) {
        target = platform::LinkTarget(path_);
        if (target.empty())
            throw SettingsWriteFailure(path_);
    }

    std::string content;
    platform::FileOwnership keep{};
    bool exists = false;
    const platform::NameKind kind = platform::KindOf(target);
    if (kind == platform::NameKind::RegularFile) {
        // The file must be writable where it stands: replacing it by a rename
        // would otherwise slip past a read-only file.
        int error = 0;
        File file =
            File::Open(target, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting, &error);
        if (!file.IsOpen() || !ReadToEnd(file, &content, &error) || !file.Ownership(&keep, &error))
            throw SettingsWriteFailure(path_);
        exists = true;
    } else if (kind != platform::NameKind::Nothing) {
        throw SettingsWriteFailure(path_);
    }

    std::string updated = settings_format::EditSettingsText(content, section, key, value);
    if (exists && updated == content)
        return;
    int error = 0;
    platform::ReplaceStage stage{};
    if (!platform::ReplaceFile(target, updated.data(), updated.size(), "", &error, &stage,
                               exists ? &keep : nullptr)) {
        throw SettingsWriteFailure(path_);
    }
}

}  // namespace tallo
