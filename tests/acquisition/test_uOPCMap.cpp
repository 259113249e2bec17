#include "ListTextNotation.h"
#include "acquisition/uListText.h"
#include "acquisition/uOPCMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace nuq;

namespace {

std::unique_ptr<TOPCMapState> Row(std::string caption, std::string values, std::string mask = "",
                                  std::string path = "Boiler1", std::string item = "State") {
    auto r = std::make_unique<TOPCMapState>();
    r->Caption = std::move(caption);
    r->Path = std::move(path);
    r->Item = std::move(item);
    r->Mask = std::move(mask);
    r->Values = std::move(values);
    return r;
}

std::unique_ptr<TOPCMapVar> Var(int size, int position, float value = 0, std::string name = "V") {
    auto v = std::make_unique<TOPCMapVar>();
    v->Path = "Boiler1";
    v->Name = std::move(name);
    v->Size = uint8_t(size);
    v->VarType = size == 2 ? 1 : size == 4 ? 2 : 0;
    v->Position = uint16_t(position);
    v->Value = value;
    return v;
}

// The editor's four rows.
void EditorRows(TOPCMapStates& s) {
    s.Add(Row("Останов", "0"));
    s.Add(Row("Выбег", ""));
    s.Add(Row("Работа", "1,2"));
    s.Add(Row("Аварийный останов", ""));
}

void SetAll(TOPCMapStates& s, int value) {
    for (int i = 0; i < s.Count(); ++i) s.GetItem(i)->Value = value;
}

std::vector<int> Positions(const TOPCMap& m) {
    std::vector<int> p;
    for (int i = 0; i < m.Vars.Count(); ++i) p.push_back(m.Vars.GetItem(i)->Position);
    return p;
}

} // namespace

TEST(OPCMapStates, StateByteFromEditorRows) {
    TOPCMapStates s;
    EditorRows(s);
    struct Case {
        int value;
        const char* hex;
    };
    for (auto c : {Case{2, "20"}, Case{1, "20"}, Case{0, "00"}, Case{7, "F0"}, Case{-1, "F0"},
                   Case{12, "F0"}, Case{21, "F0"}}) {
        SetAll(s, c.value);
        EXPECT_EQ(s.StateByteHex(), c.hex) << c.value;
    }
    TOPCMapStates none;
    EXPECT_EQ(none.StateByteHex(), "F0");
}

TEST(OPCMapStates, MasksAndValueLists) {
    struct Case {
        const char* mask;
        const char* values;
        int value;
        bool matches;
    };
    for (auto c : {
             Case{"**1*", "2", 6, true},     // 6 AND 0010 = 2
             Case{"**1*", "6", 6, false},    // compared after the mask
             Case{"**1*", "0", 4, true},     // 4 AND 2 = 0
             Case{" 1 1 ", "3", 7, true},    // blanks ignored
             Case{"  ", "7", 7, true},       // blank mask = none
             Case{"1x1", "0,1,5", 5, false}, // a bad mask skips the row
             Case{"**", "0", 3, true},       // all stars compare 0
             Case{"", " 1 , 2 ,3", 2, true}, // blanks in the value list
             Case{"", "12", 1, false},       // whole values only
             Case{"", "1,2", 12, false}, Case{"", "-5,4", -5, true}, Case{"", "", 0, false},
             Case{"1", "0", 0, true},
             Case{"100000000000000000000000000000001", "1", 3, true}, // beyond 32 bits
         }) {
        TOPCMapStates s;
        s.Add(Row("Работа", c.values, c.mask));
        SetAll(s, c.value);
        EXPECT_EQ(s.StateByteHex(), c.matches ? "00" : "F0")
            << "mask '" << c.mask << "' values '" << c.values << "' value " << c.value;
    }
}

TEST(OPCMapStates, FirstMatchingRowWins) {
    TOPCMapStates s;
    for (int i = 0; i < 16; ++i)
        s.Add(Row(std::string("R").append(std::to_string(i)), i >= 3 ? "9" : ""));
    SetAll(s, 9);
    EXPECT_EQ(s.StateByteHex(), "30");
    s.GetItem(3)->Values = "";
    s.GetItem(14)->Values = "";
    EXPECT_EQ(s.StateByteHex(), "40");
}

// A 17th row would make a three-digit state byte and shift the whole packet.
TEST(OPCMapStates, MoreRowsThanTheByteHolds) {
    TOPCMapStates s;
    for (int i = 0; i < 16; ++i) s.Add(Row("R", "1"));
    SetAll(s, 1);
    EXPECT_EQ(s.StateByteHex(), "00");
    s.Add(Row("R17", "1"));
    EXPECT_THROW(s.StateByteHex(), EOPCMapError);
    TOPCMap m;
    for (int i = 0; i < 17; ++i) m.States.Add(Row("R", "9"));
    EXPECT_THROW(m.BuildPacket(), EOPCMapError);
}

TEST(OPCMapStates, HasSource) {
    struct Case {
        const char* path;
        const char* item;
        bool has;
    };
    for (auto c : {Case{"", "", false}, Case{"  ", " ", false}, Case{"T", "", true},
                   Case{"", "I", true}, Case{"T", "I", true}}) {
        auto r = Row("x", "", "", c.path, c.item);
        EXPECT_EQ(r->HasSource(), c.has) << "'" << c.path << "' '" << c.item << "'";
    }
}

TEST(OPCMapVars, HexText) {
    struct Case {
        int size;
        float value;
        const char* hex;
    };
    for (auto c : {
             Case{2, -5, "8005"},
             Case{2, 300, "012C"},
             Case{1, 300, "2C"},
             Case{4, 1.0f, "3F800000"},
             Case{4, 0, "00000000"},
             Case{4, -0.0f, "00000000"},
             Case{4, -1.5f, "BFC00000"},
             Case{4, 12.5f, "41480000"},
             Case{1, -5, "85"},
             Case{1, 0, "00"},
             Case{1, 255, "FF"},
             Case{1, 200, "C8"},     // the magnitude's top bit is kept as it comes
             Case{1, -300, "AC"},    // low bits of 300 with the sign
             Case{2, 65539, "0003"}, // low 16 bits
             Case{2, -32767, "FFFF"},
             Case{1, 2.5f, "02"},
             Case{1, 3.5f, "04"}, // halves to even
             Case{1, 2.6f, "03"},
             Case{2, -0.4f, "0000"}, // rounds to zero: no sign
             Case{2, -0.6f, "8001"},
             Case{2, 1e30f, "0000"},
         }) {
        auto v = Var(c.size, 1, c.value);
        EXPECT_EQ(v->HexText(), c.hex) << c.size << " bytes of " << c.value;
    }
}

// A width the packet does not know, or a value without an integer form, is
// an error rather than a packet with missing bytes.
TEST(OPCMapVars, HexTextRefusesWhatCannotBeSent) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        int size;
        float value;
    };
    for (auto c : {Case{0, 1}, Case{3, 1}, Case{8, 1}, Case{255, 0}, Case{1, inf}, Case{2, -inf},
                   Case{2, nan}})
        EXPECT_THROW(Var(c.size, 1, c.value)->HexText(), EOPCMapError) << c.size << " " << c.value;
    EXPECT_EQ(Var(4, 1, inf)->HexText(), "7F800000"); // a single holds it
}

TEST(OPCMapVars, LastByteAndCoverage) {
    struct Case {
        int size, position, n;
        bool covers;
    };
    for (auto c :
         {Case{1, 5, 5, true}, Case{1, 5, 4, false}, Case{1, 5, 6, false}, Case{2, 5, 6, true},
          Case{4, 5, 8, true}, Case{4, 5, 9, false}, Case{4, 65535, 65538, true}}) {
        auto v = Var(c.size, c.position);
        EXPECT_EQ(v->LastByte(), c.position + c.size - 1);
        EXPECT_EQ(v->CoversPosition(c.n), c.covers) << c.size << "@" << c.position << " " << c.n;
    }
}

TEST(OPCMap, BuildPacket) {
    TOPCMap m;
    EXPECT_EQ(m.BuildPacket(), (TByteList{0xF0})); // no rows, no variables
    EditorRows(m.States);
    SetAll(m.States, 2);
    EXPECT_EQ(m.BuildPacket(), (TByteList{0x20}));

    // Sorted by position; gaps are not filled and Size is not applied.
    m.Size = 40;
    m.Vars.Add(Var(4, 20, 1.0f, "c"));
    m.Vars.Add(Var(2, 2, -5, "a"));
    m.Vars.Add(Var(1, 10, 300, "b"));
    EXPECT_EQ(m.BuildPacket(), (TByteList{0x20, 0x80, 0x05, 0x2C, 0x3F, 0x80, 0x00, 0x00}));
    EXPECT_EQ(Positions(m), (std::vector<int>{2, 10, 20}));

    m.Vars.GetItem(1)->Size = 3;
    EXPECT_THROW(m.BuildPacket(), EOPCMapError);
}

TEST(OPCMap, SortKeepsEqualPositionsInOrder) {
    TOPCMap m;
    m.Vars.Add(Var(1, 3, 1, "x"));
    m.Vars.Add(Var(1, 1, 2, "y"));
    m.Vars.Add(Var(1, 3, 3, "z"));
    m.SortVars();
    EXPECT_EQ(m.Vars.GetItem(0)->Name, "y");
    EXPECT_EQ(m.Vars.GetItem(1)->Name, "x");
    EXPECT_EQ(m.Vars.GetItem(2)->Name, "z");
}

TEST(OPCMap, SetSizeAndCheckVars) {
    auto make = [] {
        auto m = std::make_unique<TOPCMap>();
        m->Vars.Add(Var(1, 1));
        m->Vars.Add(Var(2, 2)); // bytes 2..3
        m->Vars.Add(Var(4, 4)); // bytes 4..7
        m->Size = 7;
        return m;
    };
    struct Case {
        int size;
        std::vector<int> kept;
    };
    for (const auto& c : {Case{7, {1, 2, 4}}, Case{100, {1, 2, 4}}, Case{6, {1, 2}},
                          Case{3, {1, 2}}, Case{2, {1}}, Case{1, {1}}, Case{0, {}}, Case{-1, {}}}) {
        auto m = make();
        m->SetSize(c.size);
        EXPECT_EQ(m->Size, c.size);
        EXPECT_EQ(Positions(*m), c.kept) << "SetSize " << c.size;
        auto k = make();
        k->Size = c.size;
        k->CheckVars();
        EXPECT_EQ(Positions(*k), c.kept) << "CheckVars " << c.size;
    }
}

TEST(OPCMap, FindVarByPosition) {
    TOPCMap m;
    m.Vars.Add(Var(2, 2, 0, "a"));
    m.Vars.Add(Var(4, 3, 0, "b")); // overlaps: the first wins
    struct Case {
        int n;
        const char* name;
    };
    for (auto c : {Case{1, nullptr}, Case{2, "a"}, Case{3, "a"}, Case{4, "b"}, Case{6, "b"},
                   Case{7, nullptr}}) {
        TOPCMapVar* v = m.FindVarByPosition(c.n);
        if (!c.name)
            EXPECT_EQ(v, nullptr) << c.n;
        else {
            ASSERT_NE(v, nullptr) << c.n;
            EXPECT_EQ(v->Name, c.name) << c.n;
        }
    }
}

TEST(OPCMapLists, AddDeleteGetItem) {
    TOPCMapStates s;
    EditorRows(s);
    s.Delete(1);
    EXPECT_EQ(s.Count(), 3);
    EXPECT_EQ(s.GetItem(1)->Caption, "Работа");
    EXPECT_THROW(s.GetItem(3), EListError);
    EXPECT_THROW(s.Delete(-1), EListError);
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
    TOPCMapVars v;
    EXPECT_EQ(v.Add(Var(1, 1)), 0);
    EXPECT_EQ(v.Add(Var(1, 2)), 1);
    EXPECT_THROW(v.GetItem(2), EListError);
}

TEST(OPCMapTexts, WrittenForm) {
    TOPCMap m;
    m.Size = 12;
    m.Confirmed = 1;
    m.Vars.Add(Var(2, 3));
    m.States.Add(Row("Работа", "1,2", "**1*"));
    EXPECT_EQ(DecodeListText(m.SaveToString()),
              LT("12|1^Boiler1 |V |2|3|1|0~ ^Работа |Boiler1 |State |**1* |1,2 ~ "));
    TOPCMap empty;
    EXPECT_EQ(DecodeListText(empty.SaveToString()), LT("0|0^ ^ "));
}

TEST(OPCMapTexts, ReadFromStoredText) {
    struct Case {
        const char* text; // before Base64
        int size, confirmed;
        std::vector<std::string> captions;
        std::vector<int> positions;
    };
    for (const auto& c : std::vector<Case>{
             {"12|1^Boiler1 |V |2|3|1|0~ ^Работа |B |S |**1* |1,2 ~ ", 12, 1, {"Работа"}, {3}},
             {"0|0^ ^ ", 0, 0, {}, {}},
             {"", 0, 0, {}, {}},
             {"x|y^ ^ ", 0, 0, {}, {}},
             {"5^ ^ ", 5, 0, {}, {}},
             {"7|300^ ^ ", 7, 44, {}, {}}, // a byte keeps its low 8 bits
             {"3|1", 3, 1, {}, {}},        // sections missing
             {"1|1^T |A |1|1|0|0~T |B |2|2|1|0~~ ^ ", 1, 1, {}, {1, 2}},
             {"1|1^ ^A |p |i |m |v ~~~B |p |i |m |v ~ ", 1, 1, {"A", "B"}, {}},
         }) {
        TOPCMap m;
        m.Vars.Add(Var(1, 99));
        m.States.Add(Row("old", ""));
        m.LoadFromString(EncodeListText(LT(c.text)));
        EXPECT_EQ(m.Size, c.size) << c.text;
        EXPECT_EQ(m.Confirmed, c.confirmed) << c.text;
        std::vector<std::string> captions;
        for (int i = 0; i < m.States.Count(); ++i) captions.push_back(m.States.GetItem(i)->Caption);
        EXPECT_EQ(captions, c.captions) << c.text;
        EXPECT_EQ(Positions(m), c.positions) << c.text;
    }
    TOPCMap bad;
    bad.Size = 3;
    bad.LoadFromString("not base64!");
    EXPECT_EQ(bad.Size, 0);
    EXPECT_EQ(bad.Vars.Count(), 0);
}

TEST(OPCMapTexts, VariableFields) {
    struct Case {
        const char* record;
        const char* path;
        const char* name;
        int size, position, varType, decimals;
    };
    for (auto c : {
             Case{"T |N |4|7|2|3", "T", "N", 4, 7, 2, 3},
             Case{"T |N |4|7|0|3", "T", "N", 4, 7, 2, 3}, // the type follows the size
             Case{"T |N |2|7|9|3", "T", "N", 2, 7, 1, 3},
             Case{"T |N |3|7|2|3", "T", "N", 3, 7, 0, 3},       // an unknown size: type 0
             Case{"T |N |x|y|z|w", "T", "N", 0, 0, 0, 0},       // bad fields: defaults
             Case{"T |N |258|65537|0|1", "T", "N", 2, 1, 1, 1}, // truncated to their widths
             Case{" |N |1|1|0|0", "", "N", 1, 1, 0, 0},         // empty topic keeps the fields
             Case{" | |1|2|0|0", "", "", 1, 2, 0, 0},
             Case{"T |N ", "T", "N", 0, 0, 0, 0},
         }) {
        TOPCMapVar v;
        v.LoadFromString(LT(c.record));
        EXPECT_EQ(v.Path, c.path) << c.record;
        EXPECT_EQ(v.Name, c.name) << c.record;
        EXPECT_EQ(v.Size, c.size) << c.record;
        EXPECT_EQ(v.Position, c.position) << c.record;
        EXPECT_EQ(v.VarType, c.varType) << c.record;
        EXPECT_EQ(v.Decimals, c.decimals) << c.record;
    }
}

// An empty first text of a list (a caption, a topic) is written as its blank;
// reading must keep that blank, or every later field moves up by one.
TEST(OPCMapTexts, EmptyLeadingTextsRoundTrip) {
    TOPCMap m;
    m.Size = 9;
    m.States.Add(Row("", "1", "", "", ""));
    m.States.Add(Row("", "", "*1", "Boiler1", "State"));
    m.States.Add(Row("Работа", "", "", "", "Item"));
    m.Vars.Add(Var(2, 1, 0, ""));
    m.Vars.GetItem(0)->Path = "";
    m.Vars.Add(Var(4, 3, 0, "T1"));
    m.Vars.GetItem(1)->Path = "";
    m.Vars.GetItem(1)->Decimals = 2;

    TOPCMap r;
    r.LoadFromString(m.SaveToString());
    EXPECT_EQ(r.Size, 9);
    ASSERT_EQ(r.States.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto *a = m.States.GetItem(i), *b = r.States.GetItem(i);
        EXPECT_EQ(b->Caption, a->Caption) << i;
        EXPECT_EQ(b->Path, a->Path) << i;
        EXPECT_EQ(b->Item, a->Item) << i;
        EXPECT_EQ(b->Mask, a->Mask) << i;
        EXPECT_EQ(b->Values, a->Values) << i;
    }
    ASSERT_EQ(r.Vars.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto *a = m.Vars.GetItem(i), *b = r.Vars.GetItem(i);
        EXPECT_EQ(b->Path, a->Path) << i;
        EXPECT_EQ(b->Name, a->Name) << i;
        EXPECT_EQ(b->Size, a->Size) << i;
        EXPECT_EQ(b->Position, a->Position) << i;
        EXPECT_EQ(b->Decimals, a->Decimals) << i;
    }
    EXPECT_EQ(r.SaveToString(), m.SaveToString());
}

TEST(OPCMapTexts, TextsStoredTrimmedAndWithoutSeparators) {
    TOPCMap m;
    m.States.Add(Row("  Работа ", " 1, 2 ", " **1* ",
                     "a\x02"
                     "b",
                     "c\x03"));
    TOPCMap r;
    r.LoadFromString(m.SaveToString());
    ASSERT_EQ(r.States.Count(), 1);
    const auto* s = r.States.GetItem(0);
    EXPECT_EQ(s->Caption, "Работа");
    EXPECT_EQ(s->Values, "1, 2");
    EXPECT_EQ(s->Mask, "**1*");
    EXPECT_EQ(s->Path, "a b");
    EXPECT_EQ(s->Item, "c");
}
