// The backup step for equal names, plain text files, and the protocol file
// with its retry question.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "tests/packing/packing_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

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
    // A name without an extension gets ".bak" appended.
    EXPECT_EQ(BackupNameFor("/a.b/upd"), "/a.b/upd.bak");
    const std::pair<const char*, const char*> files[] = {{"upd.Z", "upd.bak"}, {"noext", "noext.bak"}};
    for (const auto& [name, backup] : files) {
        TempDir dir;
        WriteBytes(dir / name, "script");
        WriteBytes(dir / backup, "an old backup");
        PackFile(dir / name, dir / name);
        EXPECT_FALSE(platform::FileExists(dir / backup)) << name;
        EXPECT_EQ(UnpackFileToText(dir / name), "script");
        EXPECT_EQ(FilesIn(dir.path()), 1u);
    }
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

// --- Files replaced whole: faults, links, permissions -----------------------

namespace {

// Each routine that writes a file, with the file it writes; source is the
// script or file it is made from (which the new file's permissions follow).
struct Writer {
    const char* name;
    std::string target;
    std::function<void()> write;
};

std::vector<Writer> Writers(const TempDir& dir, const std::string& big) {
    WriteBytes(dir / "src.sql", big);
    WriteBytes(dir / "self.Zql", big);
    WriteBytes(dir / "packed.Zql", ZlibCompress(big));
    return {
        {"protocol", dir / "Result.txt",
         [big, t = dir / "Result.txt", s = dir / "src.sql"] { SaveWholeFile(t, big.data(), big.size(), s); }},
        {"packed protocol", dir / "Result.Zxt",
         [big, t = dir / "Result.Zxt", s = dir / "src.sql"] { PackTextToFile(big, t, s); }},
        {"pack", dir / "src.Zql", [s = dir / "src.sql", t = dir / "src.Zql"] { PackFile(s, t); }},
        {"pack onto itself", dir / "self.Zql", [t = dir / "self.Zql"] { PackFile(t, t); }},
        {"unpack", dir / "packed.sql",
         [s = dir / "packed.Zql", t = dir / "packed.sql"] { UnpackFile(s, t); }},
    };
}

}  // namespace

TEST(ReplacedFiles, AFullDiskLeavesTheOldFileByteForByteAndNamesFileAndReason) {
    // A file size limit in a child process is a full disk for every write
    // beyond it: write() fails with EFBIG.
    TempDir dir;
    const std::string big = RandomBytes(300000);
    for (const Writer& w : Writers(dir, big)) {
        const std::string old = w.target.find("self") != std::string::npos ? big : "old content";
        WriteBytes(w.target, old);
        const std::string expected =
            "Cannot write file \"" + w.target + "\". " + platform::SystemErrorText(EFBIG);
        int rc = RunInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{65536, 65536};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 91;
            std::string message = MessageOf(w.write);
            if (message != expected) {
                std::fprintf(stderr, "%s: %s\n", w.name, message.c_str());
                return 1;
            }
            return 0;
        });
        EXPECT_EQ(rc, 0) << w.name;
        EXPECT_EQ(ReadBytes(w.target), old) << w.name;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            EXPECT_NE(e.path().extension(), ".tmp") << w.name;
    }
}

TEST(ReplacedFiles, ALinkAtTheTargetIsReplacedNeverFollowed) {
    TempDir dir;
    WriteBytes(dir / "victim.txt", "victim");
    for (const Writer& w : Writers(dir, "insert into t values (1);\r\n")) {
        std::filesystem::remove(w.target);
        if (w.target.find("self") != std::string::npos)
            continue;  // its own source: no link to follow
        std::filesystem::create_symlink(dir / "victim.txt", w.target);
        w.write();
        EXPECT_FALSE(std::filesystem::is_symlink(w.target)) << w.name;
        EXPECT_EQ(ReadBytes(dir / "victim.txt"), "victim") << w.name;
    }
    // A dangling link does not bring its target into being.
    std::filesystem::remove(dir / "Result.txt");
    std::filesystem::create_symlink(dir / "created.txt", dir / "Result.txt");
    SaveWholeFile(dir / "Result.txt", "x", 1, {});
    EXPECT_FALSE(std::filesystem::exists(dir / "created.txt"));
}

TEST(ReplacedFiles, NewFilesGrantNoMoreThanTheirSource) {
    TempDir dir;
    const mode_t old_mask = ::umask(022);
    for (mode_t source_mode : {mode_t{0600}, mode_t{0640}, mode_t{0666}}) {
        for (const Writer& w : Writers(dir, "select 1 from rdb$database;\r\n")) {
            std::filesystem::remove(w.target);
            std::string source = w.target.find("self") != std::string::npos ? w.target
                                 : w.name == std::string("unpack")          ? dir / "packed.Zql"
                                                                            : dir / "src.sql";
            if (source == w.target)
                WriteBytes(source, "select 1;");
            ::chmod(source.c_str(), source_mode);
            w.write();
            struct stat st {};
            ASSERT_EQ(::stat(w.target.c_str(), &st), 0) << w.name;
            EXPECT_EQ(st.st_mode & 0777, source_mode & 0644) << w.name << " from " << std::oct << source_mode;
        }
    }
    ::umask(old_mask);
}
