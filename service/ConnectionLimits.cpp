#include "ConnectionLimits.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

namespace wl::service {

std::string addressKey(const std::string& address)
{
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address(address, ec);
    if (ec || parsed.is_v4())
        return address;
    const auto v6 = parsed.to_v6();
    if (v6.is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string();
    auto bytes = v6.to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

ConnectionLimits::Slot::Slot(std::shared_ptr<Counts> counts, std::string address)
    : counts_(std::move(counts)), address_(std::move(address))
{
}

ConnectionLimits::Slot& ConnectionLimits::Slot::operator=(Slot&& other) noexcept
{
    if (this != &other) {
        release();
        counts_ = std::move(other.counts_);
        address_ = std::move(other.address_);
    }
    return *this;
}

ConnectionLimits::Slot::~Slot()
{
    release();
}

void ConnectionLimits::Slot::release()
{
    if (!counts_)
        return;
    auto it = counts_->perAddress.find(address_);
    if (it != counts_->perAddress.end() && --it->second == 0)
        counts_->perAddress.erase(it);
    if (counts_->total > 0)
        --counts_->total;
    counts_.reset();
}

ConnectionLimits::ConnectionLimits(std::size_t perAddress, std::size_t total) : perAddress_(perAddress), total_(total)
{
}

std::optional<ConnectionLimits::Slot> ConnectionLimits::admit(const std::string& remote, Refusal* why)
{
    const auto address = addressKey(remote);
    if (counts_->total >= total_) {
        if (why)
            *why = Refusal::serviceFull;
        return std::nullopt;
    }
    auto& count = counts_->perAddress[address];
    if (count >= perAddress_) {
        if (why)
            *why = Refusal::addressFull;
        return std::nullopt;
    }
    ++count;
    ++counts_->total;
    return Slot(counts_, address);
}

std::size_t ConnectionLimits::openFrom(const std::string& address) const
{
    auto it = counts_->perAddress.find(addressKey(address));
    return it == counts_->perAddress.end() ? 0 : it->second;
}

} // namespace wl::service
