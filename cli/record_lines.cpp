#include "cli/record_lines.h"

#include <algorithm>
#include <ostream>

#include "engine/format/field_text.h"

namespace halvic::cli {

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& line, std::string_view bytes) {
    for (char ch : bytes) {
        auto byte = static_cast<unsigned char>(ch);
        line += "\\x";
        line.push_back(kHex[byte >> 4]);
        line.push_back(kHex[byte & 15]);
    }
}

// Control characters, C1 ones included.
bool IsControl(std::int32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

}  // namespace

// Printable ASCII as it is and every other byte as \xHH, or, with an encoding chosen, every
// character that is no control character in UTF-8 and every other byte as \xHH; the backslash and
// the quote are escaped too, so that the quoted text can be read back byte for byte.
void AppendEscaped(std::string& line, std::string_view text, const CDecoding& decoding,
                   CByteSink* spill) {
    line.push_back('"');
    // In pieces, each written on once made: a long text is never held formatted whole.
    for (std::size_t pos = 0, length = 0; pos < text.size();) {
        for (const std::size_t stop = std::min(text.size(), pos + kSpillBytes); pos < stop;
             pos += length) {
            std::int32_t code = DecodeAt(text, pos, decoding.m_encoding, length);
            if (code == '\\' || code == '"') {
                line.push_back('\\');
                line.push_back(static_cast<char>(code));
            } else if (code == kInvalidByte || IsControl(code) ||
                       (!decoding.m_bChosen && code > 0x7E)) {
                AppendHex(line, text.substr(pos, length));
            } else {
                AppendUtf8(line, static_cast<std::uint32_t>(code));
            }
        }
        Spill(line, spill);
    }
    line.push_back('"');
}

// The character at `pos` for jsonl and csv: a byte that is not valid becomes U+FFFD, counted.
std::uint32_t CharacterAt(std::string_view text, std::size_t pos, CDecoding& decoding,
                          std::size_t& length) {
    std::int32_t code = DecodeAt(text, pos, decoding.m_encoding, length);
    if (code != kInvalidByte) return static_cast<std::uint32_t>(code);
    ++decoding.m_nInvalid;
    return 0xFFFD;
}

void AppendJsonString(std::string& line, std::string_view text, CDecoding& decoding,
                      CByteSink* spill) {
    line.push_back('"');
    // In pieces, each written on once made: a long text is never held formatted whole.
    for (std::size_t pos = 0, length = 0; pos < text.size();) {
        for (const std::size_t stop = std::min(text.size(), pos + kSpillBytes); pos < stop;
             pos += length) {
            std::uint32_t code = CharacterAt(text, pos, decoding, length);
            switch (code) {
                case '"':
                    line += "\\\"";
                    break;
                case '\\':
                    line += "\\\\";
                    break;
                case '\n':
                    line += "\\n";
                    break;
                case '\r':
                    line += "\\r";
                    break;
                case '\t':
                    line += "\\t";
                    break;
                default:
                    // Control characters as escapes: valid JSON and visible.
                    if (IsControl(static_cast<std::int32_t>(code))) {
                        line += "\\u00";
                        line.push_back(kHex[code >> 4]);
                        line.push_back(kHex[code & 15]);
                    } else {
                        AppendUtf8(line, code);
                    }
            }
        }
        Spill(line, spill);
    }
    line.push_back('"');
}

// The grid reference of a record's point: none for a point outside the letter grid, nor for 0, 0,
// which is what a record holds that never had a grid reference.
bool HasGridReference(const CRecord& r, std::string& grid) {
    return (r.m_nEasting != 0 || r.m_nNorthing != 0) &&
           GridReference(r.m_nEasting, r.m_nNorthing, grid);
}

void AppendText(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += "record " + std::to_string(d.m_nIndex) + ": number " + std::to_string(r.m_nNumber) +
            ", text ";
    AppendEscaped(line, r.m_strText, d.m_decoding, d.m_pSpill);
    line += ", bValue " + std::to_string(r.m_nBValue) + ", weight " + std::to_string(r.m_nWeight) +
            " lb (" + WeightInCwt(r.m_nWeight) + "), easting " + std::to_string(r.m_nEasting) +
            ", northing " + std::to_string(r.m_nNorthing);
    std::string grid;
    if (r.m_nEasting == 0 && r.m_nNorthing == 0) {
        line += " (no grid reference)";
    } else if (GridReference(r.m_nEasting, r.m_nNorthing, grid)) {
        line += " (" + grid + ")";
    }
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += ", ";
        line.push_back(kTableLetters[i]);
        line += " " + std::to_string(r.m_tableIds[i]);
        if (d.HasText(i)) {
            line.push_back(' ');
            AppendEscaped(line, d.Text(i), d.m_decoding, d.m_pSpill);
        }
    }
    line.push_back('\n');
}

void AppendJson(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += "{\"record\":" + std::to_string(d.m_nIndex) +
            ",\"number\":" + std::to_string(r.m_nNumber) + ",\"text\":";
    AppendJsonString(line, r.m_strText, d.m_decoding, d.m_pSpill);
    line += ",\"bValue\":" + std::to_string(r.m_nBValue) +
            ",\"weight\":" + std::to_string(r.m_nWeight) + ",\"weightCwt\":\"" +
            WeightInCwt(r.m_nWeight) + "\",\"easting\":" + std::to_string(r.m_nEasting) +
            ",\"northing\":" + std::to_string(r.m_nNorthing) + ",\"gridRef\":";
    std::string grid;
    line += HasGridReference(r, grid) ? "\"" + grid + "\"" : "null";
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += ",\"";
        line.push_back(kTableLetters[i]);
        line += "\":" + std::to_string(r.m_tableIds[i]) + ",\"";
        line.push_back(kTableLetters[i]);
        line += "Text\":";
        if (d.HasText(i)) {
            AppendJsonString(line, d.Text(i), d.m_decoding, d.m_pSpill);
        } else {
            line += "null";
        }
    }
    line += "}\n";
}

void WarnOfInvalidBytes(const CDecoding& decoding, std::ostream& err) {
    if (decoding.m_nInvalid == 0) return;
    static const char* const kNames[] = {"Latin-1", "cp1252", "UTF-8", "UTF-16"};
    err << "halvic: warning: " << decoding.m_nInvalid
        << (decoding.m_nInvalid == 1 ? " byte of the texts is" : " bytes of the texts are")
        << " not valid " << kNames[static_cast<int>(decoding.m_encoding)]
        << " and became U+FFFD; --encoding latin1 keeps every byte, and --format text shows "
           "such bytes as \\xHH\n";
}

}  // namespace halvic::cli
