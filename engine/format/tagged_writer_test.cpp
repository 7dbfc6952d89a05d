#include "engine/format/tagged_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/format/decoders.h"
#include "tests/support/conversion_checks.h"

namespace halvic {
namespace {

void ExpectRoundTrip(std::string_view input, const std::string& name) {
    EXPECT_EQ(testing::RoundTripDifference(input), "") << name;
}

TEST(TaggedWriterTest, WritesTheExampleReadably) {
    COutputTables tables;
    tables[0] = {"beta"};
    tables[4] = {"alpha"};
    CRecord first;
    first.m_nNumber = 1;
    first.m_strText = "First text";
    first.m_nBValue = 8;
    first.m_nWeight = 1414;
    first.m_nEasting = 14123;
    first.m_nNorthing = 6456;
    first.m_tableIds[4] = 1;
    CRecord second = first;
    second.m_nNumber = 2;
    second.m_strText = "Second";
    second.m_tableIds[0] = 1;
    CMemorySink out;
    CTaggedWriter writer(tables, out, kRecordFileName);
    CError error;
    ASSERT_TRUE(writer.Write(first, 1, error));
    ASSERT_TRUE(writer.Write(second, 2, error));
    ASSERT_TRUE(writer.Finish(error));
    EXPECT_EQ(out.Bytes(),
              "<@>1\r\n<l>First text\r\n<b>8\r\n<g>SU123456\r\n<t>12-2-14\r\n<c>alpha\r\n"
              "\r\n<@>2\r\n<l>Second\r\n<m>beta\r\n");
}

TEST(TaggedWriterTest, HardCasesComeBackByteForByte) {
    const std::string longText(2000, 'x');
    const struct {
        const char* name;
        std::string input;
    } kCases[] = {
        {"carried fields", "<@>1<l>a<b>2<t>1-0-0<g>SU000000<m>x<@>2<@>3<l>b"},
        {"fields back to zero or empty",
         "<@>1<l>a<b>2<t>1-0-0<g>SU123456<@>2<l><b>0<t>0<g>VV000000<@>0<@>x"},
        {"texts no record keeps", "<@>1<m>a<m>b<m>a<@>2<m>c<m>d<m>e<m>c<@>3<m>b"},
        {"texts the last record does not keep", "<@>1<m>a<@>2<m>b<m>c<m>b<a>x<a>y<a>x"},
        {"a text set and replaced in the first record", "<@>1<s>p<s>q"},
        {"an empty table text", "<@>1<m><@>2<m>x<@>3<m>"},
        {"numbers that wrap", "<@>70000<b>300<@>65535<b>255<@>65536"},
        {"weights at their limits", "<@>1<t>255-255-255<@>2<t>256-0-0<@>3<t>1-2-3-4<@>4<t>0-3-27"},
        {"grid references at their limits",
         "<@>1<g>EE999999<@>2<g>su123456<@>3<g>Eu123456<@>4<g>S<@>5<g>SU1234<@>6<g>uE000999"},
        {"bytes above 0x7F, > and DEL", "<@>1<l>\x80\xff caf\xe9 >x\x7f<m>>lead<a>a>b"},
        {"a long text", "<@>1<l>" + longText + "<m>" + longText},
        {"spaces inside texts", "<@>1<l>a  b   c<c>x - y"},
        {"no record", ""},
        {"a stop after the first record", "<@>1<l>x<m>y<><l>z"},
    };
    for (const auto& c : kCases)
        ExpectRoundTrip(c.input, c.name);
}

TEST(TaggedWriterTest, RandomConversionsComeBackByteForByte) {
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        std::string input;
        for (int records = 0; records < 20; ++records)
            input += testing::RandomConversionInput(random, i % 3 != 0);
        ExpectRoundTrip(input, "random input " + std::to_string(i));
        if (HasFailure()) break;
    }
}

TEST(TaggedWriterTest, RefusesWhatNoConversionWrites) {
    COutputTables tables;
    tables[0] = {"x"};
    const struct {
        CRecord record;
        std::string message;
    } kCases[] = {
        {[] {
             CRecord r;
             r.m_nWeight = 35956;
             return r;
         }(),
         "qxase.qxd: record 1: weight 35956 lb: no <t> tag gives more than 35955 lb"},
        {[] {
             CRecord r;
             r.m_nEasting = 25000;
             return r;
         }(),
         "qxase.qxd: record 1: easting 25000, northing 0: no <g> tag gives this point"},
        {[] {
             CRecord r;
             r.m_nNorthing = 30000;
             return r;
         }(),
         "qxase.qxd: record 1: easting 0, northing 30000: no <g> tag gives this point"},
        {[] {
             CRecord r;
             r.m_strText = "two\nlines";
             return r;
         }(),
         "qxase.qxd: record 1: <l> text holds \\x0A, which a tagged text cannot carry"},
        {[] {
             CRecord r;
             r.m_strText = "a<b";
             return r;
         }(),
         "qxase.qxd: record 1: <l> text holds <, which a tagged text cannot carry"},
        {[] {
             CRecord r;
             r.m_strText = " padded";
             return r;
         }(),
         "qxase.qxd: record 1: <l> text begins or ends with a space, which a tagged text cannot "
         "carry"},
    };
    for (const auto& c : kCases) {
        CMemorySink out;
        CTaggedWriter writer(tables, out, kRecordFileName);
        CError error;
        EXPECT_FALSE(writer.Write(c.record, 1, error));
        EXPECT_EQ(error.Message(), c.message);
        EXPECT_EQ(out.Bytes(), "") << "nothing of a refused record is written";
    }
    // A table field that goes back to no text.
    CMemorySink out;
    CTaggedWriter writer(tables, out, kRecordFileName);
    CRecord first;
    first.m_tableIds[0] = 1;
    CError error;
    ASSERT_TRUE(writer.Write(first, 1, error));
    EXPECT_FALSE(writer.Write(CRecord(), 2, error));
    EXPECT_EQ(error.Message(),
              "qxase.qxd: record 2: table m has no text after text 1: a table field cannot be "
              "cleared");
}

}  // namespace
}  // namespace halvic
