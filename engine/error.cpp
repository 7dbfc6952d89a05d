#include "engine/error.h"

#include <utility>

namespace halvic {

std::string CError::Message() const {
    std::string message = m_strFile;
    if (m_nLine != 0) message += ":" + std::to_string(m_nLine);
    message += ": ";
    message += m_strReason;
    return message;
}

CFailure::CFailure(CError error) : std::runtime_error(error.Message()), m_error(std::move(error)) {}

}  // namespace halvic
