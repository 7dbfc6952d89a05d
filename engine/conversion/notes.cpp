#include "engine/conversion/notes.h"

#include <utility>

namespace halvic {

void CTagNotes::Note(std::string_view tag, bool cut, std::uint64_t line, std::uint64_t uses) {
    std::string key(tag);
    if (cut) key.push_back('\xFF');  // a cut tag never equals a whole one
    auto seen = m_seen.find(key);
    if (seen != m_seen.end()) {
        m_tags[seen->second].m_nUses += uses;
        return;
    }
    if (m_tags.size() < kListed) {
        m_seen.emplace(std::move(key), m_tags.size());
        m_tags.push_back({std::string(tag), cut, line, uses});
        return;
    }
    if (m_nMoreUses == 0) m_nMoreLine = line;
    m_nMoreUses += uses;
}

void CTagNotes::AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const {
    for (const CUnknownTag& unknown : m_tags)
        warnings.push_back(
            {inputName, unknown.m_nLine, UnknownTagWarning(unknown.m_strTag, unknown.m_bCut)});
    if (m_nMoreUses != 0)
        warnings.push_back({inputName, m_nMoreLine,
                            MoreWarnings(EWarningKind::kUnknownTag, m_nMoreUses), m_nMoreUses});
}

void CValueNotes::Add(EWarningKind kind, CShown shown) {
    CKind& noted = m_kinds[static_cast<std::size_t>(kind)];
    if (noted.m_shown.size() < kShownPerKind) {
        noted.m_shown.push_back(std::move(shown));
    } else {
        Count(kind, shown.m_nLine, 1);
    }
}

void CValueNotes::Count(EWarningKind kind, std::uint64_t line, std::uint64_t count) {
    CKind& noted = m_kinds[static_cast<std::size_t>(kind)];
    if (noted.m_nMore == 0) noted.m_nMoreLine = line;
    noted.m_nMore += count;
}

void CValueNotes::Note(EWarningKind kind, std::uint64_t line, std::string_view content,
                       bool (*warns)(std::string_view), std::string (*warning)(std::string_view)) {
    if (!warns(content)) return;
    if (m_kinds[static_cast<std::size_t>(kind)].m_shown.size() < kShownPerKind) {
        Add(kind, {line, std::string(content), warning});
    } else {
        Count(kind, line, 1);
    }
}

void CValueNotes::NoteNumber(EWarningKind kind, std::uint64_t line, std::string_view content,
                             std::string (*warning)(std::string_view)) {
    if (m_kinds[static_cast<std::size_t>(kind)].m_shown.size() < kShownPerKind) {
        Add(kind, {line, std::string(content), warning});
    } else {
        Count(kind, line, 1);
    }
}

void CValueNotes::NoteRepeated(std::uint64_t line, std::uint16_t number, std::uint64_t firstLine) {
    CKind& noted = m_kinds[static_cast<std::size_t>(EWarningKind::kRepeatedNumber)];
    if (noted.m_shown.size() < kShownPerKind) {
        noted.m_shown.push_back({line, RepeatedNumberWarning(number, firstLine)});
    } else {
        Count(EWarningKind::kRepeatedNumber, line, 1);
    }
}

void CValueNotes::Append(const CValueNotes& part, std::uint64_t lineOffset) {
    for (std::size_t k = 0; k < m_kinds.size(); ++k) {
        auto kind = static_cast<EWarningKind>(k);
        for (const CShown& shown : part.m_kinds[k].m_shown) {
            // Copied only when it is kept to be shown; Add would count it after the copy.
            if (m_kinds[k].m_shown.size() < kShownPerKind) {
                CShown moved = shown;
                moved.m_nLine += lineOffset;
                Add(kind, std::move(moved));
            } else {
                Count(kind, lineOffset + shown.m_nLine, 1);
            }
        }
        if (part.m_kinds[k].m_nMore != 0)
            Count(kind, lineOffset + part.m_kinds[k].m_nMoreLine, part.m_kinds[k].m_nMore);
    }
}

void CValueNotes::AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const {
    for (std::size_t k = 0; k < m_kinds.size(); ++k) {
        for (const CShown& shown : m_kinds[k].m_shown)
            warnings.push_back({inputName, shown.m_nLine, shown.Warning()});
        if (m_kinds[k].m_nMore != 0) {
            warnings.push_back({inputName, m_kinds[k].m_nMoreLine,
                                MoreWarnings(static_cast<EWarningKind>(k), m_kinds[k].m_nMore),
                                m_kinds[k].m_nMore});
        }
    }
}

}  // namespace halvic
