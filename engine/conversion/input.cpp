#include "engine/conversion/input.h"

namespace halvic {

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
        // The pages of joined parts are given back, so that memory stays bounded.
        m_parts = std::make_unique<CMappedParts>(
            m_mapped.Bytes(), CPartSizes(),
            [this](std::size_t begin, std::size_t end) { m_mapped.Release(begin, end); });
    } else {
        m_strName = m_stream.Name();
        m_parts = std::make_unique<CStreamParts>(m_stream, CPartSizes());
    }
    m_parts->OnReached([this](std::uint64_t end) { Reached(end); });
    return true;
}

void CConversionInput::Reached(std::uint64_t end) {
    if (m_bMapped) m_mapped.ReachedForTesting(static_cast<std::size_t>(end));
    if (m_progress.m_bCancel) throw CFailure({m_strName, 0, kCancelledMessage});
    m_progress.m_nRead = end;
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
