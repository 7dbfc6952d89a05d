#include "bench/input_generator.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

namespace halvic::bench {

namespace {

constexpr std::string_view kWords[] = {
    "oak",      "chest",         "with",         "iron",        "bands",       "found",
    "in",       "the",           "vestry",       "lid",         "repaired",    "brass",
    "lectern",  "form",          "of",           "an",          "eagle",       "bell",
    "cast",     "cracked",       "second",       "recast",      "font",        "cover",
    "carved",   "and",           "painted",      "seventeenth", "century",     "pulpit",
    "panelled", "screen",        "chancel",      "nave",        "aisle",       "tower",
    "window",   "glass",         "stained",      "medieval",    "Victorian",   "restored",
    "by",       "churchwardens", "inscribed",    "dated",       "initials",    "maker",
    "unknown",  "silver",        "chalice",      "paten",       "flagon",      "pewter",
    "alms",     "dish",          "monument",     "tablet",      "marble",      "alabaster",
    "effigy",   "knight",        "lady",         "kneeling",    "figures",     "children",
    "shield",   "arms",          "crest",        "helm",        "hatchment",   "board",
    "painted",  "royal",         "commandments", "creed",       "benefaction", "coffer",
    "dug-out",  "bier",          "clock",        "mechanism",   "frame",       "ropes",
    "ringing",  "chamber",       "south",        "north",       "east",        "west",
    "wall",     "porch",         "door",         "hinges",      "strap",       "lock",
    "key",      "oak-grained",   "poor",         "box",         "table",       "rails",
    "turned",   "balusters",     "communion",    "chair",       "stool",       "bench",
    "ends",     "poppyheads",    "linenfold",    "fragments",   "reset",       "moved",
    "from",     "former",        "church",       "chapel",      "1611",        "1720",
    "c.1480",   "late",          "early",        "mid",         "good",        "fair",
    "worn",     "damaged",       "incomplete",   "see",         "also",        "notes",
    "plan",
};

constexpr std::string_view kNameParts[] = {
    "Ash",   "Bar",  "Brad",  "Brom", "Chil",  "Coln", "Dun", "East", "Elm",  "Fen",
    "Ford",  "Gold", "Ham",   "Hart", "Kings", "Lang", "Lit", "Long", "Mar",  "Mel",
    "Mid",   "New",  "North", "Old",  "Over",  "Pen",  "Red", "Ris",  "Sand", "Shep",
    "South", "Stan", "Stow",  "Sut",  "Thorn", "Up",   "Wal", "West", "Whit", "Wick",
    "Win",   "Wood", "Wor",   "Yar",  "Ab",    "Ald",  "Bin", "Cal",  "Dray", "Ever",
};

constexpr std::string_view kNameEnds[] = {
    "bury",  "borough", "bridge", "by",      "caster", "cester",  "combe", "cote",  "dale", "den",
    "don",   "field",   "ford",   "gate",    "ham",    "hampton", "hill",  "hurst", "ing",  "leigh",
    "ley",   "low",     "mere",   "minster", "moor",   "mouth",   "ness",  "over",  "port", "stead",
    "stock", "stoke",   "stone",  "stow",    "thorpe", "ton",     "well",  "wick",  "with", "worth",
};

constexpr std::string_view kQualifiers[] = {
    "St Mary", "St Peter", "St Andrew",   "St Michael", "All Saints",  "Holy Trinity",
    "St John", "St James", "St Nicholas", "St Giles",   "St Margaret", "Christ Church",
    "Survey",  "Visit",    "Report",      "Faculty",    "Terrier",     "Inventory",
};

// The letters a grid reference of the mainland starts with.
constexpr std::string_view kGridFirst = "HNOST";
constexpr std::string_view kGridSecond = "ABCDEFGHJKLMNOPQRSTUVWXYZ";
constexpr char kWeightSeparators[] = {'-', '-', '-', '-', '/', ':'};

template <typename T, std::size_t N>
constexpr std::size_t Count(const T (&)[N]) {
    return N;
}

}  // namespace

// Materials, dedications, places, items, conditions and sources: from a few hundred to tens of
// thousands of distinct texts, well below the 65535 a table holds.
const std::array<std::size_t, 6> CInputGenerator::kPoolSizes = {250, 4000, 40000, 1500, 300, 12000};

CInputGenerator::CInputGenerator(std::uint64_t seed) : m_nState(seed * 0x9E3779B97F4A7C15ULL + 1) {
    for (std::size_t table = 0; table < m_pools.size(); ++table) {
        std::vector<std::string>& pool = m_pools[table];
        std::unordered_set<std::string> seen;
        while (pool.size() < kPoolSizes[table]) {
            std::string text;
            switch (table) {
                case 0:  // material: one or two words
                case 3:  // item
                case 4:  // condition
                    text = kWords[Below(Count(kWords))];
                    text[0] = static_cast<char>(text[0] & ~0x20);
                    if (seen.size() >= 60 || Chance(50)) {
                        text += ' ';
                        text += kWords[Below(Count(kWords))];
                    }
                    if (seen.size() >= 8000) text += " " + std::to_string(Below(100));
                    break;
                case 1:  // dedication
                    text = std::string(kQualifiers[Below(6 + Below(6))]) + ", ";
                    [[fallthrough]];
                case 2:  // place
                    text += std::string(kNameParts[Below(Count(kNameParts))]) +
                            std::string(kNameEnds[Below(Count(kNameEnds))]);
                    if (seen.size() >= 1500 || Chance(30)) {
                        text += ' ';
                        text += kNameParts[Below(Count(kNameParts))];
                        text += kNameEnds[Below(Count(kNameEnds))];
                    }
                    if (seen.size() >= 20000) text += " " + std::to_string(1 + Below(9));
                    break;
                default:  // source: a kind and a year, sometimes a page
                    text = std::string(kQualifiers[12 + Below(6)]) + " " +
                           std::to_string(1850 + Below(170));
                    if (seen.size() >= 500) text += ", p. " + std::to_string(1 + Below(400));
                    break;
            }
            if (seen.insert(text).second) pool.push_back(std::move(text));
        }
    }
}

std::uint64_t CInputGenerator::Next() {
    // splitmix64
    std::uint64_t z = (m_nState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void CInputGenerator::AppendFreeText(std::string& out) {
    // Mostly a few lines; now and then a long description that spans several reading chunks.
    std::size_t length = Chance(2) ? 600 + Below(1400) : 40 + Below(320);
    std::size_t column = 0;
    std::size_t written = 0;
    bool first = true;
    while (written < length) {
        std::string_view word = kWords[Below(Count(kWords))];
        if (!first && column + 1 + word.size() > 64) {
            // Wrapped as a typist would: a long word is split at the line end with a hyphen.
            if (word.size() >= 6 && Chance(20)) {
                std::size_t cut = 2 + Below(word.size() - 4);
                out += ' ';
                out.append(word.substr(0, cut));
                out += "-\r\n";
                out.append(word.substr(cut));
                column = word.size() - cut;
            } else {
                out += "\r\n";
                out.append(word);
                column = word.size();
            }
        } else {
            if (!first) out += Chance(8) ? ", " : " ";
            out.append(word);
            column += word.size() + 1;
        }
        written += word.size() + 1;
        first = false;
    }
    out += Chance(60) ? "." : "";
}

void CInputGenerator::AppendGridRef(std::string& out) {
    out += kGridFirst[Below(kGridFirst.size())];
    out += kGridSecond[Below(kGridSecond.size())];
    std::size_t digits = Chance(95) ? 6 : 4;
    for (std::size_t i = 0; i < digits; ++i)
        out += static_cast<char>('0' + Below(10));
}

void CInputGenerator::AppendWeight(std::string& out) {
    char separator = kWeightSeparators[Below(Count(kWeightSeparators))];
    out += std::to_string(Below(40));
    out += separator;
    if (Chance(85)) {
        out += std::to_string(Below(4));
        out += separator;
    }
    out += std::to_string(Below(28));
}

void CInputGenerator::AppendRecord(std::string& out) {
    out += "<@>";
    out += std::to_string(++m_nRecord);
    out += "\r\n";
    if (Chance(98)) {
        out += "<l>";
        std::size_t start = out.size();
        AppendFreeText(out);
        m_nLargestContent = std::max(m_nLargestContent, out.size() - start);
        out += "\r\n";
    }
    if (Chance(85)) {
        out += "<g>";
        AppendGridRef(out);
        out += "\r\n";
    }
    if (Chance(70)) {
        out += "<t>";
        AppendWeight(out);
        out += "\r\n";
    }
    if (Chance(50)) {
        out += "<b>";
        out += std::to_string(1 + Below(20));
        out += "\r\n";
    }
    static constexpr unsigned kTablePercent[6] = {80, 60, 85, 90, 50, 70};
    static constexpr char kTableLetters[] = "manics";
    for (std::size_t table = 0; table < m_pools.size(); ++table) {
        if (!Chance(kTablePercent[table])) continue;
        // Skewed towards the front of the pool: common texts recur, rare ones still appear.
        const std::vector<std::string>& pool = m_pools[table];
        std::uint64_t r = Next() >> 11;
        double u = static_cast<double>(r) / static_cast<double>(1ULL << 53);
        auto index = static_cast<std::size_t>(u * u * static_cast<double>(pool.size()));
        out += '<';
        out += kTableLetters[table];
        out += '>';
        out += pool[index];
        out += "\r\n";
    }
}

std::string GenerateInput(std::uint64_t seed, std::size_t bytes) {
    CInputGenerator generator(seed);
    std::string out;
    out.reserve(bytes + 4096);
    while (out.size() < bytes)
        generator.AppendRecord(out);
    return out;
}

}  // namespace halvic::bench
