#pragma once
// Windows kept out of screen capture (the password panels). Start-up makes one registry
// and hands it down in the platform record: code that shows such a window registers its
// native window id (X11 Window, i.e. QWidget::winId()); the screen capturer blacks out
// the rectangles of the registered windows, their window manager's frames (title bar
// and borders) included, before a frame leaves the process. Thread-safe.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace wl {

class CaptureExclusion {
public:
    using WindowId = std::uint64_t;

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

// Registers a window with a registry for as long as the object lives.
class ScopedCaptureExclusion {
public:
    ScopedCaptureExclusion(std::shared_ptr<CaptureExclusion> registry, CaptureExclusion::WindowId window)
        : registry_(std::move(registry)), window_(window)
    {
        registry_->add(window_);
    }
    ~ScopedCaptureExclusion() { registry_->remove(window_); }
    ScopedCaptureExclusion(const ScopedCaptureExclusion&) = delete;
    ScopedCaptureExclusion& operator=(const ScopedCaptureExclusion&) = delete;

private:
    std::shared_ptr<CaptureExclusion> registry_;
    CaptureExclusion::WindowId window_;
};

} // namespace wl
