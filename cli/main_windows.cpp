// halvic's entry point on Windows: the arguments arrive as UTF-16 and go on as UTF-8, so that any
// file name the system allows reaches the engine whole.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/main.h"
#include "engine/io/windows_text.h"

namespace {

UINT g_nConsoleCodePage = 0;

void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(g_nConsoleCodePage);
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(halvic::Utf8(wargv[i]));
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Output is the same bytes as on other systems: `halvic dump -f csv > file` ends its lines
    // with CR LF once, not CR CR LF, and a console takes a line feed as a new line.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Messages are UTF-8: a console shows them as such for as long as halvic runs.
    g_nConsoleCodePage = ::GetConsoleOutputCP();
    if (g_nConsoleCodePage != 0 && g_nConsoleCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        std::atexit(RestoreConsoleCodePage);
    }
    return halvic::cli::Main(argc, argv.data(), halvic::cli::ECommandLine::kWindows);
}
