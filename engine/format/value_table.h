// Value tables: each distinct text of a field gets a small identifier, in order of first
// appearance, and the table file lists the texts in identifier order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
    // The same, with the text's Hash already known. Inline for the common case, a text seen
    // before in the slot where its look-up starts.
    std::uint16_t Intern(std::string_view text, std::uint64_t hash) {
        const CSlot& slot = m_slots[Place(hash)];
        if (slot.m_nWhere != 0 && Matches(slot, static_cast<std::uint32_t>(hash >> 32), text))
            return static_cast<std::uint16_t>(slot.m_nWhere);
        return InternSlowly(text, hash);
    }

    // Inline: a part hashes every table text it reads.
    static std::uint64_t Hash(std::string_view text);
    // Asks the processor to fetch the index slot where a look-up of `hash` starts; once that has
    // arrived, PrefetchText fetches the text it points to. Issued for many look-ups ahead of
    // time, the memory waits overlap instead of adding up.
    void PrefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&m_slots[Place(hash)]); }
    void PrefetchText(std::uint64_t hash) const {
        // The text of the first of the next few slots whose hash is the same: a text moved on by
        // one that took its slot first is fetched as well.
        const auto high = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t i = Place(hash), n = 0; n < kPrefetchReach; i = (i + 1) & m_nMask, ++n) {
            const CSlot& slot = m_slots[i];
            if (slot.m_nWhere == 0) return;
            if (slot.m_nHash == high) {
                __builtin_prefetch(m_strTexts.data() + (slot.m_nWhere >> 16));
                return;
            }
        }
    }
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
    // The slots PrefetchText looks through: those of the index slot's cache line, about.
    static constexpr std::size_t kPrefetchReach = 4;

    std::uint16_t InternSlowly(std::string_view text, std::uint64_t hash);
    // The slot where the look-up of `hash` starts. It is told by the hash's high half, which the
    // slots keep, so that growing the index needs no hash again.
    std::size_t Place(std::uint64_t hash) const { return (hash >> 32) & m_nMask; }
    // GCC's and clang's 128-bit integer, which standard C++ lacks.
    __extension__ typedef unsigned __int128 CUint128;
    // The 128-bit product of a and b, folded to 64 bits: one multiplication mixes every bit.
    static std::uint64_t Fold(std::uint64_t a, std::uint64_t b) {
        CUint128 product = static_cast<CUint128>(a) * b;
        return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
    }
    static constexpr std::uint64_t kK0 = 0xa0761d6478bd642fULL;
    static constexpr std::uint64_t kK1 = 0xe7037ed1a0b428dbULL;
    static constexpr std::uint64_t kK2 = 0x8ebc6af09c88c6e3ULL;

    static std::uint64_t Load64(const char* p) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        return word;
    }
    static std::uint32_t Load32(const char* p) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        return word;
    }
    // Whether two texts of `n` bytes are the same; short ones without a call.
    static bool SameBytes(const char* x, const char* y, std::size_t n) {
        if (n > 16) {
            for (std::size_t i = 0; i + 8 < n; i += 8) {
                if (Load64(x + i) != Load64(y + i)) return false;
            }
            return Load64(x + n - 8) == Load64(y + n - 8);
        }
        if (n >= 8) return ((Load64(x) ^ Load64(y)) | (Load64(x + n - 8) ^ Load64(y + n - 8))) == 0;
        if (n >= 4) return ((Load32(x) ^ Load32(y)) | (Load32(x + n - 4) ^ Load32(y + n - 4))) == 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (x[i] != y[i]) return false;
        }
        return true;
    }
    // Whether the text of `slot` is `text`, whose hash has the high half `hash`.
    bool Matches(const CSlot& slot, std::uint32_t hash, std::string_view text) const {
        if (slot.m_nHash != hash) return false;
        if (slot.m_nLength == kLongText)
            return Text(static_cast<std::uint16_t>(slot.m_nWhere)) == text;
        return slot.m_nLength == text.size() &&
               SameBytes(m_strTexts.data() + (slot.m_nWhere >> 16), text.data(), text.size());
    }
    void Grow();

    // The table file itself: every text and its zero byte, in identifier order.
    std::string m_strTexts;
    // Where text i+1 starts in m_strTexts; one more entry marks the end.
    std::vector<std::size_t> m_offsets;
    std::vector<CSlot> m_slots;  // a power of two, at most half full
    std::size_t m_nMask;         // m_slots.size() - 1
};

// The texts are short field values: up to 16 bytes are read as two overlapping words, with no
// loop and no call; longer texts take 16 bytes a round.
inline std::uint64_t CValueTable::Hash(std::string_view text) {
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

using CValueTables = std::array<CValueTable, kTableCount>;

// Writes table i into sinks[i], for i = 0 to 5.
void WriteTables(const CValueTables& tables, const std::array<CByteSink*, kTableCount>& sinks);

}  // namespace halvic
