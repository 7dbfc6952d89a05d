#include "app/background_conversion.h"

#include <algorithm>
#include <system_error>

namespace halvic::app {

CBackgroundConversion::CBackgroundConversion(const std::string& typed) {
    try {
        m_worker = std::thread([this, typed] { Run(typed); });
    } catch (const std::system_error&) {
        Run(typed);
    }
}

CBackgroundConversion::~CBackgroundConversion() {
    if (m_worker.joinable()) m_worker.join();
}

void CBackgroundConversion::Run(const std::string& typed) {
    m_outcome = ConvertTypedName(
        typed, [this] { m_bWaited = true; }, &m_progress);
    m_bDone = true;
}

bool CBackgroundConversion::ShowProgress() {
    if (m_progress.m_nRead == 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!m_bReading) {  // a second of reading, not of waiting for another conversion
        m_bReading = true;
        m_readingSince = now;
    }
    return now - m_readingSince >= std::chrono::seconds(1);
}

int CBackgroundConversion::Permille() const {
    const std::uint64_t total = m_progress.m_nTotal;
    if (total == 0) return -1;
    return static_cast<int>(std::min<std::uint64_t>(999, m_progress.m_nRead * 1000 / total));
}

}  // namespace halvic::app
