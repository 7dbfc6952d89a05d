// The libFuzzer side of a check: a failed check is a crash, with its reason printed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/checks.h"

namespace halvic::fuzz {

inline int RunCheck(CheckFunction check, const std::uint8_t* data, std::size_t size) {
    std::string failure = check(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}

}  // namespace halvic::fuzz
