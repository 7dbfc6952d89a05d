#include "engine/io/threads.h"

#include <atomic>
#include <cstdlib>

namespace halvic {

namespace {

constexpr long kUnset = -2;

std::atomic<long> g_nAllowed{kUnset};

long Allowed() {
    long allowed = g_nAllowed.load();
    if (allowed != kUnset) return allowed;
    const char* value = std::getenv("HALVIC_TEST_THREAD_STARTS");
    char* end = nullptr;
    long parsed = value == nullptr || *value == '\0' ? -1 : std::strtol(value, &end, 10);
    if (value != nullptr && *value != '\0' && (*end != '\0' || parsed < 0)) parsed = -1;
    g_nAllowed.compare_exchange_strong(allowed, parsed);
    return g_nAllowed.load();
}

}  // namespace

bool ThreadStartRefusedForTesting() {
    long allowed = Allowed();
    for (;;) {
        if (allowed < 0) return false;
        if (allowed == 0) return true;
        if (g_nAllowed.compare_exchange_weak(allowed, allowed - 1)) return false;
    }
}

void SetThreadStartsAllowedForTesting(long allowed) {
    g_nAllowed.store(allowed < 0 ? -1 : allowed);
}

}  // namespace halvic
