// Published properties written as named texts and read back.

#include "common/CommaLocale.h"
#include "foundation/gui/fhProps.h"
#include "platform/gui/Forms.h"

#include <gtest/gtest.h>

#include <map>

using namespace nuq;

namespace {

// A column of a collection, with a width.
class TColumnItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    int Width = 50;
    std::string Text;
};

class TNested : public TPersistent {
public:
    int Size = 8;
};

// One property of every kind.
class TSample : public TComponent {
public:
    using TComponent::TComponent;
    int Int = 0;
    int64_t Big = 0;
    int Ch = 'A';
    int WCh = 0x416; // Cyrillic capital Zhe
    int Enum = 0;
    int64_t Set = 0;
    double Single = 0, Dbl = 0;
    std::string Str;
    Variant Var;
    TComponent* Ref = nullptr;
    TStringList Lines;
    TCollection Columns{[](TCollection* c) { return std::make_unique<TColumnItem>(c); }};
    TNested Font;
};

void RegisterSamples() {
    RegisterClass<TColumnItem>("TColumnItem",
                               TPublisher<TColumnItem>()
                                   .Integer(
                                       "Width", [](TColumnItem& c) { return c.Width; },
                                       [](TColumnItem& c, int64_t v) { c.Width = int(v); })
                                   .String(
                                       "Text", [](TColumnItem& c) { return c.Text; },
                                       [](TColumnItem& c, const std::string& v) { c.Text = v; }));
    RegisterClass<TNested>("TNested", TPublisher<TNested>().Integer(
                                          "Size", [](TNested& n) { return n.Size; },
                                          [](TNested& n, int64_t v) { n.Size = int(v); }));
    RegisterClass<TSample>(
        "TSample",
        TPublisher<TSample>()
            .Integer(
                "Int", [](TSample& s) { return s.Int; },
                [](TSample& s, int64_t v) { s.Int = int(v); })
            .Ordinal(
                "Big", tkInt64, [](TSample& s) { return s.Big; },
                [](TSample& s, int64_t v) { s.Big = v; })
            .Ordinal(
                "Ch", tkChar, [](TSample& s) { return s.Ch; },
                [](TSample& s, int64_t v) { s.Ch = int(v); })
            .Ordinal(
                "WCh", tkWChar, [](TSample& s) { return s.WCh; },
                [](TSample& s, int64_t v) { s.WCh = int(v); })
            .Ordinal(
                "Enum", tkEnumeration, [](TSample& s) { return s.Enum; },
                [](TSample& s, int64_t v) { s.Enum = int(v); }, {"alLeft", "alRight", "alClient"})
            .Ordinal(
                "Set", tkSet, [](TSample& s) { return s.Set; },
                [](TSample& s, int64_t v) { s.Set = v; }, {"a", "b", "c"})
            .Float(
                "Single", ftSingle, [](TSample& s) { return s.Single; },
                [](TSample& s, double v) { s.Single = v; })
            .Float(
                "Dbl", ftDouble, [](TSample& s) { return s.Dbl; },
                [](TSample& s, double v) { s.Dbl = v; })
            .String(
                "Str", [](TSample& s) { return s.Str; },
                [](TSample& s, const std::string& v) { s.Str = v; })
            .VariantProp(
                "Var", [](TSample& s) { return s.Var; },
                [](TSample& s, const Variant& v) { s.Var = v; })
            .ComponentRef(
                "Ref", [](TSample& s) { return s.Ref; },
                [](TSample& s, TComponent* v) { s.Ref = v; })
            .Object("Lines", [](TSample& s) -> TPersistent* { return &s.Lines; })
            .Object("Columns", [](TSample& s) -> TPersistent* { return &s.Columns; })
            .Object("Font", [](TSample& s) -> TPersistent* { return &s.Font; })
            .Method("OnClick"));
}

// Sections of named values in memory, standing in for the ini file.
struct TMemStore {
    std::map<std::string, std::map<std::string, std::string>> Sections;
    std::vector<std::string> Cleared;
    void Connect(TPropsStorage& ps) {
        ps.OnReadValue = [this](const std::string& s, const std::string& i, const std::string& d) {
            auto sec = Sections.find(s);
            if (sec == Sections.end()) return d;
            auto v = sec->second.find(i);
            return v == sec->second.end() ? d : v->second;
        };
        ps.OnWriteValue = [this](const std::string& s, const std::string& i, const std::string& v) {
            Sections[s][i] = v;
        };
        ps.OnClearSection = [this](const std::string& s) {
            Cleared.push_back(s);
            Sections.erase(s);
        };
    }
};

class PropsStorage : public ::testing::Test {
protected:
    void SetUp() override { RegisterSamples(); }
    // Stores (or loads) every property of Target in section "S".
    void Run(TComponent& target, bool save, TComponent* owner = nullptr) {
        TPropsStorage ps;
        Store.Connect(ps);
        ps.Target = &target;
        ps.Owner = owner;
        ps.Section = "S";
        TPropInfoList props(target);
        std::vector<std::string> names;
        for (int i = 0; i < props.Count(); ++i) names.push_back(props.Item(i)->Name);
        if (save)
            ps.SaveListedProperties(names);
        else
            ps.LoadListedProperties(names);
    }
    std::string& Value(const std::string& section, const std::string& key) {
        return Store.Sections[section][key];
    }
    TMemStore Store;
};

} // namespace

TEST_F(PropsStorage, EveryKindWrittenAndReadBack) {
    TComponent form;
    form.Name = "frmMain";
    TComponent other(&form);
    other.Name = "pnlTree";
    TSample s(&form);
    s.Int = 250;
    s.Big = -9000000000LL;
    s.Ch = 0xC6; // cp1251 capital Zhe
    s.Enum = 2;
    s.Set = 0b101;
    s.Single = 1.5f;
    s.Dbl = 0.1;
    s.Str = "  text  ";
    s.Var = Variant(42);
    s.Ref = &other;
    s.Lines.Lines = {"one", "", "three"};
    s.Columns.Add();
    static_cast<TColumnItem*>(s.Columns.Add())->Width = 70;
    s.Font.Size = 10;
    Run(s, true, &form);

    EXPECT_EQ(Value("S", "Int"), "250");
    EXPECT_EQ(Value("S", "Big"), "-9000000000");
    EXPECT_EQ(Value("S", "Ch"), "Ж");
    EXPECT_EQ(Value("S", "WCh"), "Ж");
    EXPECT_EQ(Value("S", "Enum"), "alClient");
    EXPECT_EQ(Value("S", "Set"), "[a,c]");
    EXPECT_EQ(Value("S", "Single"), "1.5");
    EXPECT_EQ(Value("S", "Dbl"), "0.1");
    EXPECT_EQ(Value("S", "Str"), "text");
    EXPECT_EQ(Value("S", "Var"), "42");
    EXPECT_EQ(Value("S", "Ref"), "pnlTree");
    EXPECT_EQ(Value("S", "FontSize"), "10"); // an owned object's properties under its name
    EXPECT_EQ(Value("S", "Columns.Count"), "2");
    EXPECT_EQ(Value("S.Columns", "Item1_Width"), "70");
    EXPECT_EQ(Value("S.Lines", "Count"), "3");
    EXPECT_EQ(Value("S.Lines", "Item2"), "three");
    EXPECT_EQ(Store.Sections["S"].count("OnClick"), 0u);

    TSample back(&form);
    back.Columns.Add();
    back.Var = Variant(0); // an empty variant is not read at all
    Run(back, false, &form);
    EXPECT_EQ(back.Int, 250);
    EXPECT_EQ(back.Big, -9000000000LL);
    EXPECT_EQ(back.Ch, 0xC6);
    EXPECT_EQ(back.WCh, 0x416);
    EXPECT_EQ(back.Enum, 2);
    EXPECT_EQ(back.Set, 0b101);
    EXPECT_EQ(back.Single, 1.5);
    EXPECT_EQ(back.Dbl, 0.1);
    EXPECT_EQ(back.Str, "text");
    EXPECT_EQ(back.Var, Variant("42")); // comes back as text
    EXPECT_EQ(back.Ref, &other);
    EXPECT_EQ(back.Lines.Lines, (std::vector<std::string>{"one", "", "three"}));
    ASSERT_EQ(back.Columns.Count(), 2);
    EXPECT_EQ(static_cast<TColumnItem*>(back.Columns.Item(1))->Width, 70);
    EXPECT_EQ(back.Font.Size, 10);
}

// Texts as a person may have edited them.
TEST_F(PropsStorage, ReadingForgivingTexts) {
    struct Case {
        const char* key;
        const char* text;
        std::function<bool(const TSample&)> check;
    } cases[] = {
        {"Set", "[ c , a ]", [](const TSample& s) { return s.Set == 0b101; }},
        {"Set", "[A,zz,b]", [](const TSample& s) { return s.Set == 0b011; }},
        {"Set", "[]", [](const TSample& s) { return s.Set == 0; }},
        {"Enum", "ALRIGHT", [](const TSample& s) { return s.Enum == 1; }},
        {"Enum", "alNone", [](const TSample& s) { return s.Enum == 2; }}, // unknown: unchanged
        {"Int", "12x", [](const TSample& s) { return s.Int == 0; }},
        {"Int", "99999999999", [](const TSample& s) { return s.Int == 0; }},
        {"Int", "$1F", [](const TSample& s) { return s.Int == 31; }},
        {"Big", "+12", [](const TSample& s) { return s.Big == 12; }},
        {"Big", "12 34", [](const TSample& s) { return s.Big == 0; }},
        {"Dbl", "2,5", [](const TSample& s) { return s.Dbl == 0; }},
        {"Ch", "", [](const TSample& s) { return s.Ch == 'A'; }}, // no first character: unchanged
        {"Ref", "(NULL)", [](const TSample& s) { return s.Ref == nullptr; }},
        {"Ref", "pnlMissing", [](const TSample& s) { return s.Ref != nullptr; }},
    };
    TComponent owner;
    TComponent target(&owner);
    target.Name = "pnlTree";
    for (const auto& c : cases) {
        TSample s(&owner);
        s.Int = 7;
        s.Enum = 2;
        s.Ref = &target;
        Store.Sections.clear();
        Value("S", c.key) = c.text;
        Run(s, false, &owner);
        EXPECT_TRUE(c.check(s)) << c.key << "=" << c.text;
    }
}

// An empty string is written as an empty value; an unset reference as "(null)".
TEST_F(PropsStorage, EmptyValues) {
    TSample s;
    Run(s, true);
    ASSERT_EQ(Store.Sections["S"].count("Str"), 1u);
    EXPECT_EQ(Value("S", "Str"), "");
    EXPECT_EQ(Value("S", "Ref"), "(null)");
    EXPECT_EQ(Value("S", "Set"), "[]");
    EXPECT_EQ(Store.Sections["S"].count("Var"), 0u); // an empty variant has no text
    EXPECT_EQ(Store.Sections.count("S.Lines"), 0u);  // an empty list leaves its section erased
    EXPECT_NE(std::find(Store.Cleared.begin(), Store.Cleared.end(), "S.Lines"),
              Store.Cleared.end());
}

// Another owner's component is "Owner.Name" (an unnamed owner by its class
// name without the T), one without an owner is its bare name; reading finds
// "Owner.Name" among the forms by name.
TEST_F(PropsStorage, ComponentOfAnotherOwner) {
    TForm form;
    TComponent unnamedOwner;
    TComponent inForm(&form), inUnnamed(&unnamedOwner), loose;
    form.Name = "frmOther";
    inForm.Name = "btnOk";
    inUnnamed.Name = "tmrPoll";
    loose.Name = "dlgOpen";
    struct Case {
        TComponent* ref;
        const char* text;
    } cases[] = {
        {&inUnnamed, "Component.tmrPoll"}, {&inForm, "frmOther.btnOk"}, {&loose, "dlgOpen"}};
    for (const auto& c : cases) {
        TSample s;
        s.Ref = c.ref;
        Run(s, true);
        EXPECT_EQ(Value("S", "Ref"), c.text);
    }
    TSample back;
    back.Ref = &loose;
    Value("S", "Ref") = "FRMOTHER.btnOk";
    Run(back, false);
    EXPECT_EQ(back.Ref, &inForm);
}

// The terminal's tree panel width is stored under "pnlTree_Width".
TEST_F(PropsStorage, ComponentPropertiesUnderTheirPrefix) {
    TComponent form;
    TSample panel(&form);
    panel.Name = "pnlTree";
    panel.Int = 250;
    TStoredList list{{"pnlTree.Int", &panel}, {"pnlTree.Missing", &panel}, {"pnlTree", &panel}};
    TPropsStorage ps;
    Store.Connect(ps);
    ps.Section = "TfrmTerminal";
    ps.SaveComponentProperties(&form, list);
    EXPECT_EQ(Store.Sections["TfrmTerminal"],
              (std::map<std::string, std::string>{{"pnlTree_Int", "250"}}));
    panel.Int = 1;
    ps.LoadComponentProperties(&form, list);
    EXPECT_EQ(panel.Int, 250);
}

TEST_F(PropsStorage, SyncStoredList) {
    TComponent form;
    TComponent panel(&form);
    panel.Name = "pnlTree";
    TStoredList fromForm{{"pnlTree.Width", nullptr},
                         {"pnlTree", nullptr},
                         {"pnlGone.Width", nullptr},
                         {" pnlTree . Height ", nullptr},
                         {".Width", nullptr}};
    SyncStoredList(&form, fromForm, true);
    ASSERT_EQ(fromForm.size(), 2u);
    EXPECT_EQ(fromForm[0].Component, &panel);
    EXPECT_EQ(fromForm[1].Text, " pnlTree . Height ");

    panel.Name = "pnlNodes"; // renamed since: items follow their component
    TStoredList toForm{{"pnlTree.Width", &panel}, {"pnlOld.Width", nullptr}, {"pnlTree", &panel}};
    SyncStoredList(&form, toForm, false);
    ASSERT_EQ(toForm.size(), 1u);
    EXPECT_EQ(toForm[0].Text, "pnlNodes.Width");
}

// A missing line of a stored list reads as empty, up to "Count".
TEST_F(PropsStorage, MissingLinesReadEmpty) {
    TSample s;
    Value("S.Lines", "Count") = "4";
    Value("S.Lines", "Item0") = "a";
    Value("S.Lines", "Item2") = "c";
    Run(s, false);
    EXPECT_EQ(s.Lines.Lines, (std::vector<std::string>{"a", "", "c", ""}));
}

// A "Count" beyond what the section holds reads only what is there.
TEST_F(PropsStorage, DamagedCountsAreCapped) {
    TSample s;
    Value("S.Lines", "Count") = "2000000000";
    Value("S.Lines", "Item0") = "only";
    Value("S", "Columns.Count") = "1000000000";
    Value("S.Columns", "Item0_Width") = "11";
    Value("S.Columns", "Item1_Text") = "second";
    Run(s, false);
    EXPECT_EQ(s.Lines.Lines, std::vector<std::string>{"only"});
    ASSERT_EQ(s.Columns.Count(), 2);
    EXPECT_EQ(static_cast<TColumnItem*>(s.Columns.Item(0))->Width, 11);
    EXPECT_EQ(static_cast<TColumnItem*>(s.Columns.Item(1))->Text, "second");

    // A smaller count still shrinks the collection, as stored.
    Value("S", "Columns.Count") = "1";
    Run(s, false);
    EXPECT_EQ(s.Columns.Count(), 1);
}

// Under a user's locale with a decimal comma (taken by the toolkit's
// application object, which this test program makes before any test), float
// properties and the program's number texts are still written and read with ".".
TEST_F(PropsStorage, FloatsKeepTheirPointUnderACommaLocale) {
    if (!UnderCommaLocale())
        return RunUnderCommaLocale("PropsStorage.FloatsKeepTheirPointUnderACommaLocale");
    ExpectNumbersKeepTheirPoint();
    TSample s;
    s.Single = 1.5f;
    s.Dbl = -2.25e-7;
    Run(s, true);
    EXPECT_EQ(Value("S", "Single"), "1.5");
    EXPECT_EQ(Value("S", "Dbl"), "-2.25E-7");
    TSample back;
    Run(back, false);
    EXPECT_EQ(back.Single, 1.5);
    EXPECT_EQ(back.Dbl, -2.25e-7);
}
