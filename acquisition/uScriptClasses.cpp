#include "acquisition/uScriptClasses.h"

#include "foundation/fhStrUtils.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace nuq {

namespace {

const char* const CrLf = "\r\n";
const char Byte1 = '\x01';

const char* const Identifiers[] = {
    "#script",     "#endscript",     "#length",      "#defbyte",     "#enddefbyte", "#defbit",
    "#enddefbit",  "#defparam",      "#enddefparam", "Type",         "Caption",     "MetricUnit",
    "Visible",     "Object",         "On1",          "On0",          "Error",       "DefNumber",
    "#defcommand", "#enddefcommand", "#defcrash",    "#enddefcrash", "Code",        "Select",
    "SignByte",    "SignBit",        "Dimension",    "BottomLimit",  "TopLimit",    "NaN"};

struct tSectionKeywords {
    const char* Opener;
    const char* Closer;
};
// Order matters: a statement is matched against the first opener it holds.
const tSectionKeywords SectionKeywords[] = {
    {"#script", "#endscript"},         {"#defbyte", "#enddefbyte"},
    {"#defbit", "#enddefbit"},         {"#defparam", "#enddefparam"},
    {"#defcommand", "#enddefcommand"}, {"#defcrash", "#enddefcrash"}};

const char* const TypeWords[] = {"IsByte",  "IsShortInt", "IsComposite", "IsParameter",
                                 "IsFloat", "IsInteger",  "IsReal"};

bool Contains(std::string_view s, std::string_view key) {
    return s.find(key) != std::string_view::npos;
}

std::string_view BeforeSemicolon(std::string_view s) {
    size_t p = s.find(';');
    return p == std::string_view::npos ? s : s.substr(0, p);
}

// A statement has a key when the key stands before its ";".
bool HasKey(std::string_view statement, std::string_view key) {
    return Contains(BeforeSemicolon(statement), key);
}

// The trimmed text between the first separator and the first ";"; empty when
// the separator does not stand before the ";".
std::string ValueOf(std::string_view statement, std::string_view separator) {
    std::string_view text = BeforeSemicolon(statement);
    size_t p = text.find(separator);
    if (p == std::string_view::npos) return {};
    return Trim(text.substr(p + separator.size()));
}

// Quotes delimit a text and are dropped; a doubled one stands for itself.
std::string Unquote(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\'') {
            out += s[i];
        } else if (i + 1 < s.size() && s[i + 1] == '\'') {
            out += '\'';
            ++i;
        }
    }
    return out;
}

// The text before "->", empty when there is no arrow.
std::string_view LeftOfArrow(std::string_view s) {
    size_t p = s.find("->");
    return p == std::string_view::npos ? std::string_view() : s.substr(0, p);
}

std::string_view RightOfArrow(std::string_view s) {
    size_t p = s.find("->");
    return p == std::string_view::npos ? std::string_view() : s.substr(p + 2);
}

// The source line a statement ended on: the number after its ";". An empty
// statement (";;") still carries its line there.
int StatementLine(std::string_view statement) {
    size_t p = statement.find(';');
    int line;
    if (p == std::string_view::npos || !TryStrToInt(Trim(statement.substr(p + 1)), line)) return -1;
    return line;
}

// A string list's text: every entry followed by CR LF.
std::string JoinText(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += CrLf;
    }
    return out;
}

// Decimal point or comma both read as the separator in force.
std::string NormaliseSeparator(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '.' || c == ',') c = DecimalSeparator;
    return out;
}

bool IsByteRange(int n) {
    return n >= 0 && n <= 255;
}

// Cuts every open..close sub-block (with the character after its closer) out
// of the text; an unclosed one runs to the end.
std::string RemoveSubBlocks(std::string text, std::string_view open, std::string_view close) {
    for (;;) {
        size_t start = text.find(open);
        if (start == std::string::npos) return text;
        size_t end = text.find(close, start);
        if (end == std::string::npos) {
            text.erase(start);
        } else {
            end += close.size() + 1;
            text.erase(start, std::min(end, text.size()) - start);
        }
    }
}

// The open..close sub-block starting at the given position (inclusive of its
// closer); an unclosed one runs to the end.
std::string SubBlockAt(const std::string& text, size_t start, std::string_view close) {
    size_t end = text.find(close, start);
    end = end == std::string::npos ? text.size() : end + close.size();
    return text.substr(start, end - start);
}

// Value of the first statement with the key, after the bit and parameter
// sub-blocks are cut out; false when no statement has it.
bool OwnValue(const std::string& sectionText, std::string_view key, std::string& value) {
    std::string own = RemoveSubBlocks(sectionText, "#defbit", "#enddefbit");
    own = RemoveSubBlocks(own, "#defparam", "#enddefparam");
    for (const auto& line : SplitLines(own)) {
        if (HasKey(line, key)) {
            value = ValueOf(line, "=");
            return true;
        }
    }
    return false;
}

// "Code n -> text" and "DefNumber n -> text": the number and the unquoted
// text; false when the number does not read.
bool NumberedText(std::string_view statement, std::string_view word, int& number,
                  std::string& text) {
    std::string body = ReplaceStr(BeforeSemicolon(statement), word, "");
    if (!TryStrToInt(Trim(LeftOfArrow(body)), number)) return false;
    text = Unquote(Trim(RightOfArrow(body)));
    return true;
}

// Statements as the checker and the splitter read them: each the statement
// text, ";" and the line its ";" stood on.
std::vector<std::string> Preprocess(const std::string& script) {
    std::vector<std::string> lines = SplitLines(script);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        if (line.size() >= 2 && line[0] == '/' && line[1] == '/')
            line = " ";
        else
            line = ReplaceStr(Trim(line), ";",
                              std::string(";").append(IntToStr(int64_t(i) + 1)) + Byte1);
    }
    std::string joined = ReplaceStr(JoinText(lines), CrLf, " ");
    std::vector<std::string> statements;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find(Byte1, start);
        if (end == std::string::npos) end = joined.size();
        if (end > start)
            statements.push_back(Trim(std::string_view(joined).substr(start, end - start)));
        start = end + 1;
    }
    return statements;
}

class tChecker {
public:
    explicit tChecker(std::vector<tScriptError>& errors) : Errors(errors) {}

    void Run(const std::vector<std::string>& lines) {
        Errors.clear();
        // A copy made from the joined text: a trailing empty statement drops out.
        St = SplitLines(Trim(JoinText(lines)));
        if (St.empty()) Whole("Не найден текст скрипта", 0);
        if (!AnyContains("#script")) Whole("Отсутствует описание начала скрипта.", 0);
        for (const auto& s : St) {
            int n;
            if (Contains(s, "#length") && !TryStrToInt(ValueOf(s, "="), n))
                Add(s, " - Не указана длина инфопакета.");
        }
        if (!AnyContains("#endscript"))
            Whole("Отсутствует описание окончания скрипта.", std::max(0, int(St.size()) - 1));
        CheckIdentifiers();
        CheckSectionsClosed();
        CheckByteSections();
        for (const auto& s : St) CheckValues(s);
    }

private:
    std::vector<tScriptError>& Errors;
    std::vector<std::string> St;

    void Add(const std::string& statement, const std::string& message) {
        int line = StatementLine(statement);
        Errors.push_back({"Стр. " + IntToStr(line) + message, line});
    }
    void Whole(const std::string& message, int line) { Errors.push_back({message, line}); }

    bool AnyContains(std::string_view key) const {
        return std::any_of(St.begin(), St.end(), [&](const auto& s) { return Contains(s, key); });
    }

    void CheckIdentifiers() {
        for (const auto& s : St) {
            bool known = std::any_of(std::begin(Identifiers), std::end(Identifiers),
                                     [&](const char* id) { return Contains(s, id); });
            if (!known) Add(s, " - Ошибка при определении идентификатора.");
        }
    }

    void CheckSectionsClosed() {
        for (size_t i = 0; i < St.size(); ++i) {
            const tSectionKeywords* keys = nullptr;
            for (const auto& k : SectionKeywords) {
                if (Contains(St[i], k.Opener)) {
                    keys = &k;
                    break;
                }
            }
            if (!keys) continue;
            bool closed = false;
            for (size_t j = i; j < St.size(); ++j) {
                if (j > i && Contains(St[j], keys->Opener)) break;
                if (Contains(St[j], keys->Closer)) {
                    closed = true;
                    break;
                }
            }
            if (!closed) Add(St[i], std::string(" - <") + keys->Closer + "> не найдено.");
        }
    }

    // A byte's own statements (up to its first bit section) must give its
    // type and caption.
    void CheckByteSections() {
        size_t i = 0;
        while (i < St.size()) {
            if (!Contains(St[i], "#defbyte")) {
                ++i;
                continue;
            }
            bool hasType = false, hasCaption = false;
            size_t j = i;
            for (; j < St.size(); ++j) {
                if (j > i && (Contains(St[j], "#enddefbyte") || Contains(St[j], "#defbit"))) break;
                if (Contains(St[j], "Type")) {
                    hasType = true;
                    std::string word = ValueOf(St[j], "=");
                    if (std::none_of(std::begin(TypeWords), std::end(TypeWords),
                                     [&](const char* w) { return word == w; }))
                        Add(St[j], " - Тип байта может быть определен как: IsByte, IsShortInt, "
                                   "IsComposite, IsParameter, IsFloat, IsReal, или IsInteger.");
                }
                if (Contains(St[j], "Caption")) hasCaption = true;
            }
            if (!hasType) Add(St[i], " - Не задано описание типа байта");
            if (!hasCaption) Add(St[i], " - Не задано название байта");
            i = j;
        }
    }

    void CheckValues(const std::string& s) {
        int n;
        if (Contains(s, "#defbyte") && !TryStrToInt(ValueOf(s, " "), n))
            Add(s, " - Не удалось определить номер байта.");
        if (Contains(s, "#defbit")) {
            if (!TryStrToInt(ValueOf(s, " "), n))
                Add(s, " - Не удалось определить номер бита.");
            else if (n > 8)
                Add(s, " - В байте может быть описано только 8 бит.");
        }
        if (Contains(s, "Error")) {
            if (!TryStrToInt(ValueOf(s, "="), n))
                Add(s, " - Не удалось определить код индикации аварийного состояния.");
            else if (n != 0 && n != 1)
                Add(s, " - Код индикации аварийного состояния может принимать значения 0 или 1.");
        }
        if (Contains(s, "DefNumber")) {
            if (!TryStrToInt(Trim(LeftOfArrow(ReplaceStr(s, "DefNumber", ""))), n))
                Add(s, " - Не удалось определить число для определения параметра.");
            else if (!IsByteRange(n))
                Add(s, " - При описании байта-параметра можно описать диапазон чисел от 0 до 255.");
        }
        if (Contains(s, "Code")) {
            if (!TryStrToInt(Trim(LeftOfArrow(ReplaceStr(s, "Code", ""))), n))
                Add(s, " - Не удалось определить число для кода команды или расшифровки аварии.");
            else if (!IsByteRange(n))
                Add(s, " - При описании кода команды или расшифровки аварии можно описать "
                       "диапазон чисел от 0 до 255.");
        }
        if (Contains(s, "Select")) CheckSelect(s);
        if (Contains(s, "Dimension")) {
            double d;
            if (!TryStrToFloat(NormaliseSeparator(ValueOf(s, "=")), d))
                Add(s, " - Не удалось определить число для определения параметра.");
            else if (d != std::trunc(d) || d < 1 || d > 65535)
                Add(s, " - Размерность должна быть целочисленным числом в пределах 1-65535.");
        }
        for (const char* limit : {"BottomLimit", "TopLimit"}) {
            double d;
            if (Contains(s, limit) && !TryStrToFloat(NormaliseSeparator(ValueOf(s, "=")), d))
                Add(s, " - Не удалось определить число для определения параметра.");
        }
        if (Contains(s, "NaN")) {
            std::string value = ValueOf(s, "=");
            int64_t code;
            if (!value.empty() && !TryStrToInt64("$" + value, code))
                Add(s, " - Не удалось преобразовать значение NaN к числу.");
        }
    }

    // "Select a >< b -> text": both bounds bytes.
    void CheckSelect(const std::string& s) {
        std::string body = ReplaceStr(s, "Select", "");
        std::string rangeText(LeftOfArrow(body));
        size_t p = rangeText.find("><");
        int a, b;
        bool read = p != std::string::npos && TryStrToInt(Trim(rangeText.substr(0, p)), a) &&
                    TryStrToInt(Trim(rangeText.substr(p + 2)), b);
        if (!read)
            Add(s, " - Ошибка при указании диапазона выбора допустимых значений для команды.");
        else if (!IsByteRange(a) || !IsByteRange(b))
            Add(s, " - Диапазон допустимых чисел должен быть от 0 до 255.");
    }
};

// Alarm texts from the checked statements between "#defcrash" and its
// closer, so a commented-out or line-broken entry cannot break loading.
std::string MakeCrashText(const std::vector<std::string>& lines) {
    std::string out;
    size_t i = 0;
    while (i < lines.size() && !HasKey(lines[i], "#defcrash")) ++i;
    for (; i < lines.size(); ++i) {
        int code;
        std::string text;
        if (HasKey(lines[i], "Code") && NumberedText(lines[i], "Code", code, text))
            out += CrLf + IntToStr(code) + Byte1 + text;
        if (HasKey(lines[i], "#enddefcrash")) break;
    }
    return out;
}

} // namespace

// ---- tScriptSection ----

void tScriptSection::SetText(const std::string& text) {
    FText = text;
    Lines = SplitLines(text);
    std::string number;
    for (const auto& line : Lines) {
        if (HasKey(line, "#defbyte")) {
            number = ValueOf(line, " ");
            break;
        }
    }
    ByteNumber = StrToInt(number);
}

int tScriptSection::GetType() const {
    for (const auto& line : SplitLines(FText)) {
        if (!HasKey(line, "Type")) continue;
        std::string word = ValueOf(line, "=");
        for (int t = 0; t < 7; ++t)
            if (word == TypeWords[t]) return t + 1;
        return 0;
    }
    return 0;
}

std::string tScriptSection::GetCaption() const {
    std::string value;
    return OwnValue(FText, "Caption", value) ? Unquote(value) : std::string();
}

std::string tScriptSection::GetMetricUnit() const {
    std::string value;
    return OwnValue(FText, "MetricUnit", value) ? Unquote(value) : std::string();
}

std::string tScriptSection::GetNaN() const {
    std::string value;
    return OwnValue(FText, "NaN", value) ? UpperCase(Unquote(value)) : std::string();
}

bool tScriptSection::GetVisible() const {
    std::string value;
    return !(OwnValue(FText, "Visible", value) && value == "False");
}

int tScriptSection::GetDimension() const {
    std::string value;
    OwnValue(FText, "Dimension", value);
    std::string number = NormaliseSeparator(Unquote(value));
    int n;
    if (TryStrToInt(number, n)) return n;
    // The check takes "10.0" as a whole number; read it the same way here.
    double d;
    if (TryStrToFloat(number, d) && d == std::trunc(d) && d >= INT32_MIN && d <= INT32_MAX)
        return int(d);
    throw EConvertError("'" + value + "' не является допустимым целым числом");
}

double tScriptSection::GetBottomLimit() const {
    std::string value;
    OwnValue(FText, "BottomLimit", value);
    return StrToFloat(NormaliseSeparator(Unquote(value)));
}

double tScriptSection::GetTopLimit() const {
    std::string value;
    OwnValue(FText, "TopLimit", value);
    return StrToFloat(NormaliseSeparator(Unquote(value)));
}

tBitDescriptions tScriptSection::GetBits() const {
    tBitDescriptions bits;
    for (int k = 1; k <= 8; ++k) {
        int pos = NPos("#defbit", FText, k);
        if (pos == 0) break;
        std::vector<std::string> block =
            SplitLines(SubBlockAt(FText, size_t(pos - 1), "#enddefbit"));
        int n;
        if (block.empty() || !TryStrToInt(ValueOf(block[0], " "), n) || n < 1 || n > 8) continue;
        tBitDescription& bit = bits[size_t(n - 1)];
        for (const auto& line : block) {
            if (HasKey(line, "Caption")) bit.Caption = Unquote(ValueOf(line, "="));
            if (HasKey(line, "On0")) bit.On0 = Unquote(ValueOf(line, "="));
            if (HasKey(line, "On1")) bit.On1 = Unquote(ValueOf(line, "="));
            if (HasKey(line, "Error")) {
                int e;
                bit.Error = TryStrToInt(ValueOf(line, "="), e) && (e == 0 || e == 1) ? e : -1;
            }
        }
    }
    return bits;
}

std::string tScriptSection::GetParameters() const {
    size_t start = FText.find("#defparam");
    if (start == std::string::npos) return {};
    std::string out;
    for (const auto& line : SplitLines(SubBlockAt(FText, start, "#enddefparam"))) {
        int number;
        std::string text;
        // A passed check leaves no unreadable number; anything else is skipped.
        if (HasKey(line, "DefNumber") && NumberedText(line, "DefNumber", number, text))
            out += CrLf + IntToStr(number) + Byte1 + text;
    }
    return out;
}

// ---- tScriptSections ----

tScriptSection& tScriptSections::Add(const std::string& text) {
    auto section = std::make_unique<tScriptSection>();
    section->SetText(text);
    List.push_back(std::move(section));
    return *List.back();
}

tScriptSection& tScriptSections::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    return *List[size_t(index)];
}

void tScriptSections::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    List.erase(List.begin() + index);
}

// ---- tScriptAnalyser ----

void tScriptAnalyser::Analyse(const std::string& script) {
    Script = script;
    Sections.Clear();
    CrashText.clear();
    Lines = Preprocess(script);
    tChecker(Errors).Run(Lines);
    if (!Passed()) return;

    // Each byte section runs from its "#defbyte" to its "#enddefbyte"; the
    // check guarantees that closer comes before the next section.
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (!HasKey(Lines[i], "#defbyte")) continue;
        std::string text;
        for (size_t j = i; j < Lines.size(); ++j) {
            text += Lines[j] + CrLf;
            if (HasKey(Lines[j], "#enddefbyte")) break;
        }
        Sections.Add(text);
    }
    CrashText = MakeCrashText(Lines);
}

int tScriptAnalyser::GetSectionCount() const {
    return int(std::count_if(Lines.begin(), Lines.end(),
                             [](const auto& s) { return HasKey(s, "#defbyte"); }));
}

} // namespace nuq
