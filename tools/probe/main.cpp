// tavnv-probe: tells which NVIDIA driver libraries this machine can use, and what they offer.
#include "loader_messages.h"
#include "report.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char usage[] =
    "Usage: tavnv-probe [--json] [--require LIST] [-v] [--help]\n"
    "\n"
    "Reports for each NVIDIA driver library (cuda, cuvid, nvenc, nvfbc) whether it loads, and if not, why.\n"
    "With the CUDA driver: driver version and devices; with the encoder: codecs, profiles, input formats and\n"
    "presets per device; with the capture library: its status.\n"
    "\n"
    "  --json          print one JSON document instead of text\n"
    "  --require LIST  exit with status 1 unless every library in LIST (comma-separated: cuda,cuvid,nvenc,nvfbc)\n"
    "                  can be used\n"
    "  -v              also print the library's debug records (errors with origin and stack trace) to stderr\n"
    "  --help          print this text\n";

struct Options {
    bool json = false;
    bool verbose = false;
    std::vector<std::string> required;
};

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> items;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    return items;
}

// Exit status 2 for a usage error; -1 to go on.
int parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "-v" || argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "--require" && i + 1 < argc) {
            for (const std::string& name : split(argv[++i])) {
                options.required.push_back(name);
            }
        } else {
            std::fprintf(stderr, "tavnv-probe: unknown argument '%s'\n\n%s", argument.c_str(), usage);
            return 2;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const int status = parse(argc, argv, options); status >= 0) {
        return status;
    }
    for (const std::string& name : options.required) {
        if (tav::probe::Report().library(name) == nullptr) {
            std::fprintf(stderr, "tavnv-probe: unknown library '%s' in --require\n", name.c_str());
            return 2;
        }
    }

    // The report goes to stdout; the library's records, when asked for, to stderr.
    auto console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    console->set_level(options.verbose ? spdlog::level::debug : spdlog::level::off);
    auto loaderMessages = std::make_shared<tav::probe::LoaderMessages>();
    auto logger = std::make_shared<spdlog::logger>("tavnv-probe", spdlog::sinks_init_list{console, loaderMessages});
    logger->set_level(spdlog::level::debug);
    spdlog::set_default_logger(logger);

    const tav::probe::Report report = tav::probe::gather(*loaderMessages);
    std::cout << (options.json ? renderJson(report) : renderText(report));

    int status = 0;
    for (const std::string& name : options.required) {
        const tav::probe::LibraryStatus* library = report.library(name);
        if (!library->usable) {
            std::fprintf(stderr, "tavnv-probe: required library %s is not usable\n", name.c_str());
            status = 1;
        }
    }
    return status;
}
