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

class TWindowHost {
public:
    explicit TWindowHost(HWND window);
    ~TWindowHost();
    TWindowHost(const TWindowHost&) = delete;
    TWindowHost& operator=(const TWindowHost&) = delete;
    void Show();
    // The window with its children as one picture, saved as PNG; false on failure.
    bool SaveImage(const std::string& path);

private:
    struct TImpl;
    std::unique_ptr<TImpl> D;
};

} // namespace nuq
