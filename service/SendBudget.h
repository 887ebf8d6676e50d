#pragma once
// The bytes the service may hold queued for sending, over all links together. A link takes
// what each frame it queues costs (costOf) and gives it back once the frame is written or
// dropped, so readers that stop reading can't make the service grow beyond the budget.
// Mailbox streams use only a share of it, so that signalling always finds room.

#include <cstddef>

namespace wl::service {

class SendBudget {
public:
    explicit SendBudget(std::size_t limit) : limit_(limit) { }
    SendBudget(const SendBudget&) = delete;
    SendBudget& operator=(const SendBudget&) = delete;

    // Takes n bytes when the total stays within `share` of the limit; false (nothing taken)
    // otherwise.
    bool take(std::size_t n, double share = 1.0)
    {
        if (!hasRoom(n, share))
            return false;
        used_ += n;
        if (used_ > peak_)
            peak_ = used_;
        return true;
    }
    // Takes n bytes even past the limit: for what the service owes a link it keeps (the
    // link's own queue limit bounds it). Until enough is given back, take() finds no room.
    void charge(std::size_t n)
    {
        used_ += n;
        if (used_ > peak_)
            peak_ = used_;
    }
    void give(std::size_t n) { used_ = n > used_ ? 0 : used_ - n; }
    bool hasRoom(std::size_t n, double share = 1.0) const
    {
        return static_cast<double>(used_ + n) <= static_cast<double>(limit_) * share;
    }

    std::size_t used() const { return used_; }
    std::size_t peak() const { return peak_; }
    std::size_t limit() const { return limit_; }

    // Mailbox streams stop taking at this share of the limit.
    static constexpr double mailShare = 0.75;

    // What a queued frame of textBytes costs the service: its text, and the shared string
    // holding it with its counts and its place in its lane (some 90 to 120 bytes measured).
    // A small frame (a host's `bye` is about 50 bytes) costs more than twice its text.
    static constexpr std::size_t frameOverheadBytes = 112;
    static constexpr std::size_t costOf(std::size_t textBytes) { return textBytes + frameOverheadBytes; }

private:
    std::size_t limit_;
    std::size_t used_ = 0;
    std::size_t peak_ = 0;
};

} // namespace wl::service
