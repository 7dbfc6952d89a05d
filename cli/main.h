// The halvic command line, for the entry point of each system.
#pragma once

namespace halvic::cli {

// Runs halvic with the arguments `argv` (UTF-8) and returns the exit status.
int Main(int argc, char** argv);

}  // namespace halvic::cli
