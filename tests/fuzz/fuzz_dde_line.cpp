// Lines of the DDE line protocol as a peer may send them: splitting never
// fails badly, and what splits joins to a line that splits the same.

#include "platform/DdeClient.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace nuq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields, again;
    if (DdeSplitLine(line, fields)) {
        const std::string joined = DdeJoinLine(fields);
        if (joined.find('\n') != std::string::npos) std::abort();
        if (!DdeSplitLine(joined, again) || again != fields) std::abort();
    }
    // Any texts as fields, split at NUL bytes.
    std::vector<std::string> texts(1);
    for (char c : line) {
        if (c == '\0')
            texts.emplace_back();
        else
            texts.back() += c;
    }
    if (!DdeSplitLine(DdeJoinLine(texts), again) || again != texts) std::abort();
    return 0;
}
