// The settings file "Tallo-3.ini" beside the executable and its two accessors.
#pragma once

#include <string>
#include <vector>

#include "app/settings/settings_format.h"

namespace tallo {

// File name (without folder) of the settings file.
inline constexpr const char* IniFileName = "Tallo-3.ini";

// The settings file's full path: the executable's folder followed by
// IniFileName.
std::string SettingsPath();

// Reads and parses the whole file once, at creation, and answers from that
// copy; never writes. A missing file (or a folder of that name) reads as
// empty.
class TSettingsReader {
  public:
    // Throws OpenFileFailure ("Cannot open file "<path>". <system text>") when
    // the file exists but cannot be opened or read.
    explicit TSettingsReader(const std::string& path);

    // The trimmed value of the key in the section (the last of several), or
    // def when either is absent. An empty value is returned as empty.
    std::string GetValue(const std::string& section, const std::string& key, const std::string& def) const;
    // Replaces target with the keys of the section's lines in file order (an
    // empty text for a keyless line); empty when the section is absent.
    void ListKeys(const std::string& section, std::vector<std::string>& target) const;

  private:
    settings_format::SettingsTable table_;
};

// Reads or writes one value per call directly in the file.
class TProfileSettings {
  public:
    // Remembers the path; touches no file.
    explicit TProfileSettings(std::string path);
    // Every SetValue is on disk when it returns, so release has nothing left
    // to flush.
    ~TProfileSettings();
    TProfileSettings(const TProfileSettings&) = delete;
    TProfileSettings& operator=(const TProfileSettings&) = delete;

    // Reads the file at the time of the call: the value as the whole-file
    // reader would return it, cut to its first MaxValueLength bytes; def when
    // the file, the section or the key is absent or the file cannot be read.
    std::string GetValue(const std::string& section, const std::string& key, const std::string& def);

    // Sets the key's line in the section (creating the file, appending the
    // section, or adding the key at the end of its section as needed); every
    // other byte of the file stays as it was. The new content is written to a
    // temporary file in the same folder, flushed and renamed over the old
    // file, whose permissions and owner it keeps. Throws SettingsWriteFailure
    // ("Unable to write to <path>") with the file unchanged when the file or
    // its folder cannot be written, the owner cannot be kept, or the texts
    // contain line breaks or would not read back as this section and key.
    void SetValue(const std::string& section, const std::string& key, const std::string& value);

    const std::string& path() const { return path_; }

    static constexpr std::size_t MaxValueLength = 2047;

  private:
    std::string path_;
};

}  // namespace tallo
