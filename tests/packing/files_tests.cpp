// The backup step for equal names, plain text files, and the protocol file
// with its retry question.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/errors.h"
#include "base/platform.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "packing_support.h"
#include "support/fake_window_services.h"
#include "support/temp_dir.h"

using namespace tallo;
using namespace tallo::testing;

TEST(BackupStep, PackingOntoItselfLeavesOnlyThePackedFile) {
    TempDir dir;
    std::string content = SqlText(100000);
    WriteBytes(dir / "upd.Zql", content);
    EXPECT_TRUE(PackFile(dir / "upd.Zql", dir / "upd.Zql"));
    EXPECT_EQ(UnpackFileToText(dir / "upd.Zql"), content);
    EXPECT_FALSE(platform::FileExists(dir / "upd.bak"));
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(BackupStep, UnpackingOntoItselfLeavesOnlyThePlainFile) {
    TempDir dir;
    std::string content = Cp1251("Протокол выполнения\r\n");
    WriteBytes(dir / "x.txt", ZlibCompress(content));
    EXPECT_TRUE(UnpackFile(dir / "x.txt", dir / "x.txt"));
    EXPECT_EQ(ReadBytes(dir / "x.txt"), content);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(BackupStep, AnEarlierBackupIsDeleted) {
    TempDir dir;
    WriteBytes(dir / "upd.Z", "script");
    WriteBytes(dir / "upd.bak", "an old backup");
    PackFile(dir / "upd.Z", dir / "upd.Z");
    EXPECT_FALSE(platform::FileExists(dir / "upd.bak"));
    EXPECT_EQ(UnpackFileToText(dir / "upd.Z"), "script");
    // A name without an extension gets ".bak" appended.
    EXPECT_EQ(BackupNameFor("/a.b/upd"), "/a.b/upd.bak");
    WriteBytes(dir / "noext", "data");
    WriteBytes(dir / "noext.bak", "old");
    PackFile(dir / "noext", dir / "noext");
    EXPECT_FALSE(platform::FileExists(dir / "noext.bak"));
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST(BackupStep, NamesDifferingInLetterCaseAreDifferentFiles) {
    TempDir dir;
    WriteBytes(dir / "upd.zql", "plain script");
    WriteBytes(dir / "upd.bak", "not ours");
    PackFile(dir / "upd.zql", dir / "upd.Zql");
    // No backup step: the earlier .bak stays, the source stays as it was.
    EXPECT_EQ(ReadBytes(dir / "upd.bak"), "not ours");
    EXPECT_EQ(ReadBytes(dir / "upd.zql"), "plain script");
    EXPECT_EQ(UnpackFileToText(dir / "upd.Zql"), "plain script");
}

TEST(BackupStep, ExistingDestinationIsReplaced) {
    TempDir dir;
    WriteBytes(dir / "a.sql", "new");
    WriteBytes(dir / "a.Zql", std::string(100000, 'o'));
    PackFile(dir / "a.sql", dir / "a.Zql");
    EXPECT_EQ(UnpackFileToText(dir / "a.Zql"), "new");
}

TEST(PackText, EmptyTextAnswersFalseAndTouchesNoFile) {
    TempDir dir;
    EXPECT_FALSE(PackTextToFile("", dir / "new.Zxt"));
    EXPECT_FALSE(platform::FileExists(dir / "new.Zxt"));
    WriteBytes(dir / "old.Zxt", "keep me");
    EXPECT_FALSE(PackTextToFile("", dir / "old.Zxt"));
    EXPECT_EQ(ReadBytes(dir / "old.Zxt"), "keep me");
}

TEST(PackText, ReplacesAnExistingFile) {
    TempDir dir;
    WriteBytes(dir / "Result.Zxt", "something longer than the new content");
    EXPECT_TRUE(PackTextToFile("ok", dir / "Result.Zxt"));
    EXPECT_EQ(ReadBytes(dir / "Result.Zxt"), ZlibCompress("ok"));
}

TEST(TextFiles, ReadGivesTheExactBytes) {
    TempDir dir;
    std::string text = Cp1251("Ошибка\r\nстрока 2\n\r\x00конец") + std::string("\0\xFF", 2);
    WriteBytes(dir / "t.txt", text);
    EXPECT_EQ(ReadTextFile(dir / "t.txt"), text);
    WriteBytes(dir / "e.txt", "");
    EXPECT_EQ(ReadTextFile(dir / "e.txt"), "");
    EXPECT_THROW(ReadTextFile(dir.path()), OpenFileFailure);  // a folder
}

TEST(ProtocolFile, WritesTheTextAndEmptiesAnExistingFile) {
    TempDir dir;
    FakeWindowServices window;
    std::string text = Cp1251("Скрипт выполнен\r\n");
    WriteProtocolFile(window, text, dir / "Result.txt");
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), text);
    WriteProtocolFile(window, "", dir / "Result.txt");
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "");
    EXPECT_TRUE(window.questions.empty());
}

TEST(ProtocolFile, QuestionNamesTheFileQuoted) {
    std::string expected =
        Cp1251("Не удается создать файл протокола выполнения скрипта 'C:\\it''s\\Result.txt'.") + "\r\n" +
        Cp1251("Попытаться еще раз?");
    EXPECT_EQ(ProtocolRetryQuestion("C:\\it's\\Result.txt"), expected);
    // A file system name in UTF-8 is shown as Windows-1251 text.
    EXPECT_NE(ProtocolRetryQuestion("/\xD0\x91/Result.txt").find("'/\xC1/Result.txt'."), std::string::npos);
}

TEST(ProtocolFile, MissingFolderAsksOnEachYesAndNoEndsQuietly) {
    TempDir dir;
    FakeWindowServices window;
    window.answers = {true, true, false};
    std::string name = dir / "missing/Result.txt";
    WriteProtocolFile(window, "protocol", name);
    ASSERT_EQ(window.questions.size(), 3u);
    for (const auto& q : window.questions)
        EXPECT_EQ(q, ProtocolRetryQuestion(name));
    EXPECT_TRUE(window.answers.empty());
    EXPECT_EQ(FilesIn(dir.path()), 0u);
    EXPECT_TRUE(window.errors.empty());
    EXPECT_TRUE(window.information.empty());
}

TEST(ProtocolFile, YesAfterTheFolderAppearsWritesTheFile) {
    TempDir dir;
    struct MakingFolder : FakeWindowServices {
        std::string folder;
        bool AskErrorYesNo(const std::string& text) override {
            ::mkdir(folder.c_str(), 0777);
            return FakeWindowServices::AskErrorYesNo(text);
        }
    } window;
    window.folder = dir / "later";
    window.answers = {true};
    WriteProtocolFile(window, "done", dir / "later/Result.txt");
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(ReadBytes(dir / "later/Result.txt"), "done");
}

TEST(ProtocolFile, NoLeavesAnExistingFileAsItWas) {
    TempDir dir;
    WriteBytes(dir / "Result.txt", "previous run");
    int error = 0;
    platform::File holder =
        platform::File::Open(dir / "Result.txt", platform::Access::ReadWrite, platform::Share::None,
                             platform::Disposition::OpenExisting, &error);
    ASSERT_TRUE(holder.IsOpen());
    FakeWindowServices window;
    window.answers = {false};
    WriteProtocolFile(window, "new run", dir / "Result.txt");
    EXPECT_EQ(window.questions.size(), 1u);
    holder.Close(&error);
    EXPECT_EQ(ReadBytes(dir / "Result.txt"), "previous run");
}
