// What the command line says about its own use: help text fitted to the terminal, and the
// nearest name to a mistyped one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace halvic::cli {

// `text` with every line longer than `width` broken at spaces; the continuation of an option's
// line starts under its description.
std::string WrapHelp(std::string_view text, std::size_t width);

// The width help is fitted to: COLUMNS when set (40 to 1000), else the terminal's when standard
// output is one, otherwise 80.
std::size_t HelpWidth();

// The name in `names` nearest to `word`, when it is close enough to be what was meant (two
// letters off at most); "" otherwise.
std::string NearestName(std::string_view word, const std::vector<std::string>& names);

}  // namespace halvic::cli
