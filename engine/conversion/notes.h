// What a conversion notes for its warnings while it reads: the tags that select no field, the
// contents stored otherwise than written and the record numbers seen again. Memory stays bounded
// whatever the input: of each kind only the first few are kept whole, the rest only counted.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/conversion/summary.h"
#include "engine/conversion/value_checks.h"

namespace halvic {

// A tag that selected no field, with the line of its first appearance.
struct CUnknownTag {
    std::string m_strTag;
    bool m_bCut = false;  // the tag was longer than the bytes kept of it
    std::uint64_t m_nLine = 0;
    std::uint64_t m_nUses = 1;  // how often it appeared
};

// Collects the distinct tags that selected no field, each once, up to kListed of them; the uses
// of every other such tag are only counted.
class CTagNotes {
  public:
    // Distinct tags kept for their warnings.
    static constexpr std::size_t kListed = 100;

    void Note(std::string_view tag, bool cut, std::uint64_t line) { Note(tag, cut, line, 1); }
    // `uses` appearances of `tag`, the first on `line`.
    void Note(std::string_view tag, bool cut, std::uint64_t line, std::uint64_t uses);
    // The first kListed distinct tags, in order of first appearance.
    const std::vector<CUnknownTag>& Tags() const { return m_tags; }
    // The appearances of tags not in Tags(), and the line of the first of them.
    std::uint64_t MoreUses() const { return m_nMoreUses; }
    std::uint64_t MoreLine() const { return m_nMoreLine; }
    // Adds their warnings.
    void AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const;

  private:
    std::unordered_map<std::string, std::size_t> m_seen;  // the keys of m_tags, their indexes
    std::vector<CUnknownTag> m_tags;
    std::uint64_t m_nMoreUses = 0;
    std::uint64_t m_nMoreLine = 0;
};

// The contents stored otherwise than written and the repeated record numbers of a conversion, or
// of a part of one: of each kind the first kShownPerKind with their warnings, then only how many
// more, and the line of the first of those.
class CValueNotes {
  public:
    // Notes a content of `kind` on `line` whose warning `warning(content)` gives, unless that is
    // "" (the value stored is the one meant), which `warns(content)` tells. The warning is built
    // when it is shown (AddWarnings).
    void Note(EWarningKind kind, std::uint64_t line, std::string_view content,
              bool (*warns)(std::string_view), std::string (*warning)(std::string_view));
    // The same for a number that is surely stored otherwise than written, whose warning is never
    // "".
    void NoteNumber(EWarningKind kind, std::uint64_t line, std::string_view content,
                    std::string (*warning)(std::string_view));
    // Notes a warning of `kind` on `line` that `build()` gives, built only while it would be
    // shown.
    template <class TBuild>
    void NoteBuilt(EWarningKind kind, std::uint64_t line, TBuild build) {
        if (m_kinds[static_cast<std::size_t>(kind)].m_shown.size() < kShownPerKind) {
            Add(kind, {line, build()});
        } else {
            Count(kind, line, 1);
        }
    }
    // Notes a repeated record number.
    void NoteRepeated(std::uint64_t line, std::uint16_t number, std::uint64_t firstLine);
    // Appends the notes of the part that comes next, its lines counted on from `lineOffset`.
    void Append(const CValueNotes& part, std::uint64_t lineOffset);
    // Adds the warnings, shown and counted.
    void AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const;

  private:
    // A warning to show. A part converted on its own shows the first few of each kind, most of
    // which the whole conversion then only counts: a warning noted with Note is built from its
    // content only when it is shown.
    struct CShown {
        std::uint64_t m_nLine;
        std::string m_strWarning;  // while m_build is set, the content it is built from
        std::string (*m_build)(std::string_view) = nullptr;

        std::string Warning() const { return m_build ? m_build(m_strWarning) : m_strWarning; }
    };
    struct CKind {
        std::vector<CShown> m_shown;
        std::uint64_t m_nMore = 0;
        std::uint64_t m_nMoreLine = 0;
    };
    void Add(EWarningKind kind, CShown shown);
    void Count(EWarningKind kind, std::uint64_t line, std::uint64_t count);

    std::array<CKind, kWarningKinds> m_kinds;
};

// What the reading of groups notes: the tags and the values.
struct CGroupNotes {
    CTagNotes m_tags;
    CValueNotes m_values;
};

// The line on which each record number was first seen, for the warning of a number seen again.
class CRecordNumbers {
  public:
    // Notes record `number` on `line`; a repeated number is noted in `notes`.
    void See(std::uint16_t number, std::uint64_t line, CValueNotes& notes) {
        if (!m_firstLines) m_firstLines = std::make_unique<std::uint64_t[]>(65536);
        std::uint64_t& first = m_firstLines[number];
        if (first == 0) {
            first = line;
        } else {
            notes.NoteRepeated(line, number, first);
        }
    }

  private:
    std::unique_ptr<std::uint64_t[]> m_firstLines;  // 0: not seen
};

}  // namespace halvic
