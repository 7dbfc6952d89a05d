// The encodings an input may be written in, and their decoding into the files' own text encoding,
// Windows-1252: a transform fed a block at a time, so that it sits in a stream, which stores a
// character Windows-1252 lacks, or a malformed sequence, as "?" and tells of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/io/byte_stream.h"

namespace halvic {

enum class EInputEncoding : std::uint8_t {
    kAsMarked,  // UTF-8 or UTF-16 when the input begins with a byte-order mark, else kBytes
    kBytes,     // each byte stored as it is
    kCp1252,    // the files' own encoding: each byte stored as it is
    kLatin1,    // ISO 8859-1
    kUtf8,
    kUtf16LE,
    kUtf16BE,
};

// The encoding `name` names, case-insensitive: "bytes", "utf-8" ("utf8"), "utf-16" ("utf16",
// little-endian; "utf-16le", "utf-16be"), "cp1252" ("windows-1252"), "latin1" ("iso-8859-1",
// "latin-1").
bool ParseInputEncoding(std::string_view name, EInputEncoding& encoding);
// The name of `encoding` for messages ("UTF-8", "UTF-16LE", "Windows-1252", ...).
const char* InputEncodingName(EInputEncoding encoding);

// The encoding a byte-order mark at the start of `bytes` says (kUtf8, kUtf16LE or kUtf16BE) and
// its length in `markLength`; kBytes and 0 without one.
EInputEncoding ByteOrderMark(std::string_view bytes, std::size_t& markLength);
// The encoding that reads an input declared `declared` whose first bytes are `start`, and the
// length of the mark to skip: a UTF byte-order mark decides for kAsMarked, kUtf8 and the UTF-16s;
// an input declared in an 8-bit encoding is read as declared, mark and all.
EInputEncoding ChooseEncoding(EInputEncoding declared, std::string_view start,
                              std::size_t& markLength);
// Whether an input in `encoding` is stored byte for byte, without decoding.
inline bool StoredAsItIs(EInputEncoding encoding) {
    return encoding == EInputEncoding::kBytes || encoding == EInputEncoding::kCp1252 ||
           encoding == EInputEncoding::kAsMarked;
}

// The Windows-1252 byte of `codePoint`, or -1 when the code page has no such character. The five
// bytes Windows-1252 leaves undefined (81 8D 8F 90 9D) are the control characters of the same
// number, as Windows itself reads them, so that every byte has a character and back.
int ToWindows1252(std::uint32_t codePoint);
// The character of a Windows-1252 byte (the same rule).
std::uint32_t FromWindows1252(unsigned char byte);
// Appends `codePoint` in UTF-8; in UTF-16 (little- or big-endian) with AppendUtf16.
void AppendUtf8(std::string& out, std::uint32_t codePoint);
void AppendUtf16(std::string& out, std::uint32_t codePoint, bool bigEndian);

// What a decoder stored as "?", and where.
struct CDecodingFault {
    enum EKind : std::uint8_t {
        kUnmappable,     // m_nCodePoint, a character Windows-1252 lacks
        kInvalidUtf8,    // m_bytes, a sequence that is not UTF-8 (or cut short by the end)
        kOddLength,      // m_bytes, the last byte of a UTF-16 input of odd length
        kLoneSurrogate,  // m_nCodePoint, half of a UTF-16 surrogate pair without the other
    };
    EKind m_eKind;
    std::uint32_t m_nCodePoint = 0;
    unsigned char m_bytes[4] = {};
    std::uint8_t m_nBytes = 0;
    std::uint64_t m_nLine = 0;  // of the input, from 1
};

// Decodes UTF-8, UTF-16 or Latin-1 into Windows-1252, a block at a time; a sequence split between
// blocks is carried over. Lines are the input's own: a line feed decodes to a line feed.
class CInputDecoder {
  public:
    // The most bytes a decoder writes beyond one per byte it is given.
    static constexpr std::size_t kSlack = 4;

    CInputDecoder(EInputEncoding encoding, std::function<void(const CDecodingFault&)> onFault);

    // Decodes `size` bytes into `out`, which has room for size + kSlack; returns the bytes
    // written.
    std::size_t Decode(const unsigned char* in, std::size_t size, unsigned char* out);
    // Ends the input: a sequence left unfinished is stored as "?". Returns the bytes written
    // into `out` (room for kSlack).
    std::size_t Finish(unsigned char* out);

  private:
    std::size_t DecodeUtf8(const unsigned char* in, std::size_t size, unsigned char* out);
    std::size_t DecodeUtf16(const unsigned char* in, std::size_t size, unsigned char* out);
    std::size_t DecodeLatin1(const unsigned char* in, std::size_t size, unsigned char* out);
    // Puts the Windows-1252 byte of `codePoint` at `out`.
    void Put(std::uint32_t codePoint, unsigned char*& out);
    // Stores "?" for a fault whose line is that of `out`.
    void Fault(CDecodingFault fault, unsigned char*& out);

    EInputEncoding m_eEncoding;
    std::function<void(const CDecodingFault&)> m_onFault;
    std::uint64_t m_nLines = 0;  // line feeds written
    // A UTF-8 sequence begun: its bytes so far, how many more, and the range of the next.
    unsigned char m_sequence[4] = {};
    std::uint8_t m_nHave = 0;
    std::uint8_t m_nNeed = 0;
    unsigned char m_nLow = 0x80;
    unsigned char m_nHigh = 0xBF;
    std::uint32_t m_nCode = 0;
    // UTF-16: the first byte of a unit, and a high surrogate waiting for its low one.
    int m_nOddByte = -1;
    std::uint32_t m_nHighSurrogate = 0;
};

// Another source decoded: hands out Windows-1252 bytes. Reads `source` through Lend when it lends.
class CDecodingSource : public CByteSource {
  public:
    CDecodingSource(CByteSource& source, EInputEncoding encoding,
                    std::function<void(const CDecodingFault&)> onFault);
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
    // The bytes read from `source` so far.
    std::uint64_t BytesRead() const { return m_nRead; }

  private:
    CByteSource& m_source;
    CInputDecoder m_decoder;
    std::unique_ptr<unsigned char[]> m_in;
    std::unique_ptr<unsigned char[]> m_out;
    std::string_view m_lent;  // of the block lent last, not yet decoded
    std::size_t m_nOutStart = 0;
    std::size_t m_nOutEnd = 0;
    std::uint64_t m_nRead = 0;
    bool m_bEnded = false;
};

// Whether bytes stored as they are hold UTF-8: fed the input in pieces, notes whether every byte
// is valid UTF-8 and where the first sequence of two or more bytes is. Input without a byte at or
// above 0x80 is passed over a word at a time, and the first byte that is not UTF-8 ends the scan.
class CUtf8Scan {
  public:
    // Scans `bytes`, which follow those scanned before. Returns where in `bytes` the first
    // multibyte sequence of the whole input begins when it is among them, else SIZE_MAX.
    std::size_t Scan(std::string_view bytes);
    // Ends the input: a sequence left unfinished is not UTF-8.
    void Finish();
    bool Invalid() const { return m_bInvalid; }
    bool FoundMultibyte() const { return m_bFound; }

  private:
    bool m_bInvalid = false;
    bool m_bFound = false;
    std::uint8_t m_nNeed = 0;
    unsigned char m_nLow = 0x80;
    unsigned char m_nHigh = 0xBF;
};

// The content of a tagged text that holds the byte at `at` of `bytes`: from the tag before it to
// the tag after it (or the ends of `bytes`), each run of control bytes one space, trimmed, and cut
// around `at` when it is long.
std::string ContentAround(std::string_view bytes, std::size_t at);

}  // namespace halvic
