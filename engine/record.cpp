#include "engine/record.h"

#include "engine/decoders.h"
#include "engine/error.h"

namespace halvic {

namespace {

unsigned char Code(char letter, unsigned kind) {
    return static_cast<unsigned char>((static_cast<unsigned char>(letter) & 0x1F) + kind);
}

constexpr unsigned kWordKind = 0x20;
constexpr unsigned kLongKind = 0x40;
constexpr unsigned kTextKind = 0x60;
constexpr unsigned char kIdArrayCode = 0xA4;
constexpr unsigned char kEndOfRecord = 0x00;

void PutLittleEndian(CByteSink& sink, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        sink.Put(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

void WriteByteField(CByteSink& sink, char letter, std::uint8_t value) {
    if (value == 0) return;
    sink.Put(Code(letter, 0));
    sink.Put(value);
}

void WriteWordField(CByteSink& sink, char letter, std::uint16_t value) {
    if (value == 0) return;
    if (value < 256) {
        WriteByteField(sink, letter, static_cast<std::uint8_t>(value));
        return;
    }
    sink.Put(Code(letter, kWordKind));
    PutLittleEndian(sink, value, 2);
}

void WriteLongField(CByteSink& sink, char letter, std::int32_t value) {
    if (value == 0) return;
    // A signed comparison: a negative value takes the word form with its low 16 bits.
    if (value < 65536) {
        WriteWordField(sink, letter, static_cast<std::uint16_t>(value));
        return;
    }
    sink.Put(Code(letter, kLongKind));
    PutLittleEndian(sink, static_cast<std::uint32_t>(value), 4);
}

void WriteTextField(CByteSink& sink, char letter, std::string_view text) {
    if (text.empty()) return;
    sink.Put(Code(letter, kTextKind));
    WriteTerminatedText(sink, text);
}

void WriteTerminatedText(CByteSink& sink, std::string_view text) {
    sink.Write(text);
    sink.Put(0);
}

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

void CRecord::Write(CByteSink& sink, std::string_view textNow) const {
    WriteLongField(sink, '_', number);
    WriteTextField(sink, 'l', textNow);
    WriteByteField(sink, 'b', bValue);
    WriteWordField(sink, 't', weight);
    WriteWordField(sink, 'e', easting);
    WriteWordField(sink, 'n', northing);
    sink.Put(kIdArrayCode);
    sink.Put(static_cast<unsigned char>(tableIds.size()));
    for (std::uint16_t id : tableIds)
        PutLittleEndian(sink, id, 2);
    sink.Put(kEndOfRecord);
}

namespace {

// What each one-letter tag selects: one look-up for the tags of almost every pair.
constexpr std::array<CFieldChoice, 256> OneLetterChoices() {
    std::array<CFieldChoice, 256> choices = {};
    choices['l'] = {CFieldChoice::kText};
    choices['b'] = {CFieldChoice::kBValue};
    choices['g'] = {CFieldChoice::kGridRef};
    choices['t'] = {CFieldChoice::kWeight};
    for (std::size_t i = 0; i < kTableCount; ++i) {
        choices[static_cast<unsigned char>(kTableLetters[i])] = {CFieldChoice::kTable,
                                                                 static_cast<std::uint8_t>(i)};
    }
    return choices;
}

constexpr std::array<CFieldChoice, 256> kOneLetterChoices = OneLetterChoices();

}  // namespace

CFieldChoice ChooseField(std::string_view tag) {
    if (tag.size() == 1) return kOneLetterChoices[static_cast<unsigned char>(tag[0])];
    std::string_view::size_type i = kTableLetters.find(tag);
    if (i == std::string_view::npos) return {CFieldChoice::kNone};
    return {CFieldChoice::kTable, static_cast<std::uint8_t>(i)};
}

CFailure TableFullFailure(const std::string& inputName, std::uint64_t line, std::size_t table) {
    return CFailure({inputName, line,
                     std::string("table ") + kTableLetters[table] +
                         " is full: it holds 65535 distinct texts, the most a table can hold"});
}

void CRecord::SetField(CFieldChoice choice, std::string_view content) {
    switch (choice.m_eKind) {
        case CFieldChoice::kText:
            text.assign(content);
            break;
        case CFieldChoice::kBValue:
            bValue = static_cast<std::uint8_t>(ParseDigits(content));
            break;
        case CFieldChoice::kGridRef:
            ParseGridRef(content, easting, northing);
            break;
        case CFieldChoice::kWeight:
            weight = ParseWeight(content);
            break;
        default:
            break;
    }
}

void CRecord::ReadFields(std::int32_t newNumber, CTagFile& reader, CValueTables& tables,
                         CTagNotes& notes) {
    number = static_cast<std::uint16_t>(newNumber);
    std::string_view tag;
    std::string_view content;
    // At the end of the input the tag is empty, which ends the record like an empty tag.
    reader.ReadTag(tag, content);
    while (tag != "@" && !tag.empty()) {
        CFieldChoice choice = ChooseField(tag);
        if (choice.m_eKind == CFieldChoice::kTable) {
            std::uint16_t id = tables[choice.m_nTable].Intern(content);
            if (id == 0) throw TableFullFailure(reader.Name(), reader.TagLine(), choice.m_nTable);
            tableIds[choice.m_nTable] = id;
        } else if (choice.m_eKind == CFieldChoice::kNone) {
            notes.Note(tag, reader.TagCut(), reader.TagLine());
        } else {
            SetField(choice, content);
        }
        reader.ReadTag(tag, content);
    }
    if (tag == "@") reader.m_bPushedBack = 1;
}

}  // namespace halvic
