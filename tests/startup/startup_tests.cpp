// Start-up and end: the remembered database, the engine's loading and the
// one decision about the run command.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/settings/settings.h"
#include "app/startup/startup.h"
#include "base/errors.h"
#include "base/platform.h"
#include "tests/support/fake_window_services.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_dir.h"

using namespace tallo;
using tallo::testing::FakeWindowServices;
using tallo::testing::TempDir;
using tallo::testing::WriteBytes;

namespace {

// Runs each test in an empty temporary current directory.
class StartupTest : public ::testing::Test {
  protected:
    void TearDown() override { FormDestroy(engine_); }

    void WriteSettings(const std::string& bytes) { WriteBytes(settings_, bytes); }
    void PlaceEngine(const char* built) { std::filesystem::copy_file(built, cwd_ / "IBEScript.dll"); }
    // The executable's folder holds no engine unless a test puts one there.
    void Create() { FormCreate(window_, engine_, settings_, program_.path()); }

    TempDir cwd_;
    tallo::testing::CurrentFolder in_cwd_{cwd_.path()};
    TempDir program_;
    TempDir settings_dir_;
    std::string settings_ = settings_dir_ / "Tallo-3.ini";
    FakeWindowServices window_;
    EngineBinding engine_;
};

int32_t TALLO_STDCALL RecordStatus(const char*, const char* second) {
    TheRunState().ScriptMessages = second ? second : "";
    return 0;
}

// True while the library at that path is loaded in the process.
bool IsLoaded(const std::string& path) {
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    ::dlclose(h);
    return true;
}

}  // namespace

// --- The remembered database ----------------------------------------------

TEST_F(StartupTest, FieldsShowTheSavedTextsExactly) {
    // An alias in Windows-1251 and a path to no existing database.
    WriteSettings(
        "[system]\r\nselecteddatabase = \xce\xf1\xed\xee\xe2\xed\xe0\xff\r\n"
        "DATABASE=srv:/nowhere/x.fdb\r\n");
    Create();
    EXPECT_EQ(window_.Text(Field::eDBName), "\xce\xf1\xed\xee\xe2\xed\xe0\xff");
    EXPECT_EQ(window_.Text(Field::eDB), "srv:/nowhere/x.fdb");
    EXPECT_TRUE(window_.errors.empty());
}

TEST_F(StartupTest, NoSettingsFileLeavesFieldsEmptyAndRunDisabled) {
    PlaceEngine(FAKE_ENGINE);
    window_.SetText(Field::eDB, "stale");
    Create();
    EXPECT_EQ(window_.Text(Field::eDBName), "");
    EXPECT_EQ(window_.Text(Field::eDB), "");
    EXPECT_NE(engine_.entry, nullptr);
    EXPECT_FALSE(window_.ExecScriptEnabled());
}

TEST_F(StartupTest, SettingsPathIsBesideTheExecutable) {
    std::string exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(SettingsPath(), exe.substr(0, exe.rfind('/') + 1) + "Tallo-3.ini");
}

TEST_F(StartupTest, ReadsTheSettingsFileBesideTheExecutable) {
    std::string beside = SettingsPath();
    if (::access(platform::FolderOf(beside).c_str(), W_OK) != 0)
        GTEST_SKIP() << "test program's folder is read-only";
    ASSERT_FALSE(platform::FileExists(beside));
    WriteBytes(beside, "[System]\nDatabase=/db/beside.fdb\n");
    struct Remove {
        std::string path;
        ~Remove() { ::unlink(path.c_str()); }
    } remove{beside};
    PlaceEngine(FAKE_ENGINE);
    FormCreate(window_, engine_);
    EXPECT_EQ(window_.Text(Field::eDB), "/db/beside.fdb");
    EXPECT_TRUE(window_.ExecScriptEnabled());
}

// --- The run command ------------------------------------------------------

TEST_F(StartupTest, EngineAndDatabaseEnableTheRunCommand) {
    WriteSettings("[System]\nSelectedDatabase=main\nDatabase=/db/main.fdb\n");
    PlaceEngine(FAKE_ENGINE);
    Create();
    EXPECT_TRUE(window_.ExecScriptEnabled());
    EXPECT_EQ(window_.Text(Field::eDB), "/db/main.fdb");
    ASSERT_TRUE(engine_.library.IsLoaded());
    // The entry is the engine's own.
    ASSERT_NE(engine_.entry, nullptr);
    EXPECT_EQ(engine_.entry("", nullptr, RecordStatus, nullptr), 42);
    EXPECT_EQ(TheRunState().ScriptMessages, "fake engine");
    TheRunState().ScriptMessages.clear();
}

TEST_F(StartupTest, EmptyOrMissingDatabaseKeepsItDisabled) {
    PlaceEngine(FAKE_ENGINE);
    for (const char* settings : {"[System]\nDatabase=\nSelectedDatabase=main\n",
                                 "[System]\nSelectedDatabase=m\n", "[Databases]\nDatabase=/db/x.fdb\n"}) {
        WriteSettings(settings);
        window_.SetExecScriptEnabled(true);
        Create();
        EXPECT_NE(engine_.entry, nullptr) << settings;
        EXPECT_FALSE(window_.ExecScriptEnabled()) << settings;
    }
}

TEST_F(StartupTest, LibraryWithoutTheEntryKeepsItDisabled) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    PlaceEngine(FAKE_ENGINE_NO_ENTRY);
    Create();
    EXPECT_TRUE(engine_.library.IsLoaded());
    EXPECT_EQ(engine_.entry, nullptr);
    EXPECT_FALSE(window_.ExecScriptEnabled());
}

TEST_F(StartupTest, FileThatIsNoLibraryLoadsNothing) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    WriteBytes(cwd_ / "IBEScript.dll", "not a library");
    Create();
    EXPECT_FALSE(engine_.library.IsLoaded());
    EXPECT_EQ(engine_.entry, nullptr);
    EXPECT_FALSE(window_.ExecScriptEnabled());
    EXPECT_TRUE(window_.errors.empty());
}

TEST_F(StartupTest, FolderNamedLikeTheEngineLoadsNothing) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    ASSERT_EQ(::mkdir((cwd_ / "IBEScript.dll").c_str(), 0755), 0);
    Create();
    EXPECT_FALSE(engine_.library.IsLoaded());
    EXPECT_FALSE(window_.ExecScriptEnabled());
}

TEST_F(StartupTest, EngineBesideTheExecutableOnlyLoadsNothing) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    // The fake engine is built beside this test program under the engine's name.
    ASSERT_TRUE(platform::FileExists(platform::FolderOf(platform::ExecutablePath()) + "IBEScript.dll"));
    FormCreate(window_, engine_, settings_);
    EXPECT_FALSE(engine_.library.IsLoaded());
    EXPECT_EQ(engine_.entry, nullptr);
    EXPECT_FALSE(window_.ExecScriptEnabled());
    EXPECT_FALSE(IsLoaded(FAKE_ENGINE));
}

TEST_F(StartupTest, PlantedLibraryInTheCurrentDirectoryLosesToTheOneBesideTheExecutable) {
    // The file in the current directory is only the sign that an engine is
    // wanted; the library loaded is the executable folder's when it has one.
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    std::filesystem::copy_file(FAKE_ENGINE, program_ / "IBEScript.dll");
    for (const char* planted : {FAKE_ENGINE_NO_ENTRY, ""}) {
        std::filesystem::remove(cwd_ / "IBEScript.dll");
        if (*planted != '\0')
            PlaceEngine(planted);
        else
            WriteBytes(cwd_ / "IBEScript.dll", "not a library");
        Create();
        EXPECT_TRUE(IsLoaded(program_ / "IBEScript.dll")) << planted;
        EXPECT_FALSE(IsLoaded(cwd_ / "IBEScript.dll")) << planted;
        ASSERT_NE(engine_.entry, nullptr) << planted;
        EXPECT_EQ(engine_.entry("", nullptr, RecordStatus, nullptr), 42);
        EXPECT_TRUE(window_.ExecScriptEnabled());
        FormDestroy(engine_);
    }
    TheRunState().ScriptMessages.clear();
}

// --- Failure --------------------------------------------------------------

TEST_F(StartupTest, UnreadableSettingsFileLeavesRunDisabledAndGoesToTheCaller) {
    WriteSettings("[System]\nSelectedDatabase=main\nDatabase=/db/main.fdb\n");
    PlaceEngine(FAKE_ENGINE);
    // Another program holds the file open for writing.
    auto holder = tallo::testing::HoldFile(settings_, platform::Access::ReadWrite, platform::Share::None);
    ASSERT_TRUE(holder.IsOpen());
    window_.SetExecScriptEnabled(true);  // whatever the window started with
    try {
        Create();
        FAIL() << "no failure";
    } catch (const OpenFileFailure& f) {
        EXPECT_EQ(f.message(),
                  "Cannot open file \"" + settings_ + "\". " + platform::SystemErrorText(EWOULDBLOCK));
    }
    EXPECT_FALSE(window_.ExecScriptEnabled());
    EXPECT_EQ(window_.Text(Field::eDBName), "");
    EXPECT_EQ(window_.Text(Field::eDB), "");
    EXPECT_FALSE(engine_.library.IsLoaded());
    EXPECT_TRUE(window_.errors.empty());  // shown by the caller, not here
}

// --- End ------------------------------------------------------------------

TEST_F(StartupTest, FormDestroyReleasesTheEngine) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    PlaceEngine(FAKE_ENGINE);
    Create();
    std::string loaded = cwd_ / "IBEScript.dll";
    ASSERT_TRUE(IsLoaded(loaded));
    FormDestroy(engine_);
    EXPECT_FALSE(engine_.library.IsLoaded());
    EXPECT_EQ(engine_.entry, nullptr);
    EXPECT_FALSE(IsLoaded(loaded));
}

TEST_F(StartupTest, SecondFormCreateReleasesTheFirstEngine) {
    WriteSettings("[System]\nDatabase=/db/main.fdb\n");
    PlaceEngine(FAKE_ENGINE);
    Create();
    std::string loaded = cwd_ / "IBEScript.dll";
    ::unlink(loaded.c_str());
    Create();
    EXPECT_FALSE(IsLoaded(loaded));
    EXPECT_FALSE(window_.ExecScriptEnabled());
}
