#include <cstring>

#include "engine/io/error.h"

namespace halvic {

const char kNameQuote = '\'';

std::string SystemReason(int err) {
    return std::strerror(err);
}

}  // namespace halvic
