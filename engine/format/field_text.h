// A field's value as text: shown in messages and dumps, or written back as the content of a tag
// that gives that value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace halvic {

// A tag as shown in messages: "<l>", bytes outside printable ASCII as \xHH, "..." when cut.
std::string ShowTag(std::string_view tag, bool cut);

// 8999900 as "8,999,900".
std::string WithThousands(std::uint64_t number);

// A weight in pounds as hundredweights-quarters-pounds: 1414 gives "12-2-14".
std::string WeightInCwt(std::uint16_t pounds);

// An easting and northing (100 m units from the corner of square V) as a grid reference:
// 14123, 6456 gives "SU 123 456". Returns false when the point lies outside the letter grid.
bool GridReference(std::uint16_t easting, std::uint16_t northing, std::string& reference);

// The content of a <g> tag that gives `easting` and `northing`; false when none does.
bool GridContent(std::uint16_t easting, std::uint16_t northing, std::string& content);

// The content of a <t> tag that gives `pounds`; false when none does (above 35,955 lb).
bool WeightContent(std::uint16_t pounds, std::string& content);

}  // namespace halvic
