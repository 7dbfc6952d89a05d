#include "tests/support/catalogue_edits.h"

#include <gtest/gtest.h>

namespace halvic::testing {

const std::string kSmallCatalogue =
    "<@>101<l>Oak chest<m>Oak<a>St Mary\r\n"
    "<@>102<l>Pewter plate<m>Pewter<c>Good\r\n"
    "<@>103<l>Bell<m>Bronze<c>Poor\r\n"
    "<@>104<l>Font<m>Stone<c>Fine<g>SU123456<t>2-1-7<b>3\r\n";

std::string Edited(std::string text, const std::string& from, const std::string& to) {
    std::string::size_type at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace halvic::testing
