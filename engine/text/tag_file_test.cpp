#include "engine/text/tag_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/io/error.h"
#include "tests/support/plain_tag_reader.h"

namespace halvic {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Every pair of `bytes`, the reader's block and the source's step set to `block`; the source
// copies its bytes or lends them in blocks of that size.
Pairs ReadAll(std::string_view bytes, std::size_t block = 1 << 16, bool lends = false) {
    CMemorySource source(bytes, block, lends);
    CTagFile reader(source, "test", block);
    Pairs pairs;
    std::string_view tag, content;
    while (reader.ReadTag(tag, content))
        pairs.emplace_back(tag, content);
    EXPECT_TRUE(tag.empty());
    EXPECT_FALSE(reader.ReadTag(tag, content)) << "the end of the input must stay the end";
    return pairs;
}

struct ReadCase {
    std::string input;
    Pairs pairs;
};

const std::string k510(510, 'a');

const ReadCase kReadCases[] = {
    {"", {}},
    {"<@>12", {{"@", "12"}}},
    {"<<@>>>1<", {{"@", "1"}}},
    {"<l>a>b<", {{"l", "a>b"}}},
    {"<a<b>x<", {{"a<b", "x"}}},
    {"<>x<", {{"", "x"}}},
    {"<>x", {}},  // an empty tag at the very end is no pair
    {"<l>\r\n  x  \r\n<", {{"l", "x"}}},
    {"<l>a\r\n\r\nb<", {{"l", "a b"}}},
    {"<l>a  b<", {{"l", "a  b"}}},
    {"<l>Church-\r\nyard<", {{"l", "Church-yard"}}},
    {"<l>a\tb<", {{"l", "a b"}}},
    {"<l>\x01\x1f"
     "a\x7f\x80\xff<",
     {{"l", "a\x7f\x80\xff"}}},
    {"<ab", {{"ab", ""}}},
    {"<l>x<<<", {{"l", "x"}}},
    {"<@>", {{"@", ""}}},
    {"@>1<", {{"@", "1"}}},
    {"<l><m>x<", {{"l", ""}, {"m", "x"}}},
    {"< @>1<", {{" @", "1"}}},
    {"<l>\n>x<", {{"l", ">x"}}},
    {std::string("<a\0b>x<", 7), {{"a", "x"}}},
    {std::string("<\0>x", 4), {{"", "x"}}},  // a zero byte still counts as a tag byte
    {"\r\n<@>1", {{"\r\n<@", "1"}}},         // bytes before the first '<' are tag bytes
    {"<l> - \n x<", {{"l", "-   x"}}},       // typed spaces stay; the break adds one
    {"<l>a -\nb<", {{"l", "a -b"}}},
    {"<manics>1<manicsx>2<", {{"manics", "1"}, {"manicsx", "2"}}},
    {"<" + std::string(40, 't') + ">v<",
     {{std::string(CTagFile::kTagKept, 't'), "v"}}},  // a long tag is kept cut
    {"<l>" + std::string(600, 'q') + "<", {{"l", std::string(600, 'q')}}},
    // The chunk is flushed before the line break, so no space stands for it.
    {"<l>" + k510 + "\nx<", {{"l", k510 + "x"}}},
    {"<l>" + k510.substr(1) + "\nx<", {{"l", k510.substr(1) + " x"}}},
    {"<l>" + k510 + "\n<", {{"l", k510}}},
    {"<l>\n\n" + k510 + "y\nz<", {{"l", k510 + "y z"}}},
};

TEST(TagFileTest, ReadsPairsAtEveryBlockSize) {
    for (const ReadCase& c : kReadCases) {
        for (std::size_t block : {1, 2, 3, 5, 16, 17, 64, 511, 4096}) {
            for (bool lends : {false, true}) {
                EXPECT_EQ(ReadAll(c.input, block, lends), c.pairs)
                    << "input: " << c.input.substr(0, 80) << " block " << block
                    << (lends ? " lent" : " copied");
            }
        }
    }
}

TEST(TagFileTest, PushbackHandsOutTheLastPairWithoutReading) {
    CMemorySource source("<@>  12 <l>x<@>3");
    CTagFile reader(source);
    std::string_view tag, content;
    ASSERT_TRUE(reader.ReadTag(tag, content));
    EXPECT_EQ(tag, "@");
    EXPECT_EQ(content, "12");
    reader.m_bPushedBack = 1;
    ASSERT_TRUE(reader.ReadTag(tag, content));
    EXPECT_EQ(tag, "@");
    EXPECT_EQ(content, "12");
    EXPECT_EQ(reader.m_bPushedBack, 0);
    ASSERT_TRUE(reader.ReadTag(tag, content));
    EXPECT_EQ(tag, "l");
    EXPECT_EQ(content, "x");
}

TEST(TagFileTest, PushbackGivesOnlyTheLastChunkOfALongContent) {
    // 515 digits: the chunk is flushed at 510, and the pushed-back pair holds the last 5.
    std::string digits(510, '1');
    std::string input = "<@>" + digits + "98765<";
    CMemorySource source(input);
    CTagFile reader(source);
    std::string_view tag, content;
    ASSERT_TRUE(reader.ReadTag(tag, content));
    EXPECT_EQ(content, digits + "98765");
    reader.m_bPushedBack = 1;
    ASSERT_TRUE(reader.ReadTag(tag, content));
    EXPECT_EQ(tag, "@");
    EXPECT_EQ(content, "98765");
}

TEST(TagFileTest, TagLineIsTheLineWhereTheTagBegins) {
    CMemorySource source("<@>1\n<l>two\nlines<x\n>3\n\n<m>4");
    CTagFile reader(source);
    std::string_view tag, content;
    std::vector<std::uint64_t> lines;
    while (reader.ReadTag(tag, content))
        lines.push_back(reader.TagLine());
    EXPECT_EQ(lines, (std::vector<std::uint64_t>{1, 2, 3, 6}));
}

class CFailingSource : public CByteSource {
  public:
    std::size_t Read(unsigned char* buffer, std::size_t) override {
        if (m_nCalls++ == 0) {
            buffer[0] = '<';
            return 1;
        }
        throw CFailure({"broken", 0, "Input/output error"});
    }
    int m_nCalls = 0;
};

TEST(TagFileTest, ReadFailureIsNotTakenForTheEnd) {
    CFailingSource source;
    CTagFile reader(source);
    std::string_view tag, content;
    EXPECT_THROW(reader.ReadTag(tag, content), CFailure);
}

// Random inputs made mostly of the bytes the reader treats specially, so that runs of '<' and '>',
// line breaks around '-', chunk boundaries and zero bytes in tags all occur often.
std::string RandomInput(std::mt19937& random) {
    static const char kBytes[] =
        "<<<>>>@lmx-- \n\r\t\x00\x01\x80\xff"
        "abcdefgh";
    std::string bytes;
    std::size_t length = random() % 3000;
    while (bytes.size() < length) {
        if (random() % 50 == 0) {
            bytes.append(random() % 1100, static_cast<char>('a' + random() % 3));
        } else {
            bytes.push_back(kBytes[random() % (sizeof kBytes - 1)]);
        }
    }
    return bytes;
}

TEST(TagFileTest, AgreesWithThePlainByteAtATimeReader) {
    std::mt19937 random(20261210);
    for (int round = 0; round < 400; ++round) {
        std::string input = RandomInput(random);
        std::size_t block = 1 + random() % 700;
        std::size_t step = 1 + random() % 900;
        std::mt19937 pushes(static_cast<std::uint32_t>(round));
        ASSERT_EQ(testing::ReaderDifference(
                      input, block, step, round % 2 == 1,
                      [&](std::size_t, std::string_view) { return pushes() % 4 == 0; }),
                  "")
            << "round " << round;
    }
}

// One input with every case the fast paths must leave to the general one (a content that runs
// past the block, reaches the chunk size, folds a line break, or ends at a zero-tagged or cut tag),
// read in blocks of every size from 1 byte to the whole input; every "@" pushed back, which
// checks the chunk that a pushed-back pair gives.
TEST(TagFileTest, AgreesWithThePlainReaderAtEveryBlockSize) {
    std::string input =
        "<@>12\r\n<l>Oak chest, lid re-\r\npaired\r\n<g>SU123456\r\n<t>12-2-14\r\n<m>Oak\r\n"
        "<<@>>13\n<l>  spaced  \t<a>>x>y<\x01\n>\r\n<" +
        std::string(40, 't') + ">long tag<l>" + std::string(509, 'a') + "\r\n<l>" +
        std::string(510, 'b') + "\r\nc<l>" + std::string(520, 'd') + "<" + std::string("a\0b", 3) +
        ">zero\r\n<@>" + std::string(515, '7') + "<b>5\r\n\r\n<@>" + std::string(510, '8') +
        "\r\n<l>x<>end";
    for (std::size_t step = 2; step <= 2 * input.size() + 1; ++step) {
        // Odd steps lend the bytes, even ones copy them.
        std::size_t block = step / 2;
        ASSERT_EQ(testing::ReaderDifference(
                      input, block, block, step % 2 == 1,
                      [](std::size_t, std::string_view lastTag) { return lastTag == "@"; }),
                  "")
            << "block " << block;
    }
}

TEST(FindPartStartTest, OnlyWhereAReaderOfTheWholeInputStartsAnAtPair) {
    const std::string kFar = "<s>" + std::string(5000, 'x') + "<@>1<l>";
    const struct {
        std::string input;
        std::size_t from;
        std::size_t expected;  // npos: none, the input's size
    } kCases[] = {
        {"<s>x\n<@>1<l>", 0, 5},
        {"<s>x\n<@>1<l>", 6, std::string::npos},
        {"@>x<@>1<l>", 0, std::string::npos},      // no '<' before: whether the tag was empty
        {"<@>x<@>1<l>", 0, 4},                     // is not known
        {"<@>1<l>x>y<@>2<l>", 1, 10},              // a '>' in a content
        {"<s><<@>1<l>", 0, std::string::npos},     // "<<@>": the '<' before is an opener
        {"<a<@>1<l>", 0, std::string::npos},       // inside the tag "a<@"
        {"x<@>1<l>", 0, std::string::npos},        // inside the first tag, "x<@"
        {"<s>x<@>1", 0, std::string::npos},        // the number's content runs to the end
        {"<@>1<>x<@>2<l>", 1, std::string::npos},  // after an empty tag
        {"<@>1<<>x>y<@>2<l>", 1, std::string::npos},
        {std::string("<@>1<\0>x<@>2<l>", 15), 1, 8},  // a tag with a zero byte is no empty tag
        {"<s>x<@>" + std::string(510, '1') + "<l>", 0, std::string::npos},  // not one chunk
        {"<s>x<@>" + std::string(509, '1') + "<l>", 0, 4},
        {kFar, 0, std::string::npos},  // no '<' or '>' in the 4096 bytes before: not known
    };
    for (const auto& c : kCases) {
        std::size_t expected = c.expected == std::string::npos ? c.input.size() : c.expected;
        EXPECT_EQ(FindPartStart(c.input, c.from), expected) << c.input.substr(0, 40);
    }
}

}  // namespace
}  // namespace halvic
