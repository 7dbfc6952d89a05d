#include "tests/support/reference_convert.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "engine/conversion/join.h"
#include "engine/conversion/value_checks.h"
#include "engine/format/decoders.h"
#include "engine/format/field_text.h"
#include "tests/support/plain_tag_reader.h"

namespace halvic::testing {

namespace {

constexpr std::size_t kTagKept = 32;
constexpr std::string_view kLetters = "manics";

void PutField(std::string& out, char letter, unsigned kind, std::uint32_t value, int bytes) {
    out.push_back(static_cast<char>((static_cast<unsigned char>(letter) & 0x1F) + kind));
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

// The smallest form that holds the value: a byte, a word, or (for the number only) a long.
void PutNumber(std::string& out, char letter, std::int64_t value) {
    if (value == 0) return;
    if (value < 0 || value >= 65536) {
        if (value >= 65536) {
            PutField(out, letter, 0x40, static_cast<std::uint32_t>(value), 4);
            return;
        }
        value &= 0xFFFF;
    }
    if (value < 256) {
        PutField(out, letter, 0x00, static_cast<std::uint32_t>(value), 1);
    } else {
        PutField(out, letter, 0x20, static_cast<std::uint32_t>(value), 2);
    }
}

struct CPlainRecord {
    std::uint16_t number = 0;
    std::string text;
    std::uint8_t bValue = 0;
    std::uint16_t weight = 0;
    std::uint16_t easting = 0;
    std::uint16_t northing = 0;
    std::array<std::uint16_t, 6> ids = {};

    void Write(std::string& out) const {
        PutNumber(out, '_', number);
        if (!text.empty()) {
            out.push_back(static_cast<char>(('l' & 0x1F) + 0x60));
            out += text;
            out.push_back('\0');
        }
        PutNumber(out, 'b', bValue);
        PutNumber(out, 't', weight);
        PutNumber(out, 'e', easting);
        PutNumber(out, 'n', northing);
        out.push_back(static_cast<char>(0xA4));
        out.push_back(6);
        for (std::uint16_t id : ids) {
            out.push_back(static_cast<char>(id & 0xFF));
            out.push_back(static_cast<char>(id >> 8));
        }
        out.push_back('\0');
    }
};

}  // namespace

CConversionOutput ReferenceConvert(std::string_view input, const std::string& name) {
    CConversionOutput output;
    CPlainTagReader reader(input);
    std::string tag, content;
    bool cut = false;
    auto read = [&]() {
        bool ok = reader.ReadTag(tag, content);
        cut = tag.size() > kTagKept;
        if (cut) tag.resize(kTagKept);
        return ok;
    };
    std::array<std::map<std::string, std::uint16_t>, 6> ids;
    std::set<std::pair<std::string, bool>> seen;
    std::vector<std::pair<std::uint64_t, std::string>> notes;  // of the first 100 such tags
    std::uint64_t moreUses = 0;                                // of the others
    std::uint64_t moreLine = 0;
    // By kind: what is stored otherwise than written, the first ten in full, then counted.
    struct CKind {
        std::vector<std::pair<std::uint64_t, std::string>> m_shown;
        std::uint64_t m_nMore = 0;
        std::uint64_t m_nMoreLine = 0;
    };
    std::array<CKind, 6> kinds;
    auto note = [&](EWarningKind kind, std::string warning) {
        if (warning.empty()) return;
        CKind& noted = kinds[static_cast<std::size_t>(kind)];
        if (noted.m_shown.size() < 10) {
            noted.m_shown.emplace_back(reader.TagLine(), std::move(warning));
        } else if (noted.m_nMore++ == 0) {
            noted.m_nMoreLine = reader.TagLine();
        }
    };
    std::map<std::uint16_t, std::uint64_t> firstLines;
    std::pair<std::uint64_t, std::string> stop;
    CPlainRecord record;
    std::uint64_t records = 0;

    while (read()) {
        if (tag != "@") {
            std::string shown = ShowTag(tag, cut);
            stop = {reader.TagLine(),
                    records == 0 ? "the first tag is " + shown + ", not <@>; nothing was converted"
                                 : "tag " + shown +
                                       " follows an empty tag <> but is not <@>; the rest of the "
                                       "input was ignored"};
            break;
        }
        record.number = static_cast<std::uint16_t>(ParseDigits(content));
        note(EWarningKind::kRecordNumber, RecordNumberWarning(content));
        auto first = firstLines.emplace(record.number, reader.TagLine());
        if (!first.second) {
            note(EWarningKind::kRepeatedNumber,
                 RepeatedNumberWarning(record.number, first.first->second));
        }
        read();
        while (tag != "@" && !tag.empty()) {
            std::size_t table = kLetters.find(tag);
            if (tag == "l") {
                record.text = content;
            } else if (tag == "b") {
                record.bValue = static_cast<std::uint8_t>(ParseDigits(content));
                note(EWarningKind::kByteValue, ByteValueWarning(content));
            } else if (tag == "g") {
                ParseGridRef(content, record.easting, record.northing);
                note(EWarningKind::kGridRef, GridRefWarning(content));
            } else if (tag == "t") {
                record.weight = ParseWeight(content);
                note(EWarningKind::kWeight, WeightWarning(content));
            } else if (table != std::string_view::npos) {
                auto found = ids[table].find(content);
                if (found != ids[table].end()) {
                    record.ids[table] = found->second;
                } else if (ids[table].size() == 65535) {
                    output.m_strError = name + ":" + std::to_string(reader.TagLine()) + ": table " +
                                        kLetters[table] +
                                        " is full: it holds 65535 distinct texts, the most a "
                                        "table can hold";
                    return output;
                } else {
                    auto id = static_cast<std::uint16_t>(ids[table].size() + 1);
                    ids[table].emplace(content, id);
                    output.m_tables[table] += content;
                    output.m_tables[table].push_back('\0');
                    record.ids[table] = id;
                }
            } else if (seen.count({tag, cut}) != 0) {
            } else if (seen.size() < 100) {
                seen.insert({tag, cut});
                notes.emplace_back(reader.TagLine(), UnknownTagWarning(tag, cut));
            } else if (moreUses++ == 0) {
                moreLine = reader.TagLine();
            }
            read();
        }
        if (tag == "@") reader.m_bPushedBack = 1;
        record.Write(output.m_strRecords);
        ++records;
    }
    // Every warning with its line, in the order of their kinds; then in line order.
    std::vector<std::pair<std::uint64_t, std::string>> warnings = notes;
    if (moreUses != 0)
        warnings.emplace_back(moreLine, MoreWarnings(EWarningKind::kUnknownTag, moreUses));
    for (std::size_t k = 0; k < kinds.size(); ++k) {
        warnings.insert(warnings.end(), kinds[k].m_shown.begin(), kinds[k].m_shown.end());
        if (kinds[k].m_nMore != 0) {
            warnings.emplace_back(kinds[k].m_nMoreLine,
                                  MoreWarnings(static_cast<EWarningKind>(k), kinds[k].m_nMore));
        }
    }
    if (!stop.second.empty()) warnings.push_back(stop);
    std::stable_sort(warnings.begin(), warnings.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [line, warning] : warnings)
        output.m_warnings.push_back(name + ":" + std::to_string(line) + ": " + warning);
    return output;
}

}  // namespace halvic::testing
