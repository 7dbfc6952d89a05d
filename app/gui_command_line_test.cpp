#include "app/gui_command_line.h"

#include <gtest/gtest.h>

namespace halvic::app {
namespace {

TEST(ParseGuiArgumentsTest, HelpAndVersionOrAFileName) {
    const struct {
        std::vector<std::string> arguments;
        EGuiStart start;
    } kCases[] = {
        {{}, EGuiStart::kDialog},
        {{"in.txt"}, EGuiStart::kDialog},
        {{"--help"}, EGuiStart::kHelp},
        {{"-h"}, EGuiStart::kHelp},
        {{"--version"}, EGuiStart::kVersion},
        {{"--helpful.txt"}, EGuiStart::kDialog},  // a file name, whatever it looks like
        {{"in.txt", "--help"}, EGuiStart::kDialog},
#ifdef _WIN32
        {{"/?"}, EGuiStart::kHelp},
#else
        {{"/?"}, EGuiStart::kDialog},  // a file "?" in the root folder
#endif
    };
    for (const auto& c : kCases) {
        std::string shown;
        for (const std::string& argument : c.arguments)
            shown += argument + " ";
        EXPECT_EQ(ParseGuiArguments(c.arguments), c.start) << shown;
    }
    EXPECT_EQ(GuiVersionText(), "halvic-gui " HALVIC_VERSION "\n");
    EXPECT_EQ(GuiHelpText().rfind("Usage: halvic-gui [FILE]\n", 0), 0u);
}

TEST(SplitGivenFileTest, FolderAndName) {
    const struct {
        const char* file;
        const char* folder;
        const char* name;
    } kCases[] = {
        {"in.txt", "", "in.txt"},
        {"/home/me/in.txt", "/home/me", "in.txt"},
        {"data/my in.txt", "data", "my in.txt"},
        {"/in.txt", "/", "in.txt"},
        {"data/", "", "data/"},
#ifdef _WIN32
        {"C:\\Users\\me\\in.txt", "C:\\Users\\me", "in.txt"},
        {"C:\\in.txt", "C:\\", "in.txt"},
        {"C:in.txt", "C:", "in.txt"},
        {"\\\\server\\share\\in.txt", "\\\\server\\share", "in.txt"},
        {"Z:/tmp/in.txt", "Z:/tmp", "in.txt"},
#else
        {"a\\b.txt", "", "a\\b.txt"},  // a name on Linux
#endif
    };
    for (const auto& c : kCases) {
        CGivenFile given = SplitGivenFile(c.file);
        EXPECT_EQ(given.m_strFolder, c.folder) << c.file;
        EXPECT_EQ(given.m_strName, c.name) << c.file;
    }
}

}  // namespace
}  // namespace halvic::app
