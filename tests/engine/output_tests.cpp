// Readable tables and OUTPUT files.
#include <gtest/gtest.h>

#include "engine/commands.h"
#include "engine/output.h"
#include "tests/support/temp_dir.h"

namespace tallo::engine {
namespace {

TEST(Table, TitlesRuleNumericRightAlignedAndNull) {
    TableBuilder t(true);
    t.Begin({Column{"NAME", false}, Column{"N", true}});
    t.Row({std::string("abc"), std::string("5")});
    t.Row({std::nullopt, std::string("1234")});
    t.End();
    EXPECT_EQ(t.Text(),
              "NAME      N\r\n"
              "====== ====\r\n"
              "abc       5\r\n"
              "<null> 1234");
}

TEST(Table, RowLimitAddsOneLineWithTheRest) {
    TableBuilder t(false, 2);
    t.Begin({Column{"A", false}});
    for (int i = 0; i < 5; ++i)
        t.Row({std::to_string(i)});
    EXPECT_EQ(t.Text(), "0\r\n1\r\n... 3 more rows not shown (5 rows in all)");
    EXPECT_EQ(t.RowCount(), 5u);
}

TEST(Table, SetWidthFixesTextColumnsAndCutsTheirValues) {
    const std::map<std::string, std::size_t> widths{{"NAME", 3}, {"N", 1}, {"NOTE", 6}};
    TableBuilder t(true);
    t.SetWidths(&widths);
    t.Begin({Column{"NAME", false}, Column{"N", true}, Column{"NOTE", false}});
    t.Row({std::string("abcdef"), std::string("1234"), std::string("x")});
    t.End();
    EXPECT_EQ(t.Text(),
              "NAM    N NOTE\r\n"
              "=== ==== ======\r\n"
              "abc 1234 x");
}

TEST(Table, ListShowsNamePaddedTo31ThenValueAndAnEmptyLineBetweenRows) {
    TableBuilder t(false, 2, true);
    t.Begin({Column{"A", true}, Column{"A_NAME_OF_THIRTY_TWO_CHARACTERS_", false}});
    for (int i = 0; i < 3; ++i)
        t.Row({std::to_string(i), std::nullopt});
    EXPECT_EQ(t.Text(),
              "A                               0\r\n"
              "A_NAME_OF_THIRTY_TWO_CHARACTERS_ <null>\r\n"
              "\r\n"
              "A                               1\r\n"
              "A_NAME_OF_THIRTY_TWO_CHARACTERS_ <null>\r\n"
              "\r\n"
              "... 1 more rows not shown (3 rows in all)");
}

TEST(OutputFileWriting, DelimitedRowsEndWithCrLfAndReplaceTheFile) {
    testing::TempDir dir;
    testing::WriteBytes(dir / "o.txt", "old content that must go");
    OutputFile f(dir / "o.txt", std::string("\t"));
    {
        auto sink = f.MakeSink(true);
        sink->Begin({Column{"A", false}, Column{"B", false}});
        sink->Row({std::string("\xC0\xC1"), std::nullopt});
        sink->Row({std::string("1"), std::string("2")});
        sink->End();
    }
    f.Close();
    EXPECT_EQ(testing::ReadBytes(dir / "o.txt"), "\xC0\xC1\t\r\n1\t2\r\n");
}

TEST(OutputFileWriting, WithoutDelimiterTheReadableTableIsWritten) {
    testing::TempDir dir;
    OutputFile f(dir / "t.txt", std::nullopt);
    {
        auto sink = f.MakeSink(true);
        sink->Begin({Column{"V", false}});
        sink->Row({std::string("x")});
        sink->End();
    }
    f.Close();
    EXPECT_EQ(testing::ReadBytes(dir / "t.txt"), "V\r\n=\r\nx\r\n\r\n");
}

TEST(OutputFileWriting, UncreatableFileIsACommandError) {
    testing::TempDir dir;
    EXPECT_THROW(OutputFile(dir / "missing/folder/o.txt", std::nullopt), CommandError);
}

}  // namespace
}  // namespace tallo::engine
