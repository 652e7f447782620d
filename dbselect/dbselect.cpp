#include "dbselect/dbselect.h"

#include "app/settings/settings.h"

namespace tallo {

DatabaseChoice SplitChoice(const std::string& choice) {
    const std::size_t eq = choice.find('=');
    if (eq == std::string::npos)
        return {std::string(), choice.empty() ? std::string() : choice.substr(1)};
    return {choice.substr(0, eq), choice.substr(eq + 1)};
}

void btSelectDBClick(WindowServices& window, DatabaseSelector& dialog, const std::string& settings_path) {
    const std::string choice = dialog.SelectDatabase(settings_path, kTargetSection, kListSection, true);
    const DatabaseChoice split = SplitChoice(choice);
    if (split.path.empty())
        return;
    if (split.path == window.Text(Field::eDBName))
        return;
    window.SetText(Field::eDB, split.path);
    window.SetText(Field::eDBName, split.name);
}

std::vector<std::string> DBSelectState::Prepare(const std::string& settings_path,
                                                const std::string& target_section,
                                                const std::string& list_section, bool pair_flag) {
    pair_flag_ = pair_flag;
    settings_path_ = settings_path;
    target_section_ = target_section;
    list_section_ = list_section;
    std::vector<std::string> items;
    {
        const TSettingsReader reader(settings_path_);
        reader.ListKeys(list_section_, items);
    }
    choice_.clear();
    return items;
}

bool DBSelectState::ListBox1DblClick(const std::optional<std::string>& selected_item) {
    TProfileSettings profile(settings_path_);
    if (!selected_item)
        return false;
    const std::string& name = *selected_item;
    const std::string value = profile.GetValue(list_section_, name, "");
    profile.SetValue(target_section_, "Database", value);
    profile.SetValue(target_section_, "SelectedDatabase", name);
    choice_ = pair_flag_ ? name + "=" + value : value;
    return true;
}

}  // namespace tallo
