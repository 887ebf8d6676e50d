#pragma once
// The host's transport for one session over its relay link: send goes out on the
// link's current channel (nothing when the link or its channel is gone); close does
// nothing, since the link stays.

#include "signalling/RelayLink.h"
#include "signalling/SignalTransport.h"

#include <QPointer>

namespace wl {

class RelaySessionTransport final : public SignalTransport {
public:
    explicit RelaySessionTransport(RelayLink* link) : link_(link) { }
    void send(const SignalMessage& message) override;
    void close() override { }

private:
    QPointer<RelayLink> link_;
};

} // namespace wl
