#pragma once
// The host's transport for one session over its relay link: send goes out on the
// link's current channel (nothing when the link or its channel is gone), tagged with the
// service's channel of the helper it talks to; close does nothing, since the link stays.

#include "signalling/RelayLink.h"
#include "signalling/SignalTransport.h"

#include <QPointer>

namespace wl {

class RelaySessionTransport final : public SignalTransport {
public:
    RelaySessionTransport(RelayLink* link, std::optional<std::uint64_t> channel) : link_(link), channel_(channel) { }
    void send(const SignalMessage& message) override;
    void close() override { }

private:
    QPointer<RelayLink> link_;
    std::optional<std::uint64_t> channel_;
};

} // namespace wl
