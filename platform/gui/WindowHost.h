#pragma once
// Putting windows on screen: the Qt back end of the message loop and a host
// widget that shows a top-level window's image and turns the toolkit's
// mouse, keyboard, wheel, focus and resize events into our messages.

#include <memory>

#include "platform/gui/Windows.h"

namespace nuq {

// Starts the widget toolkit (before any window is shown); the calling
// thread becomes the loop's main thread.
void InitGuiApplication(int& argc, char** argv);
// Runs the toolkit's event loop with ours inside it until the last host
// closes or QuitLoop; returns the exit code.
int RunGuiApplication();
// Ends RunGuiApplication with Code, from the loop.
void QuitGuiApplication(int code);
// Whether InitGuiApplication has started the toolkit.
bool GuiApplicationStarted();

class TWindowHost {
public:
    // FollowWindow: the host takes the window's screen position and size
    // (and the window the host's, when the user moves or resizes it).
    explicit TWindowHost(HWND window, bool followWindow = false);
    ~TWindowHost();
    TWindowHost(const TWindowHost&) = delete;
    TWindowHost& operator=(const TWindowHost&) = delete;
    void Show();
    void Hide();
    bool IsShown() const;
    // Moves and sizes the host as the user would (the window follows).
    void SetGeometry(int left, int top, int width, int height);
    // The host's position and size on screen.
    TRect Geometry() const;
    // The toolkit's native window id (an X window under X).
    uintptr_t NativeWindow() const;
    // The window with its children as one picture, saved as PNG; false on failure.
    bool SaveImage(const std::string& path);

private:
    struct TImpl;
    std::unique_ptr<TImpl> D;
};

} // namespace nuq
