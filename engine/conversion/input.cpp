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

// A mapped file lent a block at a time from `begin`, for a decoder: the block lent before is
// given back when the next is asked for, so that memory stays bounded.
class CConversionInput::CMappedSource : public CByteSource {
  public:
    CMappedSource(CMappedFile& mapped, std::size_t begin)
        : m_mapped(mapped), m_nBlock(begin), m_nNext(begin) {}

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        std::string_view block = Next(capacity);
        std::memcpy(buffer, block.data(), block.size());
        return block.size();
    }
    bool Lends() const override { return true; }
    std::string_view Lend() override { return Next(kBlock); }

  private:
    static constexpr std::size_t kBlock = std::size_t{1} << 20;

    std::string_view Next(std::size_t most) {
        m_mapped.Release(m_nBlock, m_nNext);
        m_mapped.ReachedForTesting(m_nNext);
        std::string_view bytes = m_mapped.Bytes();
        std::size_t n = std::min(most, bytes.size() - m_nNext);
        m_nBlock = m_nNext;
        m_nNext += n;
        return bytes.substr(m_nBlock, n);
    }

    CMappedFile& m_mapped;
    std::size_t m_nBlock;  // where the block lent last begins
    std::size_t m_nNext;
};

CConversionInput::CConversionInput(CConvertProgress* progress)
    : m_progress(progress ? *progress : m_unwatched) {}

bool CConversionInput::Open(const std::string& path, bool dashMeansStdin, CError& error) {
    if (dashMeansStdin && path == "-") {
        m_stream.OpenStandardInput();
    } else if (m_mapped.Map(path)) {
        m_bMapped = true;
    } else if (!m_stream.Open(path, error)) {
        // Anything that cannot be mapped is read as a stream, which reports why it cannot be.
        return false;
    }
    if (m_bMapped) {
        m_strName = path;
        m_progress.m_nTotal = m_mapped.Bytes().size();
    } else {
        m_strName = m_stream.Name();
    }
    return true;
}

bool CConversionInput::ReadAs(EInputEncoding encoding, CError& error) {
    if (m_bMapped) {
        m_strStart = m_mapped.Bytes().substr(0, 4);
        m_eEncoding = ChooseEncoding(encoding, m_strStart, m_nMark);
        if (StoredAsItIs(m_eEncoding)) {
            // The pages of joined parts are given back, so that memory stays bounded.
            m_parts = std::make_unique<CMappedParts>(
                m_mapped.Bytes(), CPartSizes(),
                [this](std::size_t begin, std::size_t end) { m_mapped.Release(begin, end); });
        } else {
            m_raw = std::make_unique<CMappedSource>(m_mapped, m_nMark);
            Decode(*m_raw);
        }
    } else {
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
    // A decoded input's mapping is read, and the test seam told, by its own source.
    if (m_bMapped && !m_decoding) m_mapped.ReachedForTesting(static_cast<std::size_t>(end));
    if (m_progress.m_bCancel) throw CFailure({m_strName, 0, kCancelledMessage});
    if (m_decoding) {
        m_nDecoded = end;
        m_progress.m_nRead = m_nMark + m_decoding->BytesRead();
    } else {
        m_progress.m_nRead = end;
    }
}

void CConversionInput::CheckWhole() const {
    if (m_bMapped) m_mapped.CheckWhole();
}

bool CConversionInput::ExplainCutShort(CError& error) const {
    if (!m_bMapped || !m_mapped.CutShort()) return false;
    error = m_mapped.CutShortError();
    return true;
}

}  // namespace halvic
