#include "cli/usage_error.h"

#include <regex>

namespace halvic::cli {

namespace {

std::string Listed(const std::vector<std::string>& words, const char* last) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i != 0) text += i + 1 == words.size() ? std::string(" ") + last + " " : ", ";
        text += words[i];
    }
    return text;
}

}  // namespace

std::string UsageErrorMessage(const CLI::ParseError& error, const std::string& command,
                              const std::vector<std::string>& operands,
                              const std::vector<std::string>& extras) {
    const std::string who = command.empty() ? "halvic" : command;
    const std::string operand = command == "convert" ? "INPUT" : "DIR";
    std::vector<std::string> options;
    std::vector<std::string> words = operands;
    for (const std::string& extra : extras)
        (extra.size() > 1 && extra[0] == '-' ? options : words).push_back(extra);
    // An unknown option comes first: the words after it may be meant as its value.
    if (!options.empty()) {
        return who + " has no option" + (options.size() == 1 ? " " : "s ") + Listed(options, "or");
    }
    if (command == "diff" && (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr ||
                              dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)) {
        std::string got = words.empty() ? "none" : std::to_string(words.size()) + ":";
        for (const std::string& word : words)
            got += " " + word;
        return "diff takes OLD and NEW, and got " + got;
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && words.empty() &&
        !command.empty()) {
        return command + " takes one " + operand + ", and got none";
    }
    if (!words.empty() && dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        if (command.empty()) return "halvic takes a command first, not " + words.front();
        std::string got;
        for (const std::string& word : words)
            got += " " + word;
        return command + " takes one " + operand + ", and got " + std::to_string(words.size()) +
               ":" + got;
    }
    const std::string message = error.what();
    std::smatch match;
    static const std::regex kMissing(R"((\S+): \d+ required (\S+) missing)");
    static const std::regex kTwice(R"((\S+): At Most \d+ required but received (\d+))");
    static const std::regex kNotIn(R"((\S+): (.*) not in \{(.*)\})");
    static const std::regex kRange(R"((\S+): Value (.*) not in range (\S+) to (\S+))");
    static const std::regex kExcludes(R"((\S+) excludes (\S+))");
    static const std::regex kNeeds(R"((\S+) requires (\S+))");
    static const std::regex kFlagValue(R"((\S+) was given a disallowed flag override)");
    if (std::regex_match(message, match, kMissing)) {
        return who + " " + match[1].str() + " needs its " + match[2].str();
    }
    if (std::regex_match(message, match, kTwice)) {
        return who + " " + match[1].str() + " is given " + match[2].str() +
               " times, and takes one value";
    }
    if (std::regex_match(message, match, kRange)) {
        return who + " " + match[1].str() + " takes a number from " + match[3].str() + " to " +
               match[4].str() + ", not '" + match[2].str() + "'";
    }
    if (std::regex_match(message, match, kNotIn)) {
        std::vector<std::string> choices;
        std::string all = match[3].str();
        for (std::string::size_type start = 0;;) {
            std::string::size_type comma = all.find(',', start);
            choices.push_back(all.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        return who + " " + match[1].str() + " takes " + Listed(choices, "or") + ", not '" +
               match[2].str() + "'";
    }
    if (std::regex_match(message, match, kFlagValue))
        return who + " --" + match[1].str() + " takes no value";
    if (std::regex_match(message, match, kNeeds))
        return who + " " + match[1].str() + " works only with " + match[2].str();
    if (std::regex_match(message, match, kExcludes)) {
        return who + " takes " + match[1].str() + " or " + match[2].str() + ", not both";
    }
    // An option's own check, worded as the ones above: "--from: takes bytes, ..., not 'x'".
    static const std::regex kTakes(R"((\S+): (takes .*))");
    if (std::regex_match(message, match, kTakes))
        return who + " " + match[1].str() + " " + match[2].str();
    // The option checks of halvic's own ("--record: records are numbered from 1").
    return who + " " + message;
}

std::string QuoteInArgumentMessage(const std::string& arg) {
    const std::string name = arg.substr(0, arg.find('"'));
    // A drive's root needs its backslash, and a name without a space no quotes.
    std::string written = name.size() == 2 && name[1] == ':'    ? name + "\\"
                          : name.find(' ') == std::string::npos ? name
                                                                : '"' + name + '"';
    return arg + ": no name holds a double quote; probably \"" + name +
           "\\\" was typed, where the backslash before the closing quote keeps the quote" +
           (arg.size() > name.size() + 1 ? ", and what follows," : "") +
           " in the argument: leave out that backslash (" + written + ")";
}

}  // namespace halvic::cli
