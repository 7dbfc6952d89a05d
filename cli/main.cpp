// halvic: converts tagged text into the record file and the six table files. The program's
// entry point is in main_posix.cpp or main_windows.cpp, which hand the arguments over as UTF-8.
#include "cli/main.h"

#include <CLI/CLI.hpp>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "cli/convert_command.h"
#include "cli/diff_command.h"
#include "cli/dump_command.h"
#include "cli/exit_codes.h"
#include "cli/usage.h"
#include "cli/usage_error.h"
#include "engine/io/file.h"

namespace {

using namespace halvic::cli;

const char* const kExitCodesHelp =
    "Exit status:\n"
    "  0  converted (or nothing was asked for)\n"
    "  1  the conversion failed; no output file was replaced (dump: a file is missing or bad, "
    "or there is no record N)\n"
    "  2  the command line was wrong\n"
    "\n"
    // Paragraphs are single lines, wrapped to the terminal's width as they are printed.
    "Run without arguments, halvic asks for one file name and converts it into the current "
    "directory. 'halvic help COMMAND' shows the help of a command.\n";

const char* const kConvertExitCodesHelp =
    "Exit status:\n"
    "  0  converted (with --check: the conversion would succeed)\n"
    "  1  the conversion failed (or would fail); no output file was replaced, unless the "
    "message says the new files are in place (--sync: the directory could not be flushed "
    "after they were)\n"
    "  2  the command line was wrong\n";

const char* const kDumpExitCodesHelp =
    "Exit status:\n"
    "  0  every record was printed\n"
    "  1  a file is missing or bad (the records before the fault were printed), there is no "
    "record N, the output could not be written or memory ran out\n"
    "  2  the command line was wrong\n";

const char* const kDiffExitCodesHelp =
    "Exit status:\n"
    "  0  no difference\n"
    "  1  the sets differ\n"
    "  2  trouble: a set could not be read or converted, the output could not be written, or the "
    "command line was wrong\n";

// Everything but main's guards: parses the command line and runs the command.
int Run(int argc, char** argv, ECommandLine conventions);

}  // namespace

int halvic::cli::Main(int argc, char** argv, ECommandLine conventions) {
    // An interrupted conversion removes its temporary files; the targets are never touched.
    halvic::CleanUpOnInterrupt();

    try {
        return Run(argc, argv, conventions);
    } catch (const std::bad_alloc&) {
        std::cerr << "halvic: error: out of memory\n";
        return kExitFailed;
    }
}

namespace {

// --wait SECONDS: how long to wait for another conversion into `dir` (as the help names it).
void AddWaitOption(CLI::App& command, int& seconds, const std::string& dir) {
    command
        .add_option("--wait", seconds,
                    "Wait at most SECONDS for another conversion into " + dir +
                        " to end, then give up with status 1 (default: wait as long as it takes)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0, 86400 * 365).description(""));
}

int Run(int argc, char** argv, ECommandLine conventions) {
    if (argc == 1) return RunPrompt(std::cin, std::cerr);
    if (conventions == ECommandLine::kWindows) {
        static char help[] = "--help";
        for (int i = 1; i < argc; ++i) {
            if (std::string_view(argv[i]) == "/?") argv[i] = help;
        }
        for (int i = 1; i < argc; ++i) {
            if (std::strchr(argv[i], '"') == nullptr) continue;
            std::string_view command = argv[1];
            std::cerr << "halvic: error: " << QuoteInArgumentMessage(argv[i]) << "\nRun 'halvic "
                      << (command == "convert" || command == "dump" ? argv[1] + std::string(" ")
                                                                    : std::string())
                      << "--help' for more information.\n";
            return kExitUsage;
        }
    }

    CLI::App app{
        "halvic converts a tagged text file into the record file qxase.qxd and the six "
        "table files qxm.qxd, qxa.qxd, qxn.qxd, qxi.qxd, qxc.qxd and qxs.qxd.",
        "halvic"};
    // A path that begins with '/' is a path on every system, not an option: options are "-x" and
    // "--long" everywhere.
    app.allow_windows_style_options(false);
    // A flag takes no value: "--strict=3" is a mistake to report, not a way to write --strict.
    app.option_defaults()->disable_flag_override();
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
    convertApp
        ->add_option("-o,--output-dir,--output", convert.m_strOutputDir,
                     "Where the seven files go (default: the current directory)")
        ->type_name("DIR");
    auto* quiet = convertApp->add_flag("-q,--quiet", convert.m_bQuiet, "Print no warnings");
    convertApp
        ->add_flag("-v,--verbose", convert.m_bVerbose,
                   "Print a summary: records, distinct texts, bytes written, time taken")
        ->excludes(quiet);
    convertApp->add_flag("--check", convert.m_bCheck,
                         "Read INPUT and report as a conversion would (warnings, errors, the "
                         "summary with --verbose, the exit status), but write nothing");
    convertApp
        ->add_flag("--diff", convert.m_bDiff,
                   "With --check, print what the conversion would change in DIR's set, as "
                   "'halvic diff' shows it")
        ->needs("--check");
    convertApp->add_flag("--strict", convert.m_bStrict,
                         "Fail on any warning: exit status 1 and no file replaced");
    convertApp->add_flag("--sync", convert.m_bSync,
                         "Flush the new files to the disk before reporting success, so that a "
                         "power cut afterwards cannot lose them");
    AddWaitOption(*convertApp, convert.m_nWaitSeconds, "DIR");
    convertApp
        ->add_option_function<std::string>(
            "--from",
            [&convert](const std::string& name) {
                halvic::ParseInputEncoding(name, convert.m_eFrom);
            },
            "How INPUT's texts are read: bytes (each byte stored as it is), utf-8, utf-16 "
            "(little-endian unless a byte-order mark says otherwise), cp1252 (windows-1252) or "
            "latin1 (iso-8859-1). Texts are stored in Windows-1252, a character it lacks as '?'. "
            "Without --from, a file that begins with a UTF-8 or UTF-16 byte-order mark is read in "
            "that encoding, any other as bytes")
        ->type_name("ENCODING")
        ->check(CLI::Validator(
            [](std::string& value) {
                halvic::EInputEncoding encoding;
                if (halvic::ParseInputEncoding(value, encoding)) return std::string();
                return "takes bytes, utf-8, utf-16, cp1252 or latin1, not '" + value + "'";
            },
            ""));
    convertApp->footer(kConvertExitCodesHelp);

    CDumpCommand dump;
    CLI::App* dumpApp = app.add_subcommand(
        "dump",
        "Print the records of qxase.qxd in DIR, one line each, in file order and numbered from 1, "
        "with the texts of the six table files. Files that a conversion cannot have written are "
        "reported with the file, the byte offset and the fault; the records before it are still "
        "printed.");
    dumpApp->add_option("DIR", dump.m_strDir,
                        "The directory holding the seven files (default: the current directory)");
    std::string dumpFormat = "text";
    dumpApp
        ->add_option("-f,--format", dumpFormat,
                     "text (the default): bytes outside printable ASCII as \\xHH, a backslash as "
                     "\\\\ and a quote as \\\"; jsonl: one JSON object per line; csv: RFC 4180 "
                     "with a header row. jsonl and csv read text bytes as Latin-1 (ISO 8859-1) and "
                     "write UTF-8; tagged: the tagged text that converts back into the same seven "
                     "files, byte for byte")
        ->type_name("FORMAT")
        ->transform(
            CLI::IsMember({"text", "jsonl", "csv", "tagged"}, CLI::ignore_case).description(""));
    std::string dumpEncoding;
    dumpApp
        ->add_option("-e,--encoding", dumpEncoding,
                     "How texts' bytes are read: latin1 (the default), cp1252 (Windows) or utf-8. "
                     "In text, a byte that is not valid stays \\xHH; in jsonl and csv it becomes "
                     "U+FFFD and a warning counts them. With --format tagged, utf-8 or utf-16 "
                     "writes the texts (Windows-1252) in that encoding after a byte-order mark, "
                     "which a conversion reads back into the same files")
        ->type_name("ENCODING")
        ->check(CLI::Validator(
            [](std::string& value) {
                EEncoding encoding;
                if (ParseEncoding(value, encoding)) return std::string();
                return "takes latin1, cp1252, utf-8 or utf-16, not '" + value + "'";
            },
            ""));
    dumpApp->add_flag("--bom", dump.m_bByteOrderMark,
                      "With --format csv, begin with a UTF-8 byte-order mark, so that spreadsheet "
                      "programs on Windows read the accents as UTF-8");
    AddWaitOption(*dumpApp, dump.m_nWaitSeconds, "DIR");
    dumpApp->add_option("-r,--record", dump.m_nRecord, "Print only record N (from 1)")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string& value) {
                // Digits only: the conversion to an unsigned number would take "-1" as the
                // largest number.
                if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                    return std::string("expected a record number, got '" + value + "'");
                std::string::size_type first = value.find_first_not_of('0');
                if (first == std::string::npos) return std::string("records are numbered from 1");
                // Nor would it notice a number too large for 64 bits.
                if (value.size() - first > 19) return "record number " + value + " is too large";
                return std::string();
            },
            ""));
    dumpApp
        ->add_option("-n,--number", dump.m_nNumber,
                     "Print only the records whose number is N (all of them)")
        ->type_name("N")
        ->check(CLI::Range(0, 65535).description(""))
        ->excludes("--record");
    dumpApp->footer(kDumpExitCodesHelp);

    CDiffCommand diff;
    CLI::App* diffApp = app.add_subcommand(
        "diff",
        "Show what differs between the sets OLD and NEW: records added, removed and changed, "
        "matched by their number in order (the second record numbered 12 with the second), then "
        "a summary. Each is a directory holding the seven files, or a tagged text file read as "
        "'convert --check' reads it ('-' reads standard input).");
    diffApp->add_option("OLD", diff.m_strOld, "The set before")->required();
    diffApp->add_option("NEW", diff.m_strNew, "The set after")->required();
    std::string diffFormat = "text";
    diffApp
        ->add_option("-f,--format", diffFormat,
                     "text (the default): a line per record added (+) or removed (-) as dump "
                     "shows it, and per record changed (~) its number and each field changed as "
                     "old \xE2\x86\x92 new; jsonl: one JSON object per difference, then one "
                     "with the summary")
        ->type_name("FORMAT")
        ->transform(CLI::IsMember({"text", "jsonl"}, CLI::ignore_case).description(""));
    std::string diffEncoding;
    diffApp
        ->add_option("-e,--encoding", diffEncoding,
                     "How texts' bytes are read, as dump reads them: latin1 (the default), "
                     "cp1252 or utf-8")
        ->type_name("ENCODING")
        ->check(CLI::Validator(
            [](std::string& value) {
                EEncoding encoding;
                if (ParseEncoding(value, encoding) && encoding != EEncoding::kUtf16)
                    return std::string();
                return "takes latin1, cp1252 or utf-8, not '" + value + "'";
            },
            ""));
    diffApp->add_flag("-q,--quiet", diff.m_show.m_bQuiet, "Print only the summary");
    diffApp->footer(kDiffExitCodesHelp);

    const std::vector<std::string> kCommands = {"convert", "diff", "dump", "help"};
    auto subcommand = [&](std::string_view name) -> CLI::App* {
        return name == "convert" ? convertApp
               : name == "dump"  ? dumpApp
               : name == "diff"  ? diffApp
                                 : nullptr;
    };
    // "halvic help [COMMAND]" is "halvic [COMMAND] --help".
    if (std::string_view(argv[1]) == "help" && argc <= 3) {
        CLI::App* sub = argc == 3 ? subcommand(argv[2]) : nullptr;
        if (argc == 2 || sub != nullptr) {
            std::cout << WrapHelp(sub ? sub->help("halvic") : app.help(), HelpWidth());
            return kExitOk;
        }
    }
    // A first word that is no command is named, with the commands there are and the one that
    // was probably meant, rather than reported as a missing command.
    std::string first = argv[1] == std::string("help") && argc == 3 ? argv[2] : argv[1];
    if (first[0] != '-' && subcommand(first) == nullptr) {
        std::cerr << "halvic: error: unknown command '" << first << "'\n";
        std::error_code ignored;
        std::string nearest = NearestName(first, kCommands);
        if (std::filesystem::is_regular_file(std::filesystem::u8path(first), ignored)) {
            std::cerr << "Did you mean 'halvic convert " << first << "'?\n";
        } else if (!nearest.empty()) {
            std::cerr << "Did you mean '" << nearest << "'?\n";
        }
        std::cerr << "The commands are convert, diff, dump and help. Run 'halvic --help' for more "
                     "information.\n";
        return kExitUsage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << WrapHelp(app.help(), HelpWidth());
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << WrapHelp(app.help("", CLI::AppFormatMode::All), HelpWidth());
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        std::cout << "halvic " HALVIC_VERSION "\n";
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        CLI::App* sub = subcommand(first);
        std::vector<std::string> extras = sub ? sub->remaining() : app.remaining();
        std::vector<std::string> operands;
        const std::string& operand = sub == convertApp ? convert.m_strInput
                                     : sub == diffApp  ? diff.m_strOld
                                                       : dump.m_strDir;
        if (sub != nullptr && !operand.empty()) operands.push_back(operand);
        if (sub == diffApp && !diff.m_strNew.empty()) operands.push_back(diff.m_strNew);
        std::cerr << "halvic: error: "
                  << UsageErrorMessage(error, sub ? first : std::string(), operands, extras)
                  << "\n";
        // An option that is nearly one of the command's.
        std::vector<std::string> options;
        for (const CLI::Option* option : (sub ? sub : &app)->get_options()) {
            for (const std::string& name : option->get_lnames())
                options.push_back("--" + name);
        }
        for (const std::string& extra : extras) {
            std::string nearest = extra.rfind("--", 0) == 0 ? NearestName(extra, options) : "";
            if (!nearest.empty()) std::cerr << "Did you mean '" << nearest << "'?\n";
        }
        std::cerr << "Run 'halvic " << (sub ? first + " " : std::string())
                  << "--help' for more information.\n";
        return kExitUsage;
    }

    if (convertApp->parsed()) {
        convert.m_bProgress = !convert.m_bQuiet && halvic::IsTerminal(halvic::StandardError());
        return RunConvert(convert, std::cerr);
    }
    if (diffApp->parsed()) {
        if (diff.m_strOld == "-" && diff.m_strNew == "-") {
            std::cerr << "halvic: error: diff reads standard input for OLD or NEW, not both\n"
                      << "Run 'halvic diff --help' for more information.\n";
            return kExitUsage;
        }
        diff.m_show.m_format = diffFormat == "jsonl" ? EDiffFormat::kJsonl : EDiffFormat::kText;
        diff.m_show.m_bEncodingChosen = !diffEncoding.empty();
        if (diff.m_show.m_bEncodingChosen) ParseEncoding(diffEncoding, diff.m_show.m_encoding);
        CDescriptorSink out(halvic::StandardOutput(), "standard output");
        return RunDiff(diff, out, std::cerr);
    }
    if (dumpApp->parsed()) {
        dump.m_format = dumpFormat == "csv"      ? EDumpFormat::kCsv
                        : dumpFormat == "jsonl"  ? EDumpFormat::kJsonl
                        : dumpFormat == "tagged" ? EDumpFormat::kTagged
                                                 : EDumpFormat::kText;
        dump.m_bEncodingChosen = !dumpEncoding.empty();
        if (dump.m_bEncodingChosen) ParseEncoding(dumpEncoding, dump.m_encoding);
        const char* misfit = nullptr;  // an option that does not fit the format
        if (dump.m_bByteOrderMark && dump.m_format != EDumpFormat::kCsv) misfit = "--bom";
        if (dump.m_bEncodingChosen && dump.m_encoding == EEncoding::kUtf16 &&
            dump.m_format != EDumpFormat::kTagged)
            misfit = "--encoding utf-16";
        if (misfit != nullptr) {
            std::cerr << "halvic: error: " << misfit << " cannot be combined with --format "
                      << dumpFormat << "\nRun 'halvic dump --help' for more information.\n";
            return kExitUsage;
        }
        if (dump.m_format == EDumpFormat::kTagged && (dump.m_nRecord != 0 || dump.m_nNumber >= 0)) {
            // Some records alone do not convert back into the same files.
            std::cerr << "halvic: error: --" << (dump.m_nRecord != 0 ? "record" : "number")
                      << " cannot be combined with --format tagged\n"
                      << "Run 'halvic dump --help' for more information.\n";
            return kExitUsage;
        }
        CDescriptorSink out(halvic::StandardOutput(), "standard output");
        return RunDump(dump, out, std::cerr);
    }
    return kExitUsage;
}

}  // namespace
