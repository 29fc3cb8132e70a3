// kelmem-view: runs kelmem scripts through the same core as kelmem and shows
// the run as a terminal map, a JSON Lines trace or a self-contained page.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"
#include "html.h"
#include "json.h"
#include "outfile.h"
#include "replay.h"
#include "textmap.h"
#include "trace.h"

namespace {

constexpr int kExitWrite = 1;
constexpr int kExitUsage = 2;

int fail(const std::string& message)
{
    std::fprintf(stderr, "kelmem-view: %s\n", message.c_str());
    return kExitWrite;
}

bool colorFor(kv::Color color, std::FILE* fp)
{
    if (color == kv::Color::Auto)
        return isatty(fileno(fp)) && !std::getenv("NO_COLOR");
    return color == kv::Color::Always;
}

int run(const kv::Options& opt)
{
    kv::OutFile out;
    std::string error;
    if (!out.open(opt.output, &error))
        return fail(error);
    kv::BlockWriter writer(out.fp());
    bool traced = false;
    switch (opt.format) {
    case kv::Format::Text: {
        kv::TextMapSink sink(&writer, colorFor(opt.color, out.fp()));
        traced = kv::kv_Trace(opt.scripts, &sink, opt.policy);
        break;
    }
    case kv::Format::Json: {
        kv::JsonLinesSink sink(&writer);
        traced = kv::kv_Trace(opt.scripts, &sink, opt.policy);
        break;
    }
    case kv::Format::Html: {
        // The page compares the run with its four policy replays.
        kv::HtmlSink page;
        traced = kv::kv_TracePage(opt.scripts, opt.policy, &page);
        if (traced && !page.finish(&writer, opt.quiz, &error))
            return fail(error);
        break;
    }
    }
    if (!traced)
        return fail("out of memory while tracing the run");
    writer.flush(true);
    if (!out.commit(writer.error(), &error))
        return fail(error);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    kv::Options opt;
    std::string error;
    switch (kv::kv_ParseArgs(argc, argv, &opt, &error)) {
    case kv::CliAction::Help:
        std::fputs(kv::kv_HelpText(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitWrite;
    case kv::CliAction::Version:
        std::fputs("kelmem-view " KELMEM_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitWrite;
    case kv::CliAction::Usage:
        std::fprintf(stderr, "kelmem-view: %s; try 'kelmem-view --help'\n", error.c_str());
        return kExitUsage;
    case kv::CliAction::Run:
        break;
    }
    return run(opt);
}
