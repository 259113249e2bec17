#pragma once
// What a shell command prints, for tests that run programs (or themselves) again.

#include <cstdio>
#include <string>

// Status: how the command ended, as pclose gives it (-1: it did not start).
inline std::string CommandOutput(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (status) *status = -1;
    if (!pipe) return out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    const int ended = pclose(pipe);
    if (status) *status = ended;
    return out;
}
