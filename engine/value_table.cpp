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

CValueTable::CValueTable() : m_offsets{0}, m_slots(64, 0) {}

std::string_view CValueTable::Text(std::uint16_t id) const {
    std::size_t begin = m_offsets[id - 1];
    return std::string_view(m_strTexts).substr(begin, m_offsets[id] - begin - 1);
}

std::uint16_t CValueTable::Intern(std::string_view text) {
    std::uint64_t hash = HashText(text);
    std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        std::uint16_t id = m_slots[i];
        if (id == 0) {
            if (Count() == kMaxTexts) return 0;
            m_strTexts.append(text);
            m_strTexts.push_back('\0');
            m_offsets.push_back(m_strTexts.size());
            m_hashes.push_back(hash);
            id = static_cast<std::uint16_t>(Count());
            m_slots[i] = id;
            if (Count() * 2 > m_slots.size()) Grow();
            return id;
        }
        if (m_hashes[id - 1] == hash && Text(id) == text) return id;
    }
}

void CValueTable::Grow() {
    std::vector<std::uint16_t> slots(m_slots.size() * 2, 0);
    std::size_t mask = slots.size() - 1;
    for (std::size_t id = 1; id <= Count(); ++id) {
        std::size_t i = m_hashes[id - 1] & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = static_cast<std::uint16_t>(id);
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
