#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "base/errors.h"
#include "base/platform.h"
#include "base/text_rules.h"
#include "tests/support/child_process.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_dir.h"
#include "text/quoting.h"
#include "text/win1251.h"

using namespace tallo;
using tallo::testing::CurrentFolder;
using tallo::testing::TempDir;

TEST(TextRules, QuotingDoublesEveryQuote) {
    EXPECT_EQ(Q(""), "''");
    EXPECT_EQ(Q("C:\\db\\o'neil.fdb"), "'C:\\db\\o''neil.fdb'");
    EXPECT_EQ(Q("''"), "''''''");
    // A name in double quotes doubles only those.
    EXPECT_EQ(Enclosed("o'neil \"x\"", '"'), "\"o'neil \"\"x\"\"\"");
}

TEST(Failures, IoMessagesByCode) {
    const std::pair<int, const char*> cases[] = {{2, "File not found"},
                                                 {5, "File access denied"},
                                                 {106, "Invalid numeric input"},
                                                 {0, "I/O error 0"},
                                                 {102, "I/O error 102"}};
    for (const auto& [code, message] : cases)
        EXPECT_EQ(IoFailure::MessageFor(code), message) << code;
}

TEST(TextRules, StandardErrorTextAddsPeriodOnlyAfterLaterCharacters) {
    // The period follows a last character that sorts after '.' ('?', '/',
    // letters, Cyrillic), not one that sorts before it or is '.' itself.
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},         {"Error", "Error."}, {"Done.", "Done."}, {"What?", "What?."},
        {"Wow!", "Wow!"}, {"path/", "path/."}, {"a-", "a-"},       {"\xD4\xE0\xE9\xEB", "\xD4\xE0\xE9\xEB."},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(StandardErrorText(text), shown) << text;
}

TEST(TextRules, ApplicationTitleFromExecutableName) {
    EXPECT_EQ(ApplicationTitle("/usr/bin/tallo"), "Tallo");
    EXPECT_EQ(ApplicationTitle("C:\\Program Files\\TALLO.EXE"), "Tallo");
    EXPECT_EQ(ApplicationTitle("/opt/x/My.Tool.bin"), "My");
    EXPECT_EQ(ApplicationTitle("\xCF\xD0\xCE\xC3.exe"), "\xCF\xF0\xEE\xE3");  // ПРОГ -> Прог
}

TEST(TextRules, ExtensionAndFolderFollowTheLastDelimiter) {
    EXPECT_EQ(ExtensionOf("upd.sql"), ".sql");
    EXPECT_EQ(ExtensionOf("dir.old\\upd"), "");
    EXPECT_EQ(ExtensionOf("/tmp/dir.old/upd"), "");
    EXPECT_EQ(ExtensionOf("a.b.c"), ".c");
    EXPECT_EQ(ChangeExtension("dir.old\\upd", ".Z"), "dir.old\\upd.Z");
    EXPECT_EQ(ChangeExtension("/a/upd.sqlite", ".Zql"), "/a/upd.Zql");
    EXPECT_EQ(FolderPart("C:\\db\\x.sql"), "C:\\db\\");
    EXPECT_EQ(FolderPart("/home/op/x.sql"), "/home/op/");
    EXPECT_EQ(FolderPart("x.sql"), "");
}

namespace {
std::string IconvCase(unsigned char c, bool upper) {
    // Round trip through glibc: CP1251 -> UTF-32 -> towupper/towlower -> CP1251.
    iconv_t to = iconv_open("UTF-32LE", "CP1251");
    iconv_t back = iconv_open("CP1251", "UTF-32LE");
    char in = static_cast<char>(c);
    char32_t wide = 0;
    char* ip = &in;
    size_t il = 1, ol = 4;
    char* op = reinterpret_cast<char*>(&wide);
    size_t r = iconv(to, &ip, &il, &op, &ol);
    std::string out;
    if (r != static_cast<size_t>(-1) && ol == 0) {
        char32_t mapped = upper ? static_cast<char32_t>(towupper(static_cast<wint_t>(wide)))
                                : static_cast<char32_t>(towlower(static_cast<wint_t>(wide)));
        char res[4];
        char* wp = reinterpret_cast<char*>(&mapped);
        size_t wl = 4, rl = 4;
        char* rp = res;
        if (iconv(back, &wp, &wl, &rp, &rl) != static_cast<size_t>(-1))
            out.assign(res, 4 - rl);
    }
    iconv_close(to);
    iconv_close(back);
    return out.empty() ? std::string(1, static_cast<char>(c)) : out;
}
}  // namespace

TEST(Win1251, LetterCaseAgreesWithGlibcForEveryByte) {
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(std::string(1, static_cast<char>(cp1251::ToUpper(static_cast<unsigned char>(c)))),
                  IconvCase(static_cast<unsigned char>(c), true));
        EXPECT_EQ(std::string(1, static_cast<char>(cp1251::ToLower(static_cast<unsigned char>(c)))),
                  IconvCase(static_cast<unsigned char>(c), false));
    }
}

TEST(Win1251, CaseInsensitiveComparisonCoversCyrillic) {
    EXPECT_TRUE(cp1251::EqualNoCase("\xE1\xE0\xE7\xFB", "\xC1\xC0\xC7\xDB"));  // базы / БАЗЫ
    EXPECT_TRUE(cp1251::EqualNoCase("system", "SYSTEM"));
    EXPECT_TRUE(cp1251::EqualNoCase("\xB8", "\xA8"));   // ё / Ё
    EXPECT_FALSE(cp1251::EqualNoCase("\xE5", "\xB8"));  // е is not ё
    EXPECT_FALSE(cp1251::EqualNoCase("abc", "abcd"));
}

TEST(Errors, IoFailureMessagesByCode) {
    EXPECT_EQ(IoFailure(2).message(), "File not found");
    EXPECT_EQ(IoFailure(3).message(), "Invalid filename");
    EXPECT_EQ(IoFailure(4).message(), "Too many open files");
    EXPECT_EQ(IoFailure(5).message(), "File access denied");
    EXPECT_EQ(IoFailure(100).message(), "Read beyond end of file");
    EXPECT_EQ(IoFailure(101).message(), "Disk full");
    EXPECT_EQ(IoFailure(106).message(), "Invalid numeric input");
    EXPECT_EQ(IoFailure(32).message(), "I/O error 32");
}

TEST(Errors, FileFailuresNameTheFullPathAndTheSystemText) {
    TempDir dir;
    CurrentFolder in_dir(dir.path());
    OpenFileFailure f = OpenFileFailure::For("x.txt", ENOENT);
    EXPECT_EQ(f.message(),
              "Cannot open file \"" + platform::FullPath("x.txt") + "\". No such file or directory");
    CreateFileFailure c = CreateFileFailure::For("../x", EACCES);
    EXPECT_EQ(std::string(c.what()),
              "Cannot create file \"" + platform::FullPath("../x") + "\". Permission denied");
    // Names are the file system's UTF-8; messages are Windows-1251 text.
    EXPECT_EQ(OpenFileFailure::For("/\xD0\x91\xD0\xB0\xD0\xB7\xD1\x8B/a", ENOENT).message(),
              "Cannot open file \"/\xC1\xE0\xE7\xFB/a\". No such file or directory");
    EXPECT_EQ(platform::FileNameText("/\xC1\xE0\xE7\xFB"), "/\xC1\xE0\xE7\xFB");  // not UTF-8: kept
    EXPECT_EQ(platform::FileNameText("/\xE2\x82\xAC\xE4\xB8\xAD"), "/\x88?");  // euro sign, a CJK character
}

TEST(Platform, FullPathFoldsDotsAgainstTheCurrentDirectory) {
    TempDir dir;
    CurrentFolder in_dir(dir.path());
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(platform::FullPath("a.txt"), std::string(cwd) + "/a.txt");
    EXPECT_EQ(platform::FullPath("./sub/../b.txt"), std::string(cwd) + "/b.txt");
    EXPECT_EQ(platform::FullPath("/x//y/./z"), "/x/y/z");
    EXPECT_EQ(platform::FullPath("/.."), "/");
}

TEST(Platform, NeutralCodesDistinguishMissingFileFromMissingFolder) {
    TempDir dir;
    EXPECT_EQ(platform::NeutralErrorCode(ENOENT, dir / "none.txt"), 2);
    EXPECT_EQ(platform::NeutralErrorCode(ENOENT, dir / "nofolder/none.txt"), 3);
    EXPECT_EQ(platform::NeutralErrorCode(EACCES, "x"), 5);
    EXPECT_EQ(platform::NeutralErrorCode(EROFS, "x"), 5);
    EXPECT_EQ(platform::NeutralErrorCode(EMFILE, "x"), 4);
    EXPECT_EQ(platform::NeutralErrorCode(ENOSPC, "x"), 101);
    EXPECT_EQ(platform::NeutralErrorCode(EWOULDBLOCK, "x"), 32);
}

TEST(Platform, FileExistsOnlyForRegularFiles) {
    TempDir dir;
    tallo::testing::WriteBytes(dir / "f", "x");
    ::mkdir((dir / "d").c_str(), 0755);
    EXPECT_TRUE(platform::FileExists(dir / "f"));
    EXPECT_FALSE(platform::FileExists(dir / "d"));
    EXPECT_FALSE(platform::FileExists(dir / "none"));
    EXPECT_FALSE(platform::FileExists(""));
}

TEST(Platform, KindOfTellsFilesFromOtherNames) {
    TempDir dir;
    tallo::testing::WriteBytes(dir / "f", "x");
    ::symlink((dir / "f").c_str(), (dir / "link").c_str());
    const std::pair<std::string, platform::NameKind> cases[] = {
        {dir / "f", platform::NameKind::RegularFile},   {dir / "link", platform::NameKind::RegularFile},
        {dir.path(), platform::NameKind::Other},        {dir / "none", platform::NameKind::Nothing},
        {dir / "f/below", platform::NameKind::Unknown},
    };
    for (const auto& [name, kind] : cases)
        EXPECT_EQ(platform::KindOf(name), kind) << name;
    EXPECT_EQ(platform::LinkTarget(dir / "link"), platform::LinkTarget(dir / "f"));
    EXPECT_EQ(platform::LinkTarget(dir / "none"), "");
}

TEST(Platform, WithCurrentFolderSetsTheFormerOneBack) {
    TempDir dir;
    const std::string before = std::filesystem::current_path();
    std::string inside;
    const auto work = [&] { inside = std::filesystem::current_path(); };
    EXPECT_EQ(platform::WithCurrentFolder(dir.path(), work), platform::FolderVisit::Done);
    EXPECT_EQ(inside, std::filesystem::canonical(dir.path()).string());
    EXPECT_EQ(std::filesystem::current_path(), before);
    inside.clear();
    EXPECT_EQ(platform::WithCurrentFolder(dir / "none", work), platform::FolderVisit::NotEntered);
    EXPECT_EQ(inside, "");
    int error = 0;
    const std::string made = platform::MakeTemporaryFolder("tallo-test-", &error);
    ASSERT_FALSE(made.empty()) << error;
    EXPECT_TRUE(platform::RemoveFolder(made));
    EXPECT_FALSE(platform::RemoveFolder(made));
}

TEST(Platform, MoveFileRefusesAnExistingTarget) {
    TempDir dir;
    tallo::testing::WriteBytes(dir / "a", "A");
    tallo::testing::WriteBytes(dir / "b", "B");
    EXPECT_FALSE(platform::MoveFile(dir / "a", dir / "b"));
    EXPECT_EQ(tallo::testing::ReadBytes(dir / "b"), "B");
    EXPECT_TRUE(platform::MoveFile(dir / "a", dir / "c"));
    EXPECT_FALSE(platform::FileExists(dir / "a"));
    EXPECT_EQ(tallo::testing::ReadBytes(dir / "c"), "A");
}

namespace {
// The neutral error code another process gets when it opens the file that
// way; 0 when it opens.
int OpenErrorElsewhere(const std::string& name, platform::Access access, platform::Share share,
                       platform::Disposition disposition) {
    return tallo::testing::RunInChild([&] {
        int e = 0;
        platform::File other = platform::File::Open(name, access, share, disposition, &e);
        return other.IsOpen() ? 0 : platform::NeutralErrorCode(e, name);
    });
}
}  // namespace

TEST(Platform, ShareModesHoldAcrossProcesses) {
    TempDir dir;
    std::string name = dir / "held.txt";
    tallo::testing::WriteBytes(name, "content");
    // A holder that shares nothing keeps everybody else out...
    platform::File holder =
        tallo::testing::HoldFile(name, platform::Access::ReadWrite, platform::Share::None);
    ASSERT_TRUE(holder.IsOpen());
    EXPECT_EQ(OpenErrorElsewhere(name, platform::Access::ReadWrite, platform::Share::ReadWrite,
                                 platform::Disposition::OpenExisting),
              32);
    int err = 0;
    holder.Close(&err);
    // ...and once it has closed, the file opens again.
    EXPECT_TRUE(tallo::testing::HoldFile(name, platform::Access::Read, platform::Share::ReadWrite).IsOpen());
}

TEST(Platform, CreateAlwaysEmptiesOnlyAfterTheShareCheck) {
    TempDir dir;
    std::string name = dir / "kept.txt";
    tallo::testing::WriteBytes(name, "precious");
    platform::File reader = tallo::testing::HoldFile(name, platform::Access::Read, platform::Share::Read);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_NE(OpenErrorElsewhere(name, platform::Access::ReadWrite, platform::Share::None,
                                 platform::Disposition::CreateAlways),
              0);
    EXPECT_EQ(tallo::testing::ReadBytes(name), "precious");
}

TEST(Platform, LibraryLoadsFromTheCurrentDirectoryOnly) {
    TempDir dir;
    CurrentFolder in_dir(dir.path());
    // A system library name without a folder must not be found on the
    // library path: the tool only loads from the current directory.
    platform::Library lib = platform::Library::Load("libz.so.1");
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.Symbol("deflate"), nullptr);
}

TEST(Win1251, Utf8ConversionRoundTripsEveryDefinedByte) {
    for (int c = 0; c < 256; ++c) {
        if (c == 0x98)
            continue;  // undefined in Windows-1251
        std::string one(1, static_cast<char>(c));
        EXPECT_EQ(cp1251::FromUtf8(cp1251::ToUtf8(one)), one) << c;
    }
    using cp1251::operator""_cp;
    EXPECT_EQ("Пароль:"_cp, "\xCF\xE0\xF0\xEE\xEB\xFC:");
    EXPECT_EQ(cp1251::FromUtf8("日本"), "??");
    EXPECT_EQ(cp1251::FromUtf8("\xC3"), "?");  // cut sequence
}
