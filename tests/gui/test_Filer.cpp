// Form resources in the window layer: every kind of value written and read
// back, defaults left out, and the properties an object defines itself.

#include "platform/gui/Filer.h"

#include "platform/DateUtils.h"
#include "platform/gui/Forms.h"

#include <gtest/gtest.h>

#include <istream>
#include <iterator>
#include <ostream>

using namespace nuq;

namespace {

struct TInner : TPersistent {
    int Size = 8;
};

// A component with one property of each kind the form keeps, and a block of bytes of its own.
struct TFormSample : TComponent {
    int64_t Number = 7, Mask = 0;
    int Choice = 0, Flag = 0;
    double Ratio = 0;
    std::string Text, Wide;
    TInner Inner;
    std::string Blob;
    Variant Tag;
    void DefineProperties(TFiler& filer) override {
        filer.DefineBinaryProperty(
            "Blob",
            [this](std::istream& in) { Blob.assign(std::istreambuf_iterator<char>(in), {}); },
            [this](std::ostream& out) { out << Blob; }, !Blob.empty());
    }
};

void Register() {
    TPublisher<TFormSample> p;
    p.Integer(
         "Number", [](auto& o) { return o.Number; }, [](auto& o, int64_t v) { o.Number = v; })
        .Default(7);
    p.Ordinal(
        "Choice", tkEnumeration, [](auto& o) { return o.Choice; },
        [](auto& o, int64_t v) { o.Choice = int(v); }, {"chA", "chB", "chC"});
    p.Ordinal(
         "Flag", tkEnumeration, [](auto& o) { return o.Flag; },
         [](auto& o, int64_t v) { o.Flag = int(v); }, {"False", "True"})
        .Default(0);
    p.Ordinal(
         "Mask", tkSet, [](auto& o) { return o.Mask; }, [](auto& o, int64_t v) { o.Mask = v; },
         {"mA", "mB", "mC"})
        .Default(0);
    p.Float(
        "Ratio", ftDouble, [](auto& o) { return o.Ratio; }, [](auto& o, double v) { o.Ratio = v; });
    p.String(
        "Text", [](auto& o) { return o.Text; }, [](auto& o, const std::string& v) { o.Text = v; });
    p.String(
        "Wide", [](auto& o) { return o.Wide; }, [](auto& o, const std::string& v) { o.Wide = v; },
        tkWString);
    p.Object("Inner", [](auto& o) { return &o.Inner; });
    p.VariantProp(
        "Tag", [](auto& o) { return o.Tag; }, [](auto& o, const Variant& v) { o.Tag = v; });
    RegisterClass<TFormSample>("TFormSample", p);
    TPublisher<TInner> i;
    i.Integer(
         "Size", [](auto& o) { return o.Size; }, [](auto& o, int64_t v) { o.Size = int(v); })
        .Default(8);
    RegisterClass<TInner>("TInner", i);
}

TEST(Filer, ValuesSurviveWriteAndReadDefaultsStayOut) {
    Register();
    TFormSample a;
    a.Name = "sample";
    TWriter fresh;
    fresh.WriteComponent(a);
    // Only the enumeration without a declared default is written.
    EXPECT_EQ(fresh.Data.size(), 4 + 11 + 4 + 6 + 1 + 6 + 1 + 4 + 3 + 1);

    a.Number = -100000;
    a.Choice = 2;
    a.Flag = 1;
    a.Mask = 5;
    a.Ratio = 0.25;
    a.Text = "котёл";
    a.Wide = "давление";
    a.Inner.Size = 300;
    a.Blob = std::string("\0\1\2", 3);
    TWriter w;
    w.WriteComponent(a);
    TFormSample b;
    TReader(w.Data).ReadComponent(b);
    EXPECT_EQ(b.Name, "sample");
    EXPECT_EQ(b.Number, -100000);
    EXPECT_EQ(b.Choice, 2);
    EXPECT_EQ(b.Flag, 1);
    EXPECT_EQ(b.Mask, 5);
    EXPECT_EQ(b.Ratio, 0.25);
    EXPECT_EQ(b.Text, "котёл");
    EXPECT_EQ(b.Wide, "давление");
    EXPECT_EQ(b.Inner.Size, 300);
    EXPECT_EQ(b.Blob, a.Blob);
    EXPECT_FALSE(b.ComponentState & (csLoading | csReading));
}

// A variant keeps its kind; an empty one is not written (the size above).
TEST(Filer, VariantsKeepTheirKind) {
    Register();
    for (const Variant& v : {Variant(-70000), Variant(2.5), Variant("котёл"), Variant(true),
                             Variant::Null(), Variant::FromDateTime(EncodeDateTime(2024, 3, 1))}) {
        SCOPED_TRACE(VarTypeName(v.Type()));
        TFormSample a;
        a.Tag = v;
        a.Blob = "after";
        TWriter w;
        w.WriteComponent(a);
        TFormSample b;
        TReader(w.Data).ReadComponent(b);
        EXPECT_EQ(b.Tag, v);
        EXPECT_EQ(b.Blob, "after"); // what follows the variant is read as before
    }
}

// A form keeps what the framework publishes of it, and any control its
// place, size and help topic, though its own class declares nothing.
TEST(Filer, FormsAndControlsKeepWhatTheFrameworkPublishes) {
    struct TBox : TCustomControl {};
    TForm a;
    a.Name = "frmA";
    a.SetBounds(10, 20, 300, 200);
    a.Caption = "Котельная";
    a.BorderStyle = bsDialog;
    a.SetBorderIcons(biSystemMenu | biHelp);
    a.Position = poScreenCenter;
    a.FormStyle = fsStayOnTop;
    a.SetWindowState(wsMaximized);
    a.HelpContext = 5;
    TWriter w;
    w.WriteComponent(a);
    TForm b;
    TReader(w.Data).ReadComponent(b);
    EXPECT_EQ(b.BoundsRect(), Bounds(10, 20, 300, 200));
    EXPECT_EQ(b.Caption, "Котельная");
    EXPECT_EQ(b.BorderStyle, bsDialog);
    EXPECT_EQ(b.BorderIcons(), unsigned(biSystemMenu | biHelp));
    EXPECT_EQ(b.Position, poScreenCenter);
    EXPECT_EQ(b.FormStyle, fsStayOnTop);
    EXPECT_EQ(b.WindowState(), wsMaximized);
    EXPECT_EQ(b.HelpContext, 5);

    TBox box;
    box.SetBounds(-4, 7, 123, 45);
    TWriter bw;
    bw.WriteComponent(box);
    TBox copy;
    TReader(bw.Data).ReadComponent(copy);
    EXPECT_EQ(copy.BoundsRect(), Bounds(-4, 7, 123, 45));
}

} // namespace
