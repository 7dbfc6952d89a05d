#include "engine/conversion/input.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion/value_checks.h"

namespace halvic {

// The first bytes of a stream, read to see whether they are a byte-order mark, then the rest.
class CConversionInput::CPeekedSource : public CByteSource {
  public:
    explicit CPeekedSource(CByteSource& source) : m_source(source) {}

    // The first `size` bytes, or all there are when the stream is shorter. Throws CFailure.
    std::string_view Peek(std::size_t size) {
        while (m_nSize < size) {
            std::size_t n = m_source.Read(m_peeked + m_nSize, size - m_nSize);
            if (n == 0) break;
            m_nSize += n;
        }
        return std::string_view(reinterpret_cast<const char*>(m_peeked), m_nSize);
    }
    void Skip(std::size_t size) { m_nTaken = size; }

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        if (m_nTaken == m_nSize) return m_source.Read(buffer, capacity);
        std::size_t n = std::min(capacity, m_nSize - m_nTaken);
        std::memcpy(buffer, m_peeked + m_nTaken, n);
        m_nTaken += n;
        return n;
    }

  private:
    CByteSource& m_source;
    unsigned char m_peeked[4] = {};
    std::size_t m_nSize = 0;
    std::size_t m_nTaken = 0;
};

CConversionInput::CConversionInput(CConvertProgress* progress)
    : m_progress(progress ? *progress : m_unwatched) {}

bool CConversionInput::Open(const std::string& path, bool dashMeansStdin, CError& error) {
    // A file is read rather than mapped: its parts then lie in the same few buffers, warm in the
    // caches, and its pages are neither faulted in one by one nor given back.
    if (dashMeansStdin && path == "-") {
        m_stream.OpenStandardInput();
    } else if (!m_stream.Open(path, error)) {
        return false;
    }
    m_strName = m_stream.Name();
    if (m_stream.Regular()) m_progress.m_nTotal = m_stream.Size();
    return true;
}

bool CConversionInput::ReadAs(EInputEncoding encoding, CError& error) {
    auto peeked = std::make_unique<CPeekedSource>(m_stream);
    try {
        m_strStart = peeked->Peek(4);
    } catch (const CFailure& failure) {
        error = failure.Error();
        return false;
    }
    m_eEncoding = ChooseEncoding(encoding, m_strStart, m_nMark);
    peeked->Skip(m_nMark);
    m_raw = std::move(peeked);
    if (StoredAsItIs(m_eEncoding)) {
        m_parts = std::make_unique<CStreamParts>(*m_raw, CPartSizes());
    } else {
        Decode(*m_raw);
    }
    m_parts->OnReached([this](std::uint64_t end) { Reached(end); });
    return true;
}

void CConversionInput::Decode(CByteSource& source) {
    m_decoding =
        std::make_unique<CDecodingSource>(source, m_eEncoding, [this](const CDecodingFault& fault) {
            m_decodingNotes.NoteBuilt(DecodingWarningKind(fault), fault.m_nLine,
                                      [&fault] { return DecodingWarning(fault); });
        });
    m_parts = std::make_unique<CStreamParts>(*m_decoding, CPartSizes());
}

void CConversionInput::Reached(std::uint64_t end) {
    if (m_progress.m_bCancel) throw CFailure({m_strName, 0, kCancelledMessage});
    if (m_decoding) {
        m_nDecoded = end;
        m_progress.m_nRead = m_nMark + m_decoding->BytesRead();
    } else {
        m_progress.m_nRead = end;
    }
}

}  // namespace halvic
