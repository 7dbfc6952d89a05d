#include "engine/format/record.h"

#include <cstring>

#include "engine/format/record_format.h"
#include "engine/io/error.h"

namespace halvic {

unsigned char* PutByteField(unsigned char* out, char letter, std::uint8_t value) {
    if (value == 0) return out;
    *out++ = FieldCode(letter, kByteKind);
    *out++ = value;
    return out;
}

unsigned char* PutWordField(unsigned char* out, char letter, std::uint16_t value) {
    if (value < 256) return PutByteField(out, letter, static_cast<std::uint8_t>(value));
    *out++ = FieldCode(letter, kWordKind);
    *out++ = static_cast<unsigned char>(value & 0xFF);
    *out++ = static_cast<unsigned char>(value >> 8);
    return out;
}

unsigned char* PutLongField(unsigned char* out, char letter, std::int32_t value) {
    // A signed comparison: a negative value takes the word form with its low 16 bits.
    if (value < 65536) return PutWordField(out, letter, static_cast<std::uint16_t>(value));
    *out++ = FieldCode(letter, kLongKind);
    for (int i = 0; i < 4; ++i)
        *out++ = static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * i));
    return out;
}

void WriteByteField(CByteSink& sink, char letter, std::uint8_t value) {
    unsigned char field[kLongFieldBytes];
    sink.Write(field, static_cast<std::size_t>(PutByteField(field, letter, value) - field));
}

void WriteWordField(CByteSink& sink, char letter, std::uint16_t value) {
    unsigned char field[kLongFieldBytes];
    sink.Write(field, static_cast<std::size_t>(PutWordField(field, letter, value) - field));
}

void WriteLongField(CByteSink& sink, char letter, std::int32_t value) {
    unsigned char field[kLongFieldBytes];
    sink.Write(field, static_cast<std::size_t>(PutLongField(field, letter, value) - field));
}

void WriteTextField(CByteSink& sink, char letter, std::string_view text) {
    if (text.empty()) return;
    sink.Put(FieldCode(letter, kTextKind));
    WriteTerminatedText(sink, text);
}

void WriteTerminatedText(CByteSink& sink, std::string_view text) {
    sink.Write(text);
    sink.Put(0);
}

unsigned char* PutRecordHead(unsigned char* p, const CRecord& record, bool hasText) {
    p = PutLongField(p, kNumberLetter, record.m_nNumber);
    if (hasText) *p++ = FieldCode(kTextLetter, kTextKind);
    return p;
}

namespace {

// PutByteField and PutWordField where there is room for the longest form: all its bytes are
// written, and the length is worked out rather than branched on, since whether a value is zero or
// fits a byte changes from record to record, which the processor cannot foresee.
unsigned char* PutByteFieldInRoom(unsigned char* out, char letter, std::uint8_t value) {
    out[0] = FieldCode(letter, kByteKind);
    out[1] = value;
    return out + (value != 0 ? 2 : 0);
}

unsigned char* PutWordFieldInRoom(unsigned char* out, char letter, std::uint16_t value) {
    const unsigned word = value > 0xFF ? 1 : 0;
    out[0] = static_cast<unsigned char>(FieldCode(letter, kByteKind) + word * kWordKind);
    out[1] = static_cast<unsigned char>(value & 0xFF);
    out[2] = static_cast<unsigned char>(value >> 8);
    return out + (value != 0 ? 2 + word : 0);
}

}  // namespace

unsigned char* PutRecordTail(unsigned char* p, const CRecord& record, bool hasText) {
    if (hasText) *p++ = 0;
    p = PutByteFieldInRoom(p, kBValueLetter, record.m_nBValue);
    p = PutWordFieldInRoom(p, kWeightLetter, record.m_nWeight);
    p = PutWordFieldInRoom(p, kEastingLetter, record.m_nEasting);
    p = PutWordFieldInRoom(p, kNorthingLetter, record.m_nNorthing);
    *p++ = kIdArrayCode;
    *p++ = static_cast<unsigned char>(kTableCount);
    p = PutTableIds(p, record.m_tableIds);
    *p++ = kEndOfRecord;
    return p;
}

void WriteRecord(CByteSink& sink, const CRecord& record, std::string_view text) {
    // The fields before the text and those after it are put together first: a record then takes
    // three writes into the sink rather than one call a byte.
    unsigned char head[kLongFieldBytes + 1];
    sink.Write(head, static_cast<std::size_t>(PutRecordHead(head, record, !text.empty()) - head));
    if (!text.empty()) sink.Write(text);
    unsigned char tail[kRecordBytesBesidesText - kLongFieldBytes - 1];
    sink.Write(tail, static_cast<std::size_t>(PutRecordTail(tail, record, !text.empty()) - tail));
}

unsigned char* PutRecord(unsigned char* out, const CRecord& record, std::string_view text) {
    out = PutRecordHead(out, record, !text.empty());
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    return PutRecordTail(out + text.size(), record, !text.empty());
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

}  // namespace

const std::array<CFieldChoice, 256> kOneLetterChoices = OneLetterChoices();

CFieldChoice ChooseLongerField(std::string_view tag) {
    std::string_view::size_type i = kTableLetters.find(tag);
    if (i == std::string_view::npos) return {CFieldChoice::kNone};
    return {CFieldChoice::kTable, static_cast<std::uint8_t>(i)};
}

CFailure TableFullFailure(const std::string& inputName, std::uint64_t line, std::size_t table) {
    return CFailure({inputName, line,
                     std::string("table ") + kTableLetters[table] +
                         " is full: it holds 65535 distinct texts, the most a table can hold"});
}

}  // namespace halvic
