// nuq: the command line of the acquisition engine.

#include "app/nuq_commands.h"
#include "platform/Host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace nuq::app {
namespace {

const Command kCommands[] = {
    {"run", "run the acquisition engine against the objects of objects.ini", RunHelp, RunCommand},
    {"check-script", "check a packet script and print its messages", CheckScriptHelp,
     CheckScriptCommand},
    {"decode", "decode a packet with a packet script", DecodeHelp, DecodeCommand},
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: nuq [--home DIR] COMMAND [ARGS]\n"
                      "\n"
                      "The acquisition engine of the boiler-room dispatcher's terminal.\n"
                      "\n"
                      "Commands:\n");
    for (const auto& c : kCommands) std::fprintf(out, "  %-14s %s\n", c.Name, c.Summary);
    std::fprintf(out, "\n"
                      "Options:\n"
                      "  --home DIR     the host folder (setting.ini, logs); default $NUQ_HOME,\n"
                      "                 else /etc/nuq for an installed /usr/bin/nuq, else the\n"
                      "                 folder of this program\n"
                      "  -h, --help     this text; \"nuq COMMAND --help\" describes a command\n"
                      "  --version      the program's version\n");
}

// The installed engine keeps its home where the system keeps configuration,
// not beside the program: R/usr/bin/nuq reads R/etc/nuq (R is "" once
// installed, or the folder a package was installed into for a try).
void DefaultInstalledHome() {
    if (const char* home = std::getenv("NUQ_HOME"); home && *home) return;
    const std::string folder = nuq::HostFolder(), bin = "/usr/bin/";
    if (folder.size() >= bin.size() &&
        folder.compare(folder.size() - bin.size(), bin.size(), bin) == 0)
        nuq::SetHostFolder(folder.substr(0, folder.size() - bin.size()) + "/etc/nuq");
}

} // namespace
} // namespace nuq::app

int main(int argc, char** argv) {
    using namespace nuq::app;
    Args args(argv + 1, argv + argc);
    size_t i = 0;
    bool homeGiven = false;
    while (i < args.size() && args[i].size() > 1 && args[i][0] == '-') {
        if (args[i] == "--help" || args[i] == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (args[i] == "--version") {
            std::printf("nuq %s\n", NUQ_VERSION);
            return 0;
        }
        if (args[i] == "--home") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "nuq: --home needs a folder (the value is missing)\n");
                return 2;
            }
            nuq::SetHostFolder(args[i + 1]);
            homeGiven = true;
            i += 2;
            continue;
        }
        std::fprintf(stderr, "nuq: unknown option %s\n", args[i].c_str());
        PrintUsage(stderr);
        return 2;
    }
    if (!homeGiven) DefaultInstalledHome();
    if (i >= args.size()) {
        PrintUsage(stderr);
        return 2;
    }
    for (const auto& c : kCommands) {
        if (args[i] != c.Name) continue;
        Args rest(args.begin() + long(i) + 1, args.end());
        for (const auto& a : rest)
            if (a == "--help" || a == "-h") {
                std::fputs(c.Help, stdout);
                return 0;
            }
        try {
            return c.Run(rest);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "nuq %s: %s\n", c.Name, e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "nuq: unknown command \"%s\"\n", args[i].c_str());
    PrintUsage(stderr);
    return 2;
}
