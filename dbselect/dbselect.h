// The database selection: the list of configured databases from the settings
// file, the recording of the operator's choice, and its take-over into the
// main window. Free of any toolkit; the dialog TfmDBSelect shows it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "script/window_services.h"

namespace tallo {

inline constexpr const char* kTargetSection = "System";
inline constexpr const char* kListSection = "Databases";

// A choice "alias=path" split at its first "=". Without any "=", name is
// empty and path is the choice without its first character.
struct DatabaseChoice {
    std::string name;
    std::string path;
};
DatabaseChoice SplitChoice(const std::string& choice);

// The dialog as the main window's handler uses it.
class DatabaseSelector {
  public:
    virtual ~DatabaseSelector() = default;
    // Fills the list, shows the dialog modally and hands back the choice
    // (empty when none was made).
    virtual std::string SelectDatabase(const std::string& settings_path, const std::string& target_section,
                                       const std::string& list_section, bool pair_flag) = 0;
};

// btSelectDBClick: asks the dialog for a choice and shows a new one in eDB
// and eDBName; a choice with an empty path, or a path equal to the text of
// eDBName, leaves the window as it was.
void btSelectDBClick(WindowServices& window, DatabaseSelector& dialog, const std::string& settings_path);

// One dialog instance's own state and steps.
class DBSelectState {
  public:
    // SelectDatabase, steps before showing: holds the arguments, empties the
    // choice and returns the list section's keys in file order. Fails with the
    // reader's error when the settings file exists but cannot be opened.
    std::vector<std::string> Prepare(const std::string& settings_path, const std::string& target_section,
                                     const std::string& list_section, bool pair_flag);

    // ListBox1DblClick with the text of the first selected item (none when
    // nothing is selected): looks the alias up, writes "Database" and
    // "SelectedDatabase" and sets the choice. Returns true when the dialog is
    // to close. A failed write leaves here with the choice still empty.
    bool ListBox1DblClick(const std::optional<std::string>& selected_item);

    const std::string& choice() const { return choice_; }

  private:
    std::string choice_;
    std::string settings_path_;
    std::string target_section_;
    std::string list_section_;
    bool pair_flag_ = true;
};

}  // namespace tallo
