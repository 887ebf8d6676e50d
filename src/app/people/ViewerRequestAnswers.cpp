#include "app/people/ViewerRequestAnswers.h"

#include "mail/Messenger.h"
#include "mail/PasswordCenter.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "viewer/ViewerController.h"

namespace wl {

ViewerRequestAnswers::ViewerRequestAnswers(ViewerController& controller, Prompts* prompts)
    : controller_(&controller), prompts_(prompts)
{
}

Prompts& ViewerRequestAnswers::prompts() const
{
    return prompts_ ? *prompts_ : Prompts::standard();
}

void ViewerRequestAnswers::changed()
{
    if (auto notify = onChange)
        notify();
}

std::optional<PairedDevice> ViewerRequestAnswers::deviceFor(const StoredMessage& message) const
{
    if (!controller_)
        return std::nullopt;
    for (const auto& device : controller_->devices())
        if (device.id == message.peerId)
            return device;
    return std::nullopt;
}

void ViewerRequestAnswers::setPicturesShown(std::optional<StoredMessage> request)
{
    shown_ = std::move(request);
    changed();
}

std::vector<StoredMessage> ViewerRequestAnswers::sentReplies(const StoredMessage& request) const
{
    std::vector<StoredMessage> out;
    if (!controller_)
        return out;
    for (auto& reply : controller_->messenger().replies({request.id}))
        if (reply.outgoing && reply.content.kind == MailContent::Kind::reply)
            out.push_back(reply);
    return out;
}

void ViewerRequestAnswers::sendReply(const StoredMessage& request, const std::string& text)
{
    auto device = deviceFor(request);
    if (!device || !controller_)
        return;
    Messenger& messenger = controller_->messenger();
    MailContent content;
    content.kind = MailContent::Kind::reply;
    content.sentAt = messenger.now();
    content.text = text;
    content.replyTo = request.id;
    Prompts* prompts = &this->prompts();
    messenger.send(content, *device, [prompts](Messenger::SendResult result) {
        if (result.ok())
            return;
        AlertRequest alert;
        alert.title = "Reply not sent";
        alert.informativeText = Messenger::sendErrorText(*result.error);
        alert.style = AlertRequest::Style::warning;
        prompts->alert(alert);
    });
}

void ViewerRequestAnswers::markRequestDone(const StoredMessage& request)
{
    if (!controller_)
        return;
    auto resolved = controller_->resolvedRequests();
    resolved.insert(request.id);
    controller_->setResolvedRequests(std::move(resolved));
    auto device = deviceFor(request);
    if (!device)
        return;
    Messenger& messenger = controller_->messenger();
    MailContent cancel;
    cancel.kind = MailContent::Kind::cancel;
    cancel.sentAt = messenger.now();
    cancel.replyTo = request.id;
    messenger.send(cancel, *device, [name = device->name](Messenger::SendResult result) {
        if (!result.ok())
            Log::line("Wickerlane: couldn't tell " + name +
                      " that their request is done: " + Messenger::sendErrorText(*result.error));
    });
}

void ViewerRequestAnswers::sendPassword(const StoredMessage& request)
{
    if (auto device = deviceFor(request); device && controller_)
        controller_->passwords().composer().show(*device, request);
}

void ViewerRequestAnswers::composeReply(const StoredMessage& message)
{
    if (auto device = deviceFor(message); device && controller_)
        controller_->messenger().compose(*device, message);
}

void ViewerRequestAnswers::showPictures(const StoredMessage& request)
{
    if (pictures_.count(request.id))
        setPicturesShown(request);
}

} // namespace wl
