// A packet script file as people save it, in UTF-8 or in code page 1251, read
// and checked as "nuq check-script" does. The text read is UTF-8; every check
// message is UTF-8 and names the line it is about; and the same script saved
// in the other encoding checks the same.

#include "FuzzCheck.h"
#include "acquisition/uScriptClasses.h"
#include "platform/Cp1251.h"

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

// Whether TEXT is BODY read line by line (lines ending at CR LF, LF or a lone
// CR), each line as it stands when it is valid UTF-8 or else as cp1251, with
// at least one line beyond ASCII kept as it stands.
bool ReadLineByLine(const std::string& body, const std::string& text) {
    bool anyUtf8 = false;
    size_t at = 0;
    for (size_t start = 0; start < body.size();) {
        size_t end = body.find_first_of("\r\n", start);
        end = end == std::string::npos ? body.size()
                                       : end + (body.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        const std::string line = body.substr(start, end - start);
        const std::string cp = Cp1251ToUtf8(line);
        // The last line must take the rest: its UTF-8 bytes may begin its cp1251 reading.
        const auto matches = [&](const std::string& s) {
            return end == body.size() ? text.compare(at, std::string::npos, s) == 0
                                      : text.compare(at, s.size(), s) == 0;
        };
        if (line != cp && IsValidUtf8(line) && matches(line)) {
            anyUtf8 = true;
            at += line.size();
        } else if (matches(cp)) {
            at += cp.size();
        } else {
            return false;
        }
        start = end;
    }
    return anyUtf8 && at == text.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = TextFromFileBytes(bytes);
    FUZZ_CHECK(IsValidUtf8(text));
    // A leading byte-order mark is dropped. The text is the file read wholly
    // as UTF-8 (only when it is valid UTF-8), wholly as cp1251, or line by
    // line with some line beyond ASCII kept as UTF-8.
    const std::string body = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    FUZZ_CHECK((IsValidUtf8(body) && text == body) || text == Cp1251ToUtf8(body) ||
               ReadLineByLine(body, text));

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
