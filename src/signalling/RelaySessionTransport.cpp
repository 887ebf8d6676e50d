#include "signalling/RelaySessionTransport.h"

namespace wl {

void RelaySessionTransport::send(const SignalMessage& message)
{
    if (!link_)
        return;
    if (auto channel = link_->channel)
        channel->send(message);
}

} // namespace wl
