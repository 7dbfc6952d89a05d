// Value tables: each distinct text of a field gets a small identifier, in order of first
// appearance, and the table file lists the texts in identifier order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/format/record_format.h"
#include "engine/io/byte_stream.h"

namespace halvic {

class CValueTable {
  public:
    // Identifiers are 16-bit and 0 means "no value", so this many texts fill a table.
    static constexpr std::size_t kMaxTexts = 65535;

    CValueTable();

    // The identifier of `text` (exact, case-sensitive), giving it the next one if it is new.
    // Returns 0 when the text is new and the table is full.
    std::uint16_t Intern(std::string_view text) { return Intern(text, Hash(text)); }
    // The same, with the text's Hash already known.
    std::uint16_t Intern(std::string_view text, std::uint64_t hash);

    static std::uint64_t Hash(std::string_view text);
    // Asks the processor to fetch the index slot where a look-up of `hash` starts; once that has
    // arrived, PrefetchText fetches the text it points to. Issued for many look-ups ahead of
    // time, the memory waits overlap instead of adding up.
    void PrefetchSlot(std::uint64_t hash) const;
    void PrefetchText(std::uint64_t hash) const;
    // Writes the texts in identifier order, each followed by a zero byte.
    void WriteTable(CByteSink& sink) const;

    std::size_t Count() const { return m_offsets.size() - 1; }
    // The text of identifier `id`, 1 to Count().
    std::string_view Text(std::uint16_t id) const;

  private:
    // One slot of the open-addressing index. It holds all a look-up needs but the text itself, so
    // that a repeated text costs one cache line of the index and one of the texts.
    struct CSlot {
        // Where the text starts in m_strTexts (shifted left 16 bits) and its identifier (the low 16
        // bits; 0 is an empty slot). Offsets fit in 48 bits, as every address does.
        std::uint64_t m_nWhere = 0;
        std::uint32_t m_nHash = 0;    // the high half of the text's hash
        std::uint32_t m_nLength = 0;  // kLongText for a text that long or longer
    };
    static constexpr std::uint32_t kLongText = 0xFFFFFFFF;

    bool Matches(const CSlot& slot, std::uint32_t hash, std::string_view text) const;
    void Grow();

    // The table file itself: every text and its zero byte, in identifier order.
    std::string m_strTexts;
    // Where text i+1 starts in m_strTexts; one more entry marks the end.
    std::vector<std::size_t> m_offsets;
    std::vector<CSlot> m_slots;  // a power of two, at most half full
};

using CValueTables = std::array<CValueTable, kTableCount>;

// Writes table i into sinks[i], for i = 0 to 5.
void WriteTables(const CValueTables& tables, const std::array<CByteSink*, kTableCount>& sinks);

}  // namespace halvic
