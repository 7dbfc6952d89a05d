// What must hold for any input bytes, one check per fuzz target. The fuzzers call these on each
// generated input and the test suite replays every saved input through them, so a failure found
// once is checked on every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace halvic::fuzz {

// Longer inputs are skipped: they find nothing new and slow each run down.
inline constexpr std::size_t kMaxInput = 1 << 14;

// Each check returns "" when everything held, else what went wrong. Inputs longer than kMaxInput
// (for the output reader, which is fast, 4 * kMaxInput) pass unchecked.
using CheckFunction = std::string (*)(const std::uint8_t* data, std::size_t size);

// The fast tag reader: pairs until the end, with pushbacks, block size and source step taken from
// the first bytes.
std::string CheckTagReader(const std::uint8_t* data, std::size_t size);
// A whole conversion in memory: every record reads back with the output reader and writes the same
// bytes again, identifiers stay within their tables, table texts are distinct, neither the block
// size nor the batching changes anything (the same output as a conversion one group at a time), nor
// does converting the input in parts.
std::string CheckConversion(const std::uint8_t* data, std::size_t size);
// The fast tag reader gives the same pairs and tag lines as the plain byte-at-a-time one.
std::string CheckReaderAgreement(const std::uint8_t* data, std::size_t size);
// Converts the input, writes the files back as tagged text and converts that: the same files.
std::string CheckRoundTrip(const std::uint8_t* data, std::size_t size);
// The output reader on any bytes: what it accepts is exactly what the writer writes for the
// records it returns, the records before a fault are exactly the bytes before it, and reading in
// blocks, as dump does, gives the same records and fault. The first six bytes give the lengths of
// the table files m, a, n, i, c and s, whose bytes follow in that order; the rest is the record
// file.
std::string CheckOutputReader(const std::uint8_t* data, std::size_t size);
// The input decoders on any bytes: fed whole, in pieces and through a decoding source (lent or
// read, into a small buffer) they give the same bytes and faults; a line feed stays one; input
// they decode without a fault encodes back into the same bytes; the UTF-8 scan agrees with the
// UTF-8 decoder. The first byte chooses the encoding, the second the size of the pieces.
std::string CheckInputDecoding(const std::uint8_t* data, std::size_t size);

}  // namespace halvic::fuzz
