// A conversion written the plain way, for differential tests of the fast one: the plain
// byte-at-a-time tag reader, a std::map for the tables and one byte at a time for the records.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace halvic::testing {

struct CReferenceOutput {
    std::string m_strRecords;
    std::array<std::string, 6> m_tables;
    std::vector<std::string> m_warnings;
    std::string m_strError;  // the failure's message; empty when the conversion succeeded
};

// Converts `input`, named `name` in messages.
CReferenceOutput ReferenceConvert(std::string_view input, const std::string& name);

}  // namespace halvic::testing
