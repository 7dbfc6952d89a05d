// Starting a thread without letting a refusal end the program: every extra thread of a
// conversion is a speed-up only, so where the system will not start one (a process limit, a
// small address space) the work is done on the calling thread instead.
#pragma once

#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace halvic {

// The test seam: whether the next thread start is to be refused as if the system had refused it.
// HALVIC_TEST_THREAD_STARTS=N in the environment allows the first N starts and refuses every
// later one; unset, none is refused.
bool ThreadStartRefusedForTesting();
// The same from within a test program: -1 refuses none (the default).
void SetThreadStartsAllowedForTesting(long allowed);

// Starts `thread` running `function(args...)`. Returns false, with `thread` left unstarted, when
// no thread can be had.
template <class Function, class... Args>
bool TryStartThread(std::thread& thread, Function&& function, Args&&... args) {
    if (ThreadStartRefusedForTesting()) return false;
    try {
        thread = std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace halvic
