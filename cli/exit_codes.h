// The exit statuses of halvic, as documented in --help and the README.
#pragma once

namespace halvic::cli {

enum EExitCode : int {
    kExitOk = 0,      // converted (or nothing asked for)
    kExitFailed = 1,  // the conversion or dump failed; no output file was replaced
    kExitUsage = 2,   // the command line was wrong
    // halvic diff, as diff and cmp have them:
    kExitDiffers = 1,  // the sets differ
    kExitTrouble = 2,  // a set could not be read, or the command line was wrong
};

}  // namespace halvic::cli
