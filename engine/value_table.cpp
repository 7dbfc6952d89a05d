#include "engine/value_table.h"

#include <cstring>

namespace halvic {

namespace {

std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

// A fast hash over 8-byte words; the texts are short field values, so the tail matters as much as
// the body.
std::uint64_t HashText(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ (n * 0xC2B2AE3D27D4EB4FULL);
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ Mix(word)) * 0x9E3779B97F4A7C15ULL;
        p += 8;
        n -= 8;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = (h ^ Mix(tail ^ n)) * 0x9E3779B97F4A7C15ULL;
    return Mix(h);
}

}  // namespace

CValueTable::CValueTable() : m_offsets{0}, m_slots(64) {}

std::string_view CValueTable::Text(std::uint16_t id) const {
    std::size_t begin = m_offsets[id - 1];
    return std::string_view(m_strTexts).substr(begin, m_offsets[id] - begin - 1);
}

bool CValueTable::Matches(const CSlot& slot, std::uint32_t hash, std::string_view text) const {
    if (slot.m_nHash != hash) return false;
    if (slot.m_nLength == kLongText) return Text(static_cast<std::uint16_t>(slot.m_nWhere)) == text;
    return slot.m_nLength == text.size() &&
           std::memcmp(m_strTexts.data() + (slot.m_nWhere >> 16), text.data(), text.size()) == 0;
}

std::uint64_t CValueTable::Hash(std::string_view text) {
    return HashText(text);
}

void CValueTable::PrefetchSlot(std::uint64_t hash) const {
    __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
}

void CValueTable::PrefetchText(std::uint64_t hash) const {
    const CSlot& slot = m_slots[hash & (m_slots.size() - 1)];
    if (slot.m_nWhere != 0) __builtin_prefetch(m_strTexts.data() + (slot.m_nWhere >> 16));
}

std::uint16_t CValueTable::Intern(std::string_view text, std::uint64_t hash) {
    auto high = static_cast<std::uint32_t>(hash >> 32);
    std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
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
        // The slot keeps only the hash's high half: hash the text again for its position.
        auto id = static_cast<std::uint16_t>(slot.m_nWhere);
        std::size_t i = HashText(Text(id)) & mask;
        while (slots[i].m_nWhere != 0)
            i = (i + 1) & mask;
        slots[i] = slot;
    }
    m_slots.swap(slots);
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
