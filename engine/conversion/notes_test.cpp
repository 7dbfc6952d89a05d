#include "engine/conversion/notes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvic {
namespace {

// Memory stays bounded whatever the number of distinct tags: the first kListed are kept, with
// their uses; every use of any other is counted, from the line of the first of them.
TEST(NotesTest, UnknownTagsAreListedUpToACapAndTheRestCounted) {
    CTagNotes notes;
    for (std::uint64_t i = 0; i < 250; ++i)
        notes.Note("x" + std::to_string(i), false, i + 1);
    notes.Note("x7", false, 300);    // listed: one use more
    notes.Note("x200", false, 301);  // not listed: counted
    notes.Note(std::string(32, 'y'), true, 302);
    ASSERT_EQ(notes.Tags().size(), CTagNotes::kListed);
    EXPECT_EQ(notes.Tags()[99].m_strTag, "x99");
    EXPECT_EQ(notes.Tags()[7].m_nUses, 2u);
    EXPECT_EQ(notes.MoreUses(), 152u);
    EXPECT_EQ(notes.MoreLine(), 101u);
}

// Of every kind of value the first kShownPerKind are shown in full; the rest are counted, from
// the line of the first of them, also across parts appended in order.
TEST(NotesTest, ValuesAreShownUpToACapPerKindAndTheRestCounted) {
    CValueNotes first;
    CValueNotes second;
    for (std::uint64_t line = 1; line <= 8; ++line) {
        first.Note(EWarningKind::kGridRef, line, "SU12345", GridRefWarns, GridRefWarning);
        second.Note(EWarningKind::kGridRef, line, "SU12345", GridRefWarns, GridRefWarning);
    }
    second.Note(EWarningKind::kGridRef, 9, "SU123456", GridRefWarns,
                GridRefWarning);  // as written: no note
    second.NoteRepeated(20, 7, 3);
    CValueNotes joined;
    joined.Append(first, 0);
    joined.Append(second, 100);
    std::vector<CWarning> warnings;
    joined.AddWarnings("in.txt", warnings);
    ASSERT_EQ(warnings.size(), kShownPerKind + 2);
    EXPECT_EQ(warnings[9].m_nLine, 102u);
    EXPECT_EQ(warnings[10].m_nLine, 103u);  // the first of those counted
    EXPECT_EQ(warnings[10].Message(), "in.txt:103: " + MoreWarnings(EWarningKind::kGridRef, 6));
    EXPECT_EQ(warnings[11].Message(), "in.txt:120: " + RepeatedNumberWarning(7, 3));
}

// Once a kind's warnings are only counted, a content stored as meant ("12-0") is still not.
TEST(NotesTest, OnlyContentsThatWarnAreCounted) {
    CValueNotes notes;
    for (std::uint64_t line = 1; line <= 30; ++line)
        notes.Note(EWarningKind::kWeight, line, line % 2 == 1 ? "12-27" : "12-0", WeightWarns,
                   WeightWarning);
    std::vector<CWarning> warnings;
    notes.AddWarnings("in.txt", warnings);
    ASSERT_EQ(warnings.size(), kShownPerKind + 1);
    EXPECT_EQ(warnings.back().Message(), "in.txt:21: " + MoreWarnings(EWarningKind::kWeight, 5));
}

}  // namespace
}  // namespace halvic
