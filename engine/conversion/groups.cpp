#include "engine/conversion/groups.h"

#include "engine/format/field_text.h"

namespace halvic {

void NoteRefusedContent(CFieldChoice::EKind kind, std::string_view content, std::uint64_t line,
                        CValueNotes& notes) {
    switch (kind) {
        case CFieldChoice::kGridRef:
            notes.Note(EWarningKind::kGridRef, line, content, GridRefWarns, GridRefWarning);
            break;
        case CFieldChoice::kWeight:
            notes.Note(EWarningKind::kWeight, line, content, WeightWarns, WeightWarning);
            break;
        case CFieldChoice::kBValue:
            notes.NoteNumber(EWarningKind::kByteValue, line, content, ByteValueWarning);
            break;
        default:
            break;
    }
}

std::string StopWarning(const CStop& stop, std::uint64_t records) {
    std::string shown = ShowTag(stop.m_strTag, stop.m_bCut);
    if (records == 0) return "the first tag is " + shown + ", not <@>; nothing was converted";
    return "tag " + shown +
           " follows an empty tag <> but is not <@>; the rest of the input was ignored";
}

CError NothingConverted(const std::string& inputName, const CStop& stop, std::string_view start) {
    // UTF-16 read as bytes: every other byte of its ASCII is zero.
    const bool utf16 = start.substr(0, 2) == std::string_view("<\0", 2);
    const bool utf16BE = start.substr(0, 2) == std::string_view("\0<", 2);
    if (utf16 || utf16BE) {
        return {inputName, 1,
                std::string("no record was converted and no file was replaced: the file looks like "
                            "UTF-16 without a byte-order mark (") +
                    (utf16 ? "3C 00" : "00 3C") + "): convert it with --from utf-16" +
                    (utf16 ? "" : "be")};
    }
    // With no '>' anywhere, the first "tag" is the whole file.
    if (!stop.m_bStopped || stop.m_bUnclosed) {
        return {inputName, 0,
                "no record was converted, since the file holds no tag, and no file was replaced"};
    }
    const std::string& tag = stop.m_strTag;
    // The first tag is every byte before the first ">", so its start says what came first.
    std::string cause;
    if (tag.rfind("\xEF\xBB\xBF", 0) == 0) {
        cause = "the file begins with a byte-order mark (EF BB BF): save it without one";
    } else if (tag.rfind("\xFF\xFE", 0) == 0 || tag.rfind("\xFE\xFF", 0) == 0) {
        cause = std::string("the file begins with a UTF-16 byte-order mark (") +
                (tag[0] == '\xFF' ? "FF FE" : "FE FF") +
                "): convert it without --from, which reads it as UTF-16";
    } else if (!tag.empty() && (tag[0] == '\r' || tag[0] == '\n')) {
        cause = "the file begins with a blank line: it must begin with <@>";
    } else if (!tag.empty() && (tag[0] == ' ' || tag[0] == '\t')) {
        cause = "the file begins with a space: it must begin with <@>";
    } else if (tag.find('<') != std::string::npos) {
        cause = "text comes before the first <@>: the file must begin with <@>";
    } else {
        cause = "every record begins with <@>, and so must the file";
    }
    return {inputName, stop.m_nLine,
            "the first tag is " + ShowTag(tag, stop.m_bCut) +
                ", not <@>, so no record was converted and no file was replaced; " + cause};
}

}  // namespace halvic
