// Window-procedure hooks on a control: order, Handled, destroy and re-create.

#include "foundation/gui/fhHook.h"

#include "platform/EventLoop.h"
#include "platform/gui/Filer.h"
#include "platform/gui/Forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nuq;

namespace {

constexpr UINT WM_PROBE = WM_USER + 100;

// Records what reaches its own handling.
class TProbe : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    std::vector<UINT> Seen;
    void Dispatch(TMessage& m) override {
        Seen.push_back(m.Msg);
        if (m.Msg == WM_PROBE) {
            m.Result = 7;
            return;
        }
        TCustomControl::Dispatch(m);
    }
    int Count(UINT msg) const { return int(std::count(Seen.begin(), Seen.end(), msg)); }
};

void Pump() {
    for (int i = 0; i < 5; ++i) ProcessMessages();
}

struct HookFixture : ::testing::Test {
    void SetUp() override { SetMainThread(); }
    void TearDown() override {
        Pump();
        ReleaseHookList();
    }
};

using Hooks = HookFixture;

} // namespace

TEST_F(Hooks, LastAttachedSeesTheMessageFirstAndHandledStopsTheRest) {
    TProbe control;
    control.SetBounds(0, 0, 50, 50);
    std::vector<std::string> log;
    TWindowHook first, second;
    first.BeforeMessage = [&](TWindowHook&, TMessage& m, bool&) {
        if (m.Msg == WM_PROBE) log.push_back("first");
    };
    second.BeforeMessage = [&](TWindowHook&, TMessage& m, bool& handled) {
        if (m.Msg != WM_PROBE) return;
        log.push_back("second");
        handled = m.WParam == 1;
        m.Result = 99;
    };
    first.SetWinControl(&control);
    second.SetWinControl(&control);
    EXPECT_EQ(SendMessage(control.Handle(), WM_PROBE, 0, 0), 7);
    EXPECT_EQ(log, (std::vector<std::string>{"second", "first"}));
    log.clear();
    control.Seen.clear();
    EXPECT_EQ(SendMessage(control.Handle(), WM_PROBE, 1, 0), 99);
    EXPECT_EQ(log, (std::vector<std::string>{"second"}));
    EXPECT_EQ(control.Count(WM_PROBE), 0);
}

TEST_F(Hooks, AfterEventsSeeTheControlsResult) {
    TProbe control;
    TWindowHook hook;
    LRESULT seen = -1;
    hook.AfterMessage = [&](TWindowHook&, TMessage& m, bool&) {
        if (m.Msg == WM_PROBE) seen = m.Result;
    };
    hook.SetWinControl(&control);
    SendMessage(control.Handle(), WM_PROBE, 0, 0);
    EXPECT_EQ(seen, 7);
}

TEST_F(Hooks, HandledDestroyStillReachesTheControl) {
    TProbe control;
    TWindowHook hook;
    hook.BeforeMessage = [](TWindowHook&, TMessage&, bool& handled) { handled = true; };
    hook.SetWinControl(&control);
    HWND h = control.Handle();
    control.Seen.clear();
    control.DestroyHandle();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(control.Count(WM_DESTROY), 1);
    EXPECT_FALSE(control.HandleAllocated());
}

TEST_F(Hooks, HooksSurviveTheWindowBeingRecreated) {
    TProbe control;
    TWindowHook hook;
    int probes = 0;
    hook.BeforeMessage = [&](TWindowHook&, TMessage& m, bool&) {
        if (m.Msg == WM_PROBE) ++probes;
    };
    hook.SetWinControl(&control);
    HWND old = control.Handle();
    control.RecreateWnd();
    EXPECT_NE(control.Handle(), old);
    Pump(); // the posted re-hook
    SendMessage(control.Handle(), WM_PROBE, 0, 0);
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(GetWindowProc(control.Handle()).Owner, HookList()->Find(&control));
}

TEST_F(Hooks, InactiveHookSeesNothingAndTheEmptyObjectIsFreedLater) {
    TProbe control;
    TWindowHook hook;
    int calls = 0;
    hook.BeforeMessage = [&](TWindowHook&, TMessage&, bool&) { ++calls; };
    hook.SetWinControl(&control);
    SendMessage(control.Handle(), WM_PROBE, 0, 0);
    EXPECT_EQ(calls, 1);
    hook.SetActive(false);
    SendMessage(control.Handle(), WM_PROBE, 0, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(HookList()->Count(), 1);
    Pump();
    EXPECT_EQ(HookList()->Count(), 0);
    // The control's own procedure is back.
    EXPECT_EQ(GetWindowProc(control.Handle()).Owner, &control);
    hook.SetActive(true);
    SendMessage(control.Handle(), WM_PROBE, 0, 0);
    EXPECT_EQ(calls, 2);
}

TEST_F(Hooks, DestroyingTheControlClearsTheHooksControl) {
    TWindowHook hook;
    {
        TProbe control;
        hook.SetWinControl(&control);
        control.Handle();
    }
    EXPECT_EQ(hook.WinControl(), nullptr);
    Pump();
    EXPECT_EQ(HookList()->Count(), 0);
}

TEST_F(Hooks, DestroyingTheOwnerClearsTheControl) {
    TProbe control;
    auto owner = std::make_unique<TComponent>();
    TWindowHook hook(owner.get());
    hook.SetWinControl(&control);
    owner.reset();
    EXPECT_EQ(hook.WinControl(), nullptr);
}

// In a form resource a hook keeps whether it is active and the control it
// watches; one watching its own form keeps "IsForm" and watches that form
// again when read.
TEST_F(Hooks, FormResourceKeepsActiveAndTheWatchedControl) {
    TForm form;
    form.Name = "frmMain";
    TProbe edit(&form);
    edit.Name = "edtValue";
    edit.SetParent(&form);
    struct Case {
        TWinControl* watched;
        bool active;
        bool hasWinControl, hasIsForm;
    };
    for (const Case& c : {Case{&edit, false, true, false}, Case{&form, true, false, true},
                          Case{nullptr, true, false, false}}) {
        TWindowHook hook(&form);
        hook.Name = "hkWatch";
        hook.SetWinControl(c.watched);
        hook.SetActive(c.active);
        TWriter w;
        w.WriteComponent(hook);
        hook.SetActive(false);
        EXPECT_EQ(w.Data.find("\x0AWinControl") != std::string::npos, c.hasWinControl);
        EXPECT_EQ(w.Data.find("\x06IsForm") != std::string::npos, c.hasIsForm);
        EXPECT_EQ(w.Data.find("\x06"
                              "Active") != std::string::npos,
                  !c.active);

        TWindowHook copy(&form);
        TReader(w.Data).ReadComponent(copy);
        EXPECT_EQ(copy.Active(), c.active);
        EXPECT_EQ(copy.WinControl(), c.watched);
        if (!c.watched || !c.active) continue;
        int seen = 0;
        copy.AfterMessage = [&](TWindowHook&, TMessage& m, bool&) { seen += m.Msg == WM_PROBE; };
        SendMessage(c.watched->Handle(), WM_PROBE, 0, 0);
        EXPECT_EQ(seen, 1);
    }
}
