#include "host/HelpRequestCenter.h"

#include "host/HostController.h"
#include "host/SessionHistory.h"

#include <set>

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

void HelpRequestCenter::cancel()
{
    if (!active_)
        return;
    const auto sent = active_->sent;
    appendSessionHistory("Cancelled the help request");
    clearActive();
    const auto paired = helpers();
    for (const auto& [helperId, messageId] : sent) {
        for (const auto& helper : paired) {
            if (helper.id != helperId)
                continue;
            MailContent content;
            content.kind = MailContent::Kind::cancel;
            content.replyTo = messageId;
            content.sentAt = messenger_.now();
            messenger_.send(content, helper);
            break;
        }
    }
}

std::vector<StoredMessage> HelpRequestCenter::replies() const
{
    std::vector<StoredMessage> result;
    if (!active_)
        return result;
    std::set<std::string> ids;
    for (const auto& [helperId, messageId] : active_->sent)
        ids.insert(messageId);
    for (const auto& message : messenger_.messages())
        if (!message.outgoing && message.content.kind == MailContent::Kind::reply && message.content.replyTo &&
            ids.count(*message.content.replyTo))
            result.push_back(message);
    return result;
}

std::string HelpRequestCenter::helperNamesText() const
{
    std::vector<std::string> names;
    for (const auto& helper : helpers())
        names.push_back(HostController::firstWord(helper.name));
    if (names.empty())
        return "your helper";
    if (names.size() == 1)
        return names.front();
    std::string text;
    for (std::size_t i = 0; i + 1 < names.size(); ++i)
        text += (i ? ", " : "") + names[i];
    return text + " and " + names.back();
}

} // namespace wl
