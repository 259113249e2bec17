#include "platform/Sound.h"

#include "platform/SysUtils.h"

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace nuq {

namespace {

// The first of the usual players found on PATH.
std::string FindPlayer() {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    for (std::string_view player : {"aplay", "paplay"}) {
        std::string_view rest = dirs;
        for (;;) {
            size_t end = rest.find(':');
            std::string_view dir = rest.substr(0, end);
            std::string candidate(dir.empty() ? std::string_view(".") : dir);
            candidate.append("/").append(player);
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
            if (end == std::string_view::npos) break;
            rest.remove_prefix(end + 1);
        }
    }
    return {};
}

} // namespace

bool PlayWaveAsync(const std::string& fileName) {
    if (!FileExists(fileName)) return false;
    std::string player = FindPlayer();
    if (player.empty()) return false;

    // A double fork leaves the player to init, so no zombie is left behind
    // and the caller never waits for the sound to end.
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        if (fork() != 0) _exit(0);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        const char* quiet =
            player.size() >= 5 && player.substr(player.size() - 5) == "aplay" ? "-q" : nullptr;
        if (quiet)
            execl(player.c_str(), player.c_str(), quiet, fileName.c_str(), (char*)nullptr);
        else
            execl(player.c_str(), player.c_str(), fileName.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace nuq
