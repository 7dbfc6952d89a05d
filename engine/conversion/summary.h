// What a conversion reports besides its files: how much it converted, and the warnings of input
// that is probably a mistake.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/format/record_format.h"
#include "engine/io/error.h"

namespace halvic {

// Warnings have the shape of errors: the input's name, a line and what looks wrong there.
using CWarning = CError;

struct CConvertSummary {
    std::uint64_t m_nRecords = 0;
    std::array<std::size_t, kTableCount> m_distinctTexts = {};
    std::uint64_t m_nBytesWritten = 0;  // all seven files together
};

}  // namespace halvic
