#pragma once
// Serialised texts written readably in tests: "~" stands for #1 (end of a
// record), "|" for #2 (between fields), "^" for #3 and "`" for #4.

#include <string>
#include <string_view>

inline std::string LT(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        switch (c) {
        case '~':
            c = '\x01';
            break;
        case '|':
            c = '\x02';
            break;
        case '^':
            c = '\x03';
            break;
        case '`':
            c = '\x04';
            break;
        default:
            break;
        }
    }
    return out;
}
