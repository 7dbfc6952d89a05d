// The command line's mistakes in halvic's own words, naming the command, rather than the parser's.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace halvic::cli {

// What to say of `error`, found while parsing the command line of `command` ("convert", "dump",
// or "" for halvic itself): `operands` are the words given for its operand (INPUT, DIR), `extras`
// the words the parser did not take.
std::string UsageErrorMessage(const CLI::ParseError& error, const std::string& command,
                              const std::vector<std::string>& operands,
                              const std::vector<std::string>& extras);

// What to say of an argument `arg` that holds a double quote, on Windows, where no file name
// does: a backslash before a closing quote ("Ausgabe\") escapes it, which keeps the quote and
// whatever follows in the argument. Names the argument, the probable cause and how to write it.
std::string QuoteInArgumentMessage(const std::string& arg);

}  // namespace halvic::cli
