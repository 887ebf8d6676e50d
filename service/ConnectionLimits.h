#pragma once
// How many connections are open, per remote address and in all. A connection holds a Slot
// from accept to its end; the service refuses a new one at accept, before it costs more
// than a moment, when its address or the whole service is at its limit. Per-address limits,
// these and the rates, count an address by its addressKey().

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace wl::service {

// What per-address limits count a remote address as: an IPv4 address (also one mapped into
// IPv6) as itself; an IPv6 address by its /64 ("2001:db8:1:2::/64"), the block one
// subscriber gets, where any one machine may pick from 2^64 addresses. Text that is no
// address stays as it is.
std::string addressKey(const std::string& address);

class ConnectionLimits {
    struct Counts {
        std::unordered_map<std::string, std::size_t> perAddress;
        std::size_t total = 0;
    };

public:
    enum class Refusal { addressFull, serviceFull };

    // Counts one open connection until destroyed. Move-only; it may outlive the limits.
    class Slot {
    public:
        Slot() = default;
        Slot(Slot&& other) noexcept = default;
        Slot& operator=(Slot&& other) noexcept;
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        friend class ConnectionLimits;
        Slot(std::shared_ptr<Counts> counts, std::string address);
        void release();
        std::shared_ptr<Counts> counts_;
        std::string address_;
    };

    ConnectionLimits(std::size_t perAddress, std::size_t total);

    // A slot for a new connection from address (counted by its key), or why there is none.
    std::optional<Slot> admit(const std::string& address, Refusal* why = nullptr);

    std::size_t open() const { return counts_->total; }
    std::size_t openFrom(const std::string& address) const;
    std::size_t total() const { return total_; }

private:
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
    std::size_t perAddress_;
    std::size_t total_;
};

} // namespace wl::service
