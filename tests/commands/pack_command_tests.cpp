// The pack and unpack commands: dialog settings, name rules, and what they
// write through the scripted window.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/commands/pack_commands.h"
#include "base/errors.h"
#include "base/platform.h"
#include "packing/zip_file.h"
#include "tests/packing/packing_support.h"
#include "tests/support/fake_window_services.h"
#include "tests/support/temp_dir.h"

using namespace tallo;
using namespace tallo::testing;

TEST(NameRules, PackedNames) {
    const std::pair<const char*, const char*> rows[] = {{"upd.sql", "upd.Zql"},
                                                        {"upd.txt", "upd.Zxt"},
                                                        {"upd.SQL", "upd.ZQL"},
                                                        {"upd.sqlite", "upd.Zql"},
                                                        {"upd.sq", "upd.Zq"},
                                                        {"upd.s", "upd.Z"},
                                                        {"upd", "upd.Z"},
                                                        {"dir.old\\upd", "dir.old\\upd.Z"},
                                                        {"/tmp/a.b/upd", "/tmp/a.b/upd.Z"},
                                                        {"upd.Zql", "upd.Zql"},
                                                        {"upd.", "upd.Z"}};
    for (auto [chosen, written] : rows)
        EXPECT_EQ(PackedNameFor(chosen), written) << chosen;
}

TEST(NameRules, UnpackedNames) {
    const std::pair<const char*, const char*> rows[] = {{"upd.Zql", "upd.sql"}, {"Result.Zxt", "Result.txt"},
                                                        {"upd.ZQL", "upd.sql"}, {"upd.bin", "upd.txt"},
                                                        {"upd", "upd.txt"},     {"upd.zql", "upd.sql"},
                                                        {"x.txt", "x.txt"},     {"upd.zqlx", "upd.txt"}};
    for (auto [chosen, written] : rows)
        EXPECT_EQ(UnpackedNameFor(chosen), written) << chosen;
}

TEST(Commands, DialogTextsAreTheWindows1251Ones) {
    EXPECT_EQ(std::string(kPackTitle), Cp1251("Выберите скрипт для упаковки"));
    EXPECT_EQ(std::string(kUnpackTitle), Cp1251("Выберите файл для распаковки"));
}

TEST(Commands, CancelWritesNothingAndKeepsTheDialogsOtherSettings) {
    TempDir dir;
    FakeWindowServices window;
    window.od.file_name = dir / "last.sql";
    window.od.filter_index = 2;
    window.file_choices = {std::nullopt, std::nullopt};
    AZipFileExecute(window);
    AUnzipFileExecute(window);
    ASSERT_EQ(window.shown_dialogs.size(), 2u);
    EXPECT_EQ(window.shown_dialogs[0].filter, "Script Files|*.sql|All Files (*.*)|*.*");
    EXPECT_EQ(window.shown_dialogs[0].title, kPackTitle);
    EXPECT_EQ(window.shown_dialogs[1].filter,
              "Script Files|*.zql|Script Report Files|*.zxt|All Files (*.*)|*.*");
    EXPECT_EQ(window.shown_dialogs[1].title, kUnpackTitle);
    for (const auto& d : window.shown_dialogs) {
        EXPECT_EQ(d.filter_index, 2);
        EXPECT_EQ(d.default_ext, ".sql");
        EXPECT_EQ(d.file_name, dir / "last.sql");
    }
    EXPECT_EQ(FilesIn(dir.path()), 0u);
    EXPECT_EQ(window.log.size(), 2u);  // the two dialogs, nothing else
}

TEST(Commands, PackThenUnpackGivesBackTheScript) {
    TempDir dir;
    std::string script = SqlText(70000);
    WriteBytes(dir / "upd.sql", script);
    FakeWindowServices window;
    window.file_choices = {dir / "upd.sql"};
    AZipFileExecute(window);
    EXPECT_EQ(UnpackFileToText(dir / "upd.Zql"), script);
    std::filesystem::remove(dir / "upd.sql");

    window.file_choices = {dir / "upd.Zql"};
    AUnzipFileExecute(window);
    EXPECT_EQ(ReadBytes(dir / "upd.sql"), script);
    // The unpack dialog offered the file chosen last, under its own texts.
    EXPECT_EQ(window.shown_dialogs[1].file_name, dir / "upd.sql");
    EXPECT_EQ(window.shown_dialogs[1].title, kUnpackTitle);
    EXPECT_TRUE(window.errors.empty());
    EXPECT_TRUE(window.information.empty());
    EXPECT_EQ(window.Text(Field::Panel3), "");
}

TEST(Commands, OnlySqlAndTxtComeBackByName) {
    TempDir dir;
    WriteBytes(dir / "upd.ini", "[System]\r\n");
    FakeWindowServices window;
    window.file_choices = {dir / "upd.ini", dir / "upd.Zni"};
    AZipFileExecute(window);
    AUnzipFileExecute(window);
    EXPECT_EQ(ReadBytes(dir / "upd.txt"), "[System]\r\n");
}

TEST(Commands, TypedMissingNamesFailAndWriteNothing) {
    TempDir dir;
    FakeWindowServices window;
    window.file_choices = {dir / "nope.sql", dir / "none/nope.sql", dir / "nope.Zql"};
    EXPECT_EQ(MessageOf([&] { AZipFileExecute(window); }), "File not found");
    EXPECT_EQ(MessageOf([&] { AZipFileExecute(window); }), "Invalid filename");
    EXPECT_THROW(AUnzipFileExecute(window), OpenFileFailure);
    EXPECT_EQ(FilesIn(dir.path()), 0u);
}

TEST(Commands, EqualNamesGoThroughTheBackupStep) {
    TempDir dir;
    WriteBytes(dir / "upd.Zql", "plain under a packed name");
    WriteBytes(dir / "x.txt", ZlibCompress("packed under a plain name"));
    FakeWindowServices window;
    window.file_choices = {dir / "upd.Zql", dir / "x.txt"};
    AZipFileExecute(window);
    AUnzipFileExecute(window);
    EXPECT_EQ(UnpackFileToText(dir / "upd.Zql"), "plain under a packed name");
    EXPECT_EQ(ReadBytes(dir / "x.txt"), "packed under a plain name");
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST(Commands, CorruptPackedFileFailsWithError) {
    TempDir dir;
    WriteBytes(dir / "bad.Zql", "not packed at all");
    FakeWindowServices window;
    window.file_choices = {dir / "bad.Zql"};
    EXPECT_EQ(MessageOf([&] { AUnzipFileExecute(window); }), "Error");
    EXPECT_FALSE(platform::FileExists(dir / "bad.sql"));
}
