#include "cli/usage.h"

#include <gtest/gtest.h>

namespace halvic::cli {
namespace {

TEST(WrapHelpTest, BreaksLongLinesUnderTheirDescription) {
    const struct {
        const char* text;
        std::size_t width;
        const char* wrapped;
    } kCases[] = {
        {"short\n", 80, "short\n"},
        {"one two three four five six\n", 20, "one two three four\nfive six\n"},
        {"  -q,--quiet    Print no warnings at all\n", 30,
         "  -q,--quiet    Print no warnings at\n                all\n"},
        {"  -v                          Print a summary of it all\n", 40,
         "  -v                          Print a summary of\n"
         "                              it all\n"},
        {"Exit status:\n  0  converted\n", 12, "Exit status:\n  0  converted\n"},
        {"averyveryverylongword and more\n", 10, "averyveryverylongword\nand more\n"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(WrapHelp(c.text, c.width), c.wrapped) << c.text;
}

TEST(NearestNameTest, FindsWhatWasMeant) {
    const std::vector<std::string> kCommands = {"convert", "dump", "help"};
    const struct {
        const char* word;
        const char* nearest;
    } kCases[] = {
        {"conver", "convert"}, {"covnert", "convert"},
        {"dmup", "dump"},      {"dumb", "dump"},
        {"frob", ""},          {"x", ""},
        {"helo", "help"},      {"converter", "convert"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(NearestName(c.word, kCommands), c.nearest) << c.word;
}

}  // namespace
}  // namespace halvic::cli
