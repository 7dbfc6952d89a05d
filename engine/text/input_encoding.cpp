#include "engine/text/input_encoding.h"

#include <algorithm>
#include <cstring>

namespace halvic {

namespace {

// Windows-1252 from 0x80 to 0x9F; the five undefined bytes are the controls of their number.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool SameName(std::string_view a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char ch = a[i];
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != b[i]) return false;
    }
    return true;
}

// The first byte of a UTF-8 sequence of two or more: how many bytes follow, and the range of the
// first of them (Unicode's table of well-formed sequences: no overlong form, no surrogate, nothing
// past U+10FFFF). 0 for a byte that begins no sequence.
std::uint8_t Utf8Lead(unsigned char byte, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) return 1;
    if (byte >= 0xE0 && byte <= 0xEF) {
        if (byte == 0xE0) low = 0xA0;
        if (byte == 0xED) high = 0x9F;
        return 2;
    }
    if (byte >= 0xF0 && byte <= 0xF4) {
        if (byte == 0xF0) low = 0x90;
        if (byte == 0xF4) high = 0x8F;
        return 3;
    }
    return 0;
}

// Whether the eight bytes at `p` are all below 0x80.
bool AsciiWord(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & 0x8080808080808080u) == 0;
}

// The first byte at or above 0x80 from `p`, or a little before it, or `end`.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) {
    // A loop simple enough to become vector instructions, over blocks long enough to pay for
    // gathering its result.
    while (end - p >= 256) {
        unsigned char any = 0;
        for (std::size_t k = 0; k < 256; ++k)
            any = static_cast<unsigned char>(any | p[k]);
        if ((any & 0x80) != 0) break;
        p += 256;
    }
    while (end - p >= 32) {
        std::uint64_t words[4];
        std::memcpy(words, p, 32);
        if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080u) != 0) break;
        p += 32;
    }
    while (end - p >= 8 && AsciiWord(p))
        p += 8;
    return p;
}

// Whether the machine keeps a number's lowest byte first.
const bool kLittleEndianMachine = [] {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}();

// The line feeds among eight bytes, all below 0x80, in a word: a byte is 0 after the xor exactly
// when it was one, and then alone keeps its high bit clear after the add. Counted in the word the
// bytes were read into or put together in, not read back from memory just written.
std::uint64_t LineFeeds(std::uint64_t word) {
    const std::uint64_t lows = 0x7F7F7F7F7F7F7F7Fu;
    word ^= 0x0A0A0A0A0A0A0A0Au;
    std::uint64_t zeros = ~(((word & lows) + lows) | word | lows);
    std::uint64_t count = 0;
    for (; zeros != 0; zeros &= zeros - 1)
        ++count;
    return count;
}

}  // namespace

bool ParseInputEncoding(std::string_view name, EInputEncoding& encoding) {
    static const struct {
        const char* m_szName;
        EInputEncoding m_eEncoding;
    } kNames[] = {
        {"bytes", EInputEncoding::kBytes},         {"utf-8", EInputEncoding::kUtf8},
        {"utf8", EInputEncoding::kUtf8},           {"utf-16", EInputEncoding::kUtf16LE},
        {"utf16", EInputEncoding::kUtf16LE},       {"utf-16le", EInputEncoding::kUtf16LE},
        {"utf-16be", EInputEncoding::kUtf16BE},    {"cp1252", EInputEncoding::kCp1252},
        {"windows-1252", EInputEncoding::kCp1252}, {"latin1", EInputEncoding::kLatin1},
        {"latin-1", EInputEncoding::kLatin1},      {"iso-8859-1", EInputEncoding::kLatin1},
    };
    for (const auto& known : kNames) {
        if (SameName(name, known.m_szName)) {
            encoding = known.m_eEncoding;
            return true;
        }
    }
    return false;
}

const char* InputEncodingName(EInputEncoding encoding) {
    switch (encoding) {
        case EInputEncoding::kAsMarked:
        case EInputEncoding::kBytes:
            return "bytes";
        case EInputEncoding::kCp1252:
            return "Windows-1252";
        case EInputEncoding::kLatin1:
            return "Latin-1";
        case EInputEncoding::kUtf8:
            return "UTF-8";
        case EInputEncoding::kUtf16LE:
            return "UTF-16LE";
        case EInputEncoding::kUtf16BE:
            return "UTF-16BE";
    }
    return "bytes";
}

EInputEncoding ByteOrderMark(std::string_view bytes, std::size_t& markLength) {
    markLength = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        markLength = 3;
        return EInputEncoding::kUtf8;
    }
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        markLength = 2;
        return EInputEncoding::kUtf16LE;
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        markLength = 2;
        return EInputEncoding::kUtf16BE;
    }
    return EInputEncoding::kBytes;
}

EInputEncoding ChooseEncoding(EInputEncoding declared, std::string_view start,
                              std::size_t& markLength) {
    markLength = 0;
    switch (declared) {
        case EInputEncoding::kAsMarked:
        case EInputEncoding::kUtf8:
        case EInputEncoding::kUtf16LE:
        case EInputEncoding::kUtf16BE: {
            EInputEncoding marked = ByteOrderMark(start, markLength);
            if (marked != EInputEncoding::kBytes) return marked;
            return declared == EInputEncoding::kAsMarked ? EInputEncoding::kBytes : declared;
        }
        default:
            return declared;
    }
}

int ToWindows1252(std::uint32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<int>(codePoint);
    if (codePoint > 0xFFFF) return -1;
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == codePoint) return 0x80 + i;
    }
    return -1;
}

std::uint32_t FromWindows1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | codePoint >> 6));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | codePoint >> 12));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | codePoint >> 18));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

void AppendUtf16(std::string& out, std::uint32_t codePoint, bool bigEndian) {
    auto unit = [&](std::uint32_t value) {
        char low = static_cast<char>(value & 0xFF);
        char high = static_cast<char>(value >> 8);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    };
    if (codePoint < 0x10000) {
        unit(codePoint);
    } else {
        codePoint -= 0x10000;
        unit(0xD800 | codePoint >> 10);
        unit(0xDC00 | (codePoint & 0x3FF));
    }
}

CInputDecoder::CInputDecoder(EInputEncoding encoding,
                             std::function<void(const CDecodingFault&)> onFault)
    : m_eEncoding(encoding), m_onFault(std::move(onFault)) {}

void CInputDecoder::Fault(CDecodingFault fault, unsigned char*& out) {
    fault.m_nLine = m_nLines + 1;
    if (m_onFault) m_onFault(fault);
    *out++ = '?';
}

void CInputDecoder::Put(std::uint32_t codePoint, unsigned char*& out) {
    int byte = ToWindows1252(codePoint);
    if (byte >= 0) {
        *out++ = static_cast<unsigned char>(byte);
    } else {
        CDecodingFault fault{CDecodingFault::kUnmappable};
        fault.m_nCodePoint = codePoint;
        Fault(fault, out);
    }
}

std::size_t CInputDecoder::Decode(const unsigned char* in, std::size_t size, unsigned char* out) {
    std::size_t written = 0;
    switch (m_eEncoding) {
        case EInputEncoding::kUtf8:
            written = DecodeUtf8(in, size, out);
            break;
        case EInputEncoding::kUtf16LE:
        case EInputEncoding::kUtf16BE:
            written = DecodeUtf16(in, size, out);
            break;
        case EInputEncoding::kLatin1:
            written = DecodeLatin1(in, size, out);
            break;
        default:
            std::memcpy(out, in, size);
            written = size;
            break;
    }
    return written;
}

std::size_t CInputDecoder::DecodeUtf8(const unsigned char* in, std::size_t size,
                                      unsigned char* out) {
    unsigned char* const start = out;
    const unsigned char* const end = in + size;
    const unsigned char* p = in;
    while (p < end) {
        if (m_nNeed == 0) {
            // Most of a catalogue is ASCII.
            std::uint64_t lines = 0;  // kept apart from the member, which the output may alias
            while (end - p >= 8) {
                std::uint64_t word;
                std::memcpy(&word, p, 8);
                if ((word & 0x8080808080808080u) != 0) break;
                std::memcpy(out, &word, 8);
                lines += LineFeeds(word);
                out += 8;
                p += 8;
            }
            m_nLines += lines;
            if (p == end) break;
            unsigned char byte = *p++;
            if (byte < 0x80) {
                m_nLines += byte == '\n';
                *out++ = byte;
                continue;
            }
            m_nNeed = Utf8Lead(byte, m_nLow, m_nHigh);
            if (m_nNeed == 0) {
                CDecodingFault fault{CDecodingFault::kInvalidUtf8};
                fault.m_bytes[0] = byte;
                fault.m_nBytes = 1;
                Fault(fault, out);
                continue;
            }
            m_sequence[0] = byte;
            m_nHave = 1;
            m_nCode = byte & (0x3F >> m_nNeed);
            continue;
        }
        unsigned char byte = *p;
        if (byte < m_nLow || byte > m_nHigh) {
            // The sequence so far is one fault; the byte that broke it starts afresh.
            CDecodingFault fault{CDecodingFault::kInvalidUtf8};
            std::memcpy(fault.m_bytes, m_sequence, m_nHave);
            fault.m_nBytes = m_nHave;
            m_nNeed = 0;
            Fault(fault, out);
            continue;
        }
        ++p;
        m_sequence[m_nHave++] = byte;
        m_nCode = m_nCode << 6 | (byte & 0x3F);
        m_nLow = 0x80;
        m_nHigh = 0xBF;
        if (--m_nNeed == 0) Put(m_nCode, out);
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t CInputDecoder::DecodeUtf16(const unsigned char* in, std::size_t size,
                                       unsigned char* out) {
    unsigned char* const start = out;
    const bool big = m_eEncoding == EInputEncoding::kUtf16BE;
    // Eight units of ASCII at a time: each high byte 0, each low byte below 0x80. The mask is
    // laid out in bytes, so that it holds whatever the machine's byte order.
    static const unsigned char kAsciiLE[8] = {0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF};
    static const unsigned char kAsciiBE[8] = {0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80};
    std::uint64_t mask;
    std::memcpy(&mask, big ? kAsciiBE : kAsciiLE, 8);
    const std::size_t low = big ? 1 : 0;
    std::size_t i = 0;
    while (i < size) {
        if (m_nOddByte < 0 && m_nHighSurrogate == 0) {
            std::uint64_t lines = 0;  // kept apart from the member, which the output may alias
            // Thirty-two at a time first, as numbers in the machine's order, in loops simple
            // enough to become vector instructions.
            const bool swap = big == kLittleEndianMachine;
            while (size - i >= 64) {
                std::uint16_t units[32];
                std::memcpy(units, in + i, 64);
                unsigned any = 0;
                for (std::uint16_t& unit : units) {
                    if (swap) unit = static_cast<std::uint16_t>(unit >> 8 | unit << 8);
                    any |= unit;
                }
                if (any > 0x7F) break;
                std::uint64_t feeds = 0;
                for (std::size_t k = 0; k < 32; ++k) {
                    out[k] = static_cast<unsigned char>(units[k]);
                    feeds += units[k] == '\n';
                }
                lines += feeds;
                out += 32;
                i += 64;
            }
            while (size - i >= 16) {
                std::uint64_t first;
                std::uint64_t second;
                std::memcpy(&first, in + i, 8);
                std::memcpy(&second, in + i + 8, 8);
                if (((first | second) & mask) != 0) break;
                std::uint64_t packed = 0;
                for (std::size_t k = 0; k < 8; ++k)
                    packed |= std::uint64_t{in[i + 2 * k + low]} << (8 * k);
                if (kLittleEndianMachine) {
                    std::memcpy(out, &packed, 8);
                } else {
                    for (std::size_t k = 0; k < 8; ++k)
                        out[k] = static_cast<unsigned char>(packed >> (8 * k));
                }
                lines += LineFeeds(packed);
                out += 8;
                i += 16;
            }
            m_nLines += lines;
            if (i == size) break;
        }
        unsigned first;
        if (m_nOddByte >= 0) {
            first = static_cast<unsigned>(m_nOddByte);
            m_nOddByte = -1;
        } else {
            first = in[i++];
            if (i == size) {
                m_nOddByte = static_cast<int>(first);
                break;
            }
        }
        unsigned second = in[i++];
        std::uint32_t unit = big ? (first << 8 | second) : (second << 8 | first);
        if (m_nHighSurrogate != 0) {
            std::uint32_t high = m_nHighSurrogate;
            m_nHighSurrogate = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                Put(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
                continue;
            }
            CDecodingFault fault{CDecodingFault::kLoneSurrogate};
            fault.m_nCodePoint = high;
            Fault(fault, out);
        }
        if (unit < 0x80) {
            m_nLines += unit == '\n';
            *out++ = static_cast<unsigned char>(unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_nHighSurrogate = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            CDecodingFault fault{CDecodingFault::kLoneSurrogate};
            fault.m_nCodePoint = unit;
            Fault(fault, out);
        } else {
            Put(unit, out);
        }
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t CInputDecoder::DecodeLatin1(const unsigned char* in, std::size_t size,
                                        unsigned char* out) {
    unsigned char* const start = out;
    for (std::size_t i = 0; i < size; ++i) {
        m_nLines += in[i] == '\n';
        Put(in[i], out);
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t CInputDecoder::Finish(unsigned char* out) {
    unsigned char* p = out;
    if (m_nNeed != 0) {
        CDecodingFault fault{CDecodingFault::kInvalidUtf8};
        std::memcpy(fault.m_bytes, m_sequence, m_nHave);
        fault.m_nBytes = m_nHave;
        m_nNeed = 0;
        Fault(fault, p);
    }
    if (m_nHighSurrogate != 0) {
        CDecodingFault fault{CDecodingFault::kLoneSurrogate};
        fault.m_nCodePoint = m_nHighSurrogate;
        m_nHighSurrogate = 0;
        Fault(fault, p);
    }
    if (m_nOddByte >= 0) {
        CDecodingFault fault{CDecodingFault::kOddLength};
        fault.m_bytes[0] = static_cast<unsigned char>(m_nOddByte);
        fault.m_nBytes = 1;
        m_nOddByte = -1;
        Fault(fault, p);
    }
    return static_cast<std::size_t>(p - out);
}

namespace {

constexpr std::size_t kDecodeBlock = std::size_t{1} << 18;

}  // namespace

CDecodingSource::CDecodingSource(CByteSource& source, EInputEncoding encoding,
                                 std::function<void(const CDecodingFault&)> onFault)
    : m_source(source),
      m_decoder(encoding, std::move(onFault)),
      m_out(new unsigned char[kDecodeBlock + CInputDecoder::kSlack]) {
    if (!m_source.Lends()) m_in.reset(new unsigned char[kDecodeBlock]);
}

std::size_t CDecodingSource::Read(unsigned char* buffer, std::size_t capacity) {
    // A block is decoded straight into the reader's buffer when that has room for it, else into
    // a buffer of its own: a reader may ask for less than a character.
    constexpr std::size_t kLeastDirect = std::size_t{1} << 12;
    const bool direct = capacity >= kLeastDirect + CInputDecoder::kSlack;
    const std::size_t most =
        direct ? std::min(kDecodeBlock, capacity - CInputDecoder::kSlack) : kDecodeBlock;
    while (m_nOutStart == m_nOutEnd && !m_bEnded) {
        const unsigned char* in = m_in.get();
        std::size_t n = 0;
        if (m_source.Lends()) {
            // The block lent before is done with once the next is asked for.
            if (m_lent.empty()) m_lent = m_source.Lend();
            n = std::min(most, m_lent.size());
            in = reinterpret_cast<const unsigned char*>(m_lent.data());
            m_lent.remove_prefix(n);
        } else {
            n = m_source.Read(m_in.get(), most);
        }
        m_nRead += n;
        unsigned char* out = direct ? buffer : m_out.get();
        std::size_t written = 0;
        if (n == 0) {
            written = m_decoder.Finish(out);
            m_bEnded = true;
        } else {
            written = m_decoder.Decode(in, n, out);
        }
        // A block may decode to nothing: a sequence carried over.
        if (direct) {
            if (written != 0 || m_bEnded) return written;
        } else {
            m_nOutStart = 0;
            m_nOutEnd = written;
        }
    }
    std::size_t n = std::min(capacity, m_nOutEnd - m_nOutStart);
    std::memcpy(buffer, m_out.get() + m_nOutStart, n);
    m_nOutStart += n;
    return n;
}

std::size_t CUtf8Scan::Scan(std::string_view text) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = begin + text.size();
    const unsigned char* p = begin;
    std::size_t found = SIZE_MAX;
    while (p < end && !m_bInvalid) {
        unsigned char byte = *p;
        if (m_nNeed != 0) {
            if (byte < m_nLow || byte > m_nHigh) {
                m_bInvalid = true;
                break;
            }
            ++p;
            m_nLow = 0x80;
            m_nHigh = 0xBF;
            --m_nNeed;
            continue;
        }
        p = SkipAscii(p, end);
        if (p == end) break;
        byte = *p;
        if (byte < 0x80) {
            ++p;
            continue;
        }
        m_nNeed = Utf8Lead(byte, m_nLow, m_nHigh);
        if (m_nNeed == 0) {
            m_bInvalid = true;
            break;
        }
        if (!m_bFound) {
            m_bFound = true;
            found = static_cast<std::size_t>(p - begin);
        }
        ++p;
    }
    return found;
}

void CUtf8Scan::Finish() {
    if (m_nNeed != 0) m_bInvalid = true;
}

std::string ContentAround(std::string_view bytes, std::size_t at) {
    std::size_t begin = bytes.rfind('>', at);
    begin = begin == std::string_view::npos ? 0 : begin + 1;
    std::size_t end = bytes.find('<', at);
    if (end == std::string_view::npos) end = bytes.size();
    // A long text is shown around the character, from and to a character's start.
    constexpr std::size_t kBefore = 30;
    constexpr std::size_t kAfter = 40;
    bool cutBefore = false;
    bool cutAfter = false;
    auto continuation = [&](std::size_t i) {
        return i < bytes.size() && (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80;
    };
    if (at - begin > kBefore) {
        begin = at - kBefore;
        while (continuation(begin))
            ++begin;
        cutBefore = true;
    }
    if (end - at > kAfter) {
        end = at + kAfter;
        while (continuation(end))
            --end;
        cutAfter = true;
    }
    std::string shown;
    bool space = false;
    for (std::size_t i = begin; i < end; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x20 || byte == 0x7F || byte == ' ') {
            space = true;
            continue;
        }
        if (space && !shown.empty()) shown.push_back(' ');
        space = false;
        shown.push_back(static_cast<char>(byte));
    }
    if (cutBefore) shown.insert(0, "...");
    if (cutAfter) shown += "...";
    return shown;
}

}  // namespace halvic
