#include "mail/Messenger.h"

#include "platform/Required.h"

#include "identity/SignedQuery.h"
#include "mail/AskForText.h"
#include "mail/MailboxLink.h"
#include "platform/MainThread.h"
#include "platform/Notifier.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "protocol/KeyRecord.h"
#include "protocol/Routes.h"
#include "signalling/IntroductionService.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <algorithm>

namespace wl {

namespace {

constexpr int kRequestTimeoutMs = 15000;
constexpr double kHelpRequestLifetime = 172800;

bool isQuiet(MailContent::Kind kind)
{
    using K = MailContent::Kind;
    return kind == K::access || kind == K::linkRequest || kind == K::linkReply || kind == K::myMacs;
}

// The result of one HTTP exchange: nullopt status means the request did not complete.
struct HttpOutcome {
    std::optional<int> status;
    std::string body;
};

HttpOutcome outcomeOf(QNetworkReply* reply)
{
    HttpOutcome outcome;
    auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        outcome.status = status.toInt();
    outcome.body = reply->readAll().toStdString();
    return outcome;
}

std::string percentEncoded(const std::string& text)
{
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

} // namespace

Messenger::Messenger(std::string historyKey, Contacts contacts, Options options, QObject* parent)
    : QObject(parent), historyKey_(std::move(historyKey)), seenKey_(historyKey_ + "SeenIds"),
      contacts_(std::move(contacts)), options_(std::move(options))
{
    assertMainThread("Messenger::Messenger");
    required(options_.notifier, "Messenger", "a notifier");
    required(options_.prompts, "Messenger", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "Messenger");
    if (!options_.identity.defaults)
        wiringMistake("Messenger was made without a settings store");
    if (!options_.serviceURL || !IntroductionService::isUsableBase(options_.serviceURL()))
        wiringMistake("Messenger was made without a service address");
    load();
}

Messenger::~Messenger()
{
    if (link_)
        link_->stop();
}

Date Messenger::now() const
{
    return options_.clock ? options_.clock() : dateNow();
}

Prompts& Messenger::prompts() const
{
    return *options_.prompts;
}

std::vector<PairedDevice> Messenger::contacts() const
{
    return contacts_ ? contacts_() : std::vector<PairedDevice>{};
}

std::optional<PairedDevice> Messenger::contact(const std::string& id) const
{
    for (auto& device : contacts())
        if (device.id == id)
            return device;
    return std::nullopt;
}

QUrl Messenger::serviceURL() const
{
    auto url = options_.serviceURL();
    return IntroductionService::isUsableBase(url) ? url : QUrl();
}

QUrl Messenger::endpoint(const std::string& path) const
{
    auto base = serviceURL();
    if (base.isEmpty())
        return base; // no request goes anywhere: it fails as offline
    auto basePath = base.path();
    if (!basePath.endsWith('/'))
        basePath += '/';
    base.setPath(basePath + QString::fromStdString(path));
    return base;
}

std::optional<QUrl> Messenger::signedEndpoint(const std::string& path, const std::string& purpose, bool webSocket) const
{
    auto key = identity().deviceKey ? identity().deviceKey() : std::nullopt;
    if (!key)
        return std::nullopt;
    auto url = endpoint(path);
    if (url.isEmpty())
        return std::nullopt;
    if (webSocket)
        url.setScheme(url.scheme() == "https" ? "wss" : "ws");
    std::string query;
    for (auto& [name, value] : signedQueryItems(purpose, *key, QDateTime::currentSecsSinceEpoch())) {
        if (!query.empty())
            query += '&';
        query += name + "=" + percentEncoded(value);
    }
    url.setQuery(QString::fromStdString(query), QUrl::StrictMode);
    return url;
}

// ---- history ----

void Messenger::load()
{
    auto& settings = defaults();
    messages_.clear();
    if (auto bytes = settings.data(historyKey_)) {
        if (auto list = StoredMessage::decodeList(*bytes))
            messages_ = std::move(*list);
        else
            Log::line("Wickerlane: the stored message history could not be read; starting empty");
    }
    if (messages_.size() > kHistoryLimit)
        messages_.erase(messages_.begin(), messages_.end() - kHistoryLimit);
    for (auto& id : settings.stringList(seenKey_)) {
        if (seenIds_.insert(id).second)
            seenOrder_.push_back(id);
    }
}

void Messenger::save()
{
    defaults().setData(historyKey_, StoredMessage::encodeList(messages_));
}

void Messenger::append(StoredMessage message)
{
    messages_.push_back(std::move(message));
    if (messages_.size() > kHistoryLimit)
        messages_.erase(messages_.begin(), messages_.end() - kHistoryLimit);
    save();
    Q_EMIT changed();
}

bool Messenger::updateMessage(const std::string& id, const std::function<void(StoredMessage&)>& change)
{
    assertMainThread("Messenger::updateMessage");
    for (auto& message : messages_) {
        if (message.id != id)
            continue;
        change(message);
        save();
        Q_EMIT changed();
        return true;
    }
    return false;
}

std::optional<StoredMessage> Messenger::message(const std::string& id) const
{
    for (auto& message : messages_)
        if (message.id == id)
            return message;
    return std::nullopt;
}

bool Messenger::seen(const std::string& id) const
{
    return seenIds_.count(id) != 0;
}

void Messenger::markSeen(const std::string& id)
{
    if (!seenIds_.insert(id).second)
        return;
    seenOrder_.push_back(id);
    while (seenOrder_.size() > kSeenLimit) {
        seenIds_.erase(seenOrder_.front());
        seenOrder_.pop_front();
    }
    defaults().setStringList(seenKey_, std::vector<std::string>(seenOrder_.begin(), seenOrder_.end()));
}

// ---- queries ----

std::vector<StoredMessage> Messenger::openHelpRequests(const std::set<std::string>& leaveOut, Date now) const
{
    std::vector<StoredMessage> open;
    for (auto& message : messages_) {
        if (message.outgoing || message.content.kind != MailContent::Kind::helpRequest)
            continue;
        if (leaveOut.count(message.id) || now - message.at >= kHelpRequestLifetime)
            continue;
        // Only the Mac that asked can withdraw its request.
        bool withdrawn = std::any_of(messages_.begin(), messages_.end(), [&](const StoredMessage& other) {
            return !other.outgoing && other.content.kind == MailContent::Kind::cancel &&
                other.content.replyTo == message.id && other.peerId == message.peerId;
        });
        if (!withdrawn)
            open.push_back(message);
    }
    std::stable_sort(open.begin(), open.end(), [](const auto& a, const auto& b) { return a.at > b.at; });
    return open;
}

std::vector<StoredMessage> Messenger::replies(const std::set<std::string>& ids) const
{
    std::vector<StoredMessage> out;
    for (auto& message : messages_)
        if (message.content.kind == MailContent::Kind::reply && message.content.replyTo &&
            ids.count(*message.content.replyTo))
            out.push_back(message);
    return out;
}

// ---- sending ----

std::string Messenger::sendErrorText(const SendError& error)
{
    switch (error.kind) {
    case SendError::Kind::noKey: return "Their Wickerlane needs updating before it can receive messages.";
    case SendError::Kind::offline: return "Couldn't reach the Wickerlane service. Check the internet connection.";
    case SendError::Kind::ownKeyUnreadable: return "Couldn't read this computer's key, so nothing was sent.";
    case SendError::Kind::refused:
        return error.status == 429 ? "Too many messages for now. Try again in a few minutes."
                                   : "The message wasn't accepted.";
    }
    return "The message wasn't accepted.";
}

void Messenger::send(const MailContent& content, const PairedDevice& device, std::function<void(SendResult)> done)
{
    assertMainThread("Messenger::send");
    QPointer<Messenger> self(this);
    auto finish = [done](SendError error) {
        if (done)
            done(SendResult{std::nullopt, error});
    };
    QNetworkRequest request(endpoint(routePath(Route::keys, device.id)));
    request.setTransferTimeout(kRequestTimeoutMs);
    auto* reply = network_.get(request);
    connect(reply, &QNetworkReply::finished, this, [self, reply, content, device, done, finish] {
        reply->deleteLater();
        if (!self)
            return;
        auto outcome = outcomeOf(reply);
        if (!outcome.status)
            return finish(SendError::offline());
        if (*outcome.status == 404)
            return finish(SendError::noKey());
        if (*outcome.status != 200)
            return finish(SendError::refused(*outcome.status));
        // Use the record only when it is this very device's, unchanged since pairing.
        auto record = KeyRecord::decode(outcome.body);
        if (!record || !record->isValid() || record->id != device.id || record->signingKey != device.publicKey) {
            Log::line("Wickerlane: no usable mail key for " + device.id);
            return finish(SendError::noKey());
        }
        self->post(content, device, record->mailKey, done);
    });
}

void Messenger::post(const MailContent& content, const PairedDevice& device, const std::string& mailKey,
                     std::function<void(SendResult)> done)
{
    assertMainThread("Messenger::post");
    auto finish = [done](SendError error) {
        if (done)
            done(SendResult{std::nullopt, error});
    };
    auto key = identity().deviceKey ? identity().deviceKey() : std::nullopt;
    if (!key) {
        Log::line("Wickerlane: mail not sent: this Mac's key can't be read");
        return finish(SendError::ownKeyUnreadable());
    }
    auto envelope = MailEnvelope::trySeal(content, *key, device.id, mailKey);
    if (!envelope)
        return finish(SendError::noKey());
    QNetworkRequest request(endpoint(routePath(Route::mail, device.id)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(kRequestTimeoutMs);
    auto* reply = network_.post(request, QByteArray::fromStdString(envelope->encode()));
    QPointer<Messenger> self(this);
    connect(reply, &QNetworkReply::finished, this, [self, reply, content, device, id = envelope->id, done, finish] {
        reply->deleteLater();
        if (!self)
            return;
        auto outcome = outcomeOf(reply);
        if (!outcome.status)
            return finish(SendError::offline());
        if (*outcome.status == 404)
            return finish(SendError::noKey());
        if (*outcome.status != 202)
            return finish(SendError::refused(*outcome.status));
        StoredMessage stored;
        stored.id = id;
        stored.peerId = device.id;
        stored.peerName = device.name;
        stored.outgoing = true;
        stored.content = content;
        // Secrets went to the other Mac only; the history never keeps them.
        stored.content.secret.reset();
        stored.content.personKey.reset();
        stored.at = self->now();
        if (!isQuiet(content.kind))
            self->append(stored);
        if (done)
            done(SendResult{stored, std::nullopt});
    });
}

void Messenger::compose(const PairedDevice& device, const std::optional<StoredMessage>& answering)
{
    assertMainThread("Messenger::compose");
    std::string message = (answering ? "Reply to " : "Message to ") + shownName(device.name);
    std::string informative;
    if (answering && answering->content.text)
        informative = "\u201C" + shownText(*answering->content.text, kShownNoteLength, LineBreaks::keep) + "\u201D";
    auto text = askForText(message, informative, "", "Send", prompts());
    if (!text)
        return;
    MailContent content;
    content.kind = answering ? MailContent::Kind::reply : MailContent::Kind::message;
    content.sentAt = now();
    content.text = *text;
    if (answering)
        content.replyTo = answering->id;
    QPointer<Messenger> self(this);
    send(content, device, [self](SendResult result) {
        if (!self || result.ok())
            return;
        AlertRequest alert;
        alert.title = "Message not sent";
        alert.informativeText = sendErrorText(*result.error);
        alert.style = AlertRequest::Style::warning;
        self->prompts().alert(alert);
    });
}

// ---- start-up ----

void Messenger::publishKeyRecord(std::function<void(bool)> done)
{
    assertMainThread("Messenger::publishKeyRecord");
    auto device = identity().deviceKey ? identity().deviceKey() : std::nullopt;
    auto mail = identity().mailKey ? identity().mailKey() : std::nullopt;
    if (!device || !mail) {
        Log::line("Wickerlane: can't publish the mail key: a key can't be read");
        if (done)
            done(false);
        return;
    }
    auto id = fingerprintOfRaw(device->publicKeyRaw());
    auto url = signedEndpoint(routePath(Route::keys, id), kPurposeKeys, false);
    if (!url) {
        if (done)
            done(false);
        return;
    }
    auto record = KeyRecord::make(*device, *mail, now());
    QNetworkRequest request(*url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(kRequestTimeoutMs);
    auto* reply = network_.put(request, QByteArray::fromStdString(record.encode()));
    keyPublishing_ = true;
    QPointer<Messenger> self(this);
    connect(reply, &QNetworkReply::finished, this, [self, reply, done] {
        reply->deleteLater();
        if (self)
            self->keyPublishing_ = false;
        auto outcome = outcomeOf(reply);
        bool ok = outcome.status && *outcome.status == 200;
        if (!ok)
            Log::line("Wickerlane: publishing the mail key failed (" +
                      (outcome.status ? std::to_string(*outcome.status) : std::string("no answer")) + ")");
        if (self && ok)
            self->keyPublished_ = true;
        if (done)
            done(ok);
    });
}

void Messenger::start()
{
    assertMainThread("Messenger::start");
    auto& notifier = *options_.notifier;
    notifier.prepare();
    publishKeyRecord();
    if (!link_) {
        QPointer<Messenger> self(this);
        auto id = identity().deviceId();
        link_ = std::make_unique<MailboxLink>(
            [self, id]() -> std::optional<QUrl> {
                if (!self || id.empty())
                    return std::nullopt;
                return self->signedEndpoint(routePath(Route::mail, id), kPurposeMailbox, true);
            },
            options_.timers);
        link_->onEnvelope = [self](const std::string& frame) {
            if (self)
                self->receiveFrame(frame);
        };
        // A key record that could not be published at start goes out once the service answers.
        link_->onOpen = [self] {
            if (self && !self->keyPublished_ && !self->keyPublishing_)
                self->publishKeyRecord();
        };
    }
    link_->start();
}

void Messenger::stop()
{
    assertMainThread("Messenger::stop");
    if (link_)
        link_->stop();
}

// ---- receiving ----

void Messenger::receiveFrame(const std::string& frame)
{
    assertMainThread("Messenger::receiveFrame");
    auto ackId = handleFrame(frame);
    if (ackId.empty() || !link_)
        return;
    // The service deletes what is acknowledged: the history and the seen ids must be on
    // disk first. Unacknowledged, the mail comes again on the next connection.
    if (!defaults().sync()) {
        Log::line("Wickerlane: mail kept for later: the settings could not be written");
        return;
    }
    link_->acknowledge(ackId);
}

std::string Messenger::handleFrame(const std::string& frame)
{
    auto envelope = MailEnvelope::decode(frame);
    if (!envelope) {
        // Still acknowledge it when it names itself, so it is not sent again forever.
        auto j = nlohmann::json::parse(frame, nullptr, false);
        Log::line("Wickerlane: dropped mail that doesn't decode");
        if (j.is_object() && j.contains("id") && j["id"].is_string())
            return j["id"].get<std::string>();
        return {};
    }
    auto ownId = identity().deviceId();
    if (ownId.empty()) {
        Log::line("Wickerlane: mail kept for later: this Mac's device key can't be read");
        return {};
    }
    if (envelope->to != ownId) {
        Log::line("Wickerlane: dropped mail addressed to another Mac");
        return envelope->id;
    }
    if (seen(envelope->id))
        return envelope->id;
    auto sender = contact(envelope->from);
    if (!sender) {
        Log::line("Wickerlane: dropped mail from an unpaired device");
        return envelope->id;
    }
    if (!envelope->signatureHolds(sender->publicKey)) {
        Log::line("Wickerlane: dropped mail whose signature doesn't hold");
        return envelope->id;
    }
    auto mailKey = identity().mailKey ? identity().mailKey() : std::nullopt;
    if (!mailKey) {
        // Not this mail's fault: leave it with the service, which sends it again on the
        // next connection, when the key may be readable.
        Log::line("Wickerlane: mail kept for later: this Mac's mail key can't be read");
        return {};
    }
    markSeen(envelope->id);
    auto content = envelope->open(*mailKey, ownId, sender->publicKey);
    if (!content) {
        Log::line("Wickerlane: dropped mail that doesn't open");
        return envelope->id;
    }
    if (isQuiet(content->kind)) {
        if (onQuiet)
            onQuiet(*content, *sender);
        return envelope->id;
    }
    // A cancel or receipt speaks only for mail exchanged with the same Mac.
    if ((content->kind == MailContent::Kind::cancel || content->kind == MailContent::Kind::receipt) &&
        content->replyTo) {
        auto named = message(*content->replyTo);
        if (named && named->peerId != sender->id) {
            Log::line("Wickerlane: dropped a " + toString(content->kind) + " about another Mac's mail");
            return envelope->id;
        }
    }
    StoredMessage stored;
    stored.id = envelope->id;
    stored.peerId = sender->id;
    stored.peerName = sender->name;
    stored.outgoing = false;
    stored.content = *content;
    stored.at = now();
    if (content->kind == MailContent::Kind::password) {
        // Kept sealed until its user opens it.
        stored.content.secret.reset();
        stored.sealed = *envelope;
    }
    stored.content.personKey.reset();
    append(stored);
    if (onReceive)
        onReceive(stored);
    announce(stored);
    return envelope->id;
}

void Messenger::announce(const StoredMessage& message)
{
    using K = MailContent::Kind;
    std::string title, body;
    const auto& content = message.content;
    switch (content.kind) {
    case K::message:
        title = shownName(message.peerName);
        body = shownText(content.text.value_or(""), kShownLineLength);
        break;
    case K::reply:
        title = shownName(message.peerName) + " replied";
        body = shownText(content.text.value_or(""), kShownLineLength);
        break;
    case K::helpRequest:
        title = shownName(message.peerName) + " asked for help";
        body = shownText(content.topic.value_or(""), kShownTopicLength);
        if (content.text && !content.text->empty())
            body += (body.empty() ? "" : " \u00B7 ") + shownText(*content.text, kShownLineLength);
        break;
    case K::password:
        title = shownName(message.peerName) + " sent you a password";
        body = shownText(content.label.value_or(""), kShownTopicLength);
        break;
    default: return; // cancels and receipts only change what is shown
    }
    auto& notifier = *options_.notifier;
    notifier.post(title, body, message.id);
}

} // namespace wl
