#include "signalling/RelaySessionTransport.h"

namespace wl {

void RelaySessionTransport::send(const SignalMessage& message)
{
    if (!link_)
        return;
    auto channel = link_->channel;
    if (!channel)
        return;
    SignalMessage tagged = message;
    tagged.channel = channel_;
    channel->send(tagged);
}

} // namespace wl
