#pragma once
// Clipboard format identifiers: the predefined ones, and formats registered
// by name (from 0xC000; one name, compared without case, keeps one id).

#include <string>
#include <utility>
#include <vector>

#include "platform/gui/WinTypes.h"

namespace nuq {

enum : WORD {
    CF_TEXT = 1,
    CF_BITMAP = 2,
    CF_OEMTEXT = 7,
    CF_DIB = 8,
    CF_UNICODETEXT = 13,
    CF_HDROP = 15,
    CF_LOCALE = 16
};
enum : DWORD { DVASPECT_CONTENT = 1 };
enum : DWORD {
    TYMED_NULL = 0,
    TYMED_HGLOBAL = 1,
    TYMED_FILE = 2,
    TYMED_ISTREAM = 4,
    TYMED_ISTORAGE = 8,
    TYMED_GDI = 16
};

// The descriptor of a format that a data object offers.
struct TFormatEtc {
    WORD cfFormat = 0;
    void* ptd = nullptr; // target device
    DWORD dwAspect = DVASPECT_CONTENT;
    int lindex = -1;
    DWORD tymed = TYMED_HGLOBAL;
};

// 0 for an empty name.
WORD RegisterClipboardFormat(const std::string& name);
// The registered name of Format; empty for a predefined or unknown one.
std::string GetClipboardFormatName(WORD format);

// The desktop's clipboard, when a display exists: texts by MIME type
// ("text/plain", "text/html", ...) replace what it held. False without a display.
bool SystemClipboardAvailable();
bool SetSystemClipboardData(const std::vector<std::pair<std::string, std::string>>& mimeData);
// The desktop clipboard's text (UTF-8) when another program put it there;
// false when it holds none, holds ours, or there is no display.
bool GetForeignSystemClipboardText(std::string& utf8);

} // namespace nuq
