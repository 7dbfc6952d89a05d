// Inputs and comparisons for the tests that hold two conversions against each other.
#pragma once

#include <array>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/convert.h"
#include "engine/value_table.h"

namespace halvic::testing {

// Random tagged text shaped like records, with the bytes the reader treats specially, texts that
// repeat, contents near the 510-byte chunk, pushed-back "@" contents longer than a chunk, unknown
// and overlong tags. Unless `wellFormed`, also empty tags and stray '<' and '>' bytes, which end
// the conversion early.
std::string RandomConversionInput(std::mt19937& random, bool wellFormed = false);

// Where two byte strings first differ, and the bytes around it in hex; "" when they are equal.
std::string FirstDifference(std::string_view actual, std::string_view expected);

// The table files' bytes, as WriteTables would write them.
std::array<std::string, kTableCount> TableBytes(const CValueTables& tables);

// Converts `input` in memory, writes the files back as tagged text and converts that text: ""
// when the second conversion gives the same seven files, otherwise what differs (or why the
// tagged text could not be written), followed by the tagged text. An input whose conversion
// fails (a full table) has nothing to give back: "".
std::string RoundTripDifference(std::string_view input);

// The warnings' messages, in order.
std::vector<std::string> WarningMessages(const std::vector<CWarning>& warnings);

}  // namespace halvic::testing
