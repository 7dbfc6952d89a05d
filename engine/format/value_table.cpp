#include "engine/format/value_table.h"

namespace halvic {

namespace {

// GCC's and clang's 128-bit integer, which standard C++ lacks.
__extension__ typedef unsigned __int128 CUint128;

// The 128-bit product of a and b, folded to 64 bits: one multiplication mixes every bit.
std::uint64_t Fold(std::uint64_t a, std::uint64_t b) {
    CUint128 product = static_cast<CUint128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

constexpr std::uint64_t kK0 = 0xa0761d6478bd642fULL;
constexpr std::uint64_t kK1 = 0xe7037ed1a0b428dbULL;
constexpr std::uint64_t kK2 = 0x8ebc6af09c88c6e3ULL;

}  // namespace

CValueTable::CValueTable() : m_offsets{0}, m_slots(64), m_nMask(63) {}

std::string_view CValueTable::Text(std::uint16_t id) const {
    std::size_t begin = m_offsets[id - 1];
    return std::string_view(m_strTexts).substr(begin, m_offsets[id] - begin - 1);
}

// The texts are short field values: up to 16 bytes are read as two overlapping words, with no
// loop and no call; longer texts take 16 bytes a round.
std::uint64_t CValueTable::Hash(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t seed = kK0 ^ (n * kK2);
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (n > 16) {
        const char* end = p + n;
        for (; end - p > 16; p += 16)
            seed = Fold(Load64(p) ^ kK1, Load64(p + 8) ^ seed);
        a = Load64(end - 16);
        b = Load64(end - 8);
    } else if (n >= 8) {
        a = Load64(p);
        b = Load64(p + n - 8);
    } else if (n >= 4) {
        a = Load32(p);
        b = Load32(p + n - 4);
    } else if (n > 0) {
        a = static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
            static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
            static_cast<unsigned char>(p[n - 1]);
    }
    return Fold(a ^ kK1 ^ seed, b ^ kK2) ^ seed;
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
