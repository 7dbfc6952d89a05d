// A record in the forms `halvic dump` shows it, which `halvic diff` shows too: a text line with
// texts quoted and escaped, grid references and weights as they are read, and a JSON object.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cli/text_encoding.h"
#include "engine/format/output_reader.h"
#include "engine/format/record.h"
#include "engine/io/byte_stream.h"

namespace halvic::cli {

// How texts' bytes are read, and how many were not valid in the encoding.
struct CDecoding {
    EEncoding m_encoding = EEncoding::kLatin1;
    bool m_bChosen = false;  // --encoding was given
    std::uint64_t m_nInvalid = 0;
};

// `line` grown this far is written to the spill sink the functions below are given, if any: a
// long text is formatted in pieces, never whole in memory a second time.
constexpr std::size_t kSpillBytes = std::size_t{1} << 16;
inline void Spill(std::string& line, CByteSink* spill) {
    if (spill != nullptr && line.size() >= kSpillBytes) {
        spill->Write(line);
        line.clear();
    }
}

// `text` quoted: printable ASCII as it is and every other byte as \xHH, or, with an encoding
// chosen, every character that is no control character in UTF-8; a backslash and a quote escaped.
void AppendEscaped(std::string& line, std::string_view text, const CDecoding& decoding,
                   CByteSink* spill = nullptr);
// The character at `pos` for jsonl and csv: a byte that is not valid becomes U+FFFD, counted.
std::uint32_t CharacterAt(std::string_view text, std::size_t pos, CDecoding& decoding,
                          std::size_t& length);
// `text` as a JSON string, in UTF-8.
void AppendJsonString(std::string& line, std::string_view text, CDecoding& decoding,
                      CByteSink* spill = nullptr);
// The grid reference of a record's point: none for a point outside the letter grid, nor for 0, 0,
// which is what a record holds that never had a grid reference.
bool HasGridReference(const CRecord& r, std::string& grid);

// A record as dump shows it: its position in the file (from 1), the record, its set's tables.
struct CDumpLine {
    std::uint64_t m_nIndex;  // 1-based
    const CRecord& m_record;
    const COutputTables& m_tables;
    CDecoding& m_decoding;
    CByteSink* m_pSpill = nullptr;  // takes the line in pieces as it grows

    bool HasText(std::size_t table) const { return m_record.m_tableIds[table] != 0; }
    const std::string& Text(std::size_t table) const {
        return m_tables[table][m_record.m_tableIds[table] - 1u];
    }
};

// "record 3: number 103, text ..., s 1 \"Survey 1921\"" and a line end.
void AppendText(std::string& line, const CDumpLine& d);
// "{\"record\":3,\"number\":103,...}" and a line end.
void AppendJson(std::string& line, const CDumpLine& d);

// Warns on `err` of the bytes that were not valid in the encoding, when there were any.
void WarnOfInvalidBytes(const CDecoding& decoding, std::ostream& err);

}  // namespace halvic::cli
