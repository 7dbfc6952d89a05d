// halvic: converts tagged text into the record file and the six table files.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>

#include "cli/convert_command.h"
#include "cli/exit_codes.h"
#include "engine/file.h"

namespace {

using namespace halvic::cli;

// An interrupted conversion removes its temporary files; the targets were never touched.
extern "C" void OnTerminatingSignal(int signal) {
    halvic::RemoveTemporaryFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

const char* const kExitCodesHelp =
    "Exit status:\n"
    "  0  converted (or nothing was asked for)\n"
    "  1  the conversion failed; no output file was replaced\n"
    "  2  the command line was wrong\n"
    "\n"
    "Run without arguments, halvic asks for one file name and converts it into the current\n"
    "directory.\n";

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnTerminatingSignal);
    std::signal(SIGTERM, OnTerminatingSignal);
    std::signal(SIGHUP, OnTerminatingSignal);

    if (argc == 1) return RunPrompt(std::cin, std::cerr);

    CLI::App app{
        "halvic converts a tagged text file into the record file qxase.qxd and the six "
        "table files qxm.qxd, qxa.qxd, qxn.qxd, qxi.qxd, qxc.qxd and qxs.qxd.",
        "halvic"};
    app.set_version_flag("--version", "halvic " HALVIC_VERSION);
    app.footer(kExitCodesHelp);
    app.require_subcommand(1);

    CConvertCommand convert;
    CLI::App* convertApp = app.add_subcommand(
        "convert",
        "Convert INPUT into qxase.qxd and the six table files. The files are replaced only when "
        "all seven have been written.");
    convertApp
        ->add_option("INPUT", convert.m_strInput, "The tagged text file ('-' reads standard input)")
        ->required();
    convertApp->add_option("-o,--output-dir", convert.m_strOutputDir,
                           "Where the seven files go (default: the current directory)");
    auto* quiet = convertApp->add_flag("-q,--quiet", convert.m_bQuiet, "Print no warnings");
    convertApp
        ->add_flag("-v,--verbose", convert.m_bVerbose,
                   "Print a summary: records, distinct texts, bytes written, time taken")
        ->excludes(quiet);
    convertApp->footer(kExitCodesHelp);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        std::cout << "halvic " HALVIC_VERSION "\n";
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        std::cerr << "halvic: error: " << error.what() << "\n"
                  << "Run 'halvic --help' for more information.\n";
        return kExitUsage;
    }

    if (convertApp->parsed()) return RunConvert(convert, std::cerr);
    return kExitUsage;
}
