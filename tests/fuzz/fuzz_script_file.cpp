// A packet script file as people save it, in UTF-8 or in code page 1251, read
// and checked as "nuq check-script" does. The text read is UTF-8; every check
// message is UTF-8 and names the line it is about; and the same script saved
// in the other encoding checks the same.

#include "FuzzCheck.h"
#include "acquisition/uScriptClasses.h"
#include "platform/Cp1251.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace nuq;

namespace {

const std::string LinePrefix = "Стр. ";

std::vector<tScriptError> CheckText(const std::string& text) {
    tScriptAnalyser analyser;
    analyser.Analyse(text);
    return analyser.Errors;
}

bool Same(const std::vector<tScriptError>& a, const std::vector<tScriptError>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].Text != b[i].Text || a[i].Line != b[i].Line) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = TextFromFileBytes(bytes);
    FUZZ_CHECK(IsValidUtf8(text));
    // A leading byte-order mark is dropped; then valid UTF-8 is taken as it
    // stands. A file mixing encodings is read line by line (each line that is
    // valid UTF-8 as it stands, the others as cp1251) or wholly as cp1251; one
    // with no UTF-8 sequence at all is cp1251.
    const std::string body = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    if (IsValidUtf8(body)) {
        FUZZ_CHECK(text == body);
    } else {
        std::string mixed;
        bool anyUtf8 = false;
        for (size_t start = 0; start < body.size();) {
            const size_t lf = body.find('\n', start);
            const size_t end = lf == std::string::npos ? body.size() : lf + 1;
            const std::string line = body.substr(start, end - start);
            const bool utf8 = IsValidUtf8(line);
            anyUtf8 = anyUtf8 || (utf8 && std::any_of(line.begin(), line.end(),
                                                      [](char c) { return c & 0x80; }));
            mixed += utf8 ? line : Cp1251ToUtf8(line);
            start = end;
        }
        FUZZ_CHECK(text == Cp1251ToUtf8(body) || (anyUtf8 && text == mixed));
    }

    const std::vector<tScriptError> errors = CheckText(text);
    for (const tScriptError& e : errors) {
        FUZZ_CHECK(IsValidUtf8(e.Text) && !e.Text.empty());
        // A message about a statement begins with its line number.
        if (e.Text.compare(0, LinePrefix.size(), LinePrefix) == 0) {
            const std::string number = std::to_string(e.Line) + " - ";
            FUZZ_CHECK(e.Text.compare(LinePrefix.size(), number.size(), number) == 0);
        }
    }

    // Saved in cp1251: when that keeps every character and cannot be taken
    // for UTF-8, it reads back to the same text and checks the same.
    const std::string cp = Utf8ToCp1251(text);
    if (Cp1251ToUtf8(cp) == text && (cp == text || !IsValidUtf8(cp))) {
        const std::string again = TextFromFileBytes(cp);
        FUZZ_CHECK(again == text || cp.compare(0, 3, "\xEF\xBB\xBF") == 0);
        if (again == text) FUZZ_CHECK(Same(CheckText(again), errors));
    }
    return 0;
}
