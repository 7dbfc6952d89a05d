// The halvic command line, for the entry point of each system.
#pragma once

namespace halvic::cli {

// The conventions of the system's command line.
enum class ECommandLine {
    kPosix,
    // "/?" asks for help, and an argument never holds a double quote, which no file name may
    // hold: one that does was cut short by a backslash before a closing quote.
    kWindows,
};

// Runs halvic with the arguments `argv` (UTF-8) and returns the exit status.
int Main(int argc, char** argv, ECommandLine conventions);

}  // namespace halvic::cli
