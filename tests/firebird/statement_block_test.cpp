#include "engine/firebird/statement_block.h"

#include <gtest/gtest.h>
#include <ibase.h>

namespace tallo::engine::fb {
namespace {

TEST(StatementBlock, ParametersAreDeclaredAsTheyWereDescribed) {
    struct Case {
        DescribedParam param;
        const char* expected;  // nullptr: not carried by a block
    };
    const Case cases[] = {
        {{SQL_SHORT, 0, 2, 0}, "SMALLINT"},
        {{SQL_LONG, 0, 4, 0}, "INTEGER"},
        {{SQL_LONG, -2, 4, 0}, "NUMERIC(9, 2)"},
        {{SQL_INT64, -4, 8, 0}, "NUMERIC(18, 4)"},
        {{SQL_DOUBLE, 0, 8, 0}, "DOUBLE PRECISION"},
        {{SQL_TYPE_DATE, 0, 4, 0}, "DATE"},
        {{SQL_TIMESTAMP, 0, 8, 0}, "TIMESTAMP"},
        {{SQL_VARYING, 0, 40, 52}, "VARCHAR(40) CHARACTER SET WIN1251"},
        {{SQL_VARYING, 0, 40, 4}, "VARCHAR(10) CHARACTER SET UTF8"},
        {{SQL_TEXT, 0, 3, 1}, "CHAR(3) CHARACTER SET OCTETS"},
        {{SQL_VARYING, 0, 40, 200}, nullptr},  // a character set not known here
        {{SQL_BLOB, 0, 8, 0}, nullptr},
    };
    for (const Case& c : cases) {
        const auto declared = DeclaredType(c.param);
        if (c.expected == nullptr)
            EXPECT_FALSE(declared) << *declared;
        else
            EXPECT_EQ(declared.value_or("(none)"), c.expected);
    }
}

TEST(StatementBlock, EachRowTakesItsOwnParameters) {
    const std::string shape = "UPDATE t SET name = ? WHERE id = ?";
    EXPECT_EQ(BlockText(shape, {20, 33}, {"VARCHAR(40) CHARACTER SET WIN1251", "INTEGER"}, 2),
              "EXECUTE BLOCK (P0 VARCHAR(40) CHARACTER SET WIN1251 = ?, P1 INTEGER = ?, "
              "P2 VARCHAR(40) CHARACTER SET WIN1251 = ?, P3 INTEGER = ?)\nAS\nBEGIN\n"
              "UPDATE t SET name = :P0 WHERE id = :P1;\nUPDATE t SET name = :P2 WHERE id = :P3;\nEND");
    EXPECT_EQ(BlockText("DELETE FROM t", {}, {}, 2),
              "EXECUTE BLOCK\nAS\nBEGIN\nDELETE FROM t;\nDELETE FROM t;\nEND");
}

}  // namespace
}  // namespace tallo::engine::fb
