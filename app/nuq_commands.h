#pragma once
// Commands of the nuq command line. Each takes the arguments after its name
// and returns the process exit status.

#include <string>
#include <vector>

namespace nuq::app {

using Args = std::vector<std::string>;

struct Command {
    const char* Name;
    const char* Summary;
    const char* Help; // full text for "nuq COMMAND --help"
    int (*Run)(const Args& args);
};

int CheckScriptCommand(const Args& args);
int DecodeCommand(const Args& args);
int RunCommand(const Args& args);

extern const char* const CheckScriptHelp;
extern const char* const DecodeHelp;
extern const char* const RunHelp;

// Reads a text file of people's making (UTF-8, or cp1251 when not valid
// UTF-8). On failure gives the reason, or prints it, and returns false.
bool ReadTextFile(const std::string& path, std::string& text, std::string& reason,
                  std::vector<int>* notUtf8Lines = nullptr);
bool ReadTextFile(const std::string& path, std::string& text);

// What a packet script file's lines that are not UTF-8 (in a file that
// otherwise is) come to: a message for each, and a check message for each
// one that is not a comment, which refuses the script.
struct TScriptFileLines {
    std::vector<std::string> Said;
    std::vector<std::string> Refusals;
};
// What is said of a line of FILE ("Файл ..." or "Скрипт ...") that was not
// UTF-8 in a file that otherwise is.
std::string NotUtf8LineMessage(const std::string& file, int line);
// ReadTextFile for a packet script, ShownName naming it in the messages.
bool ReadScriptFile(const std::string& path, const std::string& shownName, std::string& text,
                    TScriptFileLines& lines, std::string& reason);

// Hex digits with optional blanks to bytes; false with a reason otherwise.
bool ParseHexPacket(const std::string& hex, std::string& bytes, std::string& reason);

} // namespace nuq::app

namespace nuq {
class TBoilerRoom;
class tBlock;
} // namespace nuq

namespace nuq::app {

// The block that carries the packet's alarm code: the byte block captioned
// "Код аварии"; null when the script has none.
const tBlock* AlarmCodeBlock(const TBoilerRoom& room);
// The alarm code the block shows, 0 when it shows no data.
int AlarmCodeOf(const tBlock& block);

} // namespace nuq::app
