#include "tests/support/end_to_end.h"

#include "engine/format/record_format.h"
#include "tests/support/files.h"

namespace halvic::testing {

const std::vector<std::string>& OutputNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (std::size_t i = 0; i < kOutputCount; ++i)
            all.push_back(OutputFileName(i));
        return all;
    }();
    return names;
}

void PutOldOutputs(const std::filesystem::path& dir) {
    for (const std::string& name : OutputNames())
        WriteFile(dir / name, "old " + name);
}

std::string Records(int first, int last) {
    std::string input;
    for (int i = first; i <= last; ++i) {
        input += "<@>" + std::to_string(i % 60000) + "\n<l>record number " + std::to_string(i) +
                 "\n<m>" + std::to_string(i % 500) + "\n<s>" + std::to_string(i % 7) + "\n";
    }
    return input;
}

}  // namespace halvic::testing
