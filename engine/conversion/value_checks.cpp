#include "engine/conversion/value_checks.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "engine/conversion/notes.h"
#include "engine/format/decoders.h"
#include "engine/format/field_text.h"
#include "engine/format/record.h"

namespace halvic {

namespace {

// Bytes of a content quoted in a warning; a longer content is cut, shown with "...".
constexpr std::size_t kShownBytes = 40;

// The most a weight can be: 255 hundredweights, 255 quarters and 255 pounds.
constexpr std::uint64_t kHeaviest = 35955;

// A content as quoted in a warning, its bytes escaped as a tag's are.
std::string ShowContent(std::string_view content) {
    std::string shown = ShowTag(content.substr(0, kShownBytes), content.size() > kShownBytes);
    return shown.substr(1, shown.size() - 2);  // without the angle brackets
}

// What was written: "<g>SU 123 456".
std::string Written(char tag, std::string_view content) {
    return std::string("<") + tag + ">" + ShowContent(content);
}

std::string Joined(const std::vector<std::string>& reasons) {
    std::string joined;
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        if (i != 0) joined += ", and ";
        joined += reasons[i];
    }
    return joined;
}

char Upper(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}
char Lower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}
bool IsAsciiLetter(char ch) {
    return Upper(ch) >= 'A' && Upper(ch) <= 'Z';
}
bool IsBlank(char ch) {
    return static_cast<unsigned char>(ch) <= 0x20;
}

// The value of a run of digits, held at 10^12 when larger: far beyond any field, and no wrap.
std::uint64_t Value(std::string_view digits) {
    constexpr std::uint64_t kHeld = 1000000000000;
    std::uint64_t value = 0;
    for (char ch : digits) {
        value = value * 10 + static_cast<std::uint64_t>(ch - '0');
        if (value > kHeld) value = kHeld;
    }
    return value;
}

// --- Grid references ---

// A stored point as a person reads it: its grid reference, or its easting and northing when it
// lies outside the letter grid.
std::string ShowPoint(std::uint16_t easting, std::uint16_t northing) {
    if (easting == 0 && northing == 0) return "no grid reference (easting 0, northing 0)";
    std::string reference;
    if (GridReference(easting, northing, reference)) return reference;
    return "easting " + std::to_string(easting) + ", northing " + std::to_string(northing) +
           ", a point outside the letter grid";
}

// The plain form of a grid reference written with lower-case letters, with blanks or marks
// between the figures, or with 0, 2, 4, 8 or 10 figures, half of them the easting's: "su 12 34"
// gives "SU120340", "SU12345678" "SU123567". False when the content does not read as one.
bool ReadPlainGridRef(std::string_view content, char (&plain)[8]) {
    if (content.size() < 2) return false;
    plain[0] = Upper(content[0]);
    plain[1] = Upper(content[1]);
    if (!IsGridLetter(plain[0]) || !IsGridLetter(plain[1])) return false;
    char digits[10];
    std::size_t count = 0;
    for (char ch : content.substr(2)) {
        if (IsDigitByte(ch)) {
            if (count == 10) return false;
            digits[count++] = ch;
        } else if (IsAsciiLetter(ch)) {
            return false;
        }
    }
    if (count % 2 != 0) return false;
    const std::size_t half = count / 2;
    // A shorter reference names the south-west corner of its square; a longer one is cut to the
    // 100 m the record holds.
    for (std::size_t i = 0; i < 3; ++i) {
        plain[2 + i] = i < half ? digits[i] : '0';
        plain[5 + i] = i < half ? digits[half + i] : '0';
    }
    return true;
}

std::string PlainGridRef(std::string_view content) {
    char plain[8];
    return ReadPlainGridRef(content, plain) ? std::string(plain, 8) : std::string();
}

// Why the first two characters are not read as the grid letters they may be meant as; "" when
// they are grid letters.
std::string LetterReason(char first, char second) {
    if (IsGridLetter(first) && IsGridLetter(second)) return "";
    auto letterOrI = [](char ch) { return IsGridLetter(Upper(ch)) || Upper(ch) == 'I'; };
    if (!letterOrI(first) || !letterOrI(second)) return "it does not begin with two grid letters";
    if (Upper(first) == 'I' || Upper(second) == 'I') return "I is not a grid letter";
    return "lower-case letters are not grid letters";
}

// --- Weights ---

// What a person means by a weight's content, when that can be told.
struct CWeightMeaning {
    enum EKind : std::uint8_t { kUnknown, kPounds, kNumber };
    EKind m_eKind = kUnknown;
    std::uint64_t m_nPounds = 0;   // kPounds
    std::uint64_t m_nNumber = 0;   // kNumber: a number without a unit, pounds or hundredweights
    std::uint64_t m_nLargest = 0;  // kPounds: the largest of its parts
};

// Numbers separated by any of `separators`, with blanks around them: "12 - 2/14" gives 12, 2, 14
// and the separators "-/". False for anything else, an empty part included.
bool SplitParts(std::string_view content, std::string_view separators,
                std::vector<std::uint64_t>& parts) {
    std::size_t i = 0;
    const std::size_t size = content.size();
    for (;;) {
        while (i < size && content[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < size && IsDigitByte(content[i]))
            ++i;
        if (i == start) return false;
        parts.push_back(Value(content.substr(start, i - start)));
        while (i < size && content[i] == ' ')
            ++i;
        if (i == size) return true;
        if (separators.find(content[i]) == std::string_view::npos) return false;
        ++i;
    }
}

// A unit's name in pounds ("lb" 1, "cwt" 112); 0 for any other word.
std::uint64_t UnitPounds(std::string_view word) {
    static const struct {
        const char* m_szName;
        std::uint64_t m_nPounds;
    } kUnits[] = {
        {"lb", 1},
        {"lbs", 1},
        {"pound", 1},
        {"pounds", 1},
        {"st", 14},
        {"stone", 14},
        {"stones", 14},
        {"qr", 28},
        {"qrs", 28},
        {"qtr", 28},
        {"qtrs", 28},
        {"quarter", 28},
        {"quarters", 28},
        {"cwt", 112},
        {"cwts", 112},
        {"hundredweight", 112},
        {"hundredweights", 112},
    };
    std::string lower;
    for (char ch : word)
        lower.push_back(Lower(ch));
    for (const auto& unit : kUnits) {
        if (lower == unit.m_szName) return unit.m_nPounds;
    }
    return 0;
}

// Numbers each followed by a unit, "3 cwt 2 qr 14 lb", "14lb", each unit once: the pounds. False
// for anything else.
bool WeightInUnits(std::string_view content, std::uint64_t& pounds) {
    std::vector<std::uint64_t> units;
    std::size_t i = 0;
    const std::size_t size = content.size();
    pounds = 0;
    while (i < size) {
        const std::size_t digits = i;
        while (i < size && IsDigitByte(content[i]))
            ++i;
        if (i == digits) return false;
        const std::uint64_t number = Value(content.substr(digits, i - digits));
        while (i < size && content[i] == ' ')
            ++i;
        const std::size_t word = i;
        while (i < size && IsAsciiLetter(content[i]))
            ++i;
        const std::uint64_t unit = UnitPounds(content.substr(word, i - word));
        if (unit == 0) return false;
        for (std::uint64_t seen : units) {
            if (seen == unit) return false;
        }
        units.push_back(unit);
        pounds += number * unit;
        while (i < size && (content[i] == ' ' || content[i] == ','))
            ++i;
    }
    return !units.empty();
}

CWeightMeaning MeantWeight(std::string_view content) {
    CWeightMeaning meaning;
    std::vector<std::uint64_t> parts;
    const bool separated = content.find_first_of("-/:") != std::string_view::npos;
    // Hundredweights-quarters-pounds with any separators, or with dots when there is none.
    if (SplitParts(content, separated ? "-/:" : ".", parts) &&
        (parts.size() == 3 || (separated && parts.size() == 2))) {
        meaning.m_eKind = CWeightMeaning::kPounds;
        // With one separator the second part is pounds, as the conversion has always read it.
        meaning.m_nPounds = parts.size() == 3 ? 112 * parts[0] + 28 * parts[1] + parts[2]
                                              : 112 * parts[0] + parts[1];
        for (std::uint64_t part : parts)
            meaning.m_nLargest = std::max(meaning.m_nLargest, part);
        return meaning;
    }
    if (separated) return meaning;
    if (!content.empty() && std::all_of(content.begin(), content.end(), IsDigitByte)) {
        meaning.m_eKind = CWeightMeaning::kNumber;
        meaning.m_nNumber = Value(content);
        return meaning;
    }
    if (WeightInUnits(content, meaning.m_nPounds)) meaning.m_eKind = CWeightMeaning::kPounds;
    return meaning;
}

std::string ShowWeight(std::uint64_t pounds) {
    if (pounds == 0) return "0 lb";
    return std::to_string(pounds) + " lb (" + WeightInCwt(static_cast<std::uint16_t>(pounds)) + ")";
}

// "<t>2-2-20", with the pounds when the first part cannot carry them all.
std::string WeightToWrite(std::uint64_t pounds) {
    std::string content;
    WeightContent(static_cast<std::uint16_t>(pounds), content);
    std::string written = "<t>" + content;
    if (pounds / 112 > 255) written += " (" + WithThousands(pounds) + " lb, no part above 255)";
    return written;
}

// Whether a separator is followed by another or ends the content: "12--14", "12-2-".
bool HasEmptyPart(std::string_view content) {
    bool afterSeparator = false;
    for (char ch : content) {
        const bool separator = ch == '-' || ch == '/' || ch == ':';
        if (separator && afterSeparator) return true;
        if (ch != ' ') afterSeparator = separator;
    }
    return afterSeparator;
}

// Why the content is not read as meant. Only the first separator and the next one like it count.
std::string WeightReason(std::string_view content, const CWeightMeaning& meaning) {
    const std::size_t pos = content.find_first_of("-/:");
    if (pos == std::string_view::npos) return "a weight without a separator (- / or :) is 0";
    if (pos == 0) {
        return std::string("the leading ") + content[0] +
               " is read as a separator, not as a minus sign";
    }
    std::string separators;
    for (char ch : content) {
        if (ch == '-' || ch == '/' || ch == ':') separators.push_back(ch);
    }
    if (separators.size() > 2) return "it has more than three parts";
    if (separators.size() == 2 && separators[0] != separators[1]) {
        return "the second separator is not the first one again, so \"" +
               ShowContent(content.substr(pos + 1)) + "\" is read as pounds";
    }
    if (HasEmptyPart(content)) return "a part is empty and counts as 0";
    if (meaning.m_eKind == CWeightMeaning::kPounds && meaning.m_nLargest > 255)
        return "each part is kept to 8 bits, 0 to 255";
    return "characters other than digits and separators are skipped";
}

// `stored` is what the record keeps: with an empty part, its plain form is what was meant.
std::string WeightFix(std::string_view content, const CWeightMeaning& meaning,
                      std::uint16_t stored) {
    const std::string kLargest = "a weight is at most 35,955 lb (255-255-255)";
    if (meaning.m_eKind == CWeightMeaning::kPounds) {
        return meaning.m_nPounds > kHeaviest ? kLargest
                                             : "write " + WeightToWrite(meaning.m_nPounds);
    }
    if (meaning.m_eKind == CWeightMeaning::kNumber) {
        // A number alone may be pounds or hundredweights: both forms, as far as they fit.
        const std::uint64_t number = meaning.m_nNumber;
        const std::string shown = std::to_string(number);
        if (number > kHeaviest) return kLargest;
        std::string fix = "write " + WeightToWrite(number) + " for " + shown + " lb";
        if (112 * number <= kHeaviest)
            fix += " or " + WeightToWrite(112 * number) + " for " + shown + " cwt";
        return fix;
    }
    if (content.find_first_of("-/:") != 0 && HasEmptyPart(content))
        return "write " + WeightToWrite(stored);
    // A weight followed by its unit, "2-1-7 lb": the same without the unit.
    const std::size_t letter =
        std::find_if(content.begin(), content.end(), IsAsciiLetter) - content.begin();
    std::string_view bare = content.substr(0, letter);
    while (!bare.empty() && IsBlank(bare.back()))
        bare.remove_suffix(1);
    if (letter < content.size() && WeightAsWritten(bare)) return "write <t>" + std::string(bare);
    return "write hundredweights-quarters-pounds, as in <t>12-2-14";
}

// --- Numbers ---

// The warning of a number field: `stored` is what the record keeps of `content`, `largest` the
// most it can hold, `what` names the field.
std::string NumberWarning(char tag, std::string_view content, std::uint32_t stored,
                          std::uint32_t largest, const std::string& what, int bits) {
    // The record reads digits up to the first byte of 0x80 or above, skipping every other byte.
    std::size_t end = 0;
    while (end < content.size() && static_cast<signed char>(content[end]) > 0)
        ++end;
    std::string digits;
    for (char ch : content.substr(0, end)) {
        if (IsDigitByte(ch)) digits.push_back(ch);
    }
    const bool others = !std::all_of(content.begin(), content.end(), IsDigitByte);
    const bool digitsLater =
        std::any_of(content.begin() + static_cast<std::ptrdiff_t>(end), content.end(), IsDigitByte);

    std::vector<std::string> reasons;
    if (others && digits.empty() && !digitsLater) {
        reasons.push_back("it holds no digit");
    } else if (others) {
        reasons.push_back("characters other than digits are skipped");
    }
    if (digitsLater) {
        reasons.push_back("the digits after the byte " + ShowContent(content.substr(end, 1)) +
                          " are not read");
    }
    if (Value(digits) > largest) {
        reasons.push_back(what + " is kept to " + std::to_string(bits) + " bits, so " +
                          std::to_string(largest) + " is the largest");
    }
    if (reasons.empty()) return "";
    std::string warning =
        Written(tag, content) + " is stored as " + std::to_string(stored) + ": " + Joined(reasons);
    if (others) warning += "; write " + what + " as digits alone";
    return warning;
}

// --- Tags ---

// Whether `tag` selects a field or starts a record.
bool IsKnownTag(std::string_view tag) {
    return tag == "@" || (!tag.empty() && ChooseField(tag).m_eKind != CFieldChoice::kNone);
}

// The tags a mistyped one is compared with: "@", the fields' letters and the pieces of "manics".
const std::vector<std::string>& KnownTags() {
    static const std::vector<std::string> kKnown = [] {
        std::vector<std::string> known = {"@", "l", "b", "g", "t"};
        for (std::size_t length = 1; length <= kTableLetters.size(); ++length) {
            for (std::size_t start = 0; start + length <= kTableLetters.size(); ++start)
                known.emplace_back(kTableLetters.substr(start, length));
        }
        return known;
    }();
    return kKnown;
}

// Whether one byte inserted, left out or replaced turns `a` into `b`.
bool OneEditApart(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 1) return false;
    std::size_t i = 0;
    while (i < a.size() && a[i] == b[i])
        ++i;
    if (a.size() == b.size()) return i < a.size() && a.substr(i + 1) == b.substr(i + 1);
    return a.substr(i) == b.substr(i + 1);
}

std::string_view Trimmed(std::string_view tag) {
    while (!tag.empty() && IsBlank(tag.front()))
        tag.remove_prefix(1);
    while (!tag.empty() && IsBlank(tag.back()))
        tag.remove_suffix(1);
    return tag;
}

// "</l>": a field written as if it had to be closed.
bool IsClosingTag(std::string_view tag) {
    if (tag.size() < 2 || tag[0] != '/') return false;
    std::string lower;
    for (char ch : tag.substr(1))
        lower.push_back(Lower(ch));
    return IsKnownTag(lower);
}

// What the record keeps when the tag meant as `meant` changed nothing.
std::string KeptField(const std::string& meant) {
    const CFieldChoice choice = ChooseField(meant);
    switch (choice.m_eKind) {
        case CFieldChoice::kText:
            return "its text";
        case CFieldChoice::kBValue:
            return "its <b> value";
        case CFieldChoice::kGridRef:
            return "its grid reference";
        case CFieldChoice::kWeight:
            return "its weight";
        case CFieldChoice::kTable:
            return std::string("its <") + kTableLetters[choice.m_nTable] + "> value";
        default:
            return "its values";
    }
}

}  // namespace

bool GridRefWarns(std::string_view content) {
    if (content.empty()) return false;
    char plain[8];
    if (!ReadPlainGridRef(content, plain)) return true;
    std::uint16_t easting = 0;
    std::uint16_t northing = 0;
    ParseGridRef(content, easting, northing);
    std::uint16_t meantEasting = 0;
    std::uint16_t meantNorthing = 0;
    ParseGridRef(std::string_view(plain, 8), meantEasting, meantNorthing);
    return meantEasting != easting || meantNorthing != northing;
}

std::string GridRefWarning(std::string_view content) {
    if (!GridRefWarns(content)) return "";
    std::uint16_t easting = 0;
    std::uint16_t northing = 0;
    ParseGridRef(content, easting, northing);
    const std::string plain = PlainGridRef(content);
    std::vector<std::string> reasons;
    if (content.size() < 2) {
        reasons.push_back("it is too short to hold two grid letters");
    } else {
        std::string letters = LetterReason(content[0], content[1]);
        if (!letters.empty()) reasons.push_back(letters);
        bool figures = content.size() == 8;
        for (std::size_t i = 2; figures && i < 8; ++i)
            figures = IsDigitByte(content[i]);
        if (!figures && content.size() >= 6) {
            reasons.push_back("the figures are read from its last six characters, \"" +
                              ShowContent(content.substr(content.size() - 6)) + "\"");
        } else if (!figures) {
            reasons.push_back("the figures are read from all of it, \"" + ShowContent(content) +
                              "\"");
        }
    }
    return Written('g', content) + " is stored as " + ShowPoint(easting, northing) + ": " +
           Joined(reasons) + "; " +
           (plain.empty() ? "write two grid letters and six figures, as in <g>SU123456"
                          : "write <g>" + plain);
}

namespace {

// Whether `content`, which means the pounds it is stored as, is of two parts read as
// hundredweights and pounds, the second not 0: `parts` then holds them.
bool TwoPartsAsCwtAndPounds(std::string_view content, std::vector<std::uint64_t>& parts) {
    return SplitParts(content, "-/:", parts) && parts.size() == 2 && parts[1] != 0;
}

// Reads `content` when it is two runs of at most three digits with a separator between them, the
// form of most weights that are not written as stored: false for any other.
bool TwoShortParts(std::string_view content, unsigned& first, unsigned& second) {
    std::size_t i = 0;
    unsigned* values[] = {&first, &second};
    for (unsigned* value : values) {
        const std::size_t start = i;
        *value = 0;
        for (; i < content.size() && IsDigitByte(content[i]) && i - start < 3; ++i)
            *value = *value * 10 + static_cast<unsigned>(content[i] - '0');
        if (i == start) return false;
        if (value == &first) {
            if (i == content.size()) return false;
            const char separator = content[i++];
            if (separator != '-' && separator != '/' && separator != ':') return false;
        }
    }
    return i == content.size();
}

}  // namespace

bool WeightWarns(std::string_view content) {
    if (content.empty()) return false;
    unsigned first = 0;
    unsigned second = 0;
    // Read as hundredweights and pounds: as meant only when there are no pounds, and the
    // hundredweights fit their 8 bits.
    if (TwoShortParts(content, first, second)) return second != 0 || first > 255;
    const std::uint16_t stored = ParseWeight(content);
    const CWeightMeaning meaning = MeantWeight(content);
    if (meaning.m_eKind == CWeightMeaning::kPounds && meaning.m_nPounds == stored) {
        std::vector<std::uint64_t> parts;
        return TwoPartsAsCwtAndPounds(content, parts);
    }
    return !(meaning.m_eKind == CWeightMeaning::kNumber && meaning.m_nNumber == 0 && stored == 0);
}

std::string WeightWarning(std::string_view content) {
    if (!WeightWarns(content)) return "";
    const std::uint16_t stored = ParseWeight(content);
    const CWeightMeaning meaning = MeantWeight(content);
    std::vector<std::uint64_t> parts;
    if (meaning.m_eKind == CWeightMeaning::kPounds && meaning.m_nPounds == stored &&
        TwoPartsAsCwtAndPounds(content, parts)) {
        const std::string cwt = std::to_string(parts[0]);
        const std::string second = std::to_string(parts[1]);
        return Written('t', content) + " is stored as " + ShowWeight(stored) +
               ": a weight of two parts is read as hundredweights and pounds; write <t>" + cwt +
               "-0-" + second + " for " + cwt + " cwt " + second + " lb, or <t>" + cwt + "-" +
               second + "-0 for " + cwt + " cwt " + second + " qr";
    }
    return Written('t', content) + " is stored as " + ShowWeight(stored) + ": " +
           WeightReason(content, meaning) + "; " + WeightFix(content, meaning, stored);
}

std::string RecordNumberWarning(std::string_view content) {
    // As the record takes it: ParseDigits kept to 16 bits.
    if (content.empty()) {
        return "<@> is stored as 0: it holds no digit; write a record number as digits alone";
    }
    const auto stored = static_cast<std::uint16_t>(ParseDigits(content));
    return NumberWarning('@', content, stored, 65535, "a record number", 16);
}

std::string ByteValueWarning(std::string_view content) {
    const auto stored = static_cast<std::uint8_t>(ParseDigits(content));
    return NumberWarning('b', content, stored, 255, "a <b> value", 8);
}

std::string SuggestTag(std::string_view tag) {
    const std::string_view trimmed = Trimmed(tag);
    // A long tag is no slip of one key; "/l" is a closing tag, not a mistyped <l>.
    if (trimmed.empty() || trimmed.size() > kTableLetters.size() + 1 || trimmed[0] == '/')
        return "";
    std::string lower;
    for (char ch : trimmed)
        lower.push_back(Lower(ch));
    if (IsKnownTag(lower)) return lower;
    // A digit one for a letter l, which many fonts draw alike.
    std::string lookalike = lower;
    std::replace(lookalike.begin(), lookalike.end(), '1', 'l');
    if (IsKnownTag(lookalike)) return lookalike;
    // One letter tags first: the pieces of "manics" longer than a letter are seldom meant.
    std::string letter;
    std::string piece;
    int letters = 0;
    int pieces = 0;
    for (const std::string& known : KnownTags()) {
        if (!OneEditApart(lower, known)) continue;
        if (known.size() == 1) {
            letter = known;
            ++letters;
        } else {
            piece = known;
            ++pieces;
        }
    }
    if (letters == 1) return letter;
    if (letters == 0 && pieces == 1) return piece;
    return "";
}

std::string UnknownTagWarning(std::string_view tag, bool cut) {
    const std::string shown = "tag " + ShowTag(tag, cut) + " selects no field";
    if (!cut && IsClosingTag(tag)) {
        return shown +
               ", so no field changed; a field needs no closing tag: its content runs up "
               "to the next tag";
    }
    const std::string meant = cut ? "" : SuggestTag(tag);
    if (meant.empty() && TagHoldsBlank(tag)) return BlankTagWarning(tag, cut);
    if (meant == "@") {
        return shown +
               ", so no record begins there: the tags after it change the record before; did you "
               "mean <@>?";
    }
    if (meant.empty())
        return shown + ", so no field changed: the record keeps its values from before";
    return shown + ", so no field changed: the record keeps " + KeptField(meant) +
           " from before; did you mean <" + meant + ">?";
}

std::string BlankTagWarning(std::string_view tag, bool cut) {
    const char* blank = "a space";
    if (tag.find_first_of("\r\n") != std::string_view::npos) {
        blank = "a line break";
    } else if (tag.find('\t') != std::string_view::npos) {
        blank = "a tab";
    } else if (tag.find(' ') == std::string_view::npos) {
        blank = "a control character";
    }
    std::string warning = "tag " + ShowTag(tag, cut) + " holds " + blank +
                          ", so it is probably a < inside a content: the content before it was "
                          "cut at the <, and the bytes up to the next > were read as this tag";
    // Bytes up to the next ">" may hold a tag of the input, which is then lost with its content.
    std::string inner;
    const std::size_t open = tag.rfind('<');
    if (!cut && open != std::string_view::npos) inner = tag.substr(open + 1);
    if (inner == "@") {
        warning += ", so the <@> among them was lost and no record begins there";
    } else if (IsKnownTag(inner)) {
        warning += ", so the <" + inner + "> among them was lost with its content";
    } else {
        warning += ", whose content was ignored";
    }
    return warning + "; a content cannot hold a <: write it another way, such as \"less than\"";
}

std::string RepeatedNumberWarning(std::uint16_t number, std::uint64_t firstLine) {
    return "record number " + std::to_string(number) + " again, first at line " +
           std::to_string(firstLine) + "; each record with it is stored";
}

std::string MoreWarnings(EWarningKind kind, std::uint64_t count) {
    // By kind, in the order of EWarningKind: one more case, and more than one.
    static const struct {
        const char* m_szOne;
        const char* m_szMore;
    } kCases[] = {
        {" more grid reference is stored otherwise than written",
         " more grid references are stored otherwise than written"},
        {" more weight is stored otherwise than written",
         " more weights are stored otherwise than written"},
        {" more record number is stored otherwise than written",
         " more record numbers are stored otherwise than written"},
        {" more <b> value is stored otherwise than written",
         " more <b> values are stored otherwise than written"},
        {" more tag selects no field and changed nothing",
         " more tags select no field and changed nothing"},
        {" more record number repeats an earlier one",
         " more record numbers repeat an earlier one"},
        {" more character that Windows-1252 lacks is stored as \"?\"",
         " more characters that Windows-1252 lacks are stored as \"?\""},
        {" more sequence that is not valid UTF-8 is stored as \"?\"",
         " more sequences that are not valid UTF-8 are stored as \"?\""},
        {" more byte of a UTF-16 file of odd length is stored as \"?\"",
         " more bytes of a UTF-16 file of odd length are stored as \"?\""},
        {" more half of a UTF-16 surrogate pair is stored as \"?\"",
         " more halves of UTF-16 surrogate pairs are stored as \"?\""},
    };
    const auto& cases = kCases[static_cast<std::size_t>(kind)];
    std::string warning =
        WithThousands(count) + (count == 1 ? std::string(cases.m_szOne) + ", here"
                                           : std::string(cases.m_szMore) + ", the first here");
    if (kind == EWarningKind::kUnknownTag) {
        warning +=
            "; only the first " + std::to_string(CTagNotes::kListed) + " distinct ones are listed";
    }
    return warning;
}

namespace {

std::string CodePointName(std::uint32_t codePoint) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
    return name;
}

std::string HexBytes(const unsigned char* bytes, std::size_t count) {
    std::string shown;
    for (std::size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        shown += hex;
    }
    return shown;
}

}  // namespace

EWarningKind DecodingWarningKind(const CDecodingFault& fault) {
    return static_cast<EWarningKind>(static_cast<std::size_t>(EWarningKind::kUnmappable) +
                                     fault.m_eKind);
}

std::string DecodingWarning(const CDecodingFault& fault) {
    const std::string stored = " stored as \"?\"";
    switch (fault.m_eKind) {
        case CDecodingFault::kUnmappable: {
            std::string character = CodePointName(fault.m_nCodePoint);
            // A control character would be invisible, or worse, in a terminal.
            if (fault.m_nCodePoint >= 0xA0) {
                character.push_back(' ');
                AppendUtf8(character, fault.m_nCodePoint);
            }
            return character + " is" + stored +
                   ": Windows-1252, the files' text encoding, has no such character";
        }
        case CDecodingFault::kInvalidUtf8:
            return (fault.m_nBytes == 1 ? "byte " : "bytes ") +
                   HexBytes(fault.m_bytes, fault.m_nBytes) +
                   (fault.m_nBytes == 1 ? " is" : " are") + " not valid UTF-8 and" +
                   (fault.m_nBytes == 1 ? " is" : " are") + stored;
        case CDecodingFault::kOddLength:
            return "the last byte, " + HexBytes(fault.m_bytes, 1) +
                   ", is half a UTF-16 character (the file's length is odd) and is" + stored;
        case CDecodingFault::kLoneSurrogate:
            return CodePointName(fault.m_nCodePoint) +
                   " is half of a UTF-16 surrogate pair without its other half and is" + stored;
    }
    return {};
}

std::string Utf8LookAlikeWarning(std::string_view text) {
    // What a program reading Windows-1252 shows of `text`'s bytes, and of what decoding it stores.
    auto shown = [](std::string_view bytes) {
        std::string out;
        for (char ch : bytes) {
            auto byte = static_cast<unsigned char>(ch);
            std::uint32_t code = FromWindows1252(byte);
            if (code >= 0x80 && code < 0xA0) {
                out += "\\x" + HexBytes(&byte, 1);
            } else {
                AppendUtf8(out, code);
            }
        }
        return out;
    };
    std::string decoded(text.size() + CInputDecoder::kSlack, '\0');
    CInputDecoder decoder(EInputEncoding::kUtf8, nullptr);
    auto* out = reinterpret_cast<unsigned char*>(&decoded[0]);
    std::size_t n =
        decoder.Decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out);
    decoded.resize(n + decoder.Finish(out + n));
    return "\"" + std::string(text) +
           "\" looks like UTF-8: its bytes are stored as they are, so a program reading "
           "Windows-1252 shows \"" +
           shown(text) +
           "\"; convert with --from utf-8 (or save the file as UTF-8 with BOM) to store \"" +
           shown(decoded) + "\"";
}

}  // namespace halvic
