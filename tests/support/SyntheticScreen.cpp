#include "SyntheticScreen.h"

#include <algorithm>

namespace wl::test {

class SyntheticScreen::Source final : public ScreenSource {
public:
    explicit Source(std::shared_ptr<SyntheticScreen> screen) : screen_(std::move(screen)) { }

    bool open(std::string&) override { return true; }
    bool canShowCursor() override { return false; }

    bool findDisplay(std::uint32_t displayId, ScreenRect& rect, std::uint32_t& chosen) override
    {
        const auto displays = screen_->displays->list();
        auto it = std::find_if(displays.begin(), displays.end(), [&](const Display& d) { return d.id == displayId; });
        const bool found = it != displays.end();
        if (!found)
            it = displays.begin();
        if (it == displays.end()) {
            rect = {};
            chosen = 0;
        } else {
            rect = {it->x, it->y, it->width, it->height};
            chosen = it->id;
        }
        return found;
    }

    bool prepare(const ScreenRect& region, std::string& error) override
    {
        if (region.width <= 0 || region.height <= 0) {
            error = "the display has no size";
            return false;
        }
        region_ = region;
        pixels_.assign(std::size_t(region.width) * std::size_t(region.height) * 4, 0);
        return true;
    }

    std::optional<ScreenFrame> grab(const std::vector<std::uint64_t>&, bool, std::string& error) override
    {
        if (pixels_.empty()) {
            error = "nothing prepared";
            return std::nullopt;
        }
        Colour colour;
        {
            std::lock_guard guard(screen_->lock_);
            colour = screen_->colour_;
        }
        for (std::size_t i = 0; i < pixels_.size(); i += 4) {
            pixels_[i] = colour.b;
            pixels_[i + 1] = colour.g;
            pixels_[i + 2] = colour.r;
            pixels_[i + 3] = 0xff;
        }
        return ScreenFrame{pixels_.data(), region_.width * 4, region_.width, region_.height};
    }

    void release() override { pixels_.clear(); }

private:
    std::shared_ptr<SyntheticScreen> screen_;
    ScreenRect region_;
    std::vector<std::uint8_t> pixels_;
};

std::shared_ptr<SyntheticScreen> SyntheticScreen::make()
{
    Display main;
    main.id = 1;
    main.name = main.output = "Synthetic";
    main.width = 1920;
    main.height = 1080;
    main.main = true;
    return std::shared_ptr<SyntheticScreen>(
        new SyntheticScreen(std::make_shared<FixedDisplays>(std::vector<Display>{main})));
}

void SyntheticScreen::paint(Colour colour)
{
    std::lock_guard guard(lock_);
    colour_ = colour;
}

ScreenSources SyntheticScreen::sources()
{
    std::weak_ptr<SyntheticScreen> weak = weak_from_this();
    return [weak]() -> std::unique_ptr<ScreenSource> {
        auto screen = weak.lock();
        return screen ? std::make_unique<Source>(screen) : nullptr;
    };
}

} // namespace wl::test
