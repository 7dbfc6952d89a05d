// What a conversion reports besides its files: how far it has got while it runs, then how much it
// converted and the warnings of input that is probably a mistake.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/format/record_format.h"
#include "engine/io/error.h"

namespace halvic {

// Warnings have the shape of errors: the input's name, a line and what looks wrong there.
using CWarning = CError;

// The number of warnings in `warnings`, those only counted included.
template <typename Iterator>
std::uint64_t CountWarnings(Iterator begin, Iterator end) {
    std::uint64_t count = 0;
    for (; begin != end; ++begin)
        count += begin->m_nCount;
    return count;
}

// How far a conversion has got, for a caller that shows it from another thread, and the caller's
// way to stop it.
struct CConvertProgress {
    std::atomic<std::uint64_t> m_nRead{0};   // input bytes converted so far
    std::atomic<std::uint64_t> m_nTotal{0};  // the input's size; 0 when it is not known (a pipe)
    // Set by the caller: the conversion then stops at its next part of input and fails with
    // kCancelledMessage, replacing nothing.
    std::atomic<bool> m_bCancel{false};
};

inline constexpr const char* kCancelledMessage = "Conversion cancelled.";

struct CConvertSummary {
    std::uint64_t m_nRecords = 0;
    std::array<std::size_t, kTableCount> m_distinctTexts = {};
    std::uint64_t m_nBytesWritten = 0;  // all seven files together
};

}  // namespace halvic
