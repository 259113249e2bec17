// Property groups of the serial port.

#include "acquisition/SerPrst.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {
template <class T> int CountChanges(T& group, const std::function<void(T&)>& change) {
    int n = 0;
    group.OnChange = [&](TSerPersistent&) { ++n; };
    change(group);
    group.OnChange = nullptr;
    return n;
}
} // namespace

TEST(SerFlowControl, SettersAnnounceOnlyChanges) {
    using F = std::function<void(TSerFlowControl&)>;
    struct Case {
        const char* Name;
        F Same, Other;
    };
    Case cases[] = {
        {"OutCtsFlow", [](auto& g) { g.SetOutCtsFlow(false); },
         [](auto& g) { g.SetOutCtsFlow(true); }},
        {"OutDsrFlow", [](auto& g) { g.SetOutDsrFlow(false); },
         [](auto& g) { g.SetOutDsrFlow(true); }},
        {"ControlDtr", [](auto& g) { g.SetControlDtr(dtrDisabled); },
         [](auto& g) { g.SetControlDtr(dtrHandshake); }},
        {"ControlRts", [](auto& g) { g.SetControlRts(rtsDisabled); },
         [](auto& g) { g.SetControlRts(rtsToggle); }},
        {"XonXoffOut", [](auto& g) { g.SetXonXoffOut(false); },
         [](auto& g) { g.SetXonXoffOut(true); }},
        {"XonXoffIn", [](auto& g) { g.SetXonXoffIn(false); },
         [](auto& g) { g.SetXonXoffIn(true); }},
        {"DsrSensitivity", [](auto& g) { g.SetDsrSensitivity(false); },
         [](auto& g) { g.SetDsrSensitivity(true); }},
        {"TxContinueOnXoff", [](auto& g) { g.SetTxContinueOnXoff(false); },
         [](auto& g) { g.SetTxContinueOnXoff(true); }},
    };
    for (auto& c : cases) {
        TSerFlowControl g;
        EXPECT_EQ(CountChanges(g, c.Same), 0) << c.Name;
        EXPECT_EQ(CountChanges(g, c.Other), 1) << c.Name;
        EXPECT_EQ(CountChanges(g, c.Other), 0) << c.Name;
    }
}

TEST(SerFlowControl, ControlBlockFlags) {
    struct Case {
        std::function<void(TSerFlowControl&)> Set;
        uint32_t Flags;
    };
    for (auto& c : std::initializer_list<Case>{
             {[](auto&) {}, 0},
             {[](auto& g) { g.SetOutCtsFlow(true); }, 0x0004},
             {[](auto& g) { g.SetOutDsrFlow(true); }, 0x0008},
             {[](auto& g) { g.SetControlDtr(dtrEnabled); }, 0x0010},
             {[](auto& g) { g.SetControlDtr(dtrHandshake); }, 0x0020},
             {[](auto& g) { g.SetControlRts(rtsEnabled); }, 0x1000},
             {[](auto& g) { g.SetControlRts(rtsHandshake); }, 0x2000},
             {[](auto& g) { g.SetControlRts(rtsToggle); }, 0x3000},
             {[](auto& g) { g.SetXonXoffOut(true); }, 0x0100},
             {[](auto& g) { g.SetXonXoffIn(true); }, 0x0200},
             {[](auto& g) { g.SetDsrSensitivity(true); }, 0x0040},
             {[](auto& g) { g.SetTxContinueOnXoff(true); }, 0x0080},
         }) {
        TSerFlowControl g;
        c.Set(g);
        EXPECT_EQ(g.Flags(), c.Flags);
    }
}

TEST(SerFlowControl, AssignAnnouncesOnce) {
    TSerFlowControl a, b;
    a.SetOutCtsFlow(true);
    a.SetControlRts(rtsHandshake);
    a.SetXonXoffIn(true);
    EXPECT_EQ(CountChanges<TSerFlowControl>(b, [&](auto& g) { g.Assign(a); }), 1);
    EXPECT_EQ(b.Flags(), a.Flags());
    EXPECT_EQ(b.GetUpdateCount(), 0);
    // Even an assignment that changes nothing ends in one notice.
    EXPECT_EQ(CountChanges<TSerFlowControl>(b, [&](auto& g) { g.Assign(a); }), 1);
    TSerBuffers other;
    EXPECT_THROW(b.Assign(other), EConvertError);
}

TEST(SerEventChars, EachCharacterHasItsOwnField) {
    TSerEventChars c;
    EXPECT_EQ(c.XonChar(), 0x11);
    EXPECT_EQ(c.XoffChar(), 0x13);
    c.SetEofChar('Z');
    EXPECT_EQ(c.EofChar(), 'Z');
    EXPECT_EQ(c.EventChar(), 0);
    c.SetEventChar('E');
    EXPECT_EQ(c.EofChar(), 'Z');
    EXPECT_EQ(c.EventChar(), 'E');
    struct Case {
        int Index;
        char (TSerEventChars::*Get)() const;
    };
    for (auto k : {Case{1, &TSerEventChars::XonChar}, Case{2, &TSerEventChars::XoffChar},
                   Case{3, &TSerEventChars::ErrorChar}, Case{4, &TSerEventChars::EventChar},
                   Case{5, &TSerEventChars::EofChar}}) {
        TSerEventChars g;
        char v = char('a' + k.Index);
        EXPECT_EQ(CountChanges<TSerEventChars>(g, [&](auto& x) { x.SetChar(k.Index, v); }), 1);
        EXPECT_EQ((g.*k.Get)(), v) << k.Index;
        EXPECT_EQ(CountChanges<TSerEventChars>(g, [&](auto& x) { x.SetChar(k.Index, v); }), 0);
    }
    TSerEventChars g;
    EXPECT_EQ(CountChanges<TSerEventChars>(g, [](auto& x) { x.SetChar(6, 'x'); }), 0);
    TSerEventChars copy;
    copy.Assign(c);
    EXPECT_EQ(copy.EofChar(), 'Z');
    EXPECT_EQ(copy.EventChar(), 'E');
}

TEST(SerBuffers, DefaultsAndWhichChangesAreAnnounced) {
    TSerBuffers b;
    EXPECT_EQ(b.ReadSize(), 4096);
    EXPECT_EQ(b.WriteSize(), 2048);
    EXPECT_EQ(b.ReadTimeout(), 1000);
    EXPECT_EQ(b.WriteTimeout(), 1000);
    EXPECT_EQ(b.XonLimit(), 1024);
    EXPECT_EQ(b.XoffLimit(), 1024);
    struct Case {
        const char* Name;
        std::function<void(TSerBuffers&, int32_t)> Set;
        std::function<int32_t(const TSerBuffers&)> Get;
        int Notices;
    };
    Case cases[] = {
        {"ReadSize", &TSerBuffers::SetReadSize, &TSerBuffers::ReadSize, 1},
        {"WriteSize", &TSerBuffers::SetWriteSize, &TSerBuffers::WriteSize, 1},
        {"XonLimit", &TSerBuffers::SetXonLimit, &TSerBuffers::XonLimit, 1},
        {"XoffLimit", &TSerBuffers::SetXoffLimit, &TSerBuffers::XoffLimit, 1},
        {"ReadTimeout", &TSerBuffers::SetReadTimeout, &TSerBuffers::ReadTimeout, 0},
        {"WriteTimeout", &TSerBuffers::SetWriteTimeout, &TSerBuffers::WriteTimeout, 0},
    };
    for (auto& c : cases) {
        TSerBuffers g;
        int32_t old = c.Get(g);
        EXPECT_EQ(CountChanges<TSerBuffers>(g, [&](auto& x) { c.Set(x, old); }), 0) << c.Name;
        EXPECT_EQ(CountChanges<TSerBuffers>(g, [&](auto& x) { c.Set(x, 77); }), c.Notices)
            << c.Name;
        EXPECT_EQ(c.Get(g), 77) << c.Name;
        c.Set(g, -5);
        EXPECT_EQ(c.Get(g), 0) << c.Name; // below the range
        c.Set(g, 0x7FFFFFFF);
        EXPECT_EQ(c.Get(g), 0x7FFFFFFF) << c.Name;
    }
    TSerBuffers a;
    a.SetReadSize(8192);
    a.SetWriteTimeout(5);
    EXPECT_EQ(CountChanges<TSerBuffers>(b, [&](auto& x) { x.Assign(a); }), 1);
    EXPECT_EQ(b.ReadSize(), 8192);
    EXPECT_EQ(b.WriteTimeout(), 5);
}
