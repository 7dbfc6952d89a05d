#include "cli/convert_command.h"

#include <gtest/gtest.h>

namespace halvic::cli {
namespace {

TEST(TypedFileNameTest, TakesAwayWhatATerminalAddsToAName) {
    const struct {
        const char* typed;
        const char* name;
    } kCases[] = {
        {"data.txt", "data.txt"},
        {"  data.txt \t", "data.txt"},
        {"'/home/me/my data.txt' ", "/home/me/my data.txt"},
        {"\"my data.txt\"\r", "my data.txt"},
        {"'unmatched.txt\"", "'unmatched.txt\""},
        {"\"it's.txt\"", "it's.txt"},
        {"~/data.txt", "/home/me/data.txt"},
        {"'~/my data.txt'", "/home/me/my data.txt"},
        {"a~/b.txt", "a~/b.txt"},
        {"   ", ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(TypedFileName(c.typed, "/home/me"), c.name) << c.typed;
    EXPECT_EQ(TypedFileName("~/data.txt", nullptr), "~/data.txt");
}

}  // namespace
}  // namespace halvic::cli
