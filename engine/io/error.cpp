#include "engine/io/error.h"

#include <utility>

namespace halvic {

std::string CError::Message() const {
    std::string message = m_strFile;
    if (m_nLine != 0) message += ":" + std::to_string(m_nLine);
    message += ": ";
    message += m_strReason;
    return message;
}

std::string DescribedMessage(const CError& error) {
    if (error.m_strFile.find(' ') == std::string::npos) return error.Message();
    CError quoted = error;
    quoted.m_strFile = kNameQuote + error.m_strFile + kNameQuote;
    return quoted.Message();
}

CFailure::CFailure(CError error) : std::runtime_error(error.Message()), m_error(std::move(error)) {}

}  // namespace halvic
