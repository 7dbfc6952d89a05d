#include "engine/format/output_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/format/value_table.h"

namespace halvic {

namespace {

// The fields of a record in the order the writer puts them.
enum EField : int { kNumber, kText, kBValue, kWeight, kEasting, kNorthing, kIdentifiers };
const char* const kFieldNames[] = {"number",  "text",     "bValue",          "weight",
                                   "easting", "northing", "identifier array"};

constexpr std::size_t kIdBytes = kIdArrayBytes - 1;  // the count, then the identifiers

struct CCode {
    EField m_field = kNumber;
    int m_nWidth = 0;  // value bytes; 0 for a text and the identifier array
    bool m_bKnown = false;
};

// What each code byte a record can hold stands for (the end byte aside), built from the layout
// the writer follows: numbers, weights, eastings and northings are written in one or two bytes
// (a number is 16 bits, so never in four), a b value in one, the text as a text.
constexpr std::array<CCode, 256> CodeTable() {
    std::array<CCode, 256> codes = {};
    struct CField {
        char m_letter;
        EField m_field;
        bool m_bWord;
    };
    constexpr CField kNumeric[] = {{kNumberLetter, kNumber, true},
                                   {kBValueLetter, kBValue, false},
                                   {kWeightLetter, kWeight, true},
                                   {kEastingLetter, kEasting, true},
                                   {kNorthingLetter, kNorthing, true}};
    for (const CField& field : kNumeric) {
        codes[FieldCode(field.m_letter, kByteKind)] = {field.m_field, 1, true};
        if (field.m_bWord) codes[FieldCode(field.m_letter, kWordKind)] = {field.m_field, 2, true};
    }
    codes[FieldCode(kTextLetter, kTextKind)] = {kText, 0, true};
    codes[kIdArrayCode] = {kIdentifiers, 0, true};
    return codes;
}

constexpr std::array<CCode, 256> kCodes = CodeTable();

// The codes a record can hold (the end byte aside); false for every other byte.
bool LookUpCode(unsigned char code, CCode& found) {
    found = kCodes[code];
    return found.m_bKnown;
}

std::string HexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string Texts(std::size_t count) {
    if (count == 0) return "no texts";
    return count == 1 ? "1 text" : std::to_string(count) + " texts";
}

std::string Bytes(std::size_t count) {
    return count == 1 ? "1 byte" : std::to_string(count) + " bytes";
}

std::string OffsetReason(std::size_t offset, const std::string& reason) {
    return "offset " + std::to_string(offset) + ": " + reason;
}

// The texts of a table read so far, looked up by their hash: an open-addressing index of their
// positions, which stay valid as the vector of texts grows and moves them. It holds the high half
// of each text's hash, which places it, so that growing never hashes a text again.
class CSeenTexts {
  public:
    explicit CSeenTexts(const CTableTexts& texts) : m_texts(texts) {}

    // Whether the text at `index` repeats one before it; if so, `first` is that one's index.
    bool Repeats(std::size_t index, std::size_t& first) {
        if (2 * (m_nCount + 1) > m_slots.size()) Grow();
        const std::string& text = m_texts[index];
        const auto high = static_cast<std::uint32_t>(CValueTable::Hash(text) >> 32);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t at = high & mask;; at = (at + 1) & mask) {
            const std::uint64_t slot = m_slots[at];
            if (slot == 0) {
                m_slots[at] = Slot(high, index);
                ++m_nCount;
                return false;
            }
            if (static_cast<std::uint32_t>(slot >> 32) == high && m_texts[Index(slot)] == text) {
                first = Index(slot);
                return true;
            }
        }
    }

  private:
    // The high half of the hash, then the index + 1 (0 is an empty slot).
    static std::uint64_t Slot(std::uint32_t high, std::size_t index) {
        return static_cast<std::uint64_t>(high) << 32 | (index + 1);
    }
    static std::size_t Index(std::uint64_t slot) {
        return static_cast<std::size_t>(static_cast<std::uint32_t>(slot)) - 1;
    }

    void Grow() {
        std::vector<std::uint64_t> old(std::max<std::size_t>(64, 2 * m_slots.size()));
        old.swap(m_slots);
        const std::size_t mask = m_slots.size() - 1;
        for (std::uint64_t slot : old) {
            if (slot == 0) continue;
            std::size_t at = static_cast<std::uint32_t>(slot >> 32) & mask;
            while (m_slots[at] != 0)
                at = (at + 1) & mask;
            m_slots[at] = slot;
        }
    }

    const CTableTexts& m_texts;
    std::vector<std::uint64_t> m_slots;  // a power of two, at most half full
    std::size_t m_nCount = 0;
};

// A text at least this long, its zero byte not yet read, is read by ReadLongText.
constexpr std::size_t kLongText = std::size_t{1} << 16;

enum class ELongText { kRead, kCannotSeek, kNoZero, kChanged };

// Reads on a text that goes on past what has been read of its file: `source` stands at `from`,
// `text` holds the text's bytes before it, none of them 0. Finds the text's zero byte first,
// reading on without keeping what it reads, then goes back and reads the rest into `text` at its
// final size: memory holds the text once, where a buffer grown to hold it would hold it twice and
// copy it at each step. kRead leaves the source at the zero byte, which is at `zeroAt`; kNoZero is
// the end of the file before one; kChanged is a file that changed meanwhile (another program
// writing into it); kCannotSeek a source that only goes forward, which has read nothing then.
// Throws CFailure when the source cannot be read.
ELongText ReadLongText(CByteSource& source, std::uint64_t from, std::string& text,
                       std::uint64_t& zeroAt) {
    if (!source.Seek(from)) return ELongText::kCannotSeek;
    unsigned char block[1 << 16];
    zeroAt = from;
    for (;;) {
        const std::size_t n = source.Read(block, sizeof block);
        if (n == 0) return ELongText::kNoZero;
        const void* zero = std::memchr(block, 0, n);
        if (zero != nullptr) {
            zeroAt += static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - block);
            break;
        }
        zeroAt += n;
    }
    const std::size_t held = text.size();
    const std::uint64_t length = held + (zeroAt - from);
    if (length > text.max_size()) throw std::bad_alloc();
    text.reserve(static_cast<std::size_t>(length));
    text.resize(static_cast<std::size_t>(length));
    source.Seek(from);
    for (std::size_t got = held; got < text.size();) {
        const std::size_t n =
            source.Read(reinterpret_cast<unsigned char*>(&text[got]), text.size() - got);
        if (n == 0) return ELongText::kChanged;
        got += n;
    }
    if (std::memchr(text.data() + held, 0, text.size() - held) != nullptr) {
        return ELongText::kChanged;
    }
    return ELongText::kRead;
}

const char* const kChangedWhileRead = "the file changed while it was being read";
const char* const kTextCutShort =
    "text field cut short by the end of the file: its zero byte is missing";

unsigned ReadLittleEndian(const unsigned char* bytes, int width) {
    unsigned value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

COutputFile::~COutputFile() {
    if (m_file != kNoFile) CloseFile(m_file);
}

bool COutputFile::Open(const std::string& path, CError& error) {
    m_strName = path;
    bool notRegular = false;
    CFileHandle file = OpenRegularFile(path, notRegular, error);
    if (file == kNoFile) {
        if (notRegular) error = {path, 0, "not a regular file; a conversion writes regular files"};
        return false;
    }
    if (m_file != kNoFile) CloseFile(m_file);
    m_file = file;
    return true;
}

std::size_t COutputFile::Read(unsigned char* buffer, std::size_t capacity) {
    return ReadFromFile(m_file, buffer, capacity, m_strName);
}

bool COutputFile::Seek(std::uint64_t offset) {
    SeekFile(m_file, offset, m_strName);
    return true;
}

bool ReadTableFile(CByteSource& source, const std::string& name, CTableTexts& texts,
                   CError& error) {
    texts.clear();
    std::string text;          // the text being read
    bool inText = false;       // a byte of it has been read
    std::uint64_t offset = 0;  // of the block
    std::uint64_t begin = 0;   // of the text being read
    unsigned char block[1 << 16];
    CSeenTexts seen(texts);
    try {
        for (;;) {
            std::size_t n = source.Read(block, sizeof block);
            if (n == 0) break;
            bool movedOn = false;  // a long text was read on past the block
            for (std::size_t at = 0; at < n;) {
                if (!inText) {
                    begin = offset + at;
                    // Not read past: a table holds no more texts, whatever follows.
                    if (texts.size() == CValueTable::kMaxTexts) {
                        error = {name, 0,
                                 OffsetReason(begin, "text " + std::to_string(texts.size() + 1) +
                                                         " is one too many: a table holds at "
                                                         "most " +
                                                         std::to_string(CValueTable::kMaxTexts) +
                                                         " texts")};
                        return false;
                    }
                    inText = true;
                }
                const void* zero = std::memchr(block + at, 0, n - at);
                std::size_t end =
                    zero == nullptr
                        ? n
                        : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - block);
                text.append(reinterpret_cast<const char*>(block + at), end - at);
                if (zero == nullptr) {
                    if (text.size() < kLongText) break;
                    std::uint64_t zeroAt = 0;
                    ELongText read = ReadLongText(source, offset + n, text, zeroAt);
                    if (read == ELongText::kCannotSeek) break;
                    if (read == ELongText::kChanged) {
                        error = {name, 0, OffsetReason(begin, kChangedWhileRead)};
                        return false;
                    }
                    // The end of the file, with no zero byte: reported below as it is for a
                    // short text.
                    if (read == ELongText::kNoZero) break;
                    // The source stands at the zero byte, which the next block begins with.
                    offset = zeroAt;
                    movedOn = true;
                    break;
                }
                texts.push_back(std::move(text));
                text.clear();
                inText = false;
                at = end + 1;
                // A conversion stores each text once and gives its uses one identifier.
                std::size_t first = 0;
                if (seen.Repeats(texts.size() - 1, first)) {
                    error = {name, 0,
                             OffsetReason(begin, "text " + std::to_string(texts.size()) +
                                                     " repeats text " + std::to_string(first + 1) +
                                                     ": a table holds each text once")};
                    texts.pop_back();
                    return false;
                }
            }
            if (!movedOn) offset += n;
        }
    } catch (const CFailure& failure) {
        error = failure.Error();
        return false;
    }
    if (inText) {
        error = {name, 0,
                 OffsetReason(begin, "text " + std::to_string(texts.size() + 1) +
                                         " cut short by the end of the file: its zero byte is "
                                         "missing")};
        return false;
    }
    return true;
}

std::array<std::size_t, kTableCount> TableSizes(const COutputTables& tables) {
    std::array<std::size_t, kTableCount> sizes;
    for (std::size_t i = 0; i < kTableCount; ++i)
        sizes[i] = tables[i].size();
    return sizes;
}

CRecordFileReader::CRecordFileReader(CByteSource& source, std::string name,
                                     const std::array<std::size_t, kTableCount>& tableSizes,
                                     std::size_t block)
    : m_pSource(&source),
      m_nBlock(block == 0 ? 1 : block),
      m_strName(std::move(name)),
      m_tableSizes(tableSizes) {}

bool CRecordFileReader::MoveTo(std::uint64_t offset, std::size_t block) {
    m_nBlock = block == 0 ? 1 : block;
    if (offset >= m_nBase && offset - m_nBase <= m_bytes.size()) {
        // Within what is buffered: nothing to read again.
        m_nOffset = static_cast<std::size_t>(offset - m_nBase);
        return true;
    }
    if (!m_pSource->Seek(offset)) return false;
    m_bAfterLongText = false;
    EmptyBuffer(offset);
    return true;
}

void CRecordFileReader::EmptyBuffer(std::uint64_t offset) {
    m_strBuffer.clear();
    m_bytes = {};
    m_nBase = offset;
    m_nOffset = 0;
    m_bAtEnd = false;
}

CRecordFileReader::EStep CRecordFileReader::Fail(std::size_t offset, const std::string& reason) {
    return FailAt(m_nBase + offset, reason);
}

CRecordFileReader::EStep CRecordFileReader::FailAt(std::uint64_t offset,
                                                   const std::string& reason) {
    m_bFailed = true;
    m_bAfterLongText = false;
    m_error = {m_strName, 0, OffsetReason(offset, reason)};
    return kFault;
}

bool CRecordFileReader::ReadMore() {
    // The records read are dropped; the one being read stays, and at least as many bytes as it
    // has are read after it, so that a long record is read again only a few times.
    m_strBuffer.erase(0, m_nOffset);
    m_nBase += m_nOffset;
    m_nOffset = 0;
    std::size_t held = m_strBuffer.size();
    std::size_t want = std::max(held, m_nBlock);
    m_strBuffer.resize(held + want);
    std::size_t got = 0;
    try {
        while (got < want) {
            std::size_t n = m_pSource->Read(
                reinterpret_cast<unsigned char*>(&m_strBuffer[held + got]), want - got);
            if (n == 0) {
                m_bAtEnd = true;
                break;
            }
            got += n;
        }
    } catch (...) {
        m_strBuffer.resize(held + got);
        m_bytes = m_strBuffer;
        throw;
    }
    m_strBuffer.resize(held + got);
    m_bytes = m_strBuffer;
    return got != 0;
}

bool CRecordFileReader::Next(CRecord& record) {
    if (m_bFailed) return false;
    try {
        for (;;) {
            if (!m_bAfterLongText && m_nOffset == m_bytes.size() && (m_bAtEnd || !ReadMore()))
                return false;
            EStep step = Parse(record);
            if (step != kMore) return step == kRecord;
            ReadMore();
        }
    } catch (const CFailure& failure) {
        m_bFailed = true;
        m_error = failure.Error();
        return false;
    }
}

CRecordFileReader::EStep CRecordFileReader::Parse(CRecord& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_bytes.data());
    const std::size_t size = m_bytes.size();
    std::size_t at = m_nOffset;
    int last = -1;  // the field read last
    if (m_bAfterLongText) {
        // The record's text is in `record` already; its zero byte is where the reading goes on.
        if (at == size) {
            if (!m_bAtEnd) return kMore;
            return FailAt(m_nLongTextAt, kChangedWhileRead);
        }
        if (bytes[at] != 0) return FailAt(m_nLongTextAt, kChangedWhileRead);
        ++at;
        last = kText;
    } else {
        record = CRecord();
    }
    for (;;) {
        if (at == size) {
            if (!m_bAtEnd) return kMore;
            return Fail(at, "the file ends inside a record, before its identifier array");
        }
        const std::size_t fieldAt = at;
        const unsigned char code = bytes[at++];
        if (code == kEndOfRecord) return Fail(fieldAt, "record ends without its identifier array");
        CCode found;
        if (!LookUpCode(code, found)) return Fail(fieldAt, "unknown code byte " + HexByte(code));
        const char* name = kFieldNames[found.m_field];
        if (found.m_field == last) {
            return Fail(fieldAt, std::string("second ") + name + " field in one record");
        }
        if (found.m_field < last) {
            return Fail(fieldAt, std::string(name) + " field after the " + kFieldNames[last] +
                                     " field; a record holds its fields in the order number, "
                                     "text, bValue, weight, easting, northing");
        }
        last = found.m_field;

        if (found.m_field == kText) {
            std::size_t end = m_bytes.find('\0', at);
            if (end == std::string_view::npos) {
                if (!m_bAtEnd)
                    return size - at < m_nBlock ? kMore : ReadLongText(record, fieldAt, at);
                return Fail(fieldAt, kTextCutShort);
            }
            if (end == at) return Fail(fieldAt, "text field is empty; an empty text is left out");
            record.m_strText.assign(m_bytes.substr(at, end - at));
            at = end + 1;
            continue;
        }

        const std::size_t width =
            found.m_field == kIdentifiers ? kIdBytes : static_cast<std::size_t>(found.m_nWidth);
        // A wrong count is the fault even when fewer bytes follow than six identifiers need.
        if (found.m_field == kIdentifiers && at < size && bytes[at] != kTableCount) {
            return Fail(at, "identifier array count is " + std::to_string(bytes[at]) +
                                ", expected " + std::to_string(kTableCount));
        }
        if (size - at < width) {
            if (!m_bAtEnd) return kMore;
            std::string what = found.m_field == kIdentifiers ? name : std::string(name) + " field";
            return Fail(fieldAt, what + " cut short by the end of the file: " + Bytes(width) +
                                     " expected after the code byte, " + Bytes(size - at) +
                                     " present");
        }
        if (found.m_field != kIdentifiers) {
            const unsigned value = ReadLittleEndian(bytes + at, found.m_nWidth);
            if (value == 0) {
                return Fail(fieldAt,
                            std::string(name) + " field holds 0; a zero field is left out");
            }
            if (found.m_nWidth == 2 && value < 256) {
                return Fail(fieldAt, std::string(name) + " field holds " + std::to_string(value) +
                                         " in 2 bytes; a value below 256 takes the 1-byte form");
            }
            switch (found.m_field) {
                case kNumber:
                    record.m_nNumber = static_cast<std::uint16_t>(value);
                    break;
                case kBValue:
                    record.m_nBValue = static_cast<std::uint8_t>(value);
                    break;
                case kWeight:
                    record.m_nWeight = static_cast<std::uint16_t>(value);
                    break;
                case kEasting:
                    record.m_nEasting = static_cast<std::uint16_t>(value);
                    break;
                case kNorthing:
                    record.m_nNorthing = static_cast<std::uint16_t>(value);
                    break;
                default:
                    break;
            }
            at += width;
            continue;
        }

        // The identifier array, which ends every record.
        for (std::size_t i = 0; i < kTableCount; ++i) {
            const std::size_t idAt = at + 1 + 2 * i;
            const unsigned id = ReadLittleEndian(bytes + idAt, 2);
            if (id > m_tableSizes[i]) {
                return Fail(idAt, "identifier " + std::to_string(id) + " of table " +
                                      kTableLetters[i] + " is beyond the end of " +
                                      TableFileName(i) + ", which holds " + Texts(m_tableSizes[i]));
            }
            record.m_tableIds[i] = static_cast<std::uint16_t>(id);
        }
        at += width;
        if (at == size) {
            if (!m_bAtEnd) return kMore;
            return Fail(at,
                        "expected the end byte 0x00 after the identifier array, found the end "
                        "of the file");
        }
        if (bytes[at] != kEndOfRecord) {
            return Fail(at, "expected the end byte 0x00 after the identifier array, found " +
                                HexByte(bytes[at]));
        }
        m_nOffset = at + 1;
        m_bAfterLongText = false;
        return kRecord;
    }
}

CRecordFileReader::EStep CRecordFileReader::ReadLongText(CRecord& record, std::size_t fieldAt,
                                                         std::size_t at) {
    record.m_strText.assign(m_bytes.substr(at));
    std::uint64_t zeroAt = 0;
    switch (halvic::ReadLongText(*m_pSource, m_nBase + m_bytes.size(), record.m_strText, zeroAt)) {
        case ELongText::kCannotSeek:
            record.m_strText.clear();
            return kMore;  // the buffer grows to hold the record
        case ELongText::kNoZero:
            return Fail(fieldAt, kTextCutShort);
        case ELongText::kChanged:
            return Fail(fieldAt, kChangedWhileRead);
        case ELongText::kRead:
            break;
    }
    // The rest of the record is read from the text's zero byte on.
    m_nLongTextAt = m_nBase + fieldAt;
    m_bAfterLongText = true;
    EmptyBuffer(zeroAt);
    return kMore;
}

}  // namespace halvic
