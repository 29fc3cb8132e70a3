// Option parsing with getopt_long (argument permutation, "--", abbreviated
// long options), reporting its own single-line messages.

#include "cli.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace kv {

namespace {

enum LongOnly { OPT_COLOR = 256, OPT_QUIZ, OPT_POLICY };

const option kLongOptions[] = {
    {"format", required_argument, nullptr, 'f'},
    {"output", required_argument, nullptr, 'o'},
    {"color", required_argument, nullptr, OPT_COLOR},
    {"quiz", no_argument, nullptr, OPT_QUIZ},
    {"policy", required_argument, nullptr, OPT_POLICY},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// A choice's names and values.
template <typename E> struct Named {
    std::string_view name;
    E value;
};

constexpr Named<Format> kFormats[] = {
    {"text", Format::Text}, {"json", Format::Json}, {"html", Format::Html}};
constexpr Named<Color> kColors[] = {
    {"auto", Color::Auto}, {"always", Color::Always}, {"never", Color::Never}};
// The formats an output file's name implies by its suffix; text for any other.
constexpr Named<Format> kSuffixes[] = {
    {".html", Format::Html}, {".json", Format::Json}, {".jsonl", Format::Json}};

// Looks name up among a choice's names; false when it is none of them.
template <typename E, size_t N>
bool readChoice(std::string_view name, const Named<E> (&names)[N], E* out)
{
    for (const auto& n : names) {
        if (n.name == name) {
            *out = n.value;
            return true;
        }
    }
    return false;
}

// The message for an option getopt_long refused. A long option given an
// argument it does not take comes back with its value in optopt.
std::string refused(int c, const char* arg)
{
    if (c == ':')
        return std::string("option '") + arg + "' needs an argument";
    if (optopt && std::strncmp(arg, "--", 2) == 0) {
        for (const option& o : kLongOptions) {
            if (o.name && o.val == optopt)
                return std::string("option '--") + o.name + "' doesn't allow an argument";
        }
    }
    if (optopt && optopt < 256)
        return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
    return std::string("unknown option '") + arg + "'";
}

// A usage error, with message in *error.
CliAction usage(std::string* error, std::string message)
{
    *error = std::move(message);
    return CliAction::Usage;
}

} // namespace

CliAction kv_ParseArgs(int argc, char** argv, Options* opt, std::string* error)
{
    bool formatGiven = false;
    optind = 1; // so that the parser can run more than once (tests)
    opterr = 0;
    int c = 0;
    while ((c = getopt_long(argc, argv, ":f:o:hV", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'f':
            if (!readChoice(optarg, kFormats, &opt->format))
                return usage(error,
                             std::string("unknown format '") + optarg + "' (text, json or html)");
            formatGiven = true;
            break;
        case 'o':
            if (*optarg == '\0')
                return usage(error, "the output file's name is empty");
            opt->output = optarg;
            break;
        case OPT_COLOR:
            if (!readChoice(optarg, kColors, &opt->color))
                return usage(error, std::string("unknown colour mode '") + optarg +
                                        "' (auto, always or never)");
            break;
        case OPT_QUIZ:
            opt->quiz = true;
            break;
        case OPT_POLICY:
            if (!kv_ReadPolicy(optarg, &opt->policy))
                return usage(error, std::string("unknown policy '") + optarg +
                                        "' (first, best, worst or next)");
            break;
        case 'h':
            return CliAction::Help;
        case 'V':
            return CliAction::Version;
        default:
            return usage(error, refused(c, argv[optind - 1]));
        }
    }
    for (int i = optind; i < argc; i++)
        opt->scripts.emplace_back(argv[i]);
    const std::string_view output = opt->output;
    const std::string_view suffix = output.substr(std::min(output.rfind('.'), output.size()));
    if (!formatGiven && !readChoice(suffix, kSuffixes, &opt->format))
        opt->format = Format::Text;
    if (opt->quiz && opt->format != Format::Html)
        return usage(error, "--quiz goes only with the html format");
    if (opt->scripts.empty())
        return usage(error, "no script named");
    return CliAction::Run;
}

const char* kv_HelpText()
{
    return "Usage: kelmem-view [OPTION]... SCRIPT...\n"
           "Run kelmem scripts and show the run: a memory map per step (text), a trace\n"
           "(JSON Lines) or a self-contained page (html).\n"
           "\n"
           "  -f, --format=FORMAT  text, json or html; default: html when FILE ends in\n"
           "                       .html, json for .json or .jsonl, else text\n"
           "  -o, --output=FILE    write to FILE (whole or not at all) instead of\n"
           "                       standard output\n"
           "      --color=WHEN     colour the text map: auto (on a terminal, unless\n"
           "                       NO_COLOR is set), always or never\n"
           "      --quiz           html only: the page asks for a prediction before\n"
           "                       it shows each step\n"
           "      --policy=POLICY  replay: place every load where first, best, worst\n"
           "                       or next fit puts it instead of at its address\n"
           "  -h, --help           print this help and exit\n"
           "  -V, --version        print the version and exit\n"
           "\n"
           "Scripts and load files are named as for kelmem, relative to the current\n"
           "folder. Exit status: 0 when the run was shown, 1 when the output could not\n"
           "be written, 2 for a usage error. See kelmem-view(1).\n";
}

} // namespace kv
