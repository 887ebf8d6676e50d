#include "host/HelpRequestCenter.h"

namespace wl {

HelpRequestCenter::HelpRequestCenter(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers,
                                     QObject* parent)
    : QObject(parent), messenger_(messenger), helpers_(std::move(helpers))
{
}

void HelpRequestCenter::setActive(Active active, std::vector<TransferredFile> pictures)
{
    active_ = std::move(active);
    pictures_ = std::move(pictures);
    Q_EMIT changed();
}

void HelpRequestCenter::clearActive()
{
    if (!active_ && pictures_.empty())
        return;
    active_.reset();
    pictures_.clear();
    Q_EMIT changed();
}

std::optional<std::vector<TransferredFile>> HelpRequestCenter::attachmentsForRequest(const std::string& helperId,
                                                                                     const std::string& requestId) const
{
    if (!active_ || pictures_.empty())
        return std::nullopt;
    auto it = active_->sent.find(helperId);
    if (it == active_->sent.end() || it->second != requestId)
        return std::nullopt;
    return pictures_;
}

void HelpRequestCenter::handle(const StoredMessage& cancel)
{
    if (!active_ || cancel.outgoing || cancel.content.kind != MailContent::Kind::cancel || !cancel.content.replyTo)
        return;
    auto it = active_->sent.find(cancel.peerId);
    if (it == active_->sent.end() || it->second != *cancel.content.replyTo)
        return;
    clearActive();
}

} // namespace wl
