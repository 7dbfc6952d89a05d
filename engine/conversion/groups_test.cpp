#include "engine/conversion/groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/short_strings.h"

namespace halvic {
namespace {

// Applies <tag>content to a fresh record: the record, and how many warnings were noted.
struct CApplied {
    CRecord m_record;
    std::size_t m_nWarnings = 0;
};
CApplied Apply(std::string_view tag, std::string_view content) {
    CMemorySource source("");
    CTagFile reader(source);
    CGroupNotes notes;
    CApplied applied;
    ApplyField(tag, content, reader, 0, applied.m_record, notes);
    std::vector<CWarning> warnings;
    notes.m_values.AddWarnings("in.txt", warnings);
    applied.m_nWarnings = warnings.size();
    return applied;
}

// Every string of up to `longest` bytes over `alphabet`.
std::vector<std::string> Strings(const std::string& alphabet, std::size_t longest) {
    std::vector<std::string> all;
    testing::ForEachString(alphabet, longest,
                           [&](const std::string& text) { all.push_back(text); });
    return all;
}

// A value field and a record number are decoded, and warned of, as their plain rules say, whatever
// shortcut the loop over the pairs takes for the usual forms.
TEST(GroupsTest, ValueFieldsFollowThePlainRules) {
    std::vector<std::string> weights = Strings("029-/", 7);
    for (const std::string& more : Strings("15:x ", 5))
        weights.push_back(more);
    for (const char* written : {"255-255-255", "256-0-0", "300-1-1", "1-300-1", "1-1-300", "999-9",
                                "0-0-0", "12-2/14", "1234-1-1", "01-02-003", "012-1-1"})
        weights.push_back(written);
    for (const std::string& weight : weights) {
        const CApplied applied = Apply("t", weight);
        ASSERT_EQ(applied.m_record.m_nWeight, ParseWeight(weight)) << weight;
        const bool warns = !WeightAsWritten(weight) && WeightWarns(weight);
        ASSERT_EQ(applied.m_nWarnings, warns ? 1u : 0u) << weight;
    }

    std::vector<std::string> references = Strings("SIe9", 8);
    for (char east : kGridLetters) {
        for (char north : kGridLetters)
            references.push_back(std::string{east, north} + "123456");
    }
    for (const char* written : {"SU123456", "VV000000", "EE999999", "su123456", "SU12345",
                                "SU1234567", "SU 12345", "IU123456", "AB12345x"})
        references.push_back(written);
    for (const std::string& reference : references) {
        const CApplied applied = Apply("g", reference);
        std::uint16_t easting = 0;
        std::uint16_t northing = 0;
        ParseGridRef(reference, easting, northing);
        ASSERT_EQ(applied.m_record.m_nEasting, easting) << reference;
        ASSERT_EQ(applied.m_record.m_nNorthing, northing) << reference;
        const bool warns = !GridRefAsWritten(reference) && GridRefWarns(reference);
        ASSERT_EQ(applied.m_nWarnings, warns ? 1u : 0u) << reference;
    }

    std::vector<std::string> numbers = Strings("059x ", 4);
    for (const char* written :
         {"255", "256", "65535", "65536", "99999", "100000", "000255", "4294967296"})
        numbers.push_back(written);
    for (const std::string& number : numbers) {
        const CApplied applied = Apply("b", number);
        ASSERT_EQ(applied.m_record.m_nBValue, static_cast<std::uint8_t>(ParseDigits(number)))
            << number;
        ASSERT_EQ(applied.m_nWarnings, ByteValueAsWritten(number) ? 0u : 1u) << number;

        CRecord record;
        CValueNotes notes;
        StartRecord(number, 1, record, notes);
        ASSERT_EQ(record.m_nNumber, static_cast<std::uint16_t>(ParseDigits(number))) << number;
        std::vector<CWarning> warnings;
        notes.AddWarnings("in.txt", warnings);
        ASSERT_EQ(warnings.size(), RecordNumberAsWritten(number) ? 0u : 1u) << number;
    }
}

}  // namespace
}  // namespace halvic
