// Inputs and comparisons for the tests that hold two conversions against each other.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion/convert_file.h"
#include "engine/conversion/pipeline.h"
#include "engine/format/value_table.h"
#include "tests/support/output_files.h"

namespace halvic::testing {

// What a conversion in memory gives: the seven files' bytes and the warnings' messages, or the
// failure's message (the files are then thrown away, as ConvertFile would).
struct CConversionOutput {
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_tables;
    std::vector<std::string> m_warnings;
    std::string m_strError;  // empty when the conversion succeeded
};

// "" when the two give the same, otherwise what differs first.
std::string OutputDifference(const CConversionOutput& actual, const CConversionOutput& expected);

// The plain loop, one group after another, the reader taking blocks of `blockSize` from a source
// that hands out at most `step` bytes at a time.
CConversionOutput ConvertPlain(std::string_view input, const std::string& name = "in.txt",
                               std::size_t blockSize = 1 << 18, std::size_t step = SIZE_MAX);
// The pipeline, in parts of `partSize` or more, on `threads`; the parts read from a stream `step`
// bytes at a time, or views of `input` when `step` is 0.
CConversionOutput ConvertPipelined(std::string_view input, std::size_t partSize, unsigned threads,
                                   std::size_t step = 0, std::size_t largestPart = 2 << 20,
                                   const std::string& name = "in.txt");

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
// when the second conversion gives the same seven files and `halvic diff` finds no difference
// between the set and itself nor the set of its tagged text, otherwise what differs (or why the
// tagged text could not be written), followed by the tagged text. An input whose conversion
// fails (a full table) has nothing to give back: "".
std::string RoundTripDifference(std::string_view input);
// What `halvic diff` finds between the sets `a` and `b`, each of `records` records, which should
// be the same: "" when it finds no difference and every record unchanged, else the first.
std::string SetDiffDifference(const COutputFiles& a, const COutputFiles& b, std::size_t records);

// The warnings' messages, in order.
std::vector<std::string> WarningMessages(const std::vector<CWarning>& warnings);

}  // namespace halvic::testing
