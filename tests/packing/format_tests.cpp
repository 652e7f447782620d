// The packed file format: round trips, exact bytes, interoperability with an
// independent zlib, and the stream adapters' contract.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/platform.h"
#include "packing/zip_file.h"
#include "tests/packing/packing_support.h"
#include "tests/support/temp_dir.h"

using namespace tallo;
using namespace tallo::testing;

namespace {

const std::string kEmptyPacked("\x78\xDA\x03\x00\x00\x00\x00\x01", 8);

std::string PackedFileOf(const TempDir& dir, const std::string& content) {
    WriteBytes(dir / "src.bin", content);
    PackFile(dir / "src.bin", dir / "src.Zin");
    return ReadBytes(dir / "src.Zin");
}

// Unpacks with zlib itself, for checking what we write.
std::string ZlibUncompress(const std::string& packed, std::size_t size) {
    std::string out(size, '\0');
    uLongf out_size = size;
    int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &out_size,
                        reinterpret_cast<const Bytef*>(packed.data()), packed.size());
    if (rc != Z_OK)
        throw std::runtime_error("uncompress " + std::to_string(rc));
    out.resize(out_size);
    return out;
}

}  // namespace

// Contents are made when a test runs, not when the suite starts.
struct Sample {
    const char* name;
    std::string (*make)();
};
void PrintTo(const Sample& s, std::ostream* os) {
    *os << s.name;
}

std::string AllByteValues() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s += static_cast<char>(i);
    return s;
}

class RoundTrip : public ::testing::TestWithParam<Sample> {};

TEST_P(RoundTrip, FileToFileAndTextGiveBackTheSameBytes) {
    TempDir dir;
    const std::string content = GetParam().make();
    std::string packed = PackedFileOf(dir, content);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed.substr(0, 2), "\x78\xDA");
    // zlib agrees about every byte, the Adler-32 included.
    EXPECT_EQ(ZlibUncompress(packed, content.size() + 1), content);

    UnpackFile(dir / "src.Zin", dir / "back.bin");
    EXPECT_EQ(ReadBytes(dir / "back.bin"), content);
    EXPECT_EQ(UnpackFileToText(dir / "src.Zin"), content);

    if (!content.empty()) {
        EXPECT_TRUE(PackTextToFile(content, dir / "text.Zxt"));
        EXPECT_EQ(UnpackFileToText(dir / "text.Zxt"), content);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, RoundTrip,
    ::testing::Values(Sample{"empty", [] { return std::string(); }},
                      Sample{"one_byte", [] { return std::string("x"); }},
                      Sample{"plain", [] { return std::string("SELECT * FROM RDB$DATABASE;\r\n"); }},
                      Sample{"cyrillic", [] { return Cp1251("Привет, мир! Ёлка, щука, ъ.\r\n"); }},
                      Sample{"all_bytes", AllByteValues},
                      // Crosses every buffer: 64 KiB out of the writer, 64 KiB
                      // into the reader, 16 KiB per read.
                      Sample{"sql_3mb", [] { return SqlText(3 << 20); }},
                      Sample{"random_2mb", [] { return RandomBytes((2 << 20) + 12345); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PackedFormat, EmptyContentIsExactlyEightBytes) {
    TempDir dir;
    EXPECT_EQ(PackedFileOf(dir, ""), kEmptyPacked);
    WriteBytes(dir / "e.Zql", kEmptyPacked);
    UnpackFile(dir / "e.Zql", dir / "e.sql");
    EXPECT_EQ(ReadBytes(dir / "e.sql"), "");
}

TEST(PackedFormat, HeaderIsAlways78DAAndChecksumEndsTheFile) {
    TempDir dir;
    for (const std::string& content : {std::string("a"), RandomBytes(70000), SqlText(200000)}) {
        std::string packed = PackedFileOf(dir, content);
        EXPECT_EQ(packed.substr(0, 2), "\x78\xDA");
        std::uint32_t adler = Adler32Of(content);
        std::string tail = packed.substr(packed.size() - 4);
        EXPECT_EQ(static_cast<unsigned char>(tail[0]), adler >> 24);
        EXPECT_EQ(static_cast<unsigned char>(tail[3]), adler & 0xFF);
    }
}

TEST(PackedFormat, StreamsOfOtherLevelsAndOfZlibItselfUnpack) {
    TempDir dir;
    std::string content = SqlText(300000);
    for (int level : {0, 1, 6, 9}) {
        WriteBytes(dir / "z.Zql", ZlibCompress(content, level));
        EXPECT_EQ(UnpackFileToText(dir / "z.Zql"), content) << "level " << level;
    }
}

TEST(PackedFormat, BytesAfterTheStreamMakeItCorrupt) {
    TempDir dir;
    std::string packed = ZlibCompress("payload");
    for (const std::string& extra : {std::string("\0", 1), std::string("garbage"), packed}) {
        WriteBytes(dir / "t.Zql", packed + extra);
        EXPECT_THROW(UnpackFileToText(dir / "t.Zql"), ZlibFailure);
        EXPECT_THROW(UnpackFile(dir / "t.Zql", dir / "t.sql"), ZlibFailure);
        EXPECT_FALSE(platform::FileExists(dir / "t.sql"));
    }
}

TEST(Interop, WhatWePackAnIndependentZlibUnpacks) {
    TempDir dir;
    std::string content = SqlText(1 << 20) + RandomBytes(100000);
    WriteBytes(dir / "plain.bin", content);
    PackFile(dir / "plain.bin", dir / "packed.Zql");
    ASSERT_EQ(RunPython("import sys,zlib; d=open(sys.argv[2],'rb').read(); o=zlib.decompressobj(); "
                        "r=o.decompress(d); sys.exit(0 if o.eof and not o.unused_data and "
                        "r==open(sys.argv[1],'rb').read() and d[:2]==bytes([0x78,0xDA]) else 1)",
                        dir / "plain.bin", dir / "packed.Zql"),
              0);
}

TEST(Interop, WhatAnIndependentZlibPacksWeUnpack) {
    TempDir dir;
    std::string content = Cp1251("Скрипт обновления\r\n") + SqlText(500000) + RandomBytes(70000);
    WriteBytes(dir / "plain.bin", content);
    for (const char* level : {"0", "9"}) {
        ASSERT_EQ(RunPython(std::string("import sys,zlib; open(sys.argv[2],'wb').write(zlib.compress(open("
                                        "sys.argv[1],'rb').read(),") +
                                level + "))",
                            dir / "plain.bin", dir / "py.Zql"),
                  0);
        UnpackFile(dir / "py.Zql", dir / "py.sql");
        EXPECT_EQ(ReadBytes(dir / "py.sql"), content) << "level " << level;
    }
}

TEST(Adapters, LevelSelectorGivesZlibLevels) {
    EXPECT_EQ(ZlibLevel(PackLevel::None), 0);
    EXPECT_EQ(ZlibLevel(PackLevel::Fastest), 1);
    EXPECT_EQ(ZlibLevel(PackLevel::Default), -1);
    EXPECT_EQ(ZlibLevel(PackLevel::Max), 9);
    // The header's level flag follows the selector.
    const std::pair<PackLevel, unsigned char> flags[] = {{PackLevel::None, 0x01},
                                                         {PackLevel::Fastest, 0x01},
                                                         {PackLevel::Default, 0x9C},
                                                         {PackLevel::Max, 0xDA}};
    for (auto [level, flag] : flags) {
        MemoryStream target;
        PackWriter writer(level, target);
        writer.Write("abc", 3);
        writer.Release();
        ASSERT_GE(target.Size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(target.Data()[1]), flag);
    }
}

TEST(Adapters, WrongDirectionIsAnInvalidStreamOperation) {
    MemoryStream target;
    PackWriter writer(PackLevel::Max, target);
    char c = 0;
    try {
        writer.Read(&c, 1);
        FAIL() << "read from a writer";
    } catch (const ZlibFailure& e) {
        EXPECT_STREQ(e.what(), "Invalid stream operation");
    }
    writer.Release();
    target.SetPosition(0);
    UnpackReader reader(target);
    try {
        reader.Write("x", 1);
        FAIL() << "write to a reader";
    } catch (const ZlibFailure& e) {
        EXPECT_STREQ(e.what(), "Invalid stream operation");
    }
    EXPECT_THROW(reader.SetPosition(5), ZlibFailure);
}

TEST(Adapters, LastBytesReachTheTargetOnlyAtRelease) {
    MemoryStream target;
    PackWriter writer(PackLevel::Max, target);
    writer.Write("hello", 5);
    EXPECT_EQ(target.Size(), 0u);
    writer.Release();
    EXPECT_EQ(std::string(target.Data(), target.Size()), ZlibCompress("hello"));
}

TEST(Adapters, WriterAppendsAtTheTargetPositionEvenIfTheTargetMoved) {
    std::string content = RandomBytes(200000);
    MemoryStream target;
    target.Write("HEAD", 4);
    PackWriter writer(PackLevel::Max, target);
    writer.Write(content.data(), 100000);
    target.SetPosition(0);  // someone else moved it; the writer goes back
    writer.Write(content.data() + 100000, 100000);
    target.SetPosition(1);
    writer.Release();
    std::string all(target.Data(), target.Size());
    EXPECT_EQ(all.substr(0, 4), "HEAD");
    EXPECT_EQ(ZlibUncompress(all.substr(4), content.size()), content);
}

TEST(Adapters, ReaderStartsAtTheSourcePositionAndReleaseReturnsUnconsumedInput) {
    std::string content = SqlText(100000);
    std::string packed = ZlibCompress(content);
    MemoryStream source;
    std::string all = "PREFIX" + packed + "TRAILER";
    source.Write(all.data(), all.size());
    source.SetPosition(6);
    UnpackReader reader(source);
    std::string out;
    char piece[1000];
    for (std::size_t n; (n = reader.Read(piece, sizeof piece)) > 0;)
        out.append(piece, n);
    EXPECT_EQ(out, content);
    EXPECT_TRUE(reader.StreamEnded());
    EXPECT_EQ(reader.Position(), static_cast<std::int64_t>(content.size()));
    reader.Release();
    EXPECT_EQ(source.Position(), static_cast<std::int64_t>(6 + packed.size()));
}

TEST(Adapters, ReaderOfACutStreamDeliversThePrefixThenZero) {
    std::string content = SqlText(400000);
    std::string packed = ZlibCompress(content);
    MemoryStream source;
    source.Write(packed.data(), packed.size() / 2);
    source.SetPosition(0);
    UnpackReader reader(source);
    std::string out;
    std::string piece(16384, '\0');
    for (std::size_t n; (n = reader.Read(piece.data(), piece.size())) > 0;)
        out.append(piece.data(), n);
    EXPECT_FALSE(reader.StreamEnded());
    EXPECT_GT(out.size(), 0u);
    EXPECT_EQ(out, content.substr(0, out.size()));
    EXPECT_EQ(reader.Read(piece.data(), piece.size()), 0u);
}

TEST(MemoryStreamTest, GrowsReadsAndStaysBelowTwoGiB) {
    MemoryStream s;
    s.Write("abc", 3);
    s.SetPosition(5);
    s.Write("z", 1);
    EXPECT_EQ(std::string(s.Data(), s.Size()), std::string("abc\0\0z", 6));
    s.SetPosition(1);
    char buf[10];
    EXPECT_EQ(s.Read(buf, sizeof buf), 5u);
    EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
    EXPECT_THROW(s.ReadBuffer(buf, 1), ReadFailure);
    EXPECT_THROW(s.ReserveTail(kMaxContentSize), StreamMemoryFailure);
    s.SetPosition(static_cast<std::int64_t>(kMaxContentSize));
    try {
        s.Write("x", 1);
        FAIL() << "grew beyond 2 GiB";
    } catch (const StreamMemoryFailure& e) {
        EXPECT_STREQ(e.what(), "Out of memory while expanding memory stream");
    }
    s.Clear();
    EXPECT_EQ(s.Size(), 0u);
}
