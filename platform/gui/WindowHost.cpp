// The Qt back end of the message loop and the host widget of a top-level window.

#include "platform/gui/WindowHost.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Forms.h"
#include "platform/gui/GdiPrivate.h"
#include "platform/gui/Menus.h"

#include "platform/EventLoop.h"

#include <QApplication>
#include <QBitmap>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <map>
#include <set>
#include <utility>

namespace nuq {

void RefreshHosts();

namespace {

// Runs our loop's passes from Qt's: when a call is posted (the wake
// descriptor), when a watched descriptor is ready and when our next timer is
// due.
class TLoopDriver : public QObject {
public:
    TLoopDriver() {
        Notifier = new QSocketNotifier(LoopWakeFd(), QSocketNotifier::Read, this);
        connect(Notifier, &QSocketNotifier::activated, this, [this] { Pass(); });
        Watches = new QSocketNotifier(LoopWatchFd(), QSocketNotifier::Read, this);
        connect(Watches, &QSocketNotifier::activated, this, [this] { Pass(); });
        Timer.setSingleShot(true);
        connect(&Timer, &QTimer::timeout, this, [this] { Pass(); });
        SetTimerArmedHook([this] { Schedule(); });
        // The first pass runs inside the toolkit's loop, so that a quit it asks for ends it.
        Timer.start(0);
    }

private:
    void Pass() {
        FirstPassDue = false;
        ClearLoopWake();
        ProcessMessages();
        Schedule();
    }
    void Schedule() {
        if (FirstPassDue) return; // it schedules what follows
        int64_t next = MsToNextTimer();
        if (next >= 0)
            Timer.start(int(next));
        else
            Timer.stop();
    }
    QSocketNotifier* Notifier;
    QSocketNotifier* Watches;
    QTimer Timer;
    bool FirstPassDue = true;
};

TLoopDriver* driver = nullptr;
bool guiStarted = false;
bool loopRunning = false, quitBeforeRun = false;
int quitCode = 0;

// The window and its visible children composed into one picture.
void Compose(HWND wnd, QPainter& p, QPoint at) {
    HBITMAP img = GetWindowImage(wnd);
    if (!img) return;
    p.drawImage(at, SurfaceImage(img));
    TPoint client = ClientOrigin(wnd);
    for (HWND c : GetChildWindows(wnd)) {
        if (!(GetWindowLongPtr(c, GWL_STYLE) & WS_VISIBLE)) continue;
        TRect r;
        GetWindowRect(c, r);
        Compose(c, p, at + QPoint(client.X + r.Left, client.Y + r.Top));
    }
}

WPARAM KeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    SetKeyState(0x10, mods & Qt::ShiftModifier);
    SetKeyState(0x11, mods & Qt::ControlModifier);
    SetKeyState(0x12, mods & Qt::AltModifier);
    WPARAM f = 0;
    if (buttons & Qt::LeftButton) f |= MK_LBUTTON;
    if (buttons & Qt::RightButton) f |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) f |= MK_MBUTTON;
    if (buttons & Qt::BackButton) f |= MK_XBUTTON1;
    if (buttons & Qt::ForwardButton) f |= MK_XBUTTON2;
    if (mods & Qt::ShiftModifier) f |= MK_SHIFT;
    if (mods & Qt::ControlModifier) f |= MK_CONTROL;
    return f;
}

// The message of a button going down (Kind 0), up (1) or down twice (2); the
// side buttons name themselves in the high word. 0: the system has none.
UINT ButtonMessage(Qt::MouseButton button, int kind, WPARAM& keys) {
    switch (button) {
    case Qt::LeftButton:
        return WM_LBUTTONDOWN + kind;
    case Qt::RightButton:
        return WM_RBUTTONDOWN + kind;
    case Qt::MiddleButton:
        return WM_MBUTTONDOWN + kind;
    case Qt::BackButton:
    case Qt::ForwardButton:
        keys |= WPARAM(button == Qt::BackButton ? XBUTTON1 : XBUTTON2) << 16;
        return WM_XBUTTONDOWN + kind;
    default:
        return 0;
    }
}

// The character a key types, as the system's keyboard translation gives it:
// Backspace, Tab, Return and Escape type their control characters; with Ctrl
// the letters and a few signs type theirs whatever the layout (Backspace DEL,
// Return LF); Delete types nothing. Ctrl with Alt types as AltGr would.
WPARAM TypedChar(const QKeyEvent& e, WPARAM vk) {
    const bool ctrl = (e.modifiers() & Qt::ControlModifier) && !(e.modifiers() & Qt::AltModifier);
    const bool shift = e.modifiers() & Qt::ShiftModifier;
    if (ctrl) {
        if (vk >= 'A' && vk <= 'Z') return vk - 0x40;
        switch (vk) {
        case 0x08:
            return 0x7F;
        case 0x0D:
            return 0x0A;
        case 0x1B: // Escape
        case 0xDB: // [
            return 0x1B;
        case 0xDC: // backslash
        case 0xE2:
            return 0x1C;
        case 0xDD: // ]
            return 0x1D;
        case 0x20:
            return 0x20;
        case '6':
            return shift ? 0x1E : 0;
        case 0xBD: // -
            return shift ? 0x1F : 0;
        default:
            return 0;
        }
    }
    if (vk == 0x08 || vk == 0x09 || vk == 0x0D || vk == 0x1B) return vk;
    const char16_t c = e.text().isEmpty() ? 0 : char16_t(e.text()[0].unicode());
    return c >= 0x20 && c != 0x7F ? c : 0;
}

// Virtual key codes of the keys the system's controls handle.
WPARAM VirtualKey(int key) {
    switch (key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab: the Shift comes with the key state
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
    case Qt::Key_Alt:
        return 0x12;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    case Qt::Key_F2:
        return 0x71;
    case Qt::Key_Menu:
        return 0x5D;
    case Qt::Key_Asterisk:
        return 0x6A;
    case Qt::Key_Plus:
        return 0x6B;
    case Qt::Key_Minus:
        return 0x6D;
    case Qt::Key_Slash:
        return 0x6F;
    default:
        if (key >= Qt::Key_0 && key <= Qt::Key_9) return WPARAM(key);
        if (key >= Qt::Key_A && key <= Qt::Key_Z) return WPARAM(key);
        if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return WPARAM(0x70 + key - Qt::Key_F1);
        return 0;
    }
}

// The main block's keys by their place on the keyboard (the X server's key
// code, a Linux input code + 8), as the desktop the key codes come from
// names them whatever the layout: a Cyrillic letter comes as the Latin
// letter on its key, punctuation as the OEM key it sits on.
WPARAM VirtualKeyAt(uint32_t code) {
    static const char* const rows[] = {"1234567890", "QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    static const uint32_t starts[] = {10, 24, 38, 52};
    for (int r = 0; r < 4; ++r) {
        const size_t length = std::char_traits<char>::length(rows[r]);
        if (code >= starts[r] && code < starts[r] + length)
            return WPARAM(rows[r][code - starts[r]]);
    }
    switch (code) {
    case 20: // - _
        return 0xBD;
    case 21: // = +
        return 0xBB;
    case 34: // [ {
        return 0xDB;
    case 35: // ] }
        return 0xDD;
    case 47: // ; :
        return 0xBA;
    case 48: // ' "
        return 0xDE;
    case 49: // ` ~
        return 0xC0;
    case 51: // backslash |
        return 0xDC;
    case 59: // , <
        return 0xBC;
    case 60: // . >
        return 0xBE;
    case 61: // / ?
        return 0xBF;
    case 94: // the extra key left of Z
        return 0xE2;
    default:
        return 0;
    }
}

// Every key that types something gets a key code: its own, the one of its
// place, or else the code of a key that stands for a typed character alone.
WPARAM VirtualKey(const QKeyEvent& e) {
    if (WPARAM vk = VirtualKey(e.key())) return vk;
    if (WPARAM vk = VirtualKeyAt(e.nativeScanCode())) return vk;
    return e.text().isEmpty() ? 0 : 0xE7;
}

QCursor ToQtCursor(HCURSOR c) {
    if (!c) return Qt::ArrowCursor;
    switch (c->SystemId) {
    case 0:
        break;
    case IDC_IBEAM:
        return Qt::IBeamCursor;
    case IDC_WAIT:
        return Qt::WaitCursor;
    case IDC_CROSS:
        return Qt::CrossCursor;
    case IDC_UPARROW:
        return Qt::UpArrowCursor;
    case IDC_SIZENWSE:
        return Qt::SizeFDiagCursor;
    case IDC_SIZENESW:
        return Qt::SizeBDiagCursor;
    case IDC_SIZEWE:
        return Qt::SizeHorCursor;
    case IDC_SIZENS:
        return Qt::SizeVerCursor;
    case IDC_SIZEALL:
        return Qt::SizeAllCursor;
    case IDC_NO:
        return Qt::ForbiddenCursor;
    case IDC_HAND:
        return Qt::PointingHandCursor;
    case IDC_APPSTARTING:
        return Qt::BusyCursor;
    case IDC_HELP:
        return Qt::WhatsThisCursor;
    default:
        return Qt::ArrowCursor;
    }
    if (c->Image.size() != 32 * 32) return Qt::ArrowCursor;
    QImage img(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        std::copy_n(c->Image.data() + y * 32, 32, reinterpret_cast<uint32_t*>(img.scanLine(y)));
    return QCursor(QPixmap::fromImage(img), c->HotX, c->HotY);
}

// The popup menu on screen: a real menu while a display is there.
struct TMenuOnScreen {
    std::unique_ptr<QMenu> Menu;
    TPopupMenu* Owner = nullptr;
    int Chosen = -1;
};
TMenuOnScreen& MenuOnScreen() {
    static auto* m = new TMenuOnScreen;
    return *m;
}

void ShowMenu(TPopupMenu& menu) {
    if (QGuiApplication::platformName() == "offscreen") return;
    TMenuOnScreen& m = MenuOnScreen();
    m.Menu = std::make_unique<QMenu>();
    m.Owner = &menu;
    m.Chosen = -1;
    for (size_t i = 0; i < menu.Items.size(); ++i) {
        const TMenuItem& item = menu.Items[i];
        if (item.Caption == "-") {
            m.Menu->addSeparator();
            continue;
        }
        QAction* a = m.Menu->addAction(QString::fromStdString(item.Caption));
        a->setEnabled(item.Enabled);
        a->setCheckable(item.Checked);
        a->setChecked(item.Checked);
        QObject::connect(a, &QAction::triggered, [i] { MenuOnScreen().Chosen = int(i); });
    }
    // The choice arrives after the menu hides: the menu is told once both are in.
    QObject::connect(m.Menu.get(), &QMenu::aboutToHide, [owner = &menu] {
        QTimer::singleShot(0, [owner] {
            TMenuOnScreen& m = MenuOnScreen();
            if (m.Owner != owner || ShownPopupMenu() != owner) return;
            m.Owner = nullptr;
            owner->CloseUp(m.Chosen);
        });
    });
    m.Menu->popup(QPoint(menu.PopupPoint().X, menu.PopupPoint().Y));
}

void HideMenu(TPopupMenu& menu) {
    TMenuOnScreen& m = MenuOnScreen();
    if (m.Owner != &menu && m.Menu && m.Owner) return;
    m.Owner = nullptr;
    if (m.Menu) {
        m.Menu->disconnect();
        m.Menu->hide();
        m.Menu.release()->deleteLater();
    }
}

class THostWidget;

// The hosts look at the windows when the layer tells of a change, once the
// work that made it is done; nothing runs on a clock, so an idle program sleeps.
std::atomic<bool> refreshPending{false};
void ScheduleRefresh() {
    if (!QCoreApplication::instance() || refreshPending.exchange(true)) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            refreshPending = false;
            RefreshHosts();
        },
        Qt::QueuedConnection);
}

class THostWidget : public QWidget {
public:
    // Popup: a window of its own on screen (hints, drop-downs) that never takes the focus.
    THostWidget(HWND wnd, bool follow, bool popup = false) : Wnd(wnd), Follow(follow) {
        if (popup) {
            setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput);
            setAttribute(Qt::WA_ShowWithoutActivating);
        }
        TRect r;
        GetWindowRect(wnd, r);
        if (Follow)
            setGeometry(r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()));
        else
            resize(std::max(1, r.Width()), std::max(1, r.Height()));
        setFocusPolicy(popup ? Qt::NoFocus : Qt::StrongFocus);
        setMouseTracking(true);
        setWindowTitle(QString::fromStdString(GetWindowText(wnd)));
        Hosts().insert(this);
        ShowCursor(GetCursor());
        ScheduleRefresh();
    }

    // Shows what the window painted and follows where the program put it.
    void Refresh() {
        if (!IsWindow(Wnd)) {
            close();
            return;
        }
        if (WindowPaintGeneration() != Seen) update();
        if (Follow) {
            ApplyLimits();
            ApplyForm();
            FollowWindow();
            ApplyShape();
        }
    }
    ~THostWidget() override { Hosts().erase(this); }

    static std::set<THostWidget*>& Hosts() {
        static auto* hosts = new std::set<THostWidget*>;
        return *hosts;
    }
    void ShowCursor(HCURSOR c) { setCursor(ToQtCursor(c)); }

    HWND Wnd;
    bool Follow;

    // A shaped window shows only its region's pixels.
    void ApplyShape() {
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        QRegion shape;
        const bool shaped = GetWindowRgn(Wnd, region) != RGN_ERROR;
        for (const TRect& r : region->Rects) shape |= QRect(r.Left, r.Top, r.Width(), r.Height());
        DeleteObject(region);
        if (shaped && shape != mask())
            setMask(shape);
        else if (!shaped && !mask().isEmpty())
            clearMask();
    }

    // Takes the window's position and size when the program changed them;
    // a minimised or maximised window is placed by the window manager.
    void FollowWindow() {
        TRect r;
        if (!GetWindowRect(Wnd, r) || ScreenState()) return;
        QRect g = geometry();
        if (r.Left != g.x() || r.Top != g.y() || r.Width() != g.width() || r.Height() != g.height())
            setGeometry(r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()));
    }

    // The window's answer to the size query bounds what the user can drag.
    void ApplyLimits() {
        TMinMaxInfo info;
        // No answer: no limits, whatever an earlier answer gave.
        if (!SendMessage(Wnd, WM_GETMINMAXINFO, 0, LPARAM(&info))) info = {};
        QSize min(std::max(0, info.MinTrackSize.X), std::max(0, info.MinTrackSize.Y));
        QSize max(info.MaxTrackSize.X > 0 ? info.MaxTrackSize.X : QWIDGETSIZE_MAX,
                  info.MaxTrackSize.Y > 0 ? info.MaxTrackSize.Y : QWIDGETSIZE_MAX);
        if (minimumSize() != min) setMinimumSize(min);
        if (maximumSize() != max) setMaximumSize(max);
    }

    // A form's border icons and state go to the toolkit's window. The
    // normal rectangle is remembered while the program and the screen agree
    // on it, for a window manager that maximises or minimises the window.
    void ApplyForm() {
        auto* form = dynamic_cast<TForm*>(FindControl(Wnd));
        if (!form) return;
        Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (form->BorderIcons() & biSystemMenu)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (form->BorderIcons() & biMinimize) flags |= Qt::WindowMinimizeButtonHint;
        if (form->BorderIcons() & biMaximize) flags |= Qt::WindowMaximizeButtonHint;
        if (flags != windowFlags()) {
            // A window on screen changes its hints in place (the widget's own
            // change would take it off the screen and make it anew).
            overrideWindowFlags(flags);
            if (windowHandle()) windowHandle()->setFlags(flags);
        }
        const Qt::WindowStates wanted = WantedState();
        if (ScreenState() != wanted) {
            // The manager learns the normal rectangle first: its restore goes there.
            TWindowPlacement wp;
            wp.Length = 44;
            if (wanted && !ScreenState() && GetWindowPlacement(Wnd, wp)) {
                const TRect& n = wp.NormalPosition;
                setGeometry(n.Left, n.Top, std::max(1, n.Width()), std::max(1, n.Height()));
            }
            Applying = true;
            setWindowState(wanted);
            Applying = false;
        }
        TRect r;
        if (!wanted && PlacementState() == SW_SHOWNORMAL && GetWindowRect(Wnd, r) &&
            QRect(r.Left, r.Top, r.Width(), r.Height()) != Normal) {
            EarlierNormal = Normal;
            Normal = QRect(r.Left, r.Top, r.Width(), r.Height());
        }
    }

protected:
    // The window manager minimised, maximised or restored the window: the
    // program's window takes that state and keeps its normal rectangle.
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() != QEvent::WindowStateChange || Applying || !Follow ||
            !dynamic_cast<TForm*>(FindControl(Wnd)) || ScreenState() == WantedState())
            return;
        const Qt::WindowStates state = ScreenState();
        QRect normal = Normal;
        // A manager that resized the window before it told of the maximise:
        // the rectangle seen last is the maximised one.
        if (state.testFlag(Qt::WindowMaximized) && normal == geometry() && screen() &&
            frameGeometry() == screen()->availableGeometry())
            normal = EarlierNormal;
        if (state && PlacementState() == SW_SHOWNORMAL && normal.isValid())
            SetWindowPos(Wnd, normal.x(), normal.y(), normal.width(), normal.height(),
                         SWP_NOZORDER);
        SendMessage(Wnd, WM_SYSCOMMAND,
                    state.testFlag(Qt::WindowMinimized)   ? SC_MINIMIZE
                    : state.testFlag(Qt::WindowMaximized) ? SC_MAXIMIZE
                                                          : SC_RESTORE,
                    0);
        if (state.testFlag(Qt::WindowMaximized) && IsWindow(Wnd))
            SetWindowPos(Wnd, x(), y(), width(), height(), SWP_NOZORDER);
    }
    void paintEvent(QPaintEvent*) override {
        Seen = WindowPaintGeneration();
        QPainter p(this);
        Compose(Wnd, p, {0, 0});
    }
    void resizeEvent(QResizeEvent*) override {
        if (IsWindow(Wnd)) SetWindowPos(Wnd, 0, 0, width(), height(), SWP_NOMOVE | SWP_NOZORDER);
    }
    void moveEvent(QMoveEvent*) override {
        if (Follow && IsWindow(Wnd))
            SetWindowPos(Wnd, geometry().x(), geometry().y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    void closeEvent(QCloseEvent* e) override {
        if (!IsWindow(Wnd)) return;
        PostMessage(Wnd, WM_CLOSE, 0, 0);
        // A window that follows decides itself whether it closes (and hides its host).
        if (Follow) e->ignore();
    }
    // The window system's focus arrives late (after the click that asked for
    // it): the focus stays on whichever of our windows has it, and returns
    // to the one that had it when the host lost it.
    void focusInEvent(QFocusEvent*) override {
        if (Within(GetFocus())) return;
        SetFocus(Within(LastFocus) ? LastFocus : Wnd);
    }
    void focusOutEvent(QFocusEvent* e) override {
        DeliverWaitingUp();
        if (Within(GetFocus())) LastFocus = GetFocus();
        // Another application took the keyboard: our window is deactivated,
        // its modes end and the focused window learns it lost the focus.
        if (e->reason() == Qt::ActiveWindowFocusReason) ForgetHeldKeys();
        if (e->reason() == Qt::ActiveWindowFocusReason && Within(GetFocus())) {
            HWND capture = GetCapture();
            if (Within(capture)) {
                SendMessage(capture, WM_CANCELMODE, 0, 0);
                if (GetCapture() == capture) ReleaseCapture();
            }
            if (IsWindow(LastFocus) && LastFocus != capture)
                SendMessage(LastFocus, WM_CANCELMODE, 0, 0);
            SetFocus(0);
            // A window that went with the focus (an editor that ended) leaves
            // it to the nearest window around it that stays.
            while (IsWindow(LastFocus) && !IsWindowVisible(LastFocus) &&
                   Within(GetParent(LastFocus)))
                LastFocus = GetParent(LastFocus);
        }
    }
    void mousePressEvent(QMouseEvent* e) override { Button(e, 0); }
    void mouseReleaseEvent(QMouseEvent* e) override { Button(e, 1); }
    void mouseDoubleClickEvent(QMouseEvent* e) override { Button(e, 2); }
    void mouseMoveEvent(QMouseEvent* e) override {
        DeliverMouse(WM_MOUSEMOVE, ScreenPoint(e->position().toPoint()),
                     KeyFlags(e->buttons(), e->modifiers()));
    }
    // A window of ours shown under the mouse (a hint) makes the toolkit
    // report a leave though the mouse stayed: only a real leave counts.
    void leaveEvent(QEvent*) override {
        QPoint at = mapFromGlobal(QCursor::pos());
        if (rect().contains(at)) return;
        // Where the pointer went: what asks for it from now on must not find it still here.
        if (!GetCapture()) SetCursorPos(ScreenPoint(at));
        DeliverMouseLeave();
    }
    void wheelEvent(QWheelEvent* e) override {
        DeliverWheel(ScreenPoint(e->position().toPoint()), e->angleDelta().y(),
                     KeyFlags(e->buttons(), e->modifiers()));
    }
    // Tab is a key like the others: the layer decides whether it moves the focus.
    bool focusNextPrevChild(bool) override { return false; }
    void keyPressEvent(QKeyEvent* e) override { Key(e, true); }
    void keyReleaseEvent(QKeyEvent* e) override { Key(e, false); }

private:
    TPoint ScreenPoint(QPoint at) const {
        TRect r;
        GetWindowRect(Wnd, r);
        return {at.x() + r.Left, at.y() + r.Top};
    }
    // The flags name the buttons held after the event: a released one is up.
    void Button(QMouseEvent* e, int kind) {
        DeliverWaitingUp(); // a key let go before the click is up for it
        WPARAM keys = KeyFlags(e->buttons(), e->modifiers());
        if (UINT msg = ButtonMessage(e->button(), kind, keys))
            DeliverMouse(msg, ScreenPoint(e->position().toPoint()), keys);
    }
    // A held key repeats as downs alone. X repeats it as a release and a
    // press with one time stamp, and the toolkit marks the pair only when the
    // press is in already: a release waits a moment for the press that
    // makes it a repeat's.
    void Key(QKeyEvent* e, bool down) {
        if (!down && e->isAutoRepeat()) return;
        // The same key is the same place (what it types may change with the layout's group).
        const bool sameKey = Up.Place ? Up.Place == e->nativeScanCode() : Up.Key == e->key();
        const bool repeat = down && Up.Waiting && sameKey && Up.Time == e->timestamp();
        if (repeat)
            Up.Waiting = false;
        else
            DeliverWaitingUp();
        HWND target = GetFocus() ? GetFocus() : Wnd;
        const WPARAM vk = VirtualKey(*e);
        if (!down) {
            Up = {true, e->key(), e->nativeScanCode(), e->timestamp(), e->modifiers(), target, vk};
            // Only this release's own wait ends it: a timer left from an earlier
            // release must not split a repeat arriving now.
            QTimer::singleShot(RepeatWaitMs, this, [this, time = e->timestamp()] {
                if (Up.Waiting && Up.Time == time) DeliverWaitingUp();
            });
            return;
        }
        KeyFlags({}, e->modifiers());
        DeliverKey(target, WM_KEYDOWN, vk, TypedChar(*e, vk));
    }
    void DeliverWaitingUp() {
        if (!std::exchange(Up.Waiting, false)) return;
        KeyFlags({}, Up.Modifiers);
        DeliverKey(IsWindow(Up.Target) ? Up.Target : Wnd, WM_KEYUP, Up.Vk, 0);
    }
    struct TWaitingUp {
        bool Waiting = false;
        int Key = 0;
        quint32 Place = 0;
        quint64 Time = 0;
        Qt::KeyboardModifiers Modifiers;
        HWND Target = 0;
        WPARAM Vk = 0;
    } Up;
    static constexpr int RepeatWaitMs = 30;
    bool Within(HWND h) const {
        for (; h && IsWindow(h); h = GetParent(h))
            if (h == Wnd) return true;
        return false;
    }
    UINT PlacementState() const {
        TWindowPlacement wp;
        wp.Length = 44;
        return GetWindowPlacement(Wnd, wp) ? wp.ShowCmd : SW_SHOWNORMAL;
    }
    Qt::WindowStates ScreenState() const {
        return windowState() & (Qt::WindowMinimized | Qt::WindowMaximized);
    }
    // A window maximised where its size answer says is placed as a normal
    // one there: a window manager has no way to take that place.
    Qt::WindowStates WantedState() const {
        bool own = false;
        switch (PlacementState()) {
        case SW_SHOWMINIMIZED:
            return Qt::WindowMinimized;
        case SW_SHOWMAXIMIZED:
            MaximizedBounds(Wnd, &own);
            return own ? Qt::WindowNoState : Qt::WindowMaximized;
        default:
            return Qt::WindowNoState;
        }
    }
    uint64_t Seen = 0;
    HWND LastFocus = 0;
    bool Applying = false; // the state change is ours, not the window manager's
    QRect Normal, EarlierNormal;
};

// The desktop's colours as the system colours they stand for. At start the
// classic colours stay (what the program draws is known); a change of the
// desktop's palette later is followed.
void FollowDesktopPalette(const QPalette& palette) {
    struct TRole {
        int Index;
        QPalette::ColorGroup Group;
        QPalette::ColorRole Role;
    };
    static const TRole roles[] = {
        {COLOR_SCROLLBAR, QPalette::Active, QPalette::Button},
        {COLOR_MENU, QPalette::Active, QPalette::Window},
        {COLOR_WINDOW, QPalette::Active, QPalette::Base},
        {COLOR_WINDOWFRAME, QPalette::Active, QPalette::Shadow},
        {COLOR_MENUTEXT, QPalette::Active, QPalette::WindowText},
        {COLOR_WINDOWTEXT, QPalette::Active, QPalette::Text},
        {COLOR_HIGHLIGHT, QPalette::Active, QPalette::Highlight},
        {COLOR_HIGHLIGHTTEXT, QPalette::Active, QPalette::HighlightedText},
        {COLOR_BTNFACE, QPalette::Active, QPalette::Button},
        {COLOR_BTNSHADOW, QPalette::Active, QPalette::Dark},
        {COLOR_GRAYTEXT, QPalette::Disabled, QPalette::Text},
        {COLOR_BTNTEXT, QPalette::Active, QPalette::ButtonText},
        {COLOR_BTNHIGHLIGHT, QPalette::Active, QPalette::Light},
        {COLOR_3DDKSHADOW, QPalette::Active, QPalette::Shadow},
        {COLOR_3DLIGHT, QPalette::Active, QPalette::Midlight},
        {COLOR_INFOTEXT, QPalette::Active, QPalette::ToolTipText},
        {COLOR_INFOBK, QPalette::Active, QPalette::ToolTipBase},
        {COLOR_HOTLIGHT, QPalette::Active, QPalette::Link},
    };
    std::vector<int> indexes;
    std::vector<COLORREF> values;
    for (const TRole& r : roles) {
        QColor c = palette.color(r.Group, r.Role);
        indexes.push_back(r.Index);
        values.push_back(RGB(c.red(), c.green(), c.blue()));
    }
    // The toolkit may tell of one change more than once: only a real one goes on.
    bool changed = false;
    for (size_t i = 0; i < indexes.size(); ++i) changed |= GetSysColor(indexes[i]) != values[i];
    if (changed) SetSysColors(int(indexes.size()), indexes.data(), values.data());
}

class TPaletteWatch : public QObject {
protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == QCoreApplication::instance() && e->type() == QEvent::ApplicationPaletteChange)
            FollowDesktopPalette(QGuiApplication::palette());
        return false;
    }
};

} // namespace

void InitGuiApplication(int& argc, char** argv) {
    SetMainThread();
    if (!QCoreApplication::instance()) {
        PrepareGuiEnvironment();
        // Every move of the mouse reaches the windows: a press and the moves
        // right after it are what starts a drag or a divider's tracking.
        QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
        new QApplication(argc, argv); // lives as long as the process
        KeepNumbersInCLocale();
    }
    if (!guiStarted) QCoreApplication::instance()->installEventFilter(new TPaletteWatch);
    guiStarted = true;
    HostHooks().CursorChanged = [](HCURSOR c) {
        for (THostWidget* h : THostWidget::Hosts()) h->ShowCursor(c);
    };
    HostHooks().ShowMenu = ShowMenu;
    HostHooks().HideMenu = HideMenu;
    HostHooks().Beep = [] { QApplication::beep(); };
    HostHooks().WindowsChanged = ScheduleRefresh;
    // The wheel scrolls as many lines a notch as the desktop says, now and after a change.
    SetWheelScrollLines(unsigned(std::max(1, QGuiApplication::styleHints()->wheelScrollLines())));
    QObject::connect(QGuiApplication::styleHints(), &QStyleHints::wheelScrollLinesChanged,
                     [](int lines) { SetWheelScrollLines(unsigned(std::max(1, lines))); });
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        // The work area that restored forms are kept within is this screen's.
        SetScreenSize(s->geometry().width(), s->geometry().height());
        Screen().PixelsPerInch = int(s->logicalDotsPerInch() + 0.5);
        // Drawings straight onto the screen land where the toolkit's screen shows them.
        if (QGuiApplication::platformName() != "offscreen")
            SetScreenSize(s->geometry().width(), s->geometry().height());
    }
}

bool GuiApplicationStarted() {
    return guiStarted;
}

// What the program puts on screen besides its hosted windows: its other
// top-level windows that show (hints), each in a popup host, and whatever it
// drew straight onto the screen (drag images), in a window shaped to those
// pixels that lets the mouse through.
class TDesktop : public QObject {
public:
    TDesktop() {
        Overlay.setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint |
                               Qt::WindowTransparentForInput);
        Overlay.setAttribute(Qt::WA_ShowWithoutActivating);
        Overlay.setAttribute(Qt::WA_TransparentForMouseEvents);
        HostHooks().PaintScreen = [](QImage& screen) {
            QPainter p(&screen);
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* host = dynamic_cast<THostWidget*>(w); host && host->isVisible())
                    Compose(host->Wnd, p, host->mapToGlobal(QPoint(0, 0)));
        };
        ScheduleRefresh();
    }

    void Follow() {
        std::erase_if(Popups, [](auto& p) { return !IsWindow(p.first); });
        for (HWND h : GetTopLevelWindows()) {
            bool shown = IsWindowVisible(h) && (GetWindowLongPtr(h, GWL_STYLE) & WS_POPUP);
            auto it = Popups.find(h);
            if (shown && it == Popups.end())
                it = Popups.emplace(h, std::make_unique<THostWidget>(h, true, true)).first;
            if (it == Popups.end()) continue;
            if (shown && !it->second->isVisible()) {
                it->second->FollowWindow();
                // The X server takes a shape given before the window maps, not after.
                it->second->ApplyShape();
                it->second->show();
            } else if (!shown && it->second->isVisible())
                it->second->hide();
        }
        if (ScreenPaintGeneration() != SeenScreen) ShowScreenDrawings();
    }

private:
    class TOverlay : public QWidget {
    public:
        QImage Picture;

    protected:
        void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, Picture); }
    };

    // Only what was drawn onto the screen's picture shows over the windows.
    void ShowScreenDrawings() {
        SeenScreen = ScreenPaintGeneration();
        QImage screen = SurfaceImage(GetScreenImage());
        QRegion drawn = ScreenDrawings();
        if (drawn.isEmpty()) {
            Overlay.hide();
            return;
        }
        QRect box = drawn.boundingRect();
        Overlay.Picture = screen.copy(box);
        Overlay.setGeometry(box);
        Overlay.setMask(drawn.translated(-box.topLeft()));
        Overlay.show();
        Overlay.update();
    }

    std::map<HWND, std::unique_ptr<THostWidget>> Popups;
    TOverlay Overlay;
    uint64_t SeenScreen = 0;
};

TDesktop* desktop = nullptr;

void RefreshHosts() {
    // A refresh may close hosts and end popups: each is looked up again first.
    std::vector<THostWidget*> hosts(THostWidget::Hosts().begin(), THostWidget::Hosts().end());
    for (THostWidget* h : hosts)
        if (THostWidget::Hosts().count(h)) h->Refresh();
    if (desktop) desktop->Follow();
}

int RunGuiApplication() {
    if (!driver) driver = new TLoopDriver;
    // Asked to end before the loop ran (the input was at its end at once): it ends now.
    if (quitBeforeRun) {
        quitBeforeRun = false;
        return quitCode;
    }
    // Our passes run from the toolkit's loop now: a modal loop waits in that one.
    HostHooks().WaitForInput = [] {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    if (!desktop && QGuiApplication::platformName() != "offscreen") desktop = new TDesktop;
    loopRunning = true;
    int result = QApplication::exec();
    loopRunning = false;
    return result;
}

void QuitGuiApplication(int code) {
    if (!loopRunning) {
        quitBeforeRun = true;
        quitCode = code;
    }
    QCoreApplication::exit(code);
}

struct TWindowHost::TImpl {
    std::unique_ptr<THostWidget> Widget;
};

TWindowHost::TWindowHost(HWND window, bool followWindow) : D(std::make_unique<TImpl>()) {
    D->Widget = std::make_unique<THostWidget>(window, followWindow);
}

TWindowHost::~TWindowHost() = default;

void TWindowHost::Show() {
    if (D->Widget->Follow) {
        D->Widget->ApplyLimits();
        D->Widget->ApplyForm(); // before the window maps: its first state is the right one
        D->Widget->FollowWindow();
    }
    D->Widget->show();
}

void TWindowHost::Hide() {
    D->Widget->hide();
}

bool TWindowHost::IsShown() const {
    return D->Widget->isVisible();
}

void TWindowHost::SetGeometry(int left, int top, int width, int height) {
    D->Widget->setGeometry(left, top, width, height);
}

TRect TWindowHost::Geometry() const {
    QRect g = D->Widget->geometry();
    return Bounds(g.x(), g.y(), g.width(), g.height());
}

uintptr_t TWindowHost::NativeWindow() const {
    return uintptr_t(D->Widget->winId());
}

bool TWindowHost::SaveImage(const std::string& path) {
    HBITMAP img = GetWindowImage(D->Widget->Wnd);
    if (!img) return false;
    QImage out(img->Width, img->Height, QImage::Format_RGB32);
    QPainter p(&out);
    Compose(D->Widget->Wnd, p, {0, 0});
    p.end();
    return out.save(QString::fromStdString(path), "PNG");
}

} // namespace nuq
