#include "engine/format/value_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvic {
namespace {

TEST(ValueTableTest, IdentifiersFollowFirstAppearance) {
    CValueTable table;
    std::vector<std::uint16_t> ids;
    for (const char* text : {"x", "y", "x", "z", "", "Abc", "abc", ""})
        ids.push_back(table.Intern(text));
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{1, 2, 1, 3, 4, 5, 6, 4}));
    CMemorySink sink;
    table.WriteTable(sink);
    EXPECT_EQ(sink.Bytes(), std::string("x\0y\0z\0\0Abc\0abc\0", 15));
    EXPECT_EQ(table.Text(5), "Abc");
}

TEST(ValueTableTest, ManyTextsKeepTheirIdentifiersAsTheTableGrows) {
    CValueTable table;
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(table.Intern("text " + std::to_string(i)), i + 1);
    for (int i = 19999; i >= 0; --i)
        ASSERT_EQ(table.Intern("text " + std::to_string(i)), i + 1);
    EXPECT_EQ(table.Count(), 20000u);
    EXPECT_EQ(table.Text(12345), "text 12344");
}

TEST(ValueTableTest, AFullTableGivesNoIdentifierToANewText) {
    CValueTable table;
    for (std::size_t i = 0; i < CValueTable::kMaxTexts; ++i)
        table.Intern(std::to_string(i));
    EXPECT_EQ(table.Intern("new"), 0);
    EXPECT_EQ(table.Intern("65534"), 65535);  // known texts still resolve
    EXPECT_EQ(table.Count(), CValueTable::kMaxTexts);
}

TEST(ValueTableTest, WriteTablesWritesEachTableToItsOwnSink) {
    CValueTables tables;
    tables[0].Intern("beta");
    tables[4].Intern("alpha");
    tables[4].Intern("beta");
    std::array<CMemorySink, kTableCount> sinks;
    std::array<CByteSink*, kTableCount> pointers;
    for (std::size_t i = 0; i < kTableCount; ++i)
        pointers[i] = &sinks[i];
    WriteTables(tables, pointers);
    EXPECT_EQ(sinks[0].Bytes(), std::string("beta\0", 5));
    EXPECT_EQ(sinks[4].Bytes(), std::string("alpha\0beta\0", 11));
    for (std::size_t i : {1, 2, 3, 5})
        EXPECT_EQ(sinks[i].Bytes(), "");
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kTableCount; ++i)
        names.push_back(TableFileName(i));
    EXPECT_EQ(names, (std::vector<std::string>{"qxm.qxd", "qxa.qxd", "qxn.qxd", "qxi.qxd",
                                               "qxc.qxd", "qxs.qxd"}));
}

}  // namespace
}  // namespace halvic
