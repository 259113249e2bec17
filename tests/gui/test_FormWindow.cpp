// A form on screen through the toolkit's host: shown, moved and resized as
// the user would, closed and shown again, it comes back where it was with
// its stored panel width. Runs on the offscreen platform in every test run,
// and under a virtual X server with real window moves when one can be started.

#include "FormFixture.h"
#include "common/CommandOutput.h"

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <cstdio>
#include <sys/wait.h>
#include <thread>

using namespace nuq;
using namespace formtest;

namespace {

using FormWindow = FormFiles;

// Lets the toolkit and our loop run until Done holds; false when it never
// does. A window manager on a busy machine may want more Rounds.
bool PumpUntil(const std::function<bool()>& done, int rounds = 400) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        ProcessMessages();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TRect WindowRect(TForm& f) {
    TRect r;
    GetWindowRect(f.Handle(), r);
    return r;
}

// Show, move and resize by MoveBy, close; then show a new instance and check.
void RoundTrip(const std::string& ini, const std::function<void(TWindowHost&, TRect)>& moveBy) {
    const TRect target = Bounds(150, 120, 500, 350);
    {
        auto f = CreateForm<TfrmTerminal>(ini);
        f->fsView->Options = fpState | fpPosition;
        f->Show();
        ASSERT_NE(f->Host(), nullptr);
        ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
        moveBy(*f->Host(), target);
        ASSERT_TRUE(PumpUntil([&] { return WindowRect(*f) == target; }))
            << WindowRect(*f).Left << "," << WindowRect(*f).Top << " " << WindowRect(*f).Width()
            << "x" << WindowRect(*f).Height();
        EXPECT_EQ(f->Left(), 150);
        EXPECT_EQ(f->Width(), 500);
        f->pnlTree->SetWidth(180);
        ASSERT_TRUE(f->Close());
        EXPECT_TRUE(PumpUntil([&] { return !f->Host()->IsShown(); }));
        f->fsView->Active = false; // saved once, on close
    }
    TIniFile saved(ini);
    EXPECT_EQ(saved.ReadString("TfrmTerminal", "NormPos", ""), "150,120,650,470");
    EXPECT_EQ(saved.ReadString("TfrmTerminal", "pnlTree_Width", ""), "180");

    auto again = CreateForm<TfrmTerminal>(ini);
    again->fsView->Options = fpState | fpPosition;
    again->Show();
    EXPECT_EQ(WindowRect(*again), target);
    EXPECT_EQ(again->pnlTree->Width(), 180);
    EXPECT_TRUE(PumpUntil([&] { return again->Host()->Geometry() == target; }));
    again->fsView->Active = false;
}

bool IsExecutable(const char* path) {
    return access(path, X_OK) == 0;
}

// Runs this test program's test Name again under a virtual X server of its
// own (xvfb-run), for a test that needs X and finds no display; with
// Manager, a window manager runs there first.
void RunUnderX(const std::string& name, bool manager = false) {
    if (std::getenv("NUQ_UNDER_XVFB"))
        GTEST_SKIP() << "the X server started, but the toolkit is not on it";
    if (!IsExecutable("/usr/bin/xvfb-run") || !IsExecutable("/usr/bin/xdotool") ||
        !IsExecutable("/usr/bin/xprop"))
        GTEST_SKIP() << "no X server can be started here: xvfb-run, xdotool or xprop is missing "
                        "(scripts/setup installs them)";
    if (manager && (!IsExecutable("/usr/bin/openbox") || !IsExecutable("/usr/bin/wmctrl")))
        GTEST_SKIP() << "no window manager here: openbox or wmctrl is missing (scripts/setup "
                        "installs them)";
    const std::string self = "env -u QT_QPA_PLATFORM NUQ_UNDER_XVFB=1 /proc/" +
                             std::to_string(getpid()) + "/exe --gtest_filter=" + name;
    const std::string cmd = "xvfb-run -a -s '-screen 0 1024x768x24' " +
                            (manager ? "sh -c 'openbox >/dev/null 2>&1 & for i in $(seq 300); do "
                                       "wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done; " +
                                           self + "'"
                                     : self) +
                            " 2>&1";
    int status = 0;
    const std::string out = CommandOutput(cmd, &status);
    ASSERT_NE(status, -1) << cmd;
    if (out.find("Xvfb failed to start") != std::string::npos ||
        out.find("could not connect to display") != std::string::npos)
        GTEST_SKIP() << "no X server could be started:\n" << out;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    EXPECT_EQ(out.find("[  SKIPPED ]"), std::string::npos) << out;
}

QWidget* HostWidget(TForm& f) {
    return QWidget::find(WId(f.Host()->NativeWindow()));
}

Qt::WindowStates ScreenState(TForm& f) {
    return HostWidget(f)->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized);
}

// A terminal window shown as its file says; the state is kept by the placement.
TFormPtr<TfrmTerminal> ShowTerminal(const std::string& ini) {
    auto f = CreateForm<TfrmTerminal>(ini);
    f->fsView->Options = fpState | fpPosition;
    f->Show();
    return f;
}

} // namespace

TEST_F(FormWindow, RoundTripThroughTheHost) {
    if (QGuiApplication::platformName() == "xcb")
        GTEST_SKIP() << "the X variant covers this display";
    RoundTrip(Ini(), [](TWindowHost& host, TRect r) {
        host.SetGeometry(r.Left, r.Top, r.Width(), r.Height());
    });
}

// Under X the window is moved and sized from outside, as a user's window
// manager would, with xdotool. Without a display this test starts itself
// again under xvfb-run.
TEST_F(FormWindow, RoundTripUnderX) {
    if (QGuiApplication::platformName() != "xcb") return RunUnderX("FormWindow.RoundTripUnderX");
    RoundTrip(Ini(), [](TWindowHost& host, TRect r) {
        const std::string id = std::to_string(host.NativeWindow());
        const std::string cmd = "xdotool windowmove " + id + " " + std::to_string(r.Left) + " " +
                                std::to_string(r.Top) + " windowsize " + id + " " +
                                std::to_string(r.Width()) + " " + std::to_string(r.Height());
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    });
}

// A stored minimised or maximised state is the state of the window on screen.
TEST_F(FormWindow, StoredStateReachesTheScreen) {
    struct Case {
        int showCmd;
        TWindowState state;
        Qt::WindowStates screen;
    };
    for (const Case& c :
         {Case{3, wsMaximized, Qt::WindowMaximized}, Case{2, wsMinimized, Qt::WindowMinimized},
          Case{1, wsNormal, Qt::WindowNoState}}) {
        WriteFile("[TfrmTerminal]\nShowCmd=" + std::to_string(c.showCmd) +
                  "\nNormPos=150,120,650,470\n");
        auto f = ShowTerminal(Ini());
        EXPECT_TRUE(PumpUntil([&] { return ScreenState(*f) == c.screen; })) << c.showCmd;
        EXPECT_EQ(f->WindowState(), c.state) << c.showCmd;
        f->fsView->Active = false;
    }
}

// The window manager maximises or minimises the window: the form takes the
// state, and what is saved is that state with the normal rectangle it had.
TEST_F(FormWindow, WindowManagersStateIsSaved) {
    if (QGuiApplication::platformName() == "xcb")
        GTEST_SKIP() << "the X variant covers this display";
    struct Case {
        Qt::WindowState screen;
        TWindowState state;
        const char* showCmd;
    };
    for (const Case& c : {Case{Qt::WindowMaximized, wsMaximized, "3"},
                          Case{Qt::WindowMinimized, wsMinimized, "2"}}) {
        std::filesystem::remove(Ini());
        auto f = ShowTerminal(Ini());
        ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
        f->Host()->SetGeometry(150, 120, 500, 350);
        ASSERT_TRUE(PumpUntil([&] { return WindowRect(*f) == Bounds(150, 120, 500, 350); }));
        HostWidget(*f)->setWindowState(c.screen); // as the toolkit hears it from the manager
        EXPECT_TRUE(PumpUntil([&] { return f->WindowState() == c.state; })) << c.showCmd;
        ASSERT_TRUE(f->Close());
        f->fsView->Active = false;
        TIniFile saved(Ini());
        EXPECT_EQ(saved.ReadString("TfrmTerminal", "ShowCmd", ""), c.showCmd);
        EXPECT_EQ(saved.ReadString("TfrmTerminal", "NormPos", ""), "150,120,650,470");
    }
}

// Under X a stored maximised state is in the window's properties before it
// maps, where a window manager reads it; a stored minimised one is asked of
// the manager (a bare server has none, so only the toolkit's state shows it).
TEST_F(FormWindow, StoredStateUnderX) {
    if (QGuiApplication::platformName() != "xcb") return RunUnderX("FormWindow.StoredStateUnderX");
    for (int showCmd : {3, 2}) {
        WriteFile("[TfrmTerminal]\nShowCmd=" + std::to_string(showCmd) +
                  "\nNormPos=150,120,650,470\n");
        auto f = ShowTerminal(Ini());
        ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
        const std::string state = CommandOutput(
            "xprop -id " + std::to_string(f->Host()->NativeWindow()) + " _NET_WM_STATE");
        EXPECT_EQ(state.find("_NET_WM_STATE_MAXIMIZED_HORZ") != std::string::npos, showCmd == 3)
            << state;
        EXPECT_TRUE(PumpUntil([&] {
            return ScreenState(*f) == (showCmd == 3 ? Qt::WindowMaximized : Qt::WindowMinimized);
        })) << showCmd;
        f->fsView->Active = false;
    }
}

// The maximised place and size of the size limits, and the border icons,
// are what the window on screen gets.
TEST_F(FormWindow, MaximisedPlaceAndBorderIconsReachTheScreen) {
    auto f = CreateForm<TfrmTerminal>(Ini());
    TWinMinMaxInfo& limits = f->fsView->MinMaxInfo();
    limits.SetValue(TWinMinMaxInfo::MaxPosLeftF, 10);
    limits.SetValue(TWinMinMaxInfo::MaxPosTopF, 20);
    limits.SetValue(TWinMinMaxInfo::MaxSizeWidthF, 600);
    limits.SetValue(TWinMinMaxInfo::MaxSizeHeightF, 400);
    f->Show();
    ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
    SendMessage(f->Handle(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_EQ(f->WindowState(), wsMaximized);
    EXPECT_EQ(WindowRect(*f), Bounds(10, 20, 600, 400));
    EXPECT_TRUE(PumpUntil([&] { return f->Host()->Geometry() == Bounds(10, 20, 600, 400); }));
    EXPECT_EQ(ScreenState(*f), Qt::WindowNoState); // no window manager can take that place

    for (bool prevent : {true, false, true}) {
        f->fsView->SetPreventResize(prevent);
        EXPECT_TRUE(PumpUntil([&] {
            return HostWidget(*f)->windowFlags().testFlag(Qt::WindowMaximizeButtonHint) != prevent;
        })) << prevent;
        EXPECT_TRUE(HostWidget(*f)->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    }
    f->fsView->Active = false;
}

// A form that may not be resized keeps its size when the user drags the
// host larger; it still moves.
TEST_F(FormWindow, PreventResizeHoldsTheSizeOnScreen) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    f->FormStorage->SetPreventResize(true);
    f->Show();
    ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
    f->Host()->SetGeometry(40, 30, 600, 400);
    ASSERT_TRUE(PumpUntil([&] { return WindowRect(*f).Left == 40; }));
    for (int i = 0; i < 20; ++i) PumpUntil([] { return true; }); // let anything else arrive
    EXPECT_EQ(WindowRect(*f), Bounds(40, 30, 300, 200));
    // Allowed again, the size follows the user's drag.
    f->FormStorage->SetPreventResize(false);
    for (int i = 0; i < 20; ++i) PumpUntil([] { return true; });
    f->Host()->SetGeometry(40, 30, 600, 400);
    EXPECT_TRUE(PumpUntil([&] { return WindowRect(*f) == Bounds(40, 30, 600, 400); }));
    f->FormStorage->Active = false;
}

// With a window manager on the X server (openbox, driven by wmctrl and
// xdotool as a user's clicks would): its maximise is saved as maximised over
// the normal rectangle and comes back maximised; its restore gives the
// normal rectangle back; its minimise takes the window off the screen and is
// saved as minimised.
TEST_F(FormWindow, WindowManagerUnderX) {
    if (QGuiApplication::platformName() != "xcb")
        return RunUnderX("FormWindow.WindowManagerUnderX", true);
    ASSERT_TRUE(PumpUntil([] { return std::system("wmctrl -m >/dev/null 2>&1") == 0; }, 4000))
        << "the window manager is not there";
    const auto wm = [](TForm& f, const std::string& what) {
        const std::string id = std::to_string(f.Host()->NativeWindow());
        const std::string cmd = what == "minimize" ? "xdotool windowminimize " + id
                                                   : "wmctrl -i -r " + id + " -b " + what +
                                                         ",maximized_vert,maximized_horz";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    };
    const auto saved = [this](const char* key) {
        return TIniFile(Ini()).ReadString("TfrmTerminal", key, "");
    };
    // The manager has taken the window in (framed it): its first placing is done.
    const auto managed = [](TForm& f) {
        const std::string id = std::to_string(f.Host()->NativeWindow());
        return PumpUntil(
            [&] {
                return CommandOutput("xprop -id " + id + " _NET_FRAME_EXTENTS").find('=') !=
                       std::string::npos;
            },
            4000);
    };
    {
        auto f = ShowTerminal(Ini());
        ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
        ASSERT_TRUE(managed(*f));
        f->Host()->SetGeometry(150, 120, 500, 350);
        ASSERT_TRUE(PumpUntil([&] { return WindowRect(*f) == Bounds(150, 120, 500, 350); }));
        wm(*f, "add");
        EXPECT_TRUE(PumpUntil([&] { return f->WindowState() == wsMaximized; }, 4000));
        ASSERT_TRUE(f->Close());
        f->fsView->Active = false;
    }
    EXPECT_EQ(saved("ShowCmd"), "3");
    EXPECT_EQ(saved("NormPos"), "150,120,650,470");

    auto f = ShowTerminal(Ini());
    ASSERT_TRUE(PumpUntil([&] { return f->Host()->IsShown(); }));
    ASSERT_TRUE(managed(*f));
    EXPECT_EQ(f->WindowState(), wsMaximized);
    EXPECT_TRUE(PumpUntil([&] { return ScreenState(*f) == Qt::WindowMaximized; }, 4000));
    wm(*f, "remove");
    EXPECT_TRUE(PumpUntil(
        [&] {
            return f->WindowState() == wsNormal && WindowRect(*f) == Bounds(150, 120, 500, 350);
        },
        4000));
    wm(*f, "minimize");
    EXPECT_TRUE(PumpUntil([&] { return f->WindowState() == wsMinimized; }, 4000));
    ASSERT_TRUE(f->Close());
    f->fsView->Active = false;
    EXPECT_EQ(saved("ShowCmd"), "2");
    EXPECT_EQ(saved("NormPos"), "150,120,650,470");

    // A form that may not be resized offers the manager no maximise and no resize.
    std::filesystem::remove(Ini());
    auto fixed = ShowTerminal(Ini());
    ASSERT_TRUE(managed(*fixed));
    for (bool prevent : {true, false}) {
        fixed->fsView->SetPreventResize(prevent);
        const auto allowed = [&] {
            return CommandOutput("xprop -id " + std::to_string(fixed->Host()->NativeWindow()) +
                                 " _NET_WM_ALLOWED_ACTIONS");
        };
        EXPECT_TRUE(PumpUntil(
            [&] {
                const std::string a = allowed();
                return a.find("_NET_WM_ACTION_MOVE") != std::string::npos &&
                       (a.find("_NET_WM_ACTION_MAXIMIZE_HORZ") == std::string::npos) == prevent &&
                       (a.find("_NET_WM_ACTION_RESIZE") == std::string::npos) == prevent;
            },
            4000))
            << prevent << ": " << allowed();
    }
    fixed->fsView->Active = false;
}
