#include "engine/io/typed_path.h"

#include <gtest/gtest.h>

namespace halvic {
namespace {

TEST(TypedFileNameTest, TakesAwayWhatATerminalOrACopyAddsToAName) {
    const struct {
        const char* typed;
        const char* name;
    } kCases[] = {
        {"data.txt", "data.txt"},
        {"  data.txt \t", "data.txt"},
        {"'/home/me/my data.txt' ", "/home/me/my data.txt"},
        {"\"my data.txt\"\r\n", "my data.txt"},
        {"\"C:\\Users\\me\\in.txt\"", "C:\\Users\\me\\in.txt"},  // Explorer's "Copy as path"
        {"\" in.txt \"", " in.txt "},  // quotes keep the spaces inside them
        {"'unmatched.txt\"", "'unmatched.txt\""},
        {"\"it's.txt\"", "it's.txt"},
        {"''", ""},
        {"~/data.txt", "/home/me/data.txt"},
        {"'~/my data.txt'", "/home/me/my data.txt"},
        {"a~/b.txt", "a~/b.txt"},
        {"~other/b.txt", "~other/b.txt"},
        {"   ", ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(TypedFileName(c.typed, "/home/me"), c.name) << c.typed;
    EXPECT_EQ(TypedFileName("~/data.txt", nullptr), "~/data.txt");
    EXPECT_EQ(TypedFileName("~/data.txt", ""), "~/data.txt");
#ifdef _WIN32
    EXPECT_EQ(TypedFileName("~\\data.txt", "C:\\Users\\me"), "C:\\Users\\me\\data.txt");
#else
    EXPECT_EQ(TypedFileName("~\\data.txt", "/home/me"), "~\\data.txt");  // a name on Linux
#endif
}

}  // namespace
}  // namespace halvic
