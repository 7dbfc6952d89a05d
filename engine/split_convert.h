// A conversion of an input that lies whole in memory, done in parts on two threads. Each part is
// converted on its own, as if it began the input, and the parts are joined in order; joining
// settles what a part cannot know alone: the table identifiers of texts that came before it, and
// the fields that its first records keep from the record before the part.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_stream.h"
#include "engine/convert.h"
#include "engine/value_table.h"

namespace halvic {

struct CSplitOptions {
    // A part ends at the first record start found this many bytes or more after its own start.
    std::size_t m_nPartSize = std::size_t{1} << 19;
    // The records of a part wait in memory until it is joined, so an input is split only when no
    // part is longer than this; otherwise ConvertInParts does nothing and returns no summary.
    std::size_t m_nLargestPart = std::size_t{8} << 20;
    unsigned m_nThreads = 2;
    // Told of the bytes from `begin` to `end` of the input that are not needed for now: those
    // looked at to find the parts, and each part once joined.
    std::function<void(std::size_t begin, std::size_t end)> m_release;
    // Told, after each part is joined, where the input joined so far ends; a failure it throws
    // ends the conversion as a failure of the part would.
    std::function<void(std::size_t end)> m_joined;
};

// The same as ConvertTags on a reader of `input` named `name`: the same records, texts and
// warnings, and the same failure (thrown as CFailure) where that would fail. Returns no summary,
// having done nothing, when the input cannot be split into parts short enough.
std::optional<CConvertSummary> ConvertInParts(std::string_view input, const std::string& name,
                               CByteSink& records, CValueTables& tables,
                               std::vector<CWarning>& warnings, const CSplitOptions& options = {});

// The offset of the first "<@>" at or after `from` at which a reader of the whole input surely
// starts a pair whose content is a single chunk, so that a part may begin there;
// input.size() when there is none.
std::size_t FindPartStart(std::string_view input, std::size_t from);

}  // namespace halvic
