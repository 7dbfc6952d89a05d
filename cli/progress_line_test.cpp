#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace halvic::cli {
namespace {

TEST(ProgressTextTest, SaysWhatIsReadHowFastAndHowLongItTakesStill) {
    const struct {
        std::uint64_t read, total;
        double seconds;
        const char* text;
    } kCases[] = {
        {50'000'000, 200'000'000, 1.0, "50.0 MB of 200.0 MB, 50 MB/s, 3 s left"},
        {1'500'000, 0, 2.0, "1.5 MB read, 0.8 MB/s"},
        {2'000'000, 200'000'000, 2.0, "2.0 MB of 200.0 MB, 1.0 MB/s, 3 min 18 s left"},
        {200'000'000, 200'000'000, 4.0, "200.0 MB of 200.0 MB, 50 MB/s"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ProgressText(c.read, c.total, c.seconds), c.text);
}

}  // namespace
}  // namespace halvic::cli
