// kelmem-view's command line: GNU long and short options, then the scripts.
#pragma once

#include <string>
#include <vector>

#include "replay.h"

namespace kv {

enum class Format { Text, Json, Html };
enum class Color { Auto, Always, Never };

struct Options {
    Format format = Format::Text;
    std::string output; // empty: standard output
    Color color = Color::Auto;
    bool quiz = false;
    Policy policy = Policy::Script; // loads placed by this policy instead
    std::vector<std::string> scripts;
};

enum class CliAction { Run, Help, Version, Usage };

// Reads argv into *opt. On CliAction::Usage, *error holds the one line to
// print (without the program name or a line end).
CliAction kv_ParseArgs(int argc, char** argv, Options* opt, std::string* error);

// The text of --help.
const char* kv_HelpText();

} // namespace kv
