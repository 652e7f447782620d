// The whole-file reader: the text format, look-ups and the open failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/base/errors.h"
#include "app/base/platform.h"
#include "app/settings/settings.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

using namespace tallo;
using namespace std::string_literals;
using tallo::testing::RunUnprivileged;
using tallo::testing::TempDir;
using tallo::testing::WriteBytes;

namespace {

class ReaderTest : public ::testing::Test {
  protected:
    // Writes the bytes as the settings file and reads it back whole.
    TSettingsReader Load(const std::string& bytes) {
        WriteBytes(path_, bytes);
        return TSettingsReader(path_);
    }
    std::vector<std::string> List(const TSettingsReader& r, const std::string& section) {
        std::vector<std::string> keys{"left over"};
        r.ListKeys(section, keys);
        return keys;
    }

    TempDir dir_;
    std::string path_ = dir_ / "Tallo-3.ini";
};

using Keys = std::vector<std::string>;

}  // namespace

// --- Missing file ---------------------------------------------------------

TEST_F(ReaderTest, MissingFileGivesDefaultsAndEmptyLists) {
    TSettingsReader r(path_);
    EXPECT_EQ(r.GetValue("System", "Database", "dflt"), "dflt");
    EXPECT_EQ(List(r, "Databases"), Keys{});
    EXPECT_FALSE(platform::FileExists(path_));
}

TEST_F(ReaderTest, FolderOfTheNameCountsAsMissing) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
    TSettingsReader r(path_);
    EXPECT_EQ(r.GetValue("System", "Database", "d"), "d");
}

TEST_F(ReaderTest, EmptyPathGivesDefaults) {
    TSettingsReader r("");
    EXPECT_EQ(r.GetValue("System", "Database", "d"), "d");
}

// --- Trimming and letter case ---------------------------------------------

TEST_F(ReaderTest, BlanksAndTabsAroundNamesAndValuesAreIgnored) {
    auto r = Load(" \t[ \tSystem\t ] \r\n\t Database \t=\t C:\\db\\main.fdb \t\r\n");
    EXPECT_EQ(r.GetValue("System", "Database", ""), "C:\\db\\main.fdb");
    EXPECT_EQ(List(r, "System"), Keys{"Database"});
}

TEST_F(ReaderTest, ControlBytesAreTrimmedButDelAndHighBytesAreNot) {
    auto r = Load("[S]\n\x01\x1fKey\x0b=\x0c value\x7f\xa0\x1f\n\xa0Other=1\n");
    EXPECT_EQ(r.GetValue("S", "Key", ""), "value\x7f\xa0");
    EXPECT_EQ(r.GetValue("S", "\xa0Other", ""), "1");
    EXPECT_EQ(r.GetValue("S", "Other", "none"), "none");
}

TEST_F(ReaderTest, LatinLetterCaseIsIgnored) {
    auto r = Load("[system]\ndatabase=x.fdb\n");
    EXPECT_EQ(r.GetValue("System", "Database", ""), "x.fdb");
    EXPECT_EQ(r.GetValue("SYSTEM", "DATABASE", ""), "x.fdb");
}

TEST_F(ReaderTest, CyrillicLetterCaseIsIgnoredUnderWindows1251) {
    // [базы] / ёлка=1 found as [БАЗЫ] / ЁЛКА
    auto r = Load("[\xe1\xe0\xe7\xfb]\n\xb8\xeb\xea\xe0=1\n");
    EXPECT_EQ(r.GetValue("\xc1\xc0\xc7\xdb", "\xa8\xcb\xca\xc0", ""), "1");
    // Keys keep their case as written.
    EXPECT_EQ(List(r, "\xc1\xc0\xc7\xdb"), Keys{"\xb8\xeb\xea\xe0"});
    // Different letters stay different: е (0xE5) is not ё (0xB8).
    EXPECT_EQ(r.GetValue("\xc1\xc0\xc7\xdb", "\xe5\xeb\xea\xe0", "no"), "no");
}

// --- Line kinds -----------------------------------------------------------

TEST_F(ReaderTest, ValueIsEverythingAfterTheFirstEqualsSign) {
    auto r = Load("[S]\nconn = host/3050:db=x;role=y ; not a note\n");
    EXPECT_EQ(r.GetValue("S", "conn", ""), "host/3050:db=x;role=y ; not a note");
}

TEST_F(ReaderTest, SemicolonLinesAreCommentsAnywhereHashLinesAreNot) {
    auto r = Load(";top\n[S]\n  ; a=1\n#b=2\n;c=3\nd=4\n");
    EXPECT_EQ(r.GetValue("S", "a", "none"), "none");
    EXPECT_EQ(r.GetValue("S", "#b", ""), "2");
    EXPECT_EQ(r.GetValue("S", "c", "none"), "none");
    EXPECT_EQ(List(r, "S"), (Keys{"#b", "d"}));
}

TEST_F(ReaderTest, EmptyValueIsEmptyNotTheDefault) {
    auto r = Load("[System]\nDatabase=\n");
    EXPECT_EQ(r.GetValue("System", "Database", "dflt"), "");
    EXPECT_EQ(r.GetValue("System", "Missing", "dflt"), "dflt");
}

TEST_F(ReaderTest, KeylessLinesListAsEmptyEntriesInFileOrder) {
    auto r = Load("[Databases]\nmain=a.fdb\njust a line\n[x\ntest=b.fdb\n");
    EXPECT_EQ(List(r, "Databases"), (Keys{"main", "", "", "test"}));
    // A keyless line is never found, not even by an empty key.
    EXPECT_EQ(r.GetValue("Databases", "", "none"), "none");
    EXPECT_EQ(r.GetValue("Databases", "just a line", "none"), "none");
}

TEST_F(ReaderTest, EmptyKeyOfAKeyLineIsFound) {
    auto r = Load("[S]\n= v\n");
    EXPECT_EQ(r.GetValue("S", "", "none"), "v");
    EXPECT_EQ(List(r, "S"), Keys{""});
}

TEST_F(ReaderTest, LinesBeforeTheFirstHeaderAreDropped) {
    auto r = Load("Database=early\nloose line\n[System]\nOther=1\n");
    EXPECT_EQ(r.GetValue("System", "Database", "none"), "none");
    EXPECT_EQ(r.GetValue("", "Database", "none"), "none");
    EXPECT_EQ(List(r, "System"), Keys{"Other"});
}

TEST_F(ReaderTest, EmptySectionNameIsASection) {
    auto r = Load("[  ]\nk=v\n");
    EXPECT_EQ(r.GetValue("", "k", ""), "v");
}

TEST_F(ReaderTest, HeaderWithANoteBelongsToTheSectionAbove) {
    auto r = Load("[System]\nDatabase=a\n[Databases] ; list\nmain=m.fdb\n");
    EXPECT_EQ(r.GetValue("System", "main", ""), "m.fdb");
    EXPECT_EQ(List(r, "System"), (Keys{"Database", "", "main"}));
    EXPECT_EQ(List(r, "Databases"), Keys{});
}

TEST_F(ReaderTest, HeaderWithANoteBeforeAnySectionIsDropped) {
    auto r = Load("[System] ; note\nDatabase=a\n");
    EXPECT_EQ(r.GetValue("System", "Database", "none"), "none");
}

TEST_F(ReaderTest, BracketedKeyLineIsAHeader) {
    auto r = Load("[S]\n[a=b]\nk=v\n");
    EXPECT_EQ(r.GetValue("a=b", "k", ""), "v");
    EXPECT_EQ(r.GetValue("S", "k", "none"), "none");
}

// --- Duplicates -----------------------------------------------------------

TEST_F(ReaderTest, TwoSectionsOfOneNameAnswerFromTheLaterOnly) {
    auto r = Load("[Databases]\nold=1\nboth=1\n[System]\n[databases]\nnew=2\nboth=2\n");
    EXPECT_EQ(List(r, "Databases"), (Keys{"new", "both"}));
    EXPECT_EQ(r.GetValue("Databases", "both", ""), "2");
    // Nothing is merged: a key of the earlier section is not found.
    EXPECT_EQ(r.GetValue("Databases", "old", "none"), "none");
}

TEST_F(ReaderTest, KeyTwiceInASectionGivesTheLaterValueAndListsTwice) {
    auto r = Load("[System]\nDatabase=first\nx=1\nDATABASE=second\n");
    EXPECT_EQ(r.GetValue("System", "Database", ""), "second");
    EXPECT_EQ(List(r, "System"), (Keys{"Database", "x", "DATABASE"}));
}

// --- Line ends, NUL and byte-order mark -----------------------------------

TEST_F(ReaderTest, MixedLineEndsAndALastLineWithoutLineEnd) {
    auto r = Load("[S]\r\na=1\nb=2\rc=3\r\n\r\rd=4");
    EXPECT_EQ(List(r, "S"), (Keys{"a", "b", "c", "d"}));
    EXPECT_EQ(r.GetValue("S", "d", ""), "4");
    EXPECT_EQ(r.GetValue("S", "b", ""), "2");
}

TEST_F(ReaderTest, TextAfterANulByteIsIgnored) {
    auto r = Load("[S]\na=1\nb=2\0\nc=3\n[T]\nd=4\n"s);
    EXPECT_EQ(List(r, "S"), (Keys{"a", "b"}));
    EXPECT_EQ(r.GetValue("T", "d", "none"), "none");
}

TEST_F(ReaderTest, ByteOrderMarkHidesAHeaderOnTheFirstLine) {
    auto r = Load("\xef\xbb\xbf[System]\nDatabase=a\n[Databases]\nmain=m\n");
    EXPECT_EQ(r.GetValue("System", "Database", "none"), "none");
    EXPECT_EQ(List(r, "System"), Keys{});
    EXPECT_EQ(r.GetValue("Databases", "main", ""), "m");
}

TEST_F(ReaderTest, LongValueIsReturnedWhole) {
    std::string value(3000, 'v');
    value.back() = 'E';
    auto r = Load("[S]\nk=" + value + "\n");
    EXPECT_EQ(r.GetValue("S", "k", ""), value);
}

TEST_F(ReaderTest, ReadsTheFileOnceAtCreation) {
    auto r = Load("[S]\nk=old\n");
    WriteBytes(path_, "[S]\nk=new\n");
    EXPECT_EQ(r.GetValue("S", "k", ""), "old");
}

TEST_F(ReaderTest, ListKeysClearsTheTargetWhenTheSectionIsMissing) {
    auto r = Load("[S]\nk=v\n");
    EXPECT_EQ(List(r, "T"), Keys{});
}

// --- Open failure ---------------------------------------------------------

TEST_F(ReaderTest, FileHeldForWritingByAnotherFailsToOpen) {
    WriteBytes(path_, "[System]\nDatabase=a\n");
    int error = 0;
    auto holder = platform::File::Open(path_, platform::Access::ReadWrite, platform::Share::None,
                                       platform::Disposition::OpenExisting, &error);
    ASSERT_TRUE(holder.IsOpen());
    try {
        TSettingsReader r(path_);
        FAIL() << "no failure";
    } catch (const OpenFileFailure& f) {
        EXPECT_EQ(f.message(),
                  "Cannot open file \"" + path_ + "\". " + platform::SystemErrorText(EWOULDBLOCK));
    }
}

TEST_F(ReaderTest, FileWithoutReadPermissionFailsToOpen) {
    WriteBytes(path_, "[System]\nDatabase=a\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0200), 0);
    std::string path = path_;
    int rc = RunUnprivileged([&path] {
        try {
            TSettingsReader r(path);
        } catch (const OpenFileFailure& f) {
            std::string want = "Cannot open file \"" + path + "\". " + platform::SystemErrorText(EACCES);
            if (f.message() == want)
                return 0;
            std::fprintf(stderr, "message: %s\n", f.what());
            return 2;
        }
        return 1;
    });
    EXPECT_EQ(rc, 0);
}
