#pragma once
// Windows kept out of screen capture (password panels, the program's own windows in
// screenshots). Code that shows such a window registers its native window id (X11
// Window, i.e. QWidget::winId()); the screen capturer blacks out the rectangles of
// the registered windows, their window manager's frames (title bar and borders)
// included, before a frame leaves the process. Thread-safe.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace wl {

class CaptureExclusion {
public:
    using WindowId = std::uint64_t;

    static CaptureExclusion& shared()
    {
        static CaptureExclusion registry;
        return registry;
    }

    void add(WindowId window)
    {
        if (window == 0)
            return;
        std::lock_guard guard(lock_);
        if (std::find(windows_.begin(), windows_.end(), window) == windows_.end())
            windows_.push_back(window);
    }

    void remove(WindowId window)
    {
        std::lock_guard guard(lock_);
        windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
    }

    bool contains(WindowId window) const
    {
        std::lock_guard guard(lock_);
        return std::find(windows_.begin(), windows_.end(), window) != windows_.end();
    }

    std::vector<WindowId> windows() const
    {
        std::lock_guard guard(lock_);
        return windows_;
    }

private:
    mutable std::mutex lock_;
    std::vector<WindowId> windows_;
};

// Registers a window for as long as the object lives.
class ScopedCaptureExclusion {
public:
    explicit ScopedCaptureExclusion(CaptureExclusion::WindowId window) : window_(window)
    {
        CaptureExclusion::shared().add(window_);
    }
    ~ScopedCaptureExclusion() { CaptureExclusion::shared().remove(window_); }
    ScopedCaptureExclusion(const ScopedCaptureExclusion&) = delete;
    ScopedCaptureExclusion& operator=(const ScopedCaptureExclusion&) = delete;

private:
    CaptureExclusion::WindowId window_;
};

} // namespace wl
