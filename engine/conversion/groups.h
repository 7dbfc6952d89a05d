// The groups of a tagged text as the conversion reads them, from an "@" pair to the next: the one
// loop over the pairs (ReadGroups), the one rule for how a pair changes a record (ApplyField), and
// the fields a record keeps from the record before it (CarryFields). A part and the plain loop
// both read with these, each keeping texts and table identifiers its own way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/conversion/notes.h"
#include "engine/conversion/value_checks.h"
#include "engine/format/decoders.h"
#include "engine/format/record.h"
#include "engine/io/error.h"
#include "engine/text/tag_file.h"

namespace halvic {

// What ended a conversion before the end of its input: a tag other than "@" where a group should
// start (at the very start, or after an empty tag).
struct CStop {
    bool m_bStopped = false;
    std::string m_strTag;
    bool m_bCut = false;
    std::uint64_t m_nLine = 0;
    bool m_bUnclosed = false;  // the tag ran to the end of the input: no '>' closed it
};

// Hands the groups of `reader` to `handler`, in order: Start(content of the "@" pair), then
// Field(tag, content) for each pair of the group, then End(). A group ends at the next "@" (which
// starts the next group, as if it were pushed back and read again), at an empty tag or at the end
// of the input, where the tag is empty too. A tag other than "@" where a group should start ends
// the reading: Stop(tag).
template <class THandler>
void ReadGroups(CTagFile& reader, THandler& handler) {
    std::string_view tag;
    std::string_view content;
    // ReadTag is called in one place, so that its common path is inlined once. The "@" that ends a
    // group starts the next one at once, with the content that pushing it back would give.
    bool inGroup = false;
    while (reader.ReadTag(tag, content) || inGroup) {
        if (inGroup) {
            if (tag != "@" && !tag.empty()) {
                handler.Field(tag, content);
                continue;
            }
            handler.End();
            inGroup = false;
            if (tag.empty()) continue;
            content = reader.ContentAsPushedBack();
        } else if (tag != "@") {
            handler.Stop(tag);
            return;
        }
        handler.Start(content);
        inGroup = true;
    }
}

// Sets the record number from the content of an "@" pair on `line`, noting one stored otherwise
// than written.
inline void StartRecord(std::string_view content, std::uint64_t line, CRecord& record,
                        CValueNotes& notes) {
    std::uint32_t number = 0;
    if (ReadUsualNumber(content, number) && number <= 65535) {
        record.m_nNumber = static_cast<std::uint16_t>(number);
        return;
    }
    record.m_nNumber = static_cast<std::uint16_t>(ParseDigits(content));
    if (!RecordNumberAsWritten(content))
        notes.NoteNumber(EWarningKind::kRecordNumber, line, content, RecordNumberWarning);
}

// Notes the content of a value field of `kind` on `line`, which its predicate refused: it may be
// stored otherwise than written. Out of line, as the checks' slow paths should stay out of the
// readers' loops.
void NoteRefusedContent(CFieldChoice::EKind kind, std::string_view content, std::uint64_t line,
                        CValueNotes& notes);

// How the pair <tag>content that `reader` has just read changes `record`: a value field (b, g, t)
// is decoded into it and its content checked; a tag that selects no field is noted. Lines are the
// reader's counted on from `lineOffset`. Returns what `tag` selects: the text and the table fields
// are left to the caller, which keeps them its own way (a part keeps views of its bytes and leaves
// identifiers to the join). Always inline: it is the body of the loop over the pairs, where a call
// costs more than its work.
[[gnu::always_inline]] inline CFieldChoice ApplyField(std::string_view tag,
                                                      std::string_view content,
                                                      const CTagFile& reader,
                                                      std::uint64_t lineOffset, CRecord& record,
                                                      CGroupNotes& notes) {
    const CFieldChoice choice = ChooseField(tag);
    // The table and text fields, most pairs, are left to the caller: told apart from the others
    // by a test rather than the switch's jump, which the processor predicts less well.
    if (choice.m_eKind == CFieldChoice::kTable || choice.m_eKind == CFieldChoice::kText)
        return choice;
    bool asWritten = true;
    switch (choice.m_eKind) {
        case CFieldChoice::kText:
        case CFieldChoice::kTable:  // returned above; listed so that every kind is handled
            return choice;
        case CFieldChoice::kNone:
            notes.m_tags.Note(tag, reader.TagCut(), lineOffset + reader.TagLine());
            return choice;
        case CFieldChoice::kBValue: {
            std::uint32_t value = 0;
            if (ReadUsualNumber(content, value) && value <= 255) {
                record.m_nBValue = static_cast<std::uint8_t>(value);
                return choice;
            }
            record.m_nBValue = static_cast<std::uint8_t>(ParseDigits(content));
            asWritten = ByteValueAsWritten(content);
            break;
        }
        case CFieldChoice::kGridRef:
            // The usual form is the one stored as written besides the empty content.
            if (ReadUsualGridRef(content, record.m_nEasting, record.m_nNorthing)) return choice;
            ParseGridRef(content, record.m_nEasting, record.m_nNorthing);
            asWritten = content.empty();
            break;
        case CFieldChoice::kWeight: {
            CWeightParts usual;
            if (ReadUsualWeight(content, usual)) {
                record.m_nWeight = usual.Pounds();
                // Stored as written with three parts, none over 8 bits.
                asWritten = usual.m_nSeparators == 2 && usual.m_parts[0] <= 255 &&
                            usual.m_parts[1] <= 255 && usual.m_parts[2] <= 255;
            } else {
                record.m_nWeight = ParseWeight(content);
                asWritten = WeightAsWritten(content);
            }
            break;
        }
    }
    if (!asWritten)
        NoteRefusedContent(choice.m_eKind, content, lineOffset + reader.TagLine(), notes.m_values);
    return choice;
}

// The fields besides the table identifiers that a record keeps from the record before it unless
// it sets them, as bits: the bit of a field is 1 << its kind.
constexpr unsigned CarriedBit(CFieldChoice::EKind kind) {
    return kind < CFieldChoice::kTable ? 1u << kind : 0u;
}
inline constexpr unsigned kAllCarried = (1u << CFieldChoice::kTable) - 1;

// How each of those fields is taken from the record before.
struct CCarriedField {
    CFieldChoice::EKind m_eKind;
    void (*m_take)(const CRecord& before, CRecord& record);
};
inline constexpr CCarriedField kCarriedFields[] = {
    {CFieldChoice::kText,
     [](const CRecord& before, CRecord& record) { record.m_strText = before.m_strText; }},
    {CFieldChoice::kBValue,
     [](const CRecord& before, CRecord& record) { record.m_nBValue = before.m_nBValue; }},
    {CFieldChoice::kGridRef,
     [](const CRecord& before, CRecord& record) {
         record.m_nEasting = before.m_nEasting;
         record.m_nNorthing = before.m_nNorthing;
     }},
    {CFieldChoice::kWeight,
     [](const CRecord& before, CRecord& record) { record.m_nWeight = before.m_nWeight; }},
};

// Gives `record`, which set only the fields of the bits `set`, the others from `before`.
inline void CarryFields(const CRecord& before, unsigned set, CRecord& record) {
    for (const CCarriedField& field : kCarriedFields) {
        if ((set & CarriedBit(field.m_eKind)) == 0) field.m_take(before, record);
    }
}

// The warning of the tag that stopped a conversion after `records` records.
std::string StopWarning(const CStop& stop, std::uint64_t records);

// The failure of a conversion that converted no record from an input that is not empty: the
// input's first tag is not "@" (`stop`), or it holds nothing a reader hands out. Replacing the
// files with empty ones would wipe a catalogue for nothing. `start`: the input's first bytes, when
// it was read as bytes (they tell UTF-16 without a byte-order mark).
CError NothingConverted(const std::string& inputName, const CStop& stop,
                        std::string_view start = {});

}  // namespace halvic
