// A conversion written the plain way, for differential tests of the fast one: the plain
// byte-at-a-time tag reader, a std::map for the tables and one byte at a time for the records.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/conversion_checks.h"

namespace halvic::testing {

// Converts `input`, named `name` in messages.
CConversionOutput ReferenceConvert(std::string_view input, const std::string& name);

}  // namespace halvic::testing
