// The whole-file reader: the text format, look-ups and the open failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings/settings.h"
#include "base/errors.h"
#include "base/platform.h"
#include "tests/support/held_file.h"
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

// --- The text format: one file each, and what the reader answers ---------

namespace {

// What a look-up answers; kDefault when it gives the default.
struct Lookup {
    std::string section, key, want;
};
const std::string kDefault = "<default>";
struct Listing {
    std::string section;
    Keys want;
};
struct FormatCase {
    const char* name;
    std::string file;
    std::vector<Lookup> lookups;
    std::vector<Listing> listings;
};

const std::string kLongValue = std::string(2999, 'v') + "E";

const FormatCase kFormatCases[] = {
    // Trimming and letter case.
    {"BlanksAndTabsAroundNamesAndValuesAreIgnored",
     " \t[ \tSystem\t ] \r\n\t Database \t=\t C:\\db\\main.fdb \t\r\n",
     {{"System", "Database", "C:\\db\\main.fdb"}},
     {{"System", {"Database"}}}},
    {"ControlBytesAreTrimmedButDelAndHighBytesAreNot",
     "[S]\n\x01\x1fKey\x0b=\x0c value\x7f\xa0\x1f\n\xa0Other=1\n",
     {{"S", "Key", "value\x7f\xa0"}, {"S", "\xa0Other", "1"}, {"S", "Other", kDefault}},
     {}},
    {"LatinLetterCaseIsIgnored",
     "[system]\ndatabase=x.fdb\n",
     {{"System", "Database", "x.fdb"}, {"SYSTEM", "DATABASE", "x.fdb"}},
     {}},
    // [базы] / ёлка=1 found as [БАЗЫ] / ЁЛКА; keys keep their case as
    // written; different letters stay different: е (0xE5) is not ё (0xB8).
    {"CyrillicLetterCaseIsIgnoredUnderWindows1251",
     "[\xe1\xe0\xe7\xfb]\n\xb8\xeb\xea\xe0=1\n",
     {{"\xc1\xc0\xc7\xdb", "\xa8\xcb\xca\xc0", "1"}, {"\xc1\xc0\xc7\xdb", "\xe5\xeb\xea\xe0", kDefault}},
     {{"\xc1\xc0\xc7\xdb", {"\xb8\xeb\xea\xe0"}}}},
    // Line kinds.
    {"ValueIsEverythingAfterTheFirstEqualsSign",
     "[S]\nconn = host/3050:db=x;role=y ; not a note\n",
     {{"S", "conn", "host/3050:db=x;role=y ; not a note"}},
     {}},
    {"SemicolonLinesAreCommentsAnywhereHashLinesAreNot",
     ";top\n[S]\n  ; a=1\n#b=2\n;c=3\nd=4\n",
     {{"S", "a", kDefault}, {"S", "#b", "2"}, {"S", "c", kDefault}},
     {{"S", {"#b", "d"}}}},
    {"EmptyValueIsEmptyNotTheDefault",
     "[System]\nDatabase=\n",
     {{"System", "Database", ""}, {"System", "Missing", kDefault}},
     {}},
    // A keyless line is never found, not even by an empty key.
    {"KeylessLinesListAsEmptyEntriesInFileOrder",
     "[Databases]\nmain=a.fdb\njust a line\n[x\ntest=b.fdb\n",
     {{"Databases", "", kDefault}, {"Databases", "just a line", kDefault}},
     {{"Databases", {"main", "", "", "test"}}}},
    {"EmptyKeyOfAKeyLineIsFound", "[S]\n= v\n", {{"S", "", "v"}}, {{"S", {""}}}},
    {"LinesBeforeTheFirstHeaderAreDropped",
     "Database=early\nloose line\n[System]\nOther=1\n",
     {{"System", "Database", kDefault}, {"", "Database", kDefault}},
     {{"System", {"Other"}}}},
    {"EmptySectionNameIsASection", "[  ]\nk=v\n", {{"", "k", "v"}}, {}},
    {"HeaderWithANoteBelongsToTheSectionAbove",
     "[System]\nDatabase=a\n[Databases] ; list\nmain=m.fdb\n",
     {{"System", "main", "m.fdb"}},
     {{"System", {"Database", "", "main"}}, {"Databases", {}}}},
    {"HeaderWithANoteBeforeAnySectionIsDropped",
     "[System] ; note\nDatabase=a\n",
     {{"System", "Database", kDefault}},
     {}},
    {"BracketedKeyLineIsAHeader", "[S]\n[a=b]\nk=v\n", {{"a=b", "k", "v"}, {"S", "k", kDefault}}, {}},
    // Duplicates: nothing is merged, a key of the earlier section is not found.
    {"TwoSectionsOfOneNameAnswerFromTheLaterOnly",
     "[Databases]\nold=1\nboth=1\n[System]\n[databases]\nnew=2\nboth=2\n",
     {{"Databases", "both", "2"}, {"Databases", "old", kDefault}},
     {{"Databases", {"new", "both"}}}},
    {"KeyTwiceInASectionGivesTheLaterValueAndListsTwice",
     "[System]\nDatabase=first\nx=1\nDATABASE=second\n",
     {{"System", "Database", "second"}},
     {{"System", {"Database", "x", "DATABASE"}}}},
    // Line ends, NUL and byte-order mark.
    {"MixedLineEndsAndALastLineWithoutLineEnd",
     "[S]\r\na=1\nb=2\rc=3\r\n\r\rd=4",
     {{"S", "d", "4"}, {"S", "b", "2"}},
     {{"S", {"a", "b", "c", "d"}}}},
    {"TextAfterANulByteIsIgnored",
     "[S]\na=1\nb=2\0\nc=3\n[T]\nd=4\n"s,
     {{"T", "d", kDefault}},
     {{"S", {"a", "b"}}}},
    {"ByteOrderMarkHidesAHeaderOnTheFirstLine",
     "\xef\xbb\xbf[System]\nDatabase=a\n[Databases]\nmain=m\n",
     {{"System", "Database", kDefault}, {"Databases", "main", "m"}},
     {{"System", {}}}},
    {"LongValueIsReturnedWhole", "[S]\nk=" + kLongValue + "\n", {{"S", "k", kLongValue}}, {}},
    {"ListKeysClearsTheTargetWhenTheSectionIsMissing", "[S]\nk=v\n", {}, {{"T", {}}}},
};

class ReaderFormat : public ReaderTest, public ::testing::WithParamInterface<FormatCase> {};

}  // namespace

TEST_P(ReaderFormat, AnswersFromTheFile) {
    const FormatCase& c = GetParam();
    auto r = Load(c.file);
    for (const Lookup& l : c.lookups)
        EXPECT_EQ(r.GetValue(l.section, l.key, kDefault), l.want) << "[" << l.section << "] " << l.key;
    for (const Listing& l : c.listings)
        EXPECT_EQ(List(r, l.section), l.want) << "[" << l.section << "]";
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderFormat, ::testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
    auto holder = tallo::testing::HoldFile(path_, platform::Access::ReadWrite, platform::Share::None);
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
