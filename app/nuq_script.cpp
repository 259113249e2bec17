// nuq check-script and nuq decode: the packet script road from the command line.

#include "acquisition/uNuqClasses.h"
#include "acquisition/uScriptClasses.h"
#include "app/nuq_commands.h"
#include "platform/Cp1251.h"
#include "platform/LogFiles.h"
#include "platform/SysUtils.h"

#include <cstdio>

namespace nuq::app {

const char* const CheckScriptHelp =
    "usage: nuq check-script FILE\n"
    "\n"
    "Checks the packet script in FILE (UTF-8, or cp1251) and prints every check\n"
    "message, one per line, with the line it is about.\n"
    "\n"
    "Exit status: 0 the script passes, 1 it does not, 2 the file cannot be read.\n";

const char* const DecodeHelp =
    "usage: nuq decode --script FILE --packet HEX\n"
    "\n"
    "Loads the packet script in FILE as a boiler room does and decodes the packet\n"
    "given as hex digits (blanks allowed; byte 1 of the packet first). Prints one\n"
    "line per decoded line of every block, in script order, with TAB-separated\n"
    "fields: caption, value text, unit, and 1 for an alarm or 0. The line of the\n"
    "byte captioned \"Код аварии\" has a fifth field when the script's alarm\n"
    "texts give its code one: that text.\n"
    "\n"
    "Exit status: 0 decoded, 1 the script does not pass its check or cannot be\n"
    "loaded (its messages are printed), 2 bad arguments, an unreadable file or a\n"
    "bad hex text.\n";

bool ReadTextFile(const std::string& path, std::string& text, std::string& reason,
                  std::vector<int>* notUtf8Lines) {
    // A folder opens like a file and reads as nothing: an empty script would pass.
    if (DirectoryExists(path)) {
        reason = "\"" + path + "\" - папка, а не файл";
        return false;
    }
    try {
        // A script is a few kilobytes; a device such as /dev/zero must not be read forever.
        constexpr size_t MaxScriptFileBytes = 16 << 20;
        text = TextFromFileBytes(ReadFileBytes(path, MaxScriptFileBytes), notUtf8Lines);
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
        return false;
    }
}

bool ReadTextFile(const std::string& path, std::string& text) {
    std::string reason;
    if (ReadTextFile(path, text, reason)) return true;
    std::fprintf(stderr, "nuq: %s\n", reason.c_str());
    return false;
}

std::string NotUtf8LineMessage(const std::string& file, int line) {
    return file + ", стр. " + std::to_string(line) +
           ": строка не в кодировке UTF-8, прочитана как cp1251";
}

bool ReadScriptFile(const std::string& path, const std::string& shownName, std::string& text,
                    TScriptFileLines& lines, std::string& reason) {
    std::vector<int> numbers;
    if (!ReadTextFile(path, text, reason, &numbers)) return false;
    lines = {};
    const std::vector<std::string> all = SplitLines(text);
    for (int n : numbers) {
        // A comment is blanked whole: its bytes change nothing. Any other
        // line would be read in a code page its writer did not mean.
        const bool comment = size_t(n) <= all.size() && all[size_t(n - 1)].rfind("//", 0) == 0;
        lines.Said.push_back(NotUtf8LineMessage("Скрипт " + shownName, n) +
                             (comment ? " (комментарий)" : ""));
        if (!comment)
            lines.Refusals.push_back("Стр. " + std::to_string(n) +
                                     " - Строка не в кодировке UTF-8.");
    }
    return true;
}

const tBlock* AlarmCodeBlock(const TBoilerRoom& room) {
    for (int i = 0; i < room.Blocks.Count(); ++i) {
        const tBlock& block = room.Blocks.Items(i);
        if (block.BlockType == 1 && Trim(block.Caption) == "Код аварии") return &block;
    }
    return nullptr;
}

int AlarmCodeOf(const tBlock& block) {
    return block.IsNaN() ? 0 : int(block.Value);
}

bool ParseHexPacket(const std::string& hex, std::string& bytes, std::string& reason) {
    bytes.clear();
    int pending = -1;
    for (size_t i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else {
            reason = "character " + std::to_string(i + 1) + " is not a hex digit";
            return false;
        }
        if (pending < 0) {
            pending = digit;
        } else {
            bytes += char(pending * 16 + digit);
            pending = -1;
        }
    }
    if (pending >= 0) {
        reason = "odd number of hex digits";
        return false;
    }
    return true;
}

int CheckScriptCommand(const Args& args) {
    if (args.size() != 1) {
        std::fputs(CheckScriptHelp, stderr);
        return 2;
    }
    std::string script, reason;
    TScriptFileLines lines;
    if (!ReadScriptFile(args[0], args[0], script, lines, reason)) {
        std::fprintf(stderr, "nuq: %s\n", reason.c_str());
        return 2;
    }
    for (const auto& line : lines.Said) std::printf("%s\n", line.c_str());
    for (const auto& line : lines.Refusals) std::printf("%s\n", line.c_str());
    tScriptAnalyser analyser;
    analyser.Analyse(script);
    for (const auto& e : analyser.Errors) std::printf("%s\n", e.Text.c_str());
    return analyser.Passed() && lines.Refusals.empty() ? 0 : 1;
}

int DecodeCommand(const Args& args) {
    std::string scriptFile, hex;
    bool haveHex = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--script" && i + 1 < args.size()) {
            scriptFile = args[++i];
        } else if (args[i] == "--packet" && i + 1 < args.size()) {
            hex = args[++i];
            haveHex = true;
        } else {
            std::fprintf(stderr, "nuq decode: unexpected argument \"%s\"\n", args[i].c_str());
            std::fputs(DecodeHelp, stderr);
            return 2;
        }
    }
    if (scriptFile.empty() || !haveHex) {
        std::fputs(DecodeHelp, stderr);
        return 2;
    }
    std::string script;
    if (!ReadTextFile(scriptFile, script)) return 2;
    std::string packet, reason;
    if (!ParseHexPacket(hex, packet, reason)) {
        std::fprintf(stderr, "nuq decode: bad packet hex text: %s\n", reason.c_str());
        return 2;
    }

    tScriptAnalyser analyser;
    analyser.Analyse(script);
    if (!analyser.Passed()) {
        for (const auto& e : analyser.Errors) std::printf("%s\n", e.Text.c_str());
        return 1;
    }
    TBoilerRoom room;
    try {
        room.LoadScript(script);
    } catch (const Exception& e) {
        std::fprintf(stderr, "nuq decode: the script cannot be loaded: %s\n", e.what());
        return 1;
    }
    if (packet.size() > size_t(PacketBufferSize))
        std::fprintf(stderr, "nuq decode: the packet is cut to %d bytes\n", PacketBufferSize);
    room.DecodePacket(packet);
    const tBlock* alarm = AlarmCodeBlock(room);
    for (int i = 0; i < room.Blocks.Count(); ++i) {
        const tBlock& block = room.Blocks.Items(i);
        const std::string unit = Trim(block.GetUnitSuffix());
        const std::string alarmText =
            &block == alarm ? room.CrashList.GetText(AlarmCodeOf(block)) : std::string();
        for (int k = 0; k < block.DecodeList.Count(); ++k) {
            const tDecodeResult line = block.DecodeList.GetItem(k);
            std::printf("%s\t%s\t%s\t%d%s\n", line.Caption.c_str(), line.Value.c_str(),
                        unit.c_str(), line.Alarm ? 1 : 0,
                        alarmText.empty() ? "" : ("\t" + alarmText).c_str());
        }
    }
    return 0;
}

} // namespace nuq::app
