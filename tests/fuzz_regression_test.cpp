// Replays every input kept for the fuzz targets, the seeds and each input that ever made a target
// fail, through the same checks the fuzzers run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/checks.h"

namespace halvic::fuzz {
namespace {

namespace fs = std::filesystem;

struct CTarget {
    const char* m_szName;  // its folder under fuzz/corpus and fuzz/regressions
    CheckFunction m_check;
};

const CTarget kTargets[] = {
    {"tag_reader", CheckTagReader},
    {"conversion", CheckConversion},
    {"reader_agreement", CheckReaderAgreement},
    {"output_reader", CheckOutputReader},
    {"round_trip", CheckRoundTrip},
    {"input_decoding", CheckInputDecoding},
};

std::vector<fs::path> SavedInputs(const std::string& target) {
    std::vector<fs::path> inputs;
    for (const char* kind : {"corpus", "regressions"}) {
        fs::path dir = fs::path(HALVIC_SOURCE_DIR) / "fuzz" / kind / target;
        if (!fs::is_directory(dir)) continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                inputs.push_back(entry.path());
            }
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

class FuzzRegressionTest : public ::testing::TestWithParam<CTarget> {};

TEST_P(FuzzRegressionTest, EverySavedInputPassesTheCheck) {
    std::vector<fs::path> inputs = SavedInputs(GetParam().m_szName);
    ASSERT_FALSE(inputs.empty()) << "no seed inputs for " << GetParam().m_szName;
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file) << path;
        std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        EXPECT_EQ(
            GetParam().m_check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
            "")
            << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<CTarget>& info) {
                             return std::string(info.param.m_szName);
                         });

}  // namespace
}  // namespace halvic::fuzz
