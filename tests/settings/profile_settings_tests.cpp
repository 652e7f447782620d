// The profile accessor: reads at each call, edits one line, never tears the
// file, and fails honestly when the file cannot be written.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/settings.h"
#include "base/errors.h"
#include "base/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

using namespace tallo;
using namespace std::string_literals;
using tallo::testing::ReadBytes;
using tallo::testing::RunInChild;
using tallo::testing::RunUnprivileged;
using tallo::testing::TempDir;
using tallo::testing::WriteBytes;

namespace {

// 0 when SetValue fails with the accessor's message, 1 when it succeeds.
int ExpectWriteFailure(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& value) {
    TProfileSettings p(path);
    try {
        p.SetValue(section, key, value);
    } catch (const SettingsWriteFailure& f) {
        if (f.message() == "Unable to write to " + path)
            return 0;
        std::fprintf(stderr, "message: %s\n", f.what());
        return 2;
    }
    return 1;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(d);
    return names;
}

class ProfileTest : public ::testing::Test {
  protected:
    std::string Set(const std::string& before, const std::string& section, const std::string& key,
                    const std::string& value) {
        WriteBytes(path_, before);
        TProfileSettings(path_).SetValue(section, key, value);
        return ReadBytes(path_);
    }

    TempDir dir_;
    std::string path_ = dir_ / "Tallo-3.ini";
};

}  // namespace

// --- Reading --------------------------------------------------------------

TEST_F(ProfileTest, MissingFileGivesTheDefaultAndCreatesNothing) {
    TProfileSettings p(path_);
    EXPECT_EQ(p.GetValue("System", "Database", "d"), "d");
    EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

TEST_F(ProfileTest, ReadsTheDiskAtEachCall) {
    TProfileSettings p(path_);
    WriteBytes(path_, "[Databases]\nmain=one.fdb\n");
    EXPECT_EQ(p.GetValue("Databases", "main", ""), "one.fdb");
    WriteBytes(path_, "[Databases]\nmain=two.fdb\n");
    EXPECT_EQ(p.GetValue("Databases", "main", ""), "two.fdb");
    EXPECT_EQ(p.GetValue("Databases", "other", "d"), "d");
    EXPECT_EQ(p.GetValue("Other", "main", "d"), "d");
}

TEST_F(ProfileTest, LongValueIsCutTo2047Bytes) {
    std::string value;
    for (int i = 0; i < 3000; ++i)
        value += static_cast<char>('a' + i % 26);
    WriteBytes(path_, "[S]\nk=" + value + "\n");
    EXPECT_EQ(TProfileSettings(path_).GetValue("S", "k", ""), value.substr(0, 2047));
    EXPECT_EQ(TSettingsReader(path_).GetValue("S", "k", ""), value);
}

TEST_F(ProfileTest, AgreesWithTheReaderOnEveryListedKey) {
    WriteBytes(path_,
               "\xef\xbb\xbf[Early]\nearly=1\n"
               "[System]\r\n  SelectedDatabase = \xc1\xe0\xe7\xe0 \r\nDatabase=srv:/db/a.fdb\n"
               "; comment=x\n#hash=h\n[Databases] ; note\nnoted=n\r"
               "[Databases]\nmain = /db/main.fdb\nquoted=\"q\"\nkeyless\neq=a=b;c\n\xe1\xe0\xe7\xe0=\xc1\n"s);
    TSettingsReader reader(path_);
    TProfileSettings profile(path_);
    for (const char* section : {"System", "Databases", "Early", "\xd1YSTEM"}) {
        std::vector<std::string> keys;
        reader.ListKeys(section, keys);
        for (const auto& key : keys) {
            if (key.empty())
                continue;
            EXPECT_EQ(profile.GetValue(section, key, "<none>"), reader.GetValue(section, key, "<none>"))
                << section << "/" << key;
        }
    }
    // Quotation marks around a value are kept, as the reader keeps them.
    EXPECT_EQ(profile.GetValue("Databases", "quoted", ""), "\"q\"");
    EXPECT_EQ(profile.GetValue("databases", "\xc1\xc0\xc7\xc0", ""), "\xc1");
    // A keyless line is not found by the empty key.
    EXPECT_EQ(profile.GetValue("Databases", "", "<none>"), "<none>");
}

TEST_F(ProfileTest, FileHeldByAnotherGivesTheDefault) {
    WriteBytes(path_, "[S]\nk=v\n");
    auto holder = tallo::testing::HoldFile(path_, platform::Access::ReadWrite, platform::Share::None);
    ASSERT_TRUE(holder.IsOpen());
    EXPECT_EQ(TProfileSettings(path_).GetValue("S", "k", "d"), "d");
}

TEST_F(ProfileTest, UnreadableFileGivesTheDefault) {
    WriteBytes(path_, "[S]\nk=v\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0200), 0);
    std::string path = path_;
    EXPECT_EQ(RunUnprivileged([&] { return TProfileSettings(path).GetValue("S", "k", "d") == "d" ? 0 : 1; }),
              0);
}

// --- Writing: where the line goes -----------------------------------------

TEST_F(ProfileTest, CreatesAMissingFileWithHeaderAndKeyLine) {
    TProfileSettings(path_).SetValue("System", "Database", "C:\\db\\main.fdb");
    EXPECT_EQ(ReadBytes(path_), "[System]\r\nDatabase=C:\\db\\main.fdb\r\n");
}

TEST_F(ProfileTest, AppendsAMissingSectionInTheFilesOwnLineEnds) {
    EXPECT_EQ(Set("[Databases]\nmain=m\n", "System", "Database", "m"),
              "[Databases]\nmain=m\n[System]\nDatabase=m\n");
    EXPECT_EQ(Set("[Databases]\rmain=m", "System", "Database", "m"),
              "[Databases]\rmain=m\r[System]\rDatabase=m\r");
    EXPECT_EQ(Set("", "S", "k", "v"), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, ReplacesAnExistingKeyInPlace) {
    std::string before =
        "; settings\r\n[System]\r\n\r\n  database = old.fdb  \r\n; keep\r\nSelectedDatabase=Old\r\n\r\n"
        "[Databases]\r\nDatabase=other\r\n";
    std::string after =
        "; settings\r\n[System]\r\n\r\nDatabase=new.fdb\r\n; keep\r\nSelectedDatabase=Old\r\n\r\n"
        "[Databases]\r\nDatabase=other\r\n";
    EXPECT_EQ(Set(before, "system", "Database", "new.fdb"), after);
}

TEST_F(ProfileTest, AddsAMissingKeyAfterTheSectionsLastLine) {
    std::string before = "[System]\nDatabase=a\n\n; about the list\n[Databases]\nmain=m\n";
    std::string after =
        "[System]\nDatabase=a\nSelectedDatabase=main\n\n; about the list\n[Databases]\nmain=m\n";
    EXPECT_EQ(Set(before, "System", "SelectedDatabase", "main"), after);
    // Into an empty section and after a last line without a line end.
    EXPECT_EQ(Set("[System]\r\n\r\n[X]\r\n", "System", "k", "v"), "[System]\r\nk=v\r\n\r\n[X]\r\n");
    EXPECT_EQ(Set("[System]\nk=v", "System", "n", "w"), "[System]\nk=v\nn=w");
}

TEST_F(ProfileTest, EmptyValueKeepsTheKey) {
    EXPECT_EQ(Set("[System]\nDatabase=a\n", "System", "Database", ""), "[System]\nDatabase=\n");
    EXPECT_EQ(TProfileSettings(path_).GetValue("System", "Database", "d"), "");
}

TEST_F(ProfileTest, WritesTheOccurrenceTheReaderReads) {
    // The later of two sections, the later of two key lines.
    std::string after = Set("[System]\nDatabase=1\n[x]\n[SYSTEM]\nDatabase=2\nDatabase=3\n[y]\n", "System",
                            "Database", "new");
    EXPECT_EQ(after, "[System]\nDatabase=1\n[x]\n[SYSTEM]\nDatabase=2\nDatabase=new\n[y]\n");
    EXPECT_EQ(TSettingsReader(path_).GetValue("System", "Database", ""), "new");
}

TEST_F(ProfileTest, ByteOrderMarkFileGetsASectionTheReaderSees) {
    std::string after = Set("\xef\xbb\xbf[System]\nDatabase=old\n", "System", "Database", "new");
    EXPECT_EQ(after, "\xef\xbb\xbf[System]\nDatabase=old\n[System]\nDatabase=new\n");
    EXPECT_EQ(TSettingsReader(path_).GetValue("System", "Database", ""), "new");
}

TEST_F(ProfileTest, NewSectionGoesBeforeANulByteAndTheRestIsKept) {
    std::string after = Set("[A]\na=1\0junk\n[System]\n"s, "System", "Database", "x");
    EXPECT_EQ(after, "[A]\na=1\n[System]\nDatabase=x\n\0junk\n[System]\n"s);
    EXPECT_EQ(TSettingsReader(path_).GetValue("System", "Database", ""), "x");
}

TEST_F(ProfileTest, LoneCarriageReturnFileDoesNotSwallowABlankLine) {
    std::string after = Set("[S]\rk=1\n\n[T]\r", "S", "n", "2");
    EXPECT_EQ(after, "[S]\rk=1\nn=2\r\n\n[T]\r");
    TSettingsReader r(path_);
    EXPECT_EQ(r.GetValue("S", "n", ""), "2");
}

TEST_F(ProfileTest, CyrillicBytesRoundTrip) {
    TProfileSettings p(path_);
    p.SetValue("System", "SelectedDatabase",
               "\xc1\xe0\xe7\xe0 \xb9"
               "1");
    p.SetValue("System", "SelectedDatabase",
               "\xc1\xe0\xe7\xe0 \xb9"
               "2");
    EXPECT_EQ(ReadBytes(path_),
              "[System]\r\nSelectedDatabase=\xc1\xe0\xe7\xe0 \xb9"
              "2\r\n");
}

TEST_F(ProfileTest, SameValueLeavesTheFileAlone) {
    WriteBytes(path_, "[S]\nk=v\n");
    struct stat before {};
    ASSERT_EQ(::stat(path_.c_str(), &before), 0);
    TProfileSettings(path_).SetValue("S", "k", "v");
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

// --- Writing: what the new file keeps -------------------------------------

TEST_F(ProfileTest, KeepsTheFilesPermissions) {
    WriteBytes(path_, "[S]\nk=v\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    TProfileSettings(path_).SetValue("S", "k", "w");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(path_), "[S]\nk=w\n");
}

TEST_F(ProfileTest, KeepsTheFilesOwner) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file another owner";
    WriteBytes(path_, "[S]\nk=v\n");
    ASSERT_EQ(::chown(path_.c_str(), tallo::testing::kUnprivilegedUid, tallo::testing::kUnprivilegedGid), 0);
    TProfileSettings(path_).SetValue("S", "k", "w");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, tallo::testing::kUnprivilegedUid);
    EXPECT_EQ(st.st_gid, tallo::testing::kUnprivilegedGid);
}

TEST_F(ProfileTest, WritingThroughALinkUpdatesTheFileItNames) {
    std::string real = dir_ / "real.ini";
    WriteBytes(real, "[S]\nk=v\n");
    ASSERT_EQ(::symlink(real.c_str(), path_.c_str()), 0);
    TProfileSettings(path_).SetValue("S", "k", "w");
    struct stat st {};
    ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(real), "[S]\nk=w\n");
}

TEST_F(ProfileTest, ReleaseLeavesEveryValueForALaterReader) {
    {
        TProfileSettings p(path_);
        p.SetValue("System", "Database", "/db/a.fdb");
        p.SetValue("System", "SelectedDatabase", "a");
    }
    TSettingsReader r(path_);
    EXPECT_EQ(r.GetValue("System", "Database", ""), "/db/a.fdb");
    EXPECT_EQ(r.GetValue("System", "SelectedDatabase", ""), "a");
}

// --- Failures: nothing changes --------------------------------------------

TEST_F(ProfileTest, ReadOnlyFileFailsAndStaysUnchanged) {
    const std::string before = "[System]\r\nDatabase=old\r\n";
    WriteBytes(path_, before);
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    // The file belongs to the writer and its folder is writable: only an
    // honest test of the file's own permission stops the write.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path_.c_str(), tallo::testing::kUnprivilegedUid, tallo::testing::kUnprivilegedGid),
                  0);
    }
    std::string path = path_;
    EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteFailure(path, "System", "Database", "new"); }), 0);
    EXPECT_EQ(ReadBytes(path_), before);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Tallo-3.ini"});
}

TEST_F(ProfileTest, ReadOnlyFolderFailsEvenForAWritableFile) {
    const std::string before = "[System]\nDatabase=old\n";
    WriteBytes(path_, before);
    ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
    std::string path = path_;
    EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteFailure(path, "System", "Database", "new"); }), 0);
    EXPECT_EQ(ReadBytes(path_), before);
}

TEST_F(ProfileTest, FileOfAnotherOwnerThatCannotBeKeptIsNotReplaced) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file another owner";
    // Writable for everyone, but a replacement made by the unprivileged user
    // could not keep root as the owner.
    const std::string before = "[System]\nDatabase=old\n";
    WriteBytes(path_, before);
    ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
    std::string path = path_;
    EXPECT_EQ(RunUnprivileged([&] { return ExpectWriteFailure(path, "System", "Database", "new"); }), 0);
    EXPECT_EQ(ReadBytes(path_), before);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(ProfileTest, MissingFolderFailsAndCreatesNothing) {
    std::string path = dir_ / "missing/Tallo-3.ini";
    EXPECT_EQ(ExpectWriteFailure(path, "System", "Database", "x"), 0);
    EXPECT_TRUE(FolderEntries(dir_.path()).empty());
}

TEST_F(ProfileTest, FolderOfTheNameFails) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", "Database", "x"), 0);
}

TEST_F(ProfileTest, FileHeldByAnotherFails) {
    WriteBytes(path_, "[S]\nk=v\n");
    auto holder = tallo::testing::HoldFile(path_, platform::Access::Read, platform::Share::Read);
    ASSERT_TRUE(holder.IsOpen());
    EXPECT_EQ(ExpectWriteFailure(path_, "S", "k", "w"), 0);
    EXPECT_EQ(ReadBytes(path_), "[S]\nk=v\n");
}

TEST_F(ProfileTest, TextsThatWouldBreakTheFileAreRefused) {
    const std::string before = "[System]\nDatabase=old\n";
    WriteBytes(path_, before);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", "Database", "x\r\n[System]\r\nDatabase=evil"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", "Database", "a\0b"s), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", "Data=base", "x"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", ";Database", "x"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", "[k", "v]"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "System", " Database", "x"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, "Sys\ntem", "Database", "x"), 0);
    EXPECT_EQ(ExpectWriteFailure(path_, " System", "Database", "x"), 0);
    EXPECT_EQ(ReadBytes(path_), before);
    // Blanks around a value are harmless: they read back trimmed.
    TProfileSettings(path_).SetValue("System", "Database", " x ");
    EXPECT_EQ(TSettingsReader(path_).GetValue("System", "Database", ""), "x");
}

TEST_F(ProfileTest, EarlierValueStaysWrittenAfterALaterFailure) {
    TProfileSettings p(path_);
    p.SetValue("System", "Database", "/db/a.fdb");
    EXPECT_THROW(p.SetValue("System", "SelectedDatabase", "bad\nvalue"), SettingsWriteFailure);
    // The accessor stays usable.
    p.SetValue("System", "SelectedDatabase", "a");
    EXPECT_EQ(ReadBytes(path_), "[System]\r\nDatabase=/db/a.fdb\r\nSelectedDatabase=a\r\n");
}

TEST_F(ProfileTest, WriteFailingMidwayLeavesTheOldFileIntact) {
    const std::string before = "[System]\r\nDatabase=old.fdb\r\n";
    WriteBytes(path_, before);
    const std::string big(3000, 'x');
    std::string path = path_;
    // A file size limit stops the write of the new content after its first
    // kilobyte, as a full disk would.
    int rc = RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            1024, 1024
        };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        return ExpectWriteFailure(path, "System", "Database", big);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadBytes(path_), before);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Tallo-3.ini"});
    // Without the limit the same write goes through.
    TProfileSettings(path_).SetValue("System", "Database", big);
    EXPECT_EQ(TSettingsReader(path_).GetValue("System", "Database", ""), big);
}
