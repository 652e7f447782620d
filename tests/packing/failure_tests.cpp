// What each routine reports when a file cannot be read, written or unpacked,
// and what it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/platform.h"
#include "packing/text_files.h"
#include "packing/zip_file.h"
#include "tests/packing/packing_support.h"
#include "tests/support/held_file.h"
#include "tests/support/packed_zeros.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unprivileged.h"

using namespace tallo;
using namespace tallo::testing;

namespace {

std::string SystemText(int code) {
    return platform::SystemErrorText(code);
}

// Runs body without root's privileges; nothing it throws may escape the child.
int Unprivileged(const std::function<int()>& body) {
    return RunUnprivileged([&] {
        try {
            return body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "unexpected: %s\n", e.what());
            return 90;
        }
    });
}

// A content whose packed stream we can damage.
const std::string& Content() {
    static const std::string content = SqlText(50000);
    return content;
}

void ExpectCorrupt(const TempDir& dir, const std::string& packed) {
    WriteBytes(dir / "bad.Zql", packed);
    WriteBytes(dir / "bad.sql", "earlier content");
    EXPECT_EQ(MessageOf([&] { UnpackFile(dir / "bad.Zql", dir / "bad.sql"); }), "Error");
    EXPECT_EQ(ReadBytes(dir / "bad.sql"), "earlier content");
    EXPECT_EQ(MessageOf([&] { UnpackFileToText(dir / "bad.Zql"); }), "Error");
    EXPECT_THROW(UnpackFileToText(dir / "bad.Zql"), ZlibFailure);
}

}  // namespace

TEST(MissingFiles, PackFileNamesTheMissingFileOrFolder) {
    TempDir dir;
    EXPECT_EQ(MessageOf([&] { PackFile(dir / "nope.sql", dir / "nope.Zql"); }), "File not found");
    EXPECT_EQ(MessageOf([&] { PackFile(dir / "no/dir.sql", dir / "x.Zql"); }), "Invalid filename");
    EXPECT_THROW(PackFile(dir / "nope.sql", dir / "nope.Zql"), IoFailure);
    EXPECT_FALSE(platform::FileExists(dir / "nope.Zql"));
}

TEST(MissingFiles, OpenFailureCarriesFullPathAndSystemText) {
    TempDir dir;
    std::string expected = "Cannot open file \"" + dir.path() + "/gone.Zql\". " + SystemText(ENOENT);
    EXPECT_EQ(MessageOf([&] { UnpackFile(dir / "gone.Zql", dir / "gone.sql"); }), expected);
    EXPECT_EQ(MessageOf([&] { UnpackFileToText(dir / "sub/../gone.Zql"); }), expected);
    EXPECT_EQ(MessageOf([&] { ReadTextFile(dir / "gone.Zql"); }), expected);
    EXPECT_THROW(ReadTextFile(dir / "gone.Zql"), OpenFileFailure);
    EXPECT_FALSE(platform::FileExists(dir / "gone.sql"));
    EXPECT_EQ(SystemText(ENOENT), "No such file or directory");
}

TEST(ReadOnlySource, PackFileIsDeniedAndChangesNothing) {
    TempDir dir;
    WriteBytes(dir / "ro.sql", Content());
    ASSERT_EQ(::chmod((dir / "ro.sql").c_str(), 0444), 0);
    int rc = Unprivileged([&] {
        try {
            PackFile(dir / "ro.sql", dir / "ro.Zql");
        } catch (const IoFailure& e) {
            return std::string(e.what()) == "File access denied" && e.code() == 5 ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadBytes(dir / "ro.sql"), Content());
    EXPECT_FALSE(platform::FileExists(dir / "ro.Zql"));
}

TEST(ReadOnlySource, UnpackFileReadsItWithoutComplaint) {
    TempDir dir;
    WriteBytes(dir / "ro.Zql", ZlibCompress(Content()));
    ASSERT_EQ(::chmod((dir / "ro.Zql").c_str(), 0444), 0);
    int rc = Unprivileged([&] {
        UnpackFile(dir / "ro.Zql", dir / "ro.sql");
        return UnpackFileToText(dir / "ro.Zql") == Content() && ReadTextFile(dir / "ro.Zql").size() > 0 ? 0
                                                                                                        : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadBytes(dir / "ro.sql"), Content());
}

TEST(UnwritableDestination, CreateFailureCarriesFullPathAndSystemText) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0555), 0);
    WriteBytes(dir / "a.sql", Content());
    ASSERT_EQ(::chmod((dir / "a.sql").c_str(), 0666), 0);
    WriteBytes(dir / "a.Zql", ZlibCompress(Content()));
    int rc = Unprivileged([&] {
        std::string expected = "Cannot create file \"" + dir.path() + "/locked/x\". " + SystemText(EACCES);
        int fails = 0;
        auto check = [&](auto&& f) {
            try {
                f();
            } catch (const CreateFileFailure& e) {
                if (e.what() == expected)
                    return;
                std::fprintf(stderr, "got: %s\n", e.what());
            }
            ++fails;
        };
        check([&] { PackFile(dir / "a.sql", dir / "locked/x"); });
        check([&] { PackTextToFile("text", dir / "locked/x"); });
        check([&] { UnpackFile(dir / "a.Zql", dir / "locked/x"); });
        return fails;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(platform::FileExists(dir / "locked/x"));
    EXPECT_EQ(ReadBytes(dir / "a.sql"), Content());
}

TEST(UnwritableDestination, AFolderInTheWayIsACreateFailure) {
    TempDir dir;
    WriteBytes(dir / "a.sql", "x");
    ASSERT_EQ(::mkdir((dir / "a.Zql").c_str(), 0777), 0);
    EXPECT_THROW(PackFile(dir / "a.sql", dir / "a.Zql"), CreateFileFailure);
}

TEST(Sharing, PackFileOfAFileHeldWithoutSharingIsIoError32) {
    TempDir dir;
    WriteBytes(dir / "held.sql", Content());
    // Another process opens the file exclusively and keeps it open.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto f = HoldFile(dir / "held.sql", platform::Access::ReadWrite, platform::Share::None);
        char c = f.IsOpen() ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1)
            ::_exit(1);
        if (::read(done[0], &c, 1) < 0)
            ::_exit(1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(MessageOf([&] { PackFile(dir / "held.sql", dir / "held.Zql"); }), "I/O error 32");
    // Readers that share writing are refused as well, as the holder shares nothing.
    EXPECT_THROW(ReadTextFile(dir / "held.sql"), OpenFileFailure);
    EXPECT_FALSE(platform::FileExists(dir / "held.Zql"));
    ASSERT_EQ(::write(done[1], "x", 1), 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
    // Once it is closed, packing works.
    EXPECT_TRUE(PackFile(dir / "held.sql", dir / "held.Zql"));
}

TEST(Sharing, ReadersShareWithReaders) {
    TempDir dir;
    WriteBytes(dir / "r.Zql", ZlibCompress(Content()));
    auto reader = HoldFile(dir / "r.Zql", platform::Access::Read, platform::Share::Read);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(UnpackFileToText(dir / "r.Zql"), Content());
    EXPECT_EQ(ReadTextFile(dir / "r.Zql").size(), ZlibCompress(Content()).size());
    // A reader that shares only reading keeps writers out.
    EXPECT_EQ(MessageOf([&] { PackFile(dir / "r.Zql", dir / "r.ZZ"); }), "I/O error 32");
}

TEST(CorruptPackedFile, HeaderThatZlibRejects) {
    TempDir dir;
    std::string good = ZlibCompress(Content());
    std::string bad = good;
    bad[1] = '\xDB';  // header check fails
    ExpectCorrupt(dir, bad);
    // Method 9, and a window of 64 KiB, each with valid check bits.
    ExpectCorrupt(dir, std::string("\x79\x18", 2) + good.substr(2));
    ExpectCorrupt(dir, std::string("\x88\x1C", 2) + good.substr(2));
    // A preset dictionary is requested: 78 BB passes the header check.
    ExpectCorrupt(dir, std::string("\x78\xBB\x00\x00\x00\x01", 6) + good.substr(2));
}

TEST(CorruptPackedFile, DamagedDeflateDataAndWrongChecksum) {
    TempDir dir;
    std::string good = ZlibCompress(Content());
    std::string bad = good;
    bad[2] = '\xFF';  // reserved block type 3
    ExpectCorrupt(dir, bad);
    bad = good;
    bad[bad.size() - 1] ^= 0x55;
    ExpectCorrupt(dir, bad);
    bad = good;
    for (std::size_t i = 10; i < bad.size() - 10; i += 97)
        bad[i] = static_cast<char>(bad[i] ^ 0xA5);
    ExpectCorrupt(dir, bad);
}

TEST(CorruptPackedFile, PlainTextFileIsNotPacked) {
    TempDir dir;
    ExpectCorrupt(dir, Cp1251("SELECT 'Привет' FROM RDB$DATABASE;\r\n"));
}

TEST(CutPackedFile, IsCorruptAndWritesNothing) {
    // A stream that ends before its end marker, down to an empty file: no
    // decodable prefix is passed off as the content.
    TempDir dir;
    std::string good = ZlibCompress(SqlText(2 << 20));
    for (std::size_t cut :
         {good.size() - 1, good.size() - 4, good.size() / 2, std::size_t(2), std::size_t(0)})
        ExpectCorrupt(dir, good.substr(0, cut));
}

TEST(NotARegularFile, FifoIsRefusedAtOnceAndNothingIsWritten) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.Zql").c_str(), 0666), 0);
    const std::string reason = "Cannot open file \"" + (dir / "pipe.Zql") + "\". Not a regular file";
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"pack", [&] { PackFile(dir / "pipe.Zql", dir / "pipe.Z"); }},
        {"unpack", [&] { UnpackFile(dir / "pipe.Zql", dir / "pipe.sql"); }},
        {"unpack to text", [&] { UnpackFileToText(dir / "pipe.Zql"); }},
        {"read", [&] { ReadTextFile(dir / "pipe.Zql"); }},
    };
    for (const auto& [name, call] : cases)
        EXPECT_EQ(MessageOf(call), reason) << name;
    EXPECT_FALSE(platform::FileExists(dir / "pipe.Z"));
    EXPECT_FALSE(platform::FileExists(dir / "pipe.sql"));
}

TEST(Limits, ContentsOfTwoGiBOrMoreAreRefusedBeforeReading) {
    TempDir dir;
    int fd = ::open((dir / "huge.sql").c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0x80000000LL), 0);  // sparse
    ::close(fd);
    EXPECT_EQ(MessageOf([&] { PackFile(dir / "huge.sql", dir / "huge.Zql"); }), "Out of memory");
    EXPECT_EQ(MessageOf([&] { ReadTextFile(dir / "huge.sql"); }), "Out of memory");
    EXPECT_EQ(MessageOf([&] { UnpackFileToText(dir / "huge.sql"); }),
              "Out of memory while expanding memory stream");
    EXPECT_FALSE(platform::FileExists(dir / "huge.Zql"));
}

// A packed file that expands without end is refused once its content passes
// the limit, with the limit in the message, and nothing is written. The
// limit is lowered to 1 MiB here; the script limit itself is run end to end.
TEST(Limits, ContentBeyondTheLimitIsRefusedByNameAndNothingIsWritten) {
    TempDir dir;
    WriteBytes(dir / "exact.Zql", PackedZeros(1));
    WriteBytes(dir / "bomb.Zql", PackedZeros(4));
    const std::size_t mib = std::size_t{1} << 20;
    EXPECT_EQ(UnpackFileToText(dir / "exact.Zql", mib), std::string(mib, '\0'));
    EXPECT_EQ(UnpackFileToText(dir / "bomb.Zql"), std::string(4 * mib, '\0'));
    const std::string beyond = "The packed file \"" + (dir / "bomb.Zql") + "\" expands beyond 1 MB";
    const std::size_t files = FilesIn(dir.path());
    EXPECT_EQ(MessageOf([&] { UnpackFileToText(dir / "bomb.Zql", mib); }), beyond);
    EXPECT_EQ(MessageOf([&] { UnpackFile(dir / "bomb.Zql", dir / "bomb.sql", mib); }), beyond);
    EXPECT_EQ(MessageOf([&] { UnpackFile(dir / "bomb.Zql", dir / "bomb.Zql", mib); }), beyond);
    EXPECT_EQ(FilesIn(dir.path()), files);
    EXPECT_EQ(ReadTextFile(dir / "bomb.Zql"), PackedZeros(4));

    const std::string two = PackedZeros(2);
    MemoryStream source;
    source.WriteBuffer(two.data(), two.size());
    EXPECT_EQ(MessageOf([&] { UnpackAllToText(source, mib); }), "The packed file expands beyond 1 MB");
    EXPECT_EQ(ExpansionFailure(kMaxContentSize, "").message(), "The packed file expands beyond 2 GB");
    EXPECT_EQ(ExpansionFailure(kMaxUnpackedScript, "").message(), "The packed file expands beyond 512 MB");
}

TEST(DamagedData, ZlibFailureKeepsTheMessageAndTellsWhatIsWrongAsTheDetail) {
    MemoryStream packed;
    const std::string content = "select 1 from rdb$database;";
    PackAll(content.data(), content.size(), packed);
    const std::string whole(packed.Data(), packed.Size());
    const std::pair<std::string, std::string> cases[] = {
        {whole.substr(0, whole.size() / 2), "the packed data ends before its stream does"},
        {whole + "x", "bytes follow the end of the packed stream"},
        {"\x01\x02\x03\x04", "incorrect header check"},
    };
    for (const auto& [bytes, detail] : cases) {
        MemoryStream source;
        source.WriteBuffer(bytes.data(), bytes.size());
        source.SetPosition(0);
        try {
            UnpackAllToText(source);
            ADD_FAILURE() << detail;
        } catch (const ZlibFailure& e) {
            EXPECT_EQ(e.message(), "Error");
            EXPECT_EQ(e.detail(), detail);
        }
    }
}
