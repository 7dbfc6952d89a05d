#include "engine/format/value_table.h"

namespace halvic {

CValueTable::CValueTable() : m_offsets{0}, m_slots(64), m_nMask(63) {}

std::string_view CValueTable::Text(std::uint16_t id) const {
    std::size_t begin = m_offsets[id - 1];
    return std::string_view(m_strTexts).substr(begin, m_offsets[id] - begin - 1);
}

std::uint16_t CValueTable::InternSlowly(std::string_view text, std::uint64_t hash) {
    auto high = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t i = Place(hash);; i = (i + 1) & m_nMask) {
        CSlot& slot = m_slots[i];
        if (slot.m_nWhere == 0) {
            if (Count() == kMaxTexts) return 0;
            auto id = static_cast<std::uint16_t>(Count() + 1);
            slot.m_nWhere = static_cast<std::uint64_t>(m_strTexts.size()) << 16 | id;
            slot.m_nHash = high;
            slot.m_nLength =
                text.size() < kLongText ? static_cast<std::uint32_t>(text.size()) : kLongText;
            m_strTexts.append(text);
            m_strTexts.push_back('\0');
            m_offsets.push_back(m_strTexts.size());
            if (Count() * 2 > m_slots.size()) Grow();
            return id;
        }
        if (Matches(slot, high, text)) return static_cast<std::uint16_t>(slot.m_nWhere);
    }
}

void CValueTable::Grow() {
    std::vector<CSlot> slots(m_slots.size() * 2);
    std::size_t mask = slots.size() - 1;
    for (const CSlot& slot : m_slots) {
        if (slot.m_nWhere == 0) continue;
        std::size_t i = slot.m_nHash & mask;
        while (slots[i].m_nWhere != 0)
            i = (i + 1) & mask;
        slots[i] = slot;
    }
    m_slots.swap(slots);
    m_nMask = mask;
}

void CValueTable::WriteTable(CByteSink& sink) const {
    sink.Write(m_strTexts);
}

std::string TableFileName(std::size_t table) {
    std::string name = "qxx.qxd";
    name[2] = kTableLetters[table];
    return name;
}

void WriteTables(const CValueTables& tables, const std::array<CByteSink*, kTableCount>& sinks) {
    for (std::size_t i = 0; i < kTableCount; ++i)
        tables[i].WriteTable(*sinks[i]);
}

}  // namespace halvic
