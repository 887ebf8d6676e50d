// The help requests of the Macs this machine helps: replies, the "done" notice, the
// password and message shortcuts, and the requests' pictures, fetched ahead of time (so
// that they are there when the helper looks) and on demand.
#include "viewer/RequestAnswers.h"

#include "platform/Required.h"

#include "identity/Base64.h"
#include "identity/Random.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/PasswordCenter.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "protocol/MailContent.h"
#include "signalling/IntroductionService.h"
#include "viewer/PairedHosts.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace wl {

namespace {

std::string failureText(AttachmentFetcher::Failure failure)
{
    using F = AttachmentFetcher::Failure;
    switch (failure) {
    case F::unreachable: return "Couldn't reach their Mac. It may be asleep or offline.";
    case F::notVerified: return "Couldn't confirm it's really their Mac, so nothing was fetched.";
    case F::gone: return "Those pictures aren't available any more. The request may have been answered or cancelled.";
    case F::failed: return "The pictures didn't come through. Try again.";
    }
    return "The pictures didn't come through. Try again.";
}

} // namespace

RequestAnswers::RequestAnswers(Messenger& messenger, PasswordCenter& passwords, PairedHosts& hosts, MediaEngine& engine,
                               Options options, QObject* parent)
    : QObject(parent), messenger_(messenger), passwords_(passwords), hosts_(hosts), engine_(engine),
      options_(std::move(options))
{
    required(options_.prompts, "RequestAnswers", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "RequestAnswers");
    required(options_.defaults, "RequestAnswers", "a settings store");
    required(options_.identity, "RequestAnswers", "an identity");
    IntroductionService::requiredBaseURL(options_.info, "RequestAnswers");
    resolvedRequests_ = readIdSet(*options_.defaults, kResolvedRequestsKey);
}

RequestAnswers::~RequestAnswers()
{
    prefetchTimers_.clear();
    fetchers_.clear();
}

Prompts& RequestAnswers::prompts() const
{
    return *options_.prompts;
}

void RequestAnswers::setResolvedRequests(std::set<std::string> ids)
{
    resolvedRequests_ = std::move(ids);
    saveIdSet(*options_.defaults, kResolvedRequestsKey, resolvedRequests_);
    Q_EMIT changed();
}

std::optional<PairedDevice> RequestAnswers::deviceFor(const StoredMessage& request) const
{
    return hosts_.find(request.peerId);
}

void RequestAnswers::prefetchOpenRequests()
{
    QPointer<RequestAnswers> self(this);
    for (const auto& request : messenger_.openHelpRequests(resolvedRequests_, messenger_.now())) {
        if (request.content.attachments.value_or(0) <= 0 || pictures_.count(request.id))
            continue;
        later(kLaunchPrefetchDelay, [self, request] {
            if (self)
                self->prefetchPictures(request, 1);
        });
    }
}

void RequestAnswers::showAlert(const std::string& title, const std::string& text)
{
    // Modal: asked once whatever reported the trouble has finished.
    QPointer<RequestAnswers> self(this);
    QTimer::singleShot(0, this, [self, title, text] {
        if (!self)
            return;
        AlertRequest alert;
        alert.title = title;
        alert.informativeText = text;
        self->prompts().alert(alert);
    });
}

void RequestAnswers::later(std::chrono::milliseconds delay, std::function<void()> work)
{
    std::erase_if(prefetchTimers_, [](const std::unique_ptr<OneShotTimer>& timer) { return !timer->isActive(); });
    prefetchTimers_.push_back(timers()(delay, std::move(work)));
}

void RequestAnswers::setPicturesShown(std::optional<StoredMessage> request)
{
    if (picturesShown_ == request)
        return;
    picturesShown_ = std::move(request);
    Q_EMIT changed();
}

AttachmentFetcher* RequestAnswers::fetcher(const std::string& requestId) const
{
    auto it = fetchers_.find(requestId);
    return it == fetchers_.end() ? nullptr : it->second.get();
}

void RequestAnswers::mailReceived(const StoredMessage& message)
{
    if (message.content.kind == MailContent::Kind::helpRequest)
        schedulePictureFetch(message, 1, kMailPrefetchDelay);
}

// ---- answers ----

std::vector<StoredMessage> RequestAnswers::sentReplies(const StoredMessage& request) const
{
    std::vector<StoredMessage> out;
    for (const auto& message : messenger_.replies({request.id}))
        if (message.outgoing)
            out.push_back(message);
    return out;
}

void RequestAnswers::sendReply(const StoredMessage& request, const std::string& text)
{
    auto device = deviceFor(request);
    if (!device)
        return;
    MailContent content;
    content.kind = MailContent::Kind::reply;
    content.text = text;
    content.replyTo = request.id;
    content.sentAt = messenger_.now();
    QPointer<RequestAnswers> self(this);
    messenger_.send(content, *device, [self](Messenger::SendResult result) {
        if (!self || result.ok() || !result.error)
            return;
        self->showAlert("Reply not sent", Messenger::sendErrorText(*result.error));
    });
}

void RequestAnswers::markRequestDone(const StoredMessage& request)
{
    auto ids = resolvedRequests_;
    ids.insert(request.id);
    setResolvedRequests(std::move(ids));
    auto device = deviceFor(request);
    if (!device)
        return;
    MailContent content;
    content.kind = MailContent::Kind::cancel;
    content.replyTo = request.id;
    content.sentAt = messenger_.now();
    QPointer<RequestAnswers> self(this);
    const std::string name = device->name;
    messenger_.send(content, *device, [self, name](Messenger::SendResult result) {
        if (result.ok() || !result.error)
            return;
        // The request stays dealt with here; its Mac just doesn't know yet.
        const std::string why = Messenger::sendErrorText(*result.error);
        Log::line("Wickerlane: couldn't tell " + name + " that the help request is done: " + why);
        if (self)
            self->showAlert("Done not sent", shownName(name) + " wasn't told that you marked the request done. " + why);
    });
}

void RequestAnswers::sendPassword(const StoredMessage& request)
{
    auto device = deviceFor(request);
    if (!device)
        return;
    passwords_.composer().show(*device, request);
}

void RequestAnswers::composeReply(const StoredMessage& message)
{
    auto device = deviceFor(message);
    if (!device)
        return;
    messenger_.compose(*device, message);
}

// ---- pictures ----

void RequestAnswers::showPictures(const StoredMessage& request)
{
    if (pictures_.count(request.id)) {
        setPicturesShown(request);
        return;
    }
    showWhenFetched_.insert(request.id);
    fetchPictures(request, false, nullptr);
}

void RequestAnswers::schedulePictureFetch(const StoredMessage& request, int attemptsLeft,
                                          std::chrono::milliseconds delay)
{
    if (request.content.attachments.value_or(0) <= 0 || pictures_.count(request.id))
        return;
    QPointer<RequestAnswers> self(this);
    later(delay, [self, request, attemptsLeft] {
        if (self)
            self->prefetchPictures(request, attemptsLeft);
    });
}

void RequestAnswers::prefetchPictures(const StoredMessage& request, int attemptsLeft)
{
    if (pictures_.count(request.id))
        return;
    // Withdrawn, dealt with, or too old: not fetched.
    const auto open = messenger_.openHelpRequests(resolvedRequests_, messenger_.now());
    if (std::none_of(open.begin(), open.end(), [&](const StoredMessage& m) { return m.id == request.id; }))
        return;
    QPointer<RequestAnswers> self(this);
    fetchPictures(request, true, [self, request, attemptsLeft](bool finished) {
        if (finished || attemptsLeft <= 0 || !self)
            return;
        self->schedulePictureFetch(request, attemptsLeft - 1, kRetryPrefetchDelay);
    });
}

void RequestAnswers::fetchPictures(const StoredMessage& request, bool quietly,
                                   std::function<void(bool finished)> retryFetch)
{
    if (fetchers_.count(request.id)) {
        // One fetch per request: an asked-for one waits for the one that runs.
        if (!quietly && fetchingPictures_.insert(request.id).second)
            Q_EMIT changed();
        return;
    }
    auto device = deviceFor(request);
    const bool live = sessionLive && sessionLive();
    if (!device || live) {
        // Nothing starts; a helper who asked is told why rather than left waiting.
        if (!quietly) {
            showWhenFetched_.erase(request.id);
            showAlert("Pictures not shown",
                      !device ? "That Mac isn't paired with this one any more, so its pictures can't be fetched."
                              : "Pictures can't be fetched during a session. Try again once it has ended.");
        }
        return;
    }
    AttachmentFetcher::Options options;
    options.timers = options_.timers;
    options.makeTransport = options_.makeTransport;
    options.identity = options_.identity;
    options.defaults = options_.defaults;
    options.info = options_.info;
    auto fetcher =
        std::make_unique<AttachmentFetcher>(engine_, *device, request.id, base64Encode(randomBytes(16)), options);
    QPointer<RequestAnswers> self(this);
    fetcher->onDone = [self, request, retryFetch](const AttachmentFetcher::Result& result) {
        if (self)
            self->picturesFetched(request, result, retryFetch);
    };
    AttachmentFetcher* started = fetcher.get();
    fetchers_[request.id] = std::move(fetcher);
    if (!quietly)
        fetchingPictures_.insert(request.id);
    Q_EMIT changed();
    started->start();
}

void RequestAnswers::picturesFetched(const StoredMessage& request, const AttachmentFetcher::Result& result,
                                     const std::function<void(bool)>& retryFetch)
{
    if (auto it = fetchers_.find(request.id); it != fetchers_.end()) {
        // It reports from inside its own finish: let it go later.
        it->second.release()->deleteLater();
        fetchers_.erase(it);
    }
    fetchingPictures_.erase(request.id);
    const bool waited = showWhenFetched_.erase(request.id) > 0;
    if (result.ok()) {
        pictures_[request.id] = result.files;
        if (waited)
            picturesShown_ = request;
        Q_EMIT changed();
        if (retryFetch)
            retryFetch(true);
        return;
    }
    Q_EMIT changed();
    if (waited && result.failure)
        showAlert("Pictures not shown", failureText(*result.failure));
    if (retryFetch)
        retryFetch(false);
}

} // namespace wl
