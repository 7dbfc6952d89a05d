// A small catalogue for tests of what an edit changes, and a way to edit it.
#pragma once

#include <string>

namespace halvic::testing {

// Four records, numbered 101 to 104; each sets the fields that differ from the record before it,
// so that an edit of one record changes no other.
extern const std::string kSmallCatalogue;

// `text` with its first `from` replaced by `to` (a test failure when there is none).
std::string Edited(std::string text, const std::string& from, const std::string& to);

}  // namespace halvic::testing
