// Every short string over a few bytes: for tests that check a rule against a plain one on all of
// them rather than on chosen cases.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace halvic::testing {

// Calls `visit` with every string of up to `longest` bytes over `alphabet`, shortest first, the
// empty string included.
void ForEachString(const std::string& alphabet, std::size_t longest,
                   const std::function<void(const std::string&)>& visit);

}  // namespace halvic::testing
