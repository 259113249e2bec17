#include "acquisition/uScriptClasses.h"

#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace nuq;

namespace {

std::string Join(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* line : lines) {
        out += line;
        out += '\n';
    }
    return out;
}

// A passing one-byte script with extra statements from line 5 on.
std::string ByteScript(const std::string& extra) {
    return "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'A';\n" + extra +
           "#enddefbyte;\n#endscript;\n";
}

std::vector<std::string> Texts(const tScriptAnalyser& a) {
    std::vector<std::string> out;
    for (const auto& e : a.Errors) out.push_back(e.Text);
    return out;
}

std::vector<int> LinesOf(const tScriptAnalyser& a) {
    std::vector<int> out;
    for (const auto& e : a.Errors) out.push_back(e.Line);
    return out;
}

const std::string TypeMessage =
    " - Тип байта может быть определен как: IsByte, IsShortInt, IsComposite, IsParameter, "
    "IsFloat, IsReal, или IsInteger.";

} // namespace

// Every check message as the user reads it, with the line it points at.
TEST(ScriptCheck, MessagesCarryTheirLine) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> texts;
        std::vector<int> lines;
    };
    const std::vector<Case> cases = {
        {"empty",
         "",
         {"Не найден текст скрипта", "Отсутствует описание начала скрипта.",
          "Отсутствует описание окончания скрипта."},
         {0, 0, 0}},
        {"only comments",
         "// a;\n//b\n",
         {"Не найден текст скрипта", "Отсутствует описание начала скрипта.",
          "Отсутствует описание окончания скрипта."},
         {0, 0, 0}},
        {"no start",
         Join({"#length = 2;", "#endscript;"}),
         {"Отсутствует описание начала скрипта."},
         {0}},
        {"bad length",
         Join({"#script;", "#length = два;", "#endscript;"}),
         {"Стр. 2 - Не указана длина инфопакета."},
         {2}},
        // The object of the missing end is the index of the last statement.
        {"no end",
         Join({"#script;", "#length = 2;", "#length = 3;"}),
         {"Отсутствует описание окончания скрипта.", "Стр. 1 - <#endscript> не найдено."},
         {2, 1}},
        {"unknown identifier",
         Join({"#script;", "Foo = 1;", "#endscript;"}),
         {"Стр. 2 - Ошибка при определении идентификатора."},
         {2}},
        {"unclosed byte",
         Join({"#script;", "", "#defbyte 1;", "Type = IsByte;", "Caption = 'A';", "#endscript;"}),
         {"Стр. 3 - <#enddefbyte> не найдено."},
         {3}},
        // A closer after the next opener closes only that one.
        {"closer after next opener",
         Join({"#script;", "#defbyte 1;", "Type = IsByte;", "Caption = 'A';", "#defbyte 2;",
               "Type = IsByte;", "Caption = 'B';", "#enddefbyte;", "#endscript;"}),
         {"Стр. 2 - <#enddefbyte> не найдено."},
         {2}},
        {"unclosed bit",
         ByteScript("#defbit 1;\nCaption = 'b';\n"),
         {"Стр. 5 - <#enddefbit> не найдено."},
         {5}},
        {"unclosed script",
         Join({"#script;", "#length = 1;"}),
         {"Отсутствует описание окончания скрипта.", "Стр. 1 - <#endscript> не найдено."},
         {1, 1}},
        {"unclosed crash",
         Join({"#script;", "#defcrash;", "Code 1 -> 'a';", "#endscript;"}),
         {"Стр. 2 - <#enddefcrash> не найдено."},
         {2}},
        {"unclosed command",
         Join({"#script;", "#defcommand;", "#endscript;"}),
         {"Стр. 2 - <#enddefcommand> не найдено."},
         {2}},
        {"unclosed param",
         ByteScript("#defparam;\n"),
         {"Стр. 5 - <#enddefparam> не найдено."},
         {5}},
        {"bad type",
         Join({"#script;", "#defbyte 1;", "Caption = 'A';", "Type = IsWord;", "#enddefbyte;",
               "#endscript;"}),
         {"Стр. 4" + TypeMessage},
         {4}},
        {"no type",
         Join({"#script;", "#defbyte 1;", "Caption = 'A';", "#enddefbyte;", "#endscript;"}),
         {"Стр. 2 - Не задано описание типа байта"},
         {2}},
        {"no caption",
         Join({"#script;", "#defbyte 1;", "Type = IsByte;", "#enddefbyte;", "#endscript;"}),
         {"Стр. 2 - Не задано название байта"},
         {2}},
        {"bad byte number",
         Join({"#script;", "#defbyte один;", "Type = IsByte;", "Caption = 'A';", "#enddefbyte;",
               "#endscript;"}),
         {"Стр. 2 - Не удалось определить номер байта."},
         {2}},
        {"bit above 8",
         ByteScript("#defbit 9;\nCaption = 'b';\n#enddefbit;\n"),
         {"Стр. 5 - В байте может быть описано только 8 бит."},
         {5}},
        {"bad bit number",
         ByteScript("#defbit x;\n#enddefbit;\n"),
         {"Стр. 5 - Не удалось определить номер бита."},
         {5}},
        {"error out of range",
         ByteScript("#defbit 1;\nError = 2;\n#enddefbit;\n"),
         {"Стр. 6 - Код индикации аварийного состояния может принимать значения 0 или 1."},
         {6}},
        {"error not a number",
         ByteScript("#defbit 1;\nError = да;\n#enddefbit;\n"),
         {"Стр. 6 - Не удалось определить код индикации аварийного состояния."},
         {6}},
        {"param out of range",
         ByteScript("#defparam;\nDefNumber 256 -> 'a';\n#enddefparam;\n"),
         {"Стр. 6 - При описании байта-параметра можно описать диапазон чисел от 0 до 255."},
         {6}},
        {"param negative",
         ByteScript("#defparam;\nDefNumber -1 -> 'a';\n#enddefparam;\n"),
         {"Стр. 6 - При описании байта-параметра можно описать диапазон чисел от 0 до 255."},
         {6}},
        {"param not a number",
         ByteScript("#defparam;\nDefNumber x -> 'a';\n#enddefparam;\n"),
         {"Стр. 6 - Не удалось определить число для определения параметра."},
         {6}},
        {"param without arrow",
         ByteScript("#defparam;\nDefNumber 5 'a';\n#enddefparam;\n"),
         {"Стр. 6 - Не удалось определить число для определения параметра."},
         {6}},
        {"code out of range",
         Join({"#script;", "#defcrash;", "Code 300 -> 'a';", "#enddefcrash;", "#endscript;"}),
         {"Стр. 3 - При описании кода команды или расшифровки аварии можно описать диапазон "
          "чисел от 0 до 255."},
         {3}},
        {"code not a number",
         Join({"#script;", "#defcommand;", "Code x -> 'a';", "#enddefcommand;", "#endscript;"}),
         {"Стр. 3 - Не удалось определить число для кода команды или расшифровки аварии."},
         {3}},
        {"select out of range",
         Join({"#script;", "#defcommand;", "Select 10 >< 256 -> 'a';", "#enddefcommand;",
               "#endscript;"}),
         {"Стр. 3 - Диапазон допустимых чисел должен быть от 0 до 255."},
         {3}},
        {"select not numbers",
         Join({"#script;", "#defcommand;", "Select 10 - 20 -> 'a';", "#enddefcommand;",
               "#endscript;"}),
         {"Стр. 3 - Ошибка при указании диапазона выбора допустимых значений для команды."},
         {3}},
        {"dimension not a number",
         ByteScript("Dimension = много;\n"),
         {"Стр. 5 - Не удалось определить число для определения параметра."},
         {5}},
        {"dimension zero",
         ByteScript("Dimension = 0;\n"),
         {"Стр. 5 - Размерность должна быть целочисленным числом в пределах 1-65535."},
         {5}},
        {"dimension fractional",
         ByteScript("Dimension = 2,5;\n"),
         {"Стр. 5 - Размерность должна быть целочисленным числом в пределах 1-65535."},
         {5}},
        {"dimension too large",
         ByteScript("Dimension = 65536;\n"),
         {"Стр. 5 - Размерность должна быть целочисленным числом в пределах 1-65535."},
         {5}},
        {"bottom limit",
         ByteScript("BottomLimit = 1..2;\n"),
         {"Стр. 5 - Не удалось определить число для определения параметра."},
         {5}},
        {"top limit",
         ByteScript("TopLimit = ;\n"),
         {"Стр. 5 - Не удалось определить число для определения параметра."},
         {5}},
        {"bad NaN",
         ByteScript("NaN = XYZ;\n"),
         {"Стр. 5 - Не удалось преобразовать значение NaN к числу."},
         {5}},
        {"NaN wider than 64 bits",
         ByteScript("NaN = 1FFFFFFFFFFFFFFFF;\n"),
         {"Стр. 5 - Не удалось преобразовать значение NaN к числу."},
         {5}},
    };
    for (const auto& c : cases) {
        tScriptAnalyser a;
        a.Analyse(c.script);
        EXPECT_EQ(Texts(a), c.texts) << c.name;
        EXPECT_EQ(LinesOf(a), c.lines) << c.name;
        EXPECT_FALSE(a.Passed()) << c.name;
        EXPECT_EQ(a.Sections.Count(), 0) << c.name;
        EXPECT_EQ(a.CrashText, "") << c.name;
    }
}

// Limits on the edge of what the check takes.
TEST(ScriptCheck, AcceptedValues) {
    for (const char* extra :
         {"Dimension = 1;\n", "Dimension = 65535;\n", "Dimension = 10.0;\n",
          "BottomLimit = -1,5;\n", "TopLimit = 2.25;\n", "NaN = ffff;\n", "NaN = ;\n",
          "#length = 40;\n", "#defbit 8;\n#enddefbit;\n", "#defbit 1;\nError = 0;\n#enddefbit;\n",
          "#defparam;\nDefNumber 0 -> 'a';\nDefNumber 255 -> 'b';\n#enddefparam;\n",
          "Object = 1;\nSignByte = 1;\nSignBit = 1;\n"}) {
        tScriptAnalyser a;
        a.Analyse(ByteScript(extra));
        EXPECT_TRUE(a.Passed()) << extra << (a.Errors.empty() ? "" : a.Errors[0].Text);
    }
}

// One statement may break several rules; messages come in check order.
TEST(ScriptCheck, MessagesInCheckOrder) {
    tScriptAnalyser a;
    a.Analyse(Join({"#length = x;", "Foo;", "#defbyte 1;", "Error = 5;", "#enddefbyte;"}));
    EXPECT_EQ(Texts(a), (std::vector<std::string>{
                            "Отсутствует описание начала скрипта.",
                            "Стр. 1 - Не указана длина инфопакета.",
                            "Отсутствует описание окончания скрипта.",
                            "Стр. 2 - Ошибка при определении идентификатора.",
                            "Стр. 3 - Не задано описание типа байта",
                            "Стр. 3 - Не задано название байта",
                            "Стр. 4 - Код индикации аварийного состояния может принимать "
                            "значения 0 или 1.",
                        }));
}

TEST(ScriptCheck, EdgeCases) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        // Only "//" in the first two columns makes a comment.
        {"indented comment",
         ByteScript("  // старая уставка;\n"),
         {"Стр. 5 - Ошибка при определении идентификатора."}},
        {"comment in column one", ByteScript("// старая уставка;\n"), {}},
        {"caption holding Code",
         ByteScript("Caption = 'Code котла';\n"),
         {"Стр. 5 - Не удалось определить число для кода команды или расшифровки аварии."}},
        {"caption holding Type",
         Join({"#script;", "#defbyte 1;", "Type = IsByte;", "Caption = 'Type';", "#enddefbyte;",
               "#endscript;"}),
         {"Стр. 4" + TypeMessage}},
        {"caption only in a bit",
         Join({"#script;", "#defbyte 1;", "Type = IsComposite;", "#defbit 1;", "Caption = 'b';",
               "#enddefbit;", "#enddefbyte;", "#endscript;"}),
         {"Стр. 2 - Не задано название байта"}},
        // The ";" inside the quotes ends the statement; the rest is no statement.
        {"semicolon in quotes",
         ByteScript("MetricUnit = 'кг;ч';\n"),
         {"Стр. 5 - Ошибка при определении идентификатора."}},
        // An empty statement keeps the line its ";" stood on.
        {"empty statement",
         ByteScript("NaN = FF;;\n"),
         {"Стр. 5 - Ошибка при определении идентификатора."}},
        {"case of keywords",
         ByteScript("type = IsByte;\n"),
         {"Стр. 5 - Ошибка при определении идентификатора."}},
        // Byte numbers are not bounded here: decoding shows such a byte as no data.
        {"byte number beyond any packet",
         Join({"#script;", "#defbyte -2147483648;", "Type = IsByte;", "Caption = 'A';",
               "#enddefbyte;", "#endscript;"}),
         {}},
    };
    for (const auto& c : cases) {
        tScriptAnalyser a;
        a.Analyse(c.script);
        EXPECT_EQ(Texts(a), c.texts) << c.name;
    }
}

// Statements are cut at ";" whatever the line breaks; each keeps the line of its ";".
TEST(ScriptPreprocess, StatementsAndLineNumbers) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"one per line", "#script;\n#endscript;", {"#script;1", "#endscript;2", ""}},
        {"several on a line",
         "  Type = IsByte;  Caption = 'A';\n",
         {"Type = IsByte;1", "Caption = 'A';1", ""}},
        {"over several lines", "Caption =\r\n   'A';\r\n", {"Caption = 'A';2", ""}},
        {"comment lines count", "// заголовок\n\n#script;\n", {"#script;3", ""}},
        {"tail without semicolon", "#script;\n#endscript", {"#script;1", "#endscript"}},
        {"lone carriage returns", "#script;\r#endscript;\r", {"#script;1", "#endscript;2", ""}},
        {"nothing", "", {}},
    };
    for (const auto& c : cases) {
        tScriptAnalyser a;
        a.Analyse(c.script);
        EXPECT_EQ(a.Lines, c.lines) << c.name;
        EXPECT_EQ(a.Script, c.script) << c.name;
    }
}

TEST(ScriptPreprocess, StatementOverLinesReportsLineOfItsSemicolon) {
    tScriptAnalyser a;
    a.Analyse(ByteScript("Dimension =\n\n  много;\n"));
    EXPECT_EQ(Texts(a), std::vector<std::string>{
                            "Стр. 7 - Не удалось определить число для определения параметра."});
}

TEST(ScriptSplit, SectionsRunFromDefbyteToItsCloser) {
    tScriptAnalyser a;
    a.Analyse(Join({"#script;", "#length = 3;", "#defbyte 2;", "Type = IsByte;",
                    "Caption = 'A'; #enddefbyte;", "#defbyte $03;", "Type = IsShortInt;",
                    "Caption = 'B';", "#enddefbyte;", "#endscript;"}));
    ASSERT_TRUE(a.Passed());
    EXPECT_EQ(a.GetSectionCount(), 2);
    ASSERT_EQ(a.Sections.Count(), 2);
    const tScriptSection& first = a.Sections.Items(0);
    EXPECT_EQ(first.Text(),
              "#defbyte 2;3\r\nType = IsByte;4\r\nCaption = 'A';5\r\n#enddefbyte;5\r\n");
    EXPECT_EQ(first.Lines, (std::vector<std::string>{"#defbyte 2;3", "Type = IsByte;4",
                                                     "Caption = 'A';5", "#enddefbyte;5"}));
    EXPECT_EQ(first.GetByteNumber(), 2);
    EXPECT_EQ(a.Sections.Items(1).ByteNumber, 3);
    EXPECT_EQ(a.Sections.Items(1).GetType(), 2);
    EXPECT_EQ(a.CrashText, "");
}

// A failed check leaves no sections but still counts the byte statements.
TEST(ScriptSplit, FailedCheckCountsButDoesNotSplit) {
    tScriptAnalyser a;
    a.Analyse(Join({"#defbyte 1;", "Type = IsByte;", "Caption = 'A';", "#enddefbyte;",
                    "#defbyte 2;", "#enddefbyte;"}));
    EXPECT_FALSE(a.Passed());
    EXPECT_EQ(a.GetSectionCount(), 2);
    EXPECT_EQ(a.Sections.Count(), 0);
    EXPECT_THROW(a.Sections.Items(0), EListError);

    // Analysing again starts afresh.
    a.Analyse(ByteScript(""));
    EXPECT_TRUE(a.Passed());
    EXPECT_EQ(a.Sections.Count(), 1);
    a.Analyse("");
    EXPECT_EQ(a.Sections.Count(), 0);
    EXPECT_EQ(a.GetSectionCount(), 0);
}

TEST(ScriptSections, ListAndByteNumber) {
    tScriptSections list;
    list.Add("#defbyte 7;1\r\n#enddefbyte;2\r\n");
    list.Add("#defbyte 8;3\r\n");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_THROW(list.Add("#defbyte x;1\r\n"), EConvertError);
    EXPECT_THROW(list.Add("Type = IsByte;1\r\n"), EConvertError);
    EXPECT_EQ(list.Count(), 2);
    list.Delete(0);
    EXPECT_EQ(list.Items(0).GetByteNumber(), 8);
    EXPECT_THROW(list.Delete(1), EListError);
    EXPECT_THROW(list.Items(-1), EListError);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(ScriptGetters, TypeByWord) {
    struct Case {
        const char* statement;
        int type;
    };
    for (auto c :
         {Case{"Type = IsByte;", 1}, Case{"Type = IsShortInt;", 2}, Case{"Type = IsComposite;", 3},
          Case{"Type = IsParameter;", 4}, Case{"Type = IsFloat;", 5}, Case{"Type = IsInteger;", 6},
          Case{"Type = IsReal;", 7}, Case{"Type = isreal;", 0}, Case{"Type = 'IsReal';", 0},
          Case{"Caption = 'A';", 0}}) {
        tScriptSection s;
        s.SetText(std::string("#defbyte 1;1\r\n") + c.statement + "2\r\n#enddefbyte;3\r\n");
        EXPECT_EQ(s.GetType(), c.type) << c.statement;
    }
}

// Texts of the byte itself never come from its bit or parameter sub-blocks.
TEST(ScriptGetters, OwnTextsSkipSubBlocks) {
    tScriptAnalyser a;
    a.Analyse(ByteScript("#defbit 1;\nCaption = 'бит';\nMetricUnit = 'x';\n#enddefbit;\n"
                         "#defparam;\nDefNumber 1 -> 'p';\nVisible = False;\n#enddefparam;\n"
                         "MetricUnit = 'кПа';\nNaN = ff;\n"));
    ASSERT_TRUE(a.Passed()) << Texts(a)[0];
    const tScriptSection& s = a.Sections.Items(0);
    EXPECT_EQ(s.GetCaption(), "A");
    EXPECT_EQ(s.GetMetricUnit(), "кПа");
    EXPECT_EQ(s.GetNaN(), "FF");
    EXPECT_TRUE(s.GetVisible());
}

TEST(ScriptGetters, QuotesAndVisibility) {
    struct Case {
        const char* extra;
        std::string caption;
        bool visible;
        std::string unit;
    };
    for (const auto& c : {Case{"", "", true, ""},
                          Case{"Caption = 'Котёл ''Вулкан''';\n", "Котёл 'Вулкан'", true, ""},
                          Case{"Caption = Насос;\nVisible = False;\n", "Насос", false, ""},
                          Case{"Caption = 'a';\nVisible = false;\n", "a", true, ""},
                          Case{"Caption = 'a';\nVisible = 'False';\n", "a", true, ""},
                          Case{"Caption = 'a';\nMetricUnit = ''';\n", "a", true, "'"},
                          // A bare pair is a doubled quote, not an empty text.
                          Case{"Caption = '';\nMetricUnit = '°C';\n", "'", true, "°C"}}) {
        tScriptSection s;
        std::string text = "#defbyte 1;1\r\n";
        int line = 2;
        for (const auto& l : SplitLines(c.extra)) text += l + std::to_string(line++) + "\r\n";
        s.SetText(text);
        EXPECT_EQ(s.GetCaption(), c.caption) << c.extra;
        EXPECT_EQ(s.GetVisible(), c.visible) << c.extra;
        EXPECT_EQ(s.GetMetricUnit(), c.unit) << c.extra;
    }
}

TEST(ScriptGetters, ScalingAcceptsPointOrComma) {
    tScriptAnalyser a;
    a.Analyse(ByteScript("Dimension = 1000;\nBottomLimit = -0,5;\nTopLimit = 1.6;\n"));
    ASSERT_TRUE(a.Passed());
    const tScriptSection& s = a.Sections.Items(0);
    EXPECT_EQ(s.GetDimension(), 1000);
    EXPECT_DOUBLE_EQ(s.GetBottomLimit(), -0.5);
    EXPECT_DOUBLE_EQ(s.GetTopLimit(), 1.6);

    // A whole number written with a fraction passes the check, so it must read.
    a.Analyse(ByteScript("Dimension = 250,0;\n"));
    ASSERT_TRUE(a.Passed());
    EXPECT_EQ(a.Sections.Items(0).GetDimension(), 250);
}

TEST(ScriptGetters, MissingScalingRaises) {
    tScriptAnalyser a;
    a.Analyse(ByteScript(""));
    ASSERT_TRUE(a.Passed());
    const tScriptSection& s = a.Sections.Items(0);
    EXPECT_THROW(s.GetDimension(), EConvertError);
    EXPECT_THROW(s.GetBottomLimit(), EConvertError);
    EXPECT_THROW(s.GetTopLimit(), EConvertError);

    tScriptSection bad;
    bad.SetText("#defbyte 1;1\r\nDimension = 2,5;2\r\nTopLimit = x;3\r\n");
    EXPECT_THROW(bad.GetDimension(), EConvertError);
    EXPECT_THROW(bad.GetTopLimit(), EConvertError);
}

TEST(ScriptGetters, Bits) {
    tScriptAnalyser a;
    a.Analyse(Join(
        {"#script;",         "#defbyte 1;",        "Type = IsComposite;", "Caption = 'Состояние';",
         "#defbit 3;",       "Caption = 'Насос';", "On0 = 'Стоп';",       "On1 = 'Работа';",
         "Error = 0;",       "#enddefbit;",        "#defbit 1;",          "Caption = 'Дверь';",
         "On1 = 'Открыта';", "Error = 1;",         "#enddefbit;",         "#defbit 0;",
         "Caption = 'нет';", "#enddefbit;",        "#enddefbyte;",        "#endscript;"}));
    ASSERT_TRUE(a.Passed()) << Texts(a)[0];
    tBitDescriptions bits = a.Sections.Items(0).GetBits();
    EXPECT_EQ(bits[0].Caption, "Дверь");
    EXPECT_EQ(bits[0].On0, "");
    EXPECT_EQ(bits[0].On1, "Открыта");
    EXPECT_EQ(bits[0].Error, 1);
    EXPECT_EQ(bits[2].Caption, "Насос");
    EXPECT_EQ(bits[2].On0, "Стоп");
    EXPECT_EQ(bits[2].On1, "Работа");
    EXPECT_EQ(bits[2].Error, 0);
    for (size_t i : {1u, 3u, 4u, 5u, 6u, 7u}) {
        EXPECT_EQ(bits[i].Caption, "") << i;
        EXPECT_EQ(bits[i].Error, -1) << i;
    }
    EXPECT_EQ(a.Sections.Items(0).GetCaption(), "Состояние");
}

TEST(ScriptGetters, BitErrorOutsideZeroOneMeansNone) {
    tScriptSection s;
    s.SetText("#defbyte 1;1\r\n#defbit 2;2\r\nError = 5;3\r\n#enddefbit;4\r\n"
              "#defbit 4;5\r\nError = 1;6\r\n"); // unclosed: runs to the end
    tBitDescriptions bits = s.GetBits();
    EXPECT_EQ(bits[1].Error, -1);
    EXPECT_EQ(bits[3].Error, 1);
}

TEST(ScriptGetters, Parameters) {
    tScriptAnalyser a;
    a.Analyse(ByteScript("#defparam;\nDefNumber 0 -> 'Останов';\nDefNumber 2->'Ручной -> да';\n"
                         "DefNumber $0A -> 'Авария ''A''';\n#enddefparam;\n"));
    ASSERT_TRUE(a.Passed()) << Texts(a)[0];
    EXPECT_EQ(a.Sections.Items(0).GetParameters(), "\r\n0\x01Останов\r\n2\x01Ручной -> да\r\n10\x01"
                                                   "Авария 'A'");

    tScriptSection none;
    none.SetText("#defbyte 1;1\r\n");
    EXPECT_EQ(none.GetParameters(), "");
}

TEST(ScriptCrashText, EntriesFromDefcrash) {
    tScriptAnalyser a;
    a.Analyse(Join({"#script;", "#defcommand;", "Code 9 -> 'Пуск';", "#enddefcommand;",
                    "#defcrash;", "Code 1 -> 'Погасание пламени';", "Code 12->'Нет ''газа''';",
                    "#enddefcrash;", "#endscript;"}));
    ASSERT_TRUE(a.Passed());
    EXPECT_EQ(a.CrashText, "\r\n1\x01Погасание пламени\r\n12\x01Нет 'газа'");
}

// Entries come from the checked statements: a commented-out entry is not read
// (and cannot break loading), and an entry over two lines keeps its text.
TEST(ScriptCrashText, CommentedAndLineBrokenEntries) {
    tScriptAnalyser a;
    a.Analyse(Join({"#script;", "#defcrash;", "//Code 7 -> 'Старая авария';", "// Code списка",
                    "Code 3 ->", "   'Перегрев';", "#enddefcrash;", "#endscript;"}));
    ASSERT_TRUE(a.Passed()) << Texts(a)[0];
    EXPECT_EQ(a.CrashText, "\r\n3\x01Перегрев");
}

TEST(ScriptExample, BoilerScriptPasses) {
    std::string script =
        ReadFileBytes(std::string(NUQ_SOURCE_DIR) + "/examples/scripts/boiler.nqs");
    tScriptAnalyser a;
    a.Analyse(script);
    ASSERT_TRUE(a.Passed()) << Texts(a)[0];
    ASSERT_EQ(a.GetSectionCount(), 10);
    ASSERT_EQ(a.Sections.Count(), 10);
    std::vector<int> types, bytes;
    for (int i = 0; i < a.Sections.Count(); ++i) {
        types.push_back(a.Sections.Items(i).GetType());
        bytes.push_back(a.Sections.Items(i).GetByteNumber());
    }
    EXPECT_EQ(types, (std::vector<int>{3, 4, 2, 7, 7, 7, 6, 5, 1, 1}));
    EXPECT_EQ(bytes, (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 10, 14, 15}));
    EXPECT_EQ(a.Sections.Items(3).GetDimension(), 1000);
    EXPECT_DOUBLE_EQ(a.Sections.Items(3).GetTopLimit(), 1.6);
    EXPECT_EQ(a.Sections.Items(3).GetMetricUnit(), "МПа");
    EXPECT_EQ(a.Sections.Items(0).GetBits()[3].Error, 1);
    EXPECT_FALSE(a.Sections.Items(9).GetVisible());
    EXPECT_EQ(a.CrashText.substr(0, 2), "\r\n");
    EXPECT_EQ(SplitLines(a.CrashText).size(), 6u); // a leading empty line and five entries
}
