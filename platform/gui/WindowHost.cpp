// The Qt back end of the message loop and the host widget of a top-level window.

#include "platform/gui/WindowHost.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Forms.h"
#include "platform/gui/GdiPrivate.h"

#include "platform/EventLoop.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

namespace nuq {

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
        Pass();
    }

private:
    void Pass() {
        ClearLoopWake();
        ProcessMessages();
        int64_t next = MsToNextTimer();
        if (next >= 0)
            Timer.start(int(next));
        else
            Timer.stop();
    }
    QSocketNotifier* Notifier;
    QSocketNotifier* Watches;
    QTimer Timer;
};

TLoopDriver* driver = nullptr;
bool guiStarted = false;

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
    if (mods & Qt::ShiftModifier) f |= MK_SHIFT;
    if (mods & Qt::ControlModifier) f |= MK_CONTROL;
    return f;
}

// Virtual key codes of the keys the system's controls handle.
WPARAM VirtualKey(int key) {
    switch (key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
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

class THostWidget : public QWidget {
public:
    THostWidget(HWND wnd, bool follow) : Wnd(wnd), Follow(follow) {
        TRect r;
        GetWindowRect(wnd, r);
        if (Follow)
            setGeometry(r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()));
        else
            resize(std::max(1, r.Width()), std::max(1, r.Height()));
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);
        setWindowTitle(QString::fromStdString(GetWindowText(wnd)));
        connect(&Refresh, &QTimer::timeout, this, [this] {
            if (!IsWindow(Wnd)) {
                close();
                return;
            }
            if (WindowPaintGeneration() != Seen) update();
            if (Follow) {
                ApplyLimits();
                FollowWindow();
            }
        });
        Refresh.start(30);
    }

    HWND Wnd;
    bool Follow;

    // Takes the window's position and size when the program changed them.
    void FollowWindow() {
        TRect r;
        if (!GetWindowRect(Wnd, r)) return;
        QRect g = geometry();
        if (r.Left != g.x() || r.Top != g.y() || r.Width() != g.width() || r.Height() != g.height())
            setGeometry(r.Left, r.Top, std::max(1, r.Width()), std::max(1, r.Height()));
    }

    // The window's answer to the size query bounds what the user can drag.
    void ApplyLimits() {
        TMinMaxInfo info;
        if (!SendMessage(Wnd, WM_GETMINMAXINFO, 0, LPARAM(&info))) return;
        QSize min(std::max(0, info.MinTrackSize.X), std::max(0, info.MinTrackSize.Y));
        QSize max(info.MaxTrackSize.X > 0 ? info.MaxTrackSize.X : QWIDGETSIZE_MAX,
                  info.MaxTrackSize.Y > 0 ? info.MaxTrackSize.Y : QWIDGETSIZE_MAX);
        if (minimumSize() != min) setMinimumSize(min);
        if (maximumSize() != max) setMaximumSize(max);
    }

protected:
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
    void focusInEvent(QFocusEvent*) override { SetFocus(Wnd); }
    void mousePressEvent(QMouseEvent* e) override {
        Mouse(e, e->button() == Qt::RightButton    ? WM_RBUTTONDOWN
                 : e->button() == Qt::MiddleButton ? WM_MBUTTONDOWN
                                                   : WM_LBUTTONDOWN);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        Mouse(e, e->button() == Qt::RightButton    ? WM_RBUTTONUP
                 : e->button() == Qt::MiddleButton ? WM_MBUTTONUP
                                                   : WM_LBUTTONUP);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        Mouse(e, e->button() == Qt::RightButton    ? WM_RBUTTONDBLCLK
                 : e->button() == Qt::MiddleButton ? WM_MBUTTONDBLCLK
                                                   : WM_LBUTTONDBLCLK);
    }
    void mouseMoveEvent(QMouseEvent* e) override { Mouse(e, WM_MOUSEMOVE); }
    void wheelEvent(QWheelEvent* e) override {
        TRect r;
        GetWindowRect(Wnd, r);
        QPoint g = e->position().toPoint() + QPoint(r.Left, r.Top);
        HWND target = GetFocus() ? GetFocus() : Wnd;
        WPARAM w = KeyFlags(e->buttons(), e->modifiers()) |
                   WPARAM(uint16_t(int16_t(e->angleDelta().y()))) << 16;
        SendMessage(target, WM_MOUSEWHEEL, w, MakeLParam(g.x(), g.y()));
    }
    void keyPressEvent(QKeyEvent* e) override { Key(e, true); }
    void keyReleaseEvent(QKeyEvent* e) override { Key(e, false); }

private:
    void Mouse(QMouseEvent* e, UINT msg) {
        TRect r;
        GetWindowRect(Wnd, r);
        TPoint screen{int(e->position().x()) + r.Left, int(e->position().y()) + r.Top};
        SetCursorPos(screen);
        HWND target = GetCapture() ? GetCapture() : WindowFromPoint(screen);
        if (!target) target = Wnd;
        TPoint p = screen;
        MapWindowPoints(0, target, &p, 1);
        SendMessage(target, msg, KeyFlags(e->buttons() | e->button(), e->modifiers()),
                    MakeLParam(p.X, p.Y));
    }
    void Key(QKeyEvent* e, bool down) {
        HWND target = GetFocus() ? GetFocus() : Wnd;
        KeyFlags({}, e->modifiers());
        if (WPARAM vk = VirtualKey(e->key()))
            SendMessage(target, down ? WM_KEYDOWN : WM_KEYUP, vk, 0);
        if (down && !e->text().isEmpty() && e->text()[0].unicode() >= 0x20)
            SendMessage(target, WM_CHAR, e->text()[0].unicode(), 0);
    }
    QTimer Refresh;
    uint64_t Seen = 0;
};

} // namespace

void InitGuiApplication(int& argc, char** argv) {
    SetMainThread();
    if (!QCoreApplication::instance()) {
        PrepareGuiEnvironment();
        new QApplication(argc, argv); // lives as long as the process
    }
    guiStarted = true;
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        Screen().Width = s->geometry().width();
        Screen().Height = s->geometry().height();
        Screen().PixelsPerInch = int(s->logicalDotsPerInch() + 0.5);
    }
}

bool GuiApplicationStarted() {
    return guiStarted;
}

int RunGuiApplication() {
    if (!driver) driver = new TLoopDriver;
    return QApplication::exec();
}

void QuitGuiApplication(int code) {
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
