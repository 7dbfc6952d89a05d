#include "tests/support/short_strings.h"

#include <vector>

namespace halvic::testing {

void ForEachString(const std::string& alphabet, std::size_t longest,
                   const std::function<void(const std::string&)>& visit) {
    std::vector<std::string> level = {""};
    visit("");
    for (std::size_t length = 1; length <= longest; ++length) {
        std::vector<std::string> next;
        for (const std::string& text : level) {
            for (char ch : alphabet) {
                next.push_back(text + ch);
                visit(next.back());
            }
        }
        level.swap(next);
    }
}

}  // namespace halvic::testing
