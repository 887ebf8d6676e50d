#pragma once
// Reports the shape of the host's cursor in take-over mode (when the shared picture is
// captured without it and the helper draws it): at once on start, then at every poll
// (kPollInterval) that finds a change. A shape is the cursor's image as PNG with its
// size, hot spot and the width of the shared display; a cursor with no width or height
// is not reported. The image is encoded again only when the cursor's serial changed.
//
// Main thread only.

#include "platform/CursorImages.h"
#include "platform/OneShotTimer.h"
#include "protocol/SessionEvent.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace wl {

struct CursorImage;
class SharedDisplay;

class CursorWatcher final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPollInterval{100};

    // timers: the poll (required).
    // images: the pointer's image; shared: the shared display it is placed on.
    CursorWatcher(std::shared_ptr<CursorImages> images, std::shared_ptr<SharedDisplay> shared, TimerFactory timers,
                  QObject* parent = nullptr);

    std::function<void(const CursorShape&)> onChange;

    // Starts polling (and reports the current shape); nothing when already running.
    void start();
    // Stops polling and forgets the last shape.
    void stop();
    bool isRunning() const { return running_; }
    // One look at the cursor.
    void poll();

    // The shape of a cursor image; nullopt for an empty one.
    std::optional<CursorShape> shape(const CursorImage& image);
    // PNG images made so far.
    int encodings() const { return encodings_; }

private:
    void schedule();

    const std::shared_ptr<CursorImages> images_;
    const std::shared_ptr<SharedDisplay> shared_;
    TimerFactory timers_;
    std::unique_ptr<OneShotTimer> timer_;
    bool running_ = false;
    std::optional<CursorShape> last_;
    std::optional<std::uint64_t> encodedSerial_;
    std::string encodedPng_;
    int encodings_ = 0;
};

} // namespace wl
