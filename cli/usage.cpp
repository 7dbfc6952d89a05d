#include "cli/usage.h"

#include <algorithm>
#include <cstdlib>

#include "engine/io/file.h"

namespace halvic::cli {

namespace {

// Where the description of an option's line begins ("  -o,--output-dir TEXT   Where ..."), or 0
// for a line of prose.
std::size_t DescriptionColumn(std::string_view line) {
    if (line.size() < 3 || line.substr(0, 2) != "  " || line[2] == ' ') return 0;
    std::string_view::size_type gap = line.find("  ", 2);
    if (gap == std::string_view::npos) return 0;
    std::string_view::size_type text = line.find_first_not_of(' ', gap);
    return text == std::string_view::npos ? 0 : text;
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string WrapHelp(std::string_view text, std::size_t width) {
    std::string wrapped;
    while (!text.empty()) {
        std::string_view::size_type end = text.find('\n');
        std::string rest(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::size_t column = DescriptionColumn(rest);
        // A line that is all description continues the option above it.
        std::size_t leading = rest.find_first_not_of(' ');
        if (column == 0 && leading != std::string::npos && leading >= 20) column = leading;
        const std::size_t room = std::max(width, column + 20);  // for words, however narrow
        while (rest.size() > room) {
            std::string::size_type cut = rest.rfind(' ', room);
            // A word longer than the room stands on a line of its own.
            if (cut == std::string::npos || cut <= column) cut = rest.find(' ', room);
            if (cut == std::string::npos || cut <= column) break;
            std::string::size_type next = rest.find_first_not_of(' ', cut);
            wrapped += rest.substr(0, cut);
            wrapped += '\n';
            rest = next == std::string::npos ? "" : std::string(column, ' ') + rest.substr(next);
        }
        wrapped += rest;
        if (end != std::string_view::npos) wrapped += '\n';
    }
    return wrapped;
}

std::size_t HelpWidth() {
    std::size_t columns = TerminalColumns(StandardOutput());
    // COLUMNS, as other tools read it, comes before the terminal's width.
    if (const char* set = std::getenv("COLUMNS")) {
        char* end = nullptr;
        unsigned long value = std::strtoul(set, &end, 10);
        if (end != set && *end == '\0' && value >= 40 && value <= 1000) columns = value;
    }
    return columns >= 40 ? columns : 80;
}

std::string NearestName(std::string_view word, const std::vector<std::string>& names) {
    std::string best;
    std::size_t bestDistance = 3;
    for (const std::string& name : names) {
        std::size_t distance = EditDistance(word, name);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = name;
        }
    }
    // Two letters off in a word of three is another word.
    return bestDistance * 2 <= std::max<std::size_t>(word.size(), 3) ? best : "";
}

}  // namespace halvic::cli
