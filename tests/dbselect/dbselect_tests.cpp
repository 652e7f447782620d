// The database selection without a window: the list, the recording of a
// choice in the settings file, and its take-over into the main window.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/settings/settings.h"
#include "base/errors.h"
#include "base/platform.h"
#include "dbselect/dbselect.h"
#include "tests/support/fake_window_services.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

namespace tallo {
namespace {

using testing::FakeWindowServices;
using testing::ReadBytes;
using testing::RunUnprivileged;
using testing::TempDir;
using testing::WriteBytes;

const char* const kTwoDatabases =
    "[System]\r\nSelectedDatabase=Main\r\nDatabase=C:\\db\\main.fdb\r\n"
    "[Databases]\r\nMain=C:\\db\\main.fdb\r\nTest=D:\\db\\test.fdb\r\n";

// A dialog that hands back a prepared choice and records how it was asked.
class ScriptedSelector : public DatabaseSelector {
  public:
    explicit ScriptedSelector(std::string choice) : choice_(std::move(choice)) {}
    std::string SelectDatabase(const std::string& settings_path, const std::string& target_section,
                               const std::string& list_section, bool pair_flag) override {
        asked_path = settings_path;
        asked_target = target_section;
        asked_list = list_section;
        asked_pair = pair_flag;
        ++calls;
        return choice_;
    }
    std::string asked_path, asked_target, asked_list;
    bool asked_pair = false;
    int calls = 0;

  private:
    std::string choice_;
};

// --- The choice split -------------------------------------------------------

TEST(SplitChoice, SeparatesAliasAndPathAtTheFirstEquals) {
    DatabaseChoice c = SplitChoice("Main=C:\\db\\main.fdb");
    EXPECT_EQ(c.name, "Main");
    EXPECT_EQ(c.path, "C:\\db\\main.fdb");
}

TEST(SplitChoice, KeepsFurtherEqualsInThePath) {
    DatabaseChoice c = SplitChoice("Remote=server:/db.fdb?role=admin=1");
    EXPECT_EQ(c.name, "Remote");
    EXPECT_EQ(c.path, "server:/db.fdb?role=admin=1");
}

TEST(SplitChoice, WithoutEqualsNameIsEmptyAndPathDropsTheFirstCharacter) {
    DatabaseChoice c = SplitChoice("abc");
    EXPECT_EQ(c.name, "");
    EXPECT_EQ(c.path, "bc");
    EXPECT_EQ(SplitChoice("").path, "");
    EXPECT_EQ(SplitChoice("Main=").path, "");
    EXPECT_EQ(SplitChoice("=x").name, "");
    EXPECT_EQ(SplitChoice("=x").path, "x");
}

// --- btSelectDBClick ---------------------------------------------------------

TEST(SelectDatabaseClick, AsksForAPairChoiceFromDatabasesIntoSystem) {
    FakeWindowServices window;
    ScriptedSelector dialog("");
    btSelectDBClick(window, dialog, "/opt/tallo/Tallo-3.ini");
    EXPECT_EQ(dialog.calls, 1);
    EXPECT_EQ(dialog.asked_path, "/opt/tallo/Tallo-3.ini");
    EXPECT_EQ(dialog.asked_target, "System");
    EXPECT_EQ(dialog.asked_list, "Databases");
    EXPECT_TRUE(dialog.asked_pair);
}

// What the window shows (alias, path), the dialog's answer, and what the
// window shows after it.
struct ClickCase {
    const char* alias;
    const char* path;
    const char* choice;
    const char* want_alias;
    const char* want_path;
};

TEST(SelectDatabaseClick, TakesOverANewChoiceOnly) {
    const ClickCase cases[] = {
        // A new choice sets path and alias.
        {"Main", "C:\\db\\main.fdb", "Test=D:\\db\\test.fdb", "Test", "D:\\db\\test.fdb"},
        // No choice or an empty path leaves the window as it was.
        {"Main", "C:\\db\\main.fdb", "", "Main", "C:\\db\\main.fdb"},
        {"Main", "C:\\db\\main.fdb", "Empty=", "Main", "C:\\db\\main.fdb"},
        // A path equal to the shown alias changes nothing.
        {"D:\\db\\test.fdb", "old", "Test=D:\\db\\test.fdb", "D:\\db\\test.fdb", "old"},
        // The comparison is byte for byte, with letter case.
        {"d:\\db\\test.fdb", "old", "Test=D:\\db\\test.fdb", "Test", "D:\\db\\test.fdb"},
    };
    for (const ClickCase& c : cases) {
        FakeWindowServices window;
        window.SetText(Field::eDBName, c.alias);
        window.SetText(Field::eDB, c.path);
        ScriptedSelector dialog(c.choice);
        btSelectDBClick(window, dialog, "x");
        EXPECT_EQ(window.Text(Field::eDBName), c.want_alias) << c.alias << " / " << c.choice;
        EXPECT_EQ(window.Text(Field::eDB), c.want_path) << c.alias << " / " << c.choice;
    }
}

TEST(SelectDatabaseClick, TheRunCommandKeepsItsState) {
    FakeWindowServices window;
    window.SetExecScriptEnabled(false);
    ScriptedSelector dialog("Test=D:\\db\\test.fdb");
    btSelectDBClick(window, dialog, "x");
    EXPECT_FALSE(window.ExecScriptEnabled());
}

// --- The dialog's list and double-click -----------------------------------------

class DialogState : public ::testing::Test {
  protected:
    std::vector<std::string> Open(bool pair = true) {
        return state.Prepare(path, "System", "Databases", pair);
    }
    TempDir dir;
    std::string path = dir / "Tallo-3.ini";
    DBSelectState state;
};

TEST_F(DialogState, ListsTheAliasesInFileOrder) {
    WriteBytes(path, "[Databases]\r\nZeta=z\r\nalpha=a\r\nKeyless line\r\n;comment\r\nMid=m=n\r\n");
    EXPECT_EQ(Open(), (std::vector<std::string>{"Zeta", "alpha", "", "Mid"}));
    EXPECT_EQ(state.choice(), "");
}

TEST_F(DialogState, AMissingFileOrSectionGivesAnEmptyList) {
    EXPECT_TRUE(Open().empty());
    WriteBytes(path, "[System]\r\nDatabase=x\r\n");
    EXPECT_TRUE(Open().empty());
}

// A double-click on an alias records its path and the alias in System and
// makes the choice: "alias=path" with the pair flag, the path alone without.
TEST_F(DialogState, DoubleClickRecordsBothKeysAndSetsTheChoice) {
    struct Click {
        const char* file;
        bool pair;
        const char* alias;
        const char* want_choice;
        const char* want_database;
    };
    const Click clicks[] = {
        {kTwoDatabases, true, "Test", "Test=D:\\db\\test.fdb", "D:\\db\\test.fdb"},
        {kTwoDatabases, false, "Main", "C:\\db\\main.fdb", "C:\\db\\main.fdb"},
        // An alias without a value writes an empty database.
        {"[System]\r\nDatabase=C:\\old.fdb\r\n[Databases]\r\nBlank=\r\n", true, "Blank", "Blank=", ""},
    };
    for (const Click& c : clicks) {
        WriteBytes(path, c.file);
        Open(c.pair);
        EXPECT_TRUE(state.ListBox1DblClick(std::string(c.alias)));
        EXPECT_EQ(state.choice(), c.want_choice);
        TSettingsReader reader(path);
        EXPECT_EQ(reader.GetValue("System", "Database", "?"), c.want_database) << c.alias;
        EXPECT_EQ(reader.GetValue("System", "SelectedDatabase", "?"), c.alias);
    }
}

TEST_F(DialogState, DoubleClickWithoutSelectionWritesNothingAndStaysOpen) {
    Open();
    EXPECT_FALSE(state.ListBox1DblClick(std::nullopt));
    EXPECT_EQ(state.choice(), "");
    EXPECT_FALSE(platform::FileExists(path));
}

TEST_F(DialogState, AChoiceMadeBeforeIsEmptiedWhenTheListIsFilledAgain) {
    WriteBytes(path, kTwoDatabases);
    Open();
    ASSERT_TRUE(state.ListBox1DblClick(std::string("Main")));
    Open();
    EXPECT_EQ(state.choice(), "");
}

TEST_F(DialogState, AnUnreadableSettingsFileFailsBeforeTheDialogIsShown) {
    WriteBytes(path, kTwoDatabases);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_EQ(RunUnprivileged([&] {
                  try {
                      Open();
                  } catch (const OpenFileFailure& e) {
                      return std::string(e.what()).rfind("Cannot open file \"" + path + "\". ", 0) == 0 ? 0
                                                                                                        : 2;
                  }
                  return 1;
              }),
              0);
}

TEST_F(DialogState, AFailedWriteKeepsTheChoiceEmptyAndTheFileUnchanged) {
    WriteBytes(path, kTwoDatabases);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(RunUnprivileged([&] {
                  Open();
                  try {
                      state.ListBox1DblClick(std::string("Test"));
                  } catch (const SettingsWriteFailure& e) {
                      if (std::string(e.what()) != "Unable to write to " + path)
                          return 2;
                      return state.choice().empty() ? 0 : 3;
                  }
                  return 1;
              }),
              0);
    ::chmod(dir.path().c_str(), 0777);
    EXPECT_EQ(ReadBytes(path), kTwoDatabases);
}

}  // namespace
}  // namespace tallo
