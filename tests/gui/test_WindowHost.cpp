// The Qt back end of the loop and the host widget of a top-level window.

#include "platform/gui/Controls.h"
#include "platform/gui/WindowHost.h"

#include "platform/EventLoop.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

using namespace nuq;

namespace {

// The widget toolkit must start before anything draws text.
class TGuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        InitGuiApplication(argc, argv);
    }
};
const auto* const guiEnvironment = ::testing::AddGlobalTestEnvironment(new TGuiEnvironment);

struct Recorder {
    std::vector<TMessage> Msgs;
    TColor Fill = clBlue;
    LRESULT DlgCode = 0; // the answer to WM_GETDLGCODE
    HWND Create(HWND parent, int x, int y, int w, int h) {
        TCreateParams p;
        p.Style = (parent ? DWORD(WS_CHILD) : 0u) | WS_VISIBLE;
        p.X = x;
        p.Y = y;
        p.Width = w;
        p.Height = h;
        p.Parent = parent;
        p.Proc.Call = [this](HWND wnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            Msgs.push_back({msg, wp, lp, 0});
            if (msg == WM_GETDLGCODE) return DlgCode;
            if (msg == WM_ERASEBKGND) {
                HBRUSH b = CreateSolidBrush(COLORREF(Fill));
                TRect r;
                GetClientRect(wnd, r);
                FillRect(reinterpret_cast<HDC>(wp), r, b);
                DeleteObject(b);
                return 1;
            }
            return DefWindowProc(wnd, msg, wp, lp);
        };
        return CreateWindowEx(p);
    }
    const TMessage* Last(UINT msg) const {
        for (auto it = Msgs.rbegin(); it != Msgs.rend(); ++it)
            if (it->Msg == msg) return &*it;
        return nullptr;
    }
};

QWidget* HostWidget() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return w;
    return nullptr;
}

} // namespace

TEST(QtLoop, PostedCallsAndWindowTimersRunInsideTheToolkitsLoop) {
    Recorder r;
    HWND h = r.Create(0, 0, 0, 50, 50);
    SetTimer(h, 3, 5);
    std::thread::id ranOn;
    std::thread poster([&] { PostCall([&] { ranOn = std::this_thread::get_id(); }); });
    poster.join();
    QTimer::singleShot(3000, [] { QCoreApplication::quit(); }); // a safety net only
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (ranOn != std::thread::id() && r.Last(WM_TIMER)) QCoreApplication::quit();
    });
    check.start(1);
    RunGuiApplication();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_NE(r.Last(WM_TIMER), nullptr);
    EXPECT_EQ(r.Last(WM_TIMER)->WParam, 3u);
    DestroyWindow(h);
}

// A timer set while the toolkit handles an event of its own (a key, a click)
// fires in time: no pass of our loop has to come first.
TEST(QtLoop, TimerSetFromTheToolkitsOwnEventFires) {
    Recorder r;
    HWND h = r.Create(0, 0, 0, 50, 50);
    QTimer::singleShot(3000, [] { QCoreApplication::quit(); }); // a safety net only
    QTimer::singleShot(20, [h] { SetTimer(h, 5, 5); });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (r.Last(WM_TIMER)) QCoreApplication::quit();
    });
    check.start(1);
    RunGuiApplication();
    ASSERT_NE(r.Last(WM_TIMER), nullptr);
    EXPECT_EQ(r.Last(WM_TIMER)->WParam, 5u);
    DestroyWindow(h);
}

// A descriptor made ready by another thread wakes the toolkit's loop, which
// runs the watch's callback on the main thread.
TEST(QtLoop, WatchedDescriptorWakesTheToolkitsLoop) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    std::string got;
    std::thread::id ranOn;
    TFdWatch w(fds[0], fdRead, [&](short) {
        char buf[16];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) got.append(buf, size_t(n));
        ranOn = std::this_thread::get_id();
        QCoreApplication::quit();
    });
    QTimer::singleShot(3000, [] { QCoreApplication::quit(); }); // a safety net only
    std::thread writer;
    // Written once the toolkit's loop is waiting, so only the watch can wake it.
    QTimer::singleShot(
        0, [&] { writer = std::thread([&] { EXPECT_EQ(write(fds[1], "ok", 2), 2); }); });
    RunGuiApplication();
    writer.join();
    EXPECT_EQ(got, "ok");
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    w.Stop();
    close(fds[0]);
    close(fds[1]);
}

// An end asked for before the loop runs (a program whose input is at its end
// at once) ends the loop as soon as it starts, with the code asked for; so
// does one asked for by a watch that is ready at once.
TEST(QtLoop, QuitAskedBeforeTheLoopRunsEndsIt) {
    QTimer net; // a safety net only
    net.setSingleShot(true);
    QObject::connect(&net, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    net.start(3000);
    QuitGuiApplication(7);
    EXPECT_EQ(RunGuiApplication(), 7);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    close(fds[1]);
    TFdWatch w(fds[0], fdRead, [&](short) {
        char buf[16];
        if (read(fds[0], buf, sizeof buf) <= 0) QuitGuiApplication(5);
    });
    EXPECT_EQ(RunGuiApplication(), 5);
    w.Stop();
    close(fds[0]);
}

TEST(WindowHost, ImageHoldsTheChildrenAtTheirPlaces) {
    Recorder top, child;
    top.Fill = clBlue;
    child.Fill = clRed;
    HWND h = top.Create(0, 0, 0, 60, 40);
    child.Create(h, 10, 5, 20, 10);
    for (int i = 0; i < 5; ++i) ProcessMessages();
    TWindowHost host(h);
    auto path = (std::filesystem::temp_directory_path() / "nuq_host_test.png").string();
    ASSERT_TRUE(host.SaveImage(path));
    QImage img(QString::fromStdString(path));
    std::filesystem::remove(path);
    ASSERT_EQ(img.width(), 60);
    EXPECT_EQ(img.pixel(0, 0) & 0xFFFFFF, 0x0000FFu);  // blue (Qt's order: red, green, blue)
    EXPECT_EQ(img.pixel(10, 5) & 0xFFFFFF, 0xFF0000u); // the red child
    EXPECT_EQ(img.pixel(29, 14) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(img.pixel(30, 15) & 0xFFFFFF, 0x0000FFu);
    DestroyWindow(h);
}

TEST(WindowHost, MouseReachesTheWindowUnderItInClientCoordinates) {
    Recorder top, child;
    HWND h = top.Create(0, 0, 0, 80, 60);
    HWND c = child.Create(h, 20, 10, 30, 30);
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(25, 17), QPointF(25, 17), Qt::LeftButton,
                     Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(w, &down);
    const TMessage* m = child.Last(WM_LBUTTONDOWN);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(LoWord(uintptr_t(m->LParam)), 5);
    EXPECT_EQ(HiWord(uintptr_t(m->LParam)), 7);
    EXPECT_EQ(m->WParam, WPARAM(MK_LBUTTON | MK_SHIFT));
    SetCapture(c); // a captured window gets the mouse wherever it is
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 3), QPointF(2, 3), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    m = child.Last(WM_MOUSEMOVE);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(int16_t(LoWord(uintptr_t(m->LParam))), -18);
    ReleaseCapture();
    w->resize(100, 70);
    TRect r;
    GetClientRect(h, r);
    EXPECT_EQ(r, Rect(0, 0, 100, 70));
    EXPECT_NE(top.Last(WM_SIZE), nullptr);
    DestroyWindow(h);
}

TEST(WindowHost, ReleasedButtonsFocusWheelAndCursorAsTheWindowsNeedThem) {
    Recorder top, child;
    HWND h = top.Create(0, 0, 0, 80, 60);
    HWND c = child.Create(h, 20, 10, 30, 30);
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    // A released button is no longer down in the flags.
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(25, 17), QPointF(25, 17), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &up);
    ASSERT_NE(child.Last(WM_LBUTTONUP), nullptr);
    EXPECT_EQ(child.Last(WM_LBUTTONUP)->WParam & MK_LBUTTON, 0u);
    // The window system's focus arriving late keeps the focus where a click put it.
    SetFocus(c);
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(w, &in);
    EXPECT_EQ(GetFocus(), c);
    // The wheel turns the window under the mouse, not the focused one.
    SetFocus(h);
    QWheelEvent wheel(QPointF(25, 17), QPointF(25, 17), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &wheel);
    ASSERT_NE(child.Last(WM_MOUSEWHEEL), nullptr);
    // The cursor set is the one shown: system shapes by id, pictures as pictures.
    SetCursor(LoadCursor(IDC_SIZEWE));
    EXPECT_EQ(w->cursor().shape(), Qt::SizeHorCursor);
    SetCursor(Screen().Cursor(crHandPoint));
    EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
    SetCursor(Screen().Cursor(14001));
    EXPECT_EQ(w->cursor().shape(), Qt::BitmapCursor);
    SetCursor(nullptr);
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    DestroyWindow(h);
}

// Every typed key comes with a key code (its own, its place's, or one for a
// typed character); Tab moves the focus unless the focused window asks for
// it; another application taking the keyboard ends our modes and focus.
TEST(WindowHost, KeysTabAndLosingTheKeyboardToAnotherApplication) {
    Recorder top, first, second;
    HWND h = top.Create(0, 0, 0, 80, 60);
    HWND a = first.Create(h, 0, 0, 30, 30), b = second.Create(h, 40, 0, 30, 30);
    for (HWND c : {a, b})
        SetWindowLongPtr(c, GWL_STYLE, GetWindowLongPtr(c, GWL_STYLE) | WS_TABSTOP);
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    SetFocus(a);
    struct Typed {
        int key;
        uint32_t place; // the X server's key code
        const char16_t* text;
        WPARAM vk;
    };
    for (const Typed& t : {Typed{Qt::Key_Period, 60, u".", 0xBE}, Typed{0x0422, 57, u"т", 'N'},
                           Typed{0x0416, 0, u"ж", 0xE7}, Typed{Qt::Key_A, 38, u"a", 'A'}}) {
        first.Msgs.clear();
        QKeyEvent key(QEvent::KeyPress, t.key, Qt::NoModifier, t.place, 0, 0,
                      QString::fromUtf16(t.text));
        QCoreApplication::sendEvent(w, &key);
        ASSERT_NE(first.Last(WM_KEYDOWN), nullptr) << t.key;
        EXPECT_EQ(first.Last(WM_KEYDOWN)->WParam, t.vk) << t.key;
        ASSERT_NE(first.Last(WM_CHAR), nullptr) << t.key;
        EXPECT_EQ(first.Last(WM_CHAR)->WParam, WPARAM(t.text[0])) << t.key;
    }
    auto tab = [&](bool shift) {
        QKeyEvent key(QEvent::KeyPress, shift ? Qt::Key_Backtab : Qt::Key_Tab,
                      shift ? Qt::ShiftModifier : Qt::NoModifier, "\t");
        QCoreApplication::sendEvent(w, &key);
    };
    first.Msgs.clear();
    tab(false);
    EXPECT_EQ(GetFocus(), b);
    EXPECT_EQ(first.Last(WM_KEYDOWN), nullptr);
    tab(true);
    EXPECT_EQ(GetFocus(), a) << "Shift+Tab goes back";
    first.DlgCode = DLGC_WANTTAB;
    tab(true);
    EXPECT_EQ(GetFocus(), a);
    ASSERT_NE(first.Last(WM_KEYDOWN), nullptr);
    EXPECT_EQ(first.Last(WM_KEYDOWN)->WParam, WPARAM(VK_TAB));
    EXPECT_LT(GetKeyState(VK_SHIFT), 0) << "Shift+Tab is Tab with Shift";

    SetCapture(a);
    first.Msgs.clear();
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(w, &out);
    EXPECT_NE(first.Last(WM_CANCELMODE), nullptr);
    EXPECT_NE(first.Last(WM_KILLFOCUS), nullptr);
    EXPECT_EQ(GetFocus(), HWND(0));
    EXPECT_EQ(GetCapture(), HWND(0));
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(w, &in);
    EXPECT_EQ(GetFocus(), a) << "the focus comes back where it was";
    SetKeyState(VK_SHIFT, false);
    DestroyWindow(h);
}

// Runs the toolkit's loop until Done holds (or a safety net ends it); the
// windows stay open, as they would not past the application's quit.
void RunUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    check.start(1);
    loop.exec();
}

// A held key repeats as the system repeats it: key-downs alone, each after
// the first with the key's previous state down, and one key-up on release.
// X repeats a key as a release and a press with one time stamp, which the
// toolkit marks as a repeat's only sometimes; a release and a press at
// different times are two presses.
TEST(WindowHost, AHeldKeyRepeatsAsKeyDownsAndGoesUpOnce) {
    Recorder top;
    HWND h = top.Create(0, 0, 0, 80, 60);
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    SetFocus(h);
    // The key F (X key code 41); Cyrillic: as the layout's Russian group reads it.
    auto send = [&](QEvent::Type type, quint64 time, bool marked = false,
                    Qt::KeyboardModifiers mods = {}, bool cyrillic = false) {
        QKeyEvent key(type, cyrillic ? 0x0410 : Qt::Key_F, mods, 41, 0, 0,
                      cyrillic ? QString::fromUtf16(u"а") : QString("f"), marked);
        key.setTimestamp(time);
        QCoreApplication::sendEvent(w, &key);
    };
    auto up = [&] { return top.Last(WM_KEYUP) != nullptr; };
    send(QEvent::KeyRelease, 1); // up, whatever an earlier test left
    RunUntil(up);
    top.Msgs.clear();
    send(QEvent::KeyPress, 100);
    send(QEvent::KeyRelease, 140, true);
    send(QEvent::KeyPress, 140, true);
    for (quint64 t : {180, 220}) {
        send(QEvent::KeyRelease, t);
        // The second repeat as another group of the layout reads the key.
        send(QEvent::KeyPress, t, false, {}, t == 220);
    }
    send(QEvent::KeyRelease, 300, false, Qt::AltModifier);
    RunUntil(up);
    send(QEvent::KeyPress, 400);
    send(QEvent::KeyRelease, 450);
    send(QEvent::KeyPress, 460);
    // Let go while another application had the keyboard: down afresh after.
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(w, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(w, &in);
    send(QEvent::KeyPress, 600);
    send(QEvent::KeyRelease, 650);
    RunUntil([&] {
        return std::count_if(top.Msgs.begin(), top.Msgs.end(),
                             [](const TMessage& m) { return m.Msg == WM_KEYUP; }) == 3;
    });
    std::vector<std::pair<UINT, WORD>> got; // message and the high word of its key data
    for (const TMessage& m : top.Msgs)
        if (m.Msg == WM_KEYDOWN || m.Msg == WM_KEYUP)
            got.emplace_back(m.Msg, HiWord(uintptr_t(m.LParam)));
    const std::vector<std::pair<UINT, WORD>> expected = {{WM_KEYDOWN, 0},
                                                         {WM_KEYDOWN, KF_REPEAT},
                                                         {WM_KEYDOWN, KF_REPEAT},
                                                         {WM_KEYDOWN, KF_REPEAT},
                                                         {WM_KEYUP, KF_UP | KF_REPEAT | KF_ALTDOWN},
                                                         {WM_KEYDOWN, 0},
                                                         {WM_KEYUP, KF_UP | KF_REPEAT},
                                                         {WM_KEYDOWN, 0},
                                                         {WM_KEYDOWN, 0},
                                                         {WM_KEYUP, KF_UP | KF_REPEAT}};
    EXPECT_EQ(got, expected);
    for (const TMessage& m : top.Msgs) {
        if (m.Msg == WM_KEYDOWN || m.Msg == WM_KEYUP) {
            EXPECT_EQ(LoWord(uintptr_t(m.LParam)), 1) << "the repeat count";
        }
        if (m.Msg == WM_CHAR) {
            EXPECT_TRUE(m.WParam == u'f' || m.WParam == u'а') << "each down types";
        }
    }
    SetKeyState(VK_MENU, false);
    DestroyWindow(h);
}

// Keys type what the system's keyboard translation gives: the control
// characters of Backspace, Tab, Return and Escape, and with Ctrl those of the
// letters (by the key, whatever the layout) and of Backspace and Return;
// Delete types nothing; what Alt types is a menu character.
TEST(WindowHost, KeysTypeTheCharactersTheSystemTranslatesThemTo) {
    Recorder top;
    HWND h = top.Create(0, 0, 0, 80, 60);
    top.DlgCode = DLGC_WANTTAB;
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    SetFocus(h);
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        uint32_t place; // the X server's key code
        const char16_t* text;
        UINT msg; // WM_CHAR, WM_SYSCHAR or 0 for nothing typed
        WPARAM ch;
    };
    const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier, alt = Qt::AltModifier;
    const Case cases[] = {
        {Qt::Key_Backspace, none, 22, u"\b", WM_CHAR, 0x08},
        {Qt::Key_Tab, none, 23, u"\t", WM_CHAR, 0x09},
        {Qt::Key_Return, none, 36, u"\r", WM_CHAR, 0x0D},
        {Qt::Key_Enter, none, 104, u"\r", WM_CHAR, 0x0D},
        {Qt::Key_Escape, none, 9, u"\x1b", WM_CHAR, 0x1B},
        {Qt::Key_Delete, none, 119, u"\x7f", 0, 0},
        {Qt::Key_Delete, Qt::ShiftModifier, 119, u"\x7f", 0, 0},
        {Qt::Key_A, ctrl, 38, u"\x01", WM_CHAR, 0x01},
        {0x0424, ctrl, 38, u"ф", WM_CHAR, 0x01}, // Ctrl+A in the Russian layout
        {Qt::Key_Z, ctrl | Qt::ShiftModifier, 52, u"\x1a", WM_CHAR, 0x1A},
        {Qt::Key_Backspace, ctrl, 22, u"\b", WM_CHAR, 0x7F},
        {Qt::Key_Return, ctrl, 36, u"\r", WM_CHAR, 0x0A},
        {Qt::Key_BracketLeft, ctrl, 34, u"\x1b", WM_CHAR, 0x1B},
        {Qt::Key_1, ctrl, 10, u"1", 0, 0},
        {Qt::Key_F5, none, 71, u"", 0, 0},
        {Qt::Key_A, alt, 38, u"a", WM_SYSCHAR, 'a'},
        {0x0444, none, 38, u"ф", WM_CHAR, 0x0444},
    };
    for (const Case& c : cases) {
        top.Msgs.clear();
        QKeyEvent key(QEvent::KeyPress, c.key, c.mods, c.place, 0, 0, QString::fromUtf16(c.text));
        QCoreApplication::sendEvent(w, &key);
        QKeyEvent up(QEvent::KeyRelease, c.key, c.mods, c.place, 0, 0, QString::fromUtf16(c.text));
        QCoreApplication::sendEvent(w, &up);
        const TMessage* typed = top.Last(WM_CHAR) ? top.Last(WM_CHAR) : top.Last(WM_SYSCHAR);
        ASSERT_NE(top.Last(WM_KEYDOWN), nullptr) << std::hex << c.key;
        if (!c.msg) {
            EXPECT_EQ(typed, nullptr) << std::hex << c.key << " typed " << typed->WParam;
            continue;
        }
        ASSERT_NE(typed, nullptr) << std::hex << c.key;
        EXPECT_EQ(typed->Msg, c.msg) << std::hex << c.key;
        EXPECT_EQ(typed->WParam, c.ch) << std::hex << c.key;
    }
    for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) SetKeyState(vk, false);
    DestroyWindow(h);
}

// The side buttons are buttons of their own, which the system names in the
// high word; the window holding the focus keeps it.
TEST(WindowHost, SideButtonsAreButtonsOfTheirOwn) {
    Recorder top, child;
    HWND h = top.Create(0, 0, 0, 80, 60);
    HWND c = child.Create(h, 20, 10, 30, 30);
    SetWindowLongPtr(c, GWL_STYLE, GetWindowLongPtr(c, GWL_STYLE) | WS_TABSTOP);
    TWindowHost host(h);
    host.Show();
    QWidget* w = HostWidget();
    ASSERT_NE(w, nullptr);
    SetFocus(h);
    struct Case {
        QEvent::Type type;
        Qt::MouseButton button;
        Qt::MouseButtons held; // after the event
        UINT msg;
        WPARAM keys;
    };
    const Case cases[] = {
        {QEvent::MouseButtonPress, Qt::BackButton, Qt::BackButton, WM_XBUTTONDOWN,
         MK_XBUTTON1 | WPARAM(XBUTTON1) << 16},
        {QEvent::MouseButtonRelease, Qt::BackButton, Qt::NoButton, WM_XBUTTONUP,
         WPARAM(XBUTTON1) << 16},
        {QEvent::MouseButtonDblClick, Qt::ForwardButton, Qt::ForwardButton, WM_XBUTTONDBLCLK,
         MK_XBUTTON2 | WPARAM(XBUTTON2) << 16},
        {QEvent::MouseButtonRelease, Qt::ForwardButton, Qt::NoButton, WM_XBUTTONUP,
         WPARAM(XBUTTON2) << 16},
        {QEvent::MouseButtonPress, Qt::ExtraButton3, Qt::ExtraButton3, 0, 0},
    };
    for (const Case& t : cases) {
        child.Msgs.clear();
        QMouseEvent e(t.type, QPointF(25, 17), QPointF(25, 17), t.button, t.held, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
        for (UINT left : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK})
            EXPECT_EQ(child.Last(left), nullptr) << t.button << " acts as the left button";
        if (!t.msg) continue;
        const TMessage* m = child.Last(t.msg);
        ASSERT_NE(m, nullptr) << t.button << " " << t.type;
        EXPECT_EQ(m->WParam, t.keys) << t.button << " " << t.type;
    }
    EXPECT_EQ(GetFocus(), h);
    DestroyWindow(h);
}

// The desktop's lines a wheel notch scrolls are the layer's, now and after a change.
TEST(WindowHost, DesktopWheelLinesAreTheLayers) {
    QStyleHints* hints = QGuiApplication::styleHints();
    const int before = hints->wheelScrollLines();
    EXPECT_EQ(GetWheelScrollLines(), unsigned(before));
    hints->setWheelScrollLines(7);
    EXPECT_EQ(GetWheelScrollLines(), 7u);
    hints->setWheelScrollLines(before);
}

// The desktop's palette changing becomes the system colours (the classic ones
// until then) and reaches the controls within our top-level windows.
TEST(WindowHost, DesktopPaletteChangeReachesTheControls) {
    struct TProbe : TWinControl {
        int Heard = 0;
        void Dispatch(TMessage& m) override {
            if (m.Msg == CM_SYSCOLORCHANGE) ++Heard;
            TWinControl::Dispatch(m);
        }
    };
    TWinControl form;
    form.SetBounds(0, 0, 80, 60);
    TProbe inner;
    inner.SetParent(&form);
    inner.SetBounds(5, 5, 20, 20);
    form.HandleNeeded();
    const int bad[] = {COLOR_WINDOW, 99};
    const COLORREF red[] = {RGB(255, 0, 0), RGB(255, 0, 0)};
    EXPECT_FALSE(SetSysColors(2, bad, red));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(212, 208, 200));
    std::vector<int> all;
    std::vector<COLORREF> classic;
    for (int i = 0; i <= COLOR_HOTLIGHT; ++i) {
        all.push_back(i);
        classic.push_back(GetSysColor(i));
    }
    const QPalette before = QApplication::palette();
    QPalette changed = before;
    struct Case {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
        int index;
        COLORREF rgb;
    };
    const Case cases[] = {{QPalette::Active, QPalette::Base, COLOR_WINDOW, RGB(1, 2, 3)},
                          {QPalette::Active, QPalette::Text, COLOR_WINDOWTEXT, RGB(4, 5, 6)},
                          {QPalette::Active, QPalette::Button, COLOR_BTNFACE, RGB(7, 8, 9)},
                          {QPalette::Active, QPalette::Highlight, COLOR_HIGHLIGHT, RGB(10, 11, 12)},
                          {QPalette::Disabled, QPalette::Text, COLOR_GRAYTEXT, RGB(13, 14, 15)}};
    for (const Case& c : cases)
        changed.setColor(c.group, c.role,
                         QColor(GetRValue(c.rgb), GetGValue(c.rgb), GetBValue(c.rgb)));
    TBrush brush; // made for the classic window colour, it must not keep it
    brush.Color = clWindow;
    brush.Handle();
    QApplication::setPalette(changed);
    EXPECT_EQ(inner.Heard, 1);
    for (const Case& c : cases) EXPECT_EQ(GetSysColor(c.index), c.rgb) << c.index;
    EXPECT_EQ(brush.Handle()->Color, RGB(1, 2, 3));
    QApplication::setPalette(before);
    SetSysColors(int(all.size()), all.data(), classic.data());
}
