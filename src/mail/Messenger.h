#pragma once
// Sends, receives and keeps sealed mail between paired Macs.
//
// Sending looks up the recipient's key record on the introduction service, checks it
// against the paired record, seals the content and posts it to the recipient's mailbox.
// Receiving takes the envelopes of this Mac's mailbox link: it drops repeats (a persisted
// set of seen ids), mail from unpaired devices and mail that does not open; hands the
// quiet kinds (access, linkRequest, linkReply, myMacs) to onQuiet; stores every other
// kind in the history (newest 200, oldest first, never re-sorted), hands it to onReceive
// and announces it with a notification; then acknowledges the envelope, in every case.
// Everything runs on the main thread (checked at its entry points); results of network
// work arrive there too.

#include "mail/MailIdentity.h"
#include "mail/StoredMessage.h"
#include "platform/OneShotTimer.h"
#include "protocol/PairedDevice.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace wl {

class MailboxLink;
class Notifier;
class Prompts;

struct MessengerOptions {
    MailIdentity identity; // whose keys, name and settings (required)
    // The introduction service's base address (required, an absolute http or https URL):
    // no request goes out while it gives none.
    std::function<QUrl()> serviceURL;
    Notifier* notifier = nullptr; // required
    Prompts* prompts = nullptr; // required
    // The mailbox link's reconnection and ping (required).
    TimerFactory timers;
    std::function<Date()> clock; // dateNow when empty
};

class Messenger final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<wl::StoredMessage> messages READ messages NOTIFY changed)
public:
    struct SendError {
        // noKey: the recipient's; ownKeyUnreadable: this computer's device key, which signs.
        enum class Kind { refused, noKey, offline, ownKeyUnreadable };
        Kind kind = Kind::offline;
        int status = 0; // the response status of refused

        static SendError refused(int status) { return {Kind::refused, status}; }
        static SendError noKey() { return {Kind::noKey, 0}; }
        static SendError offline() { return {Kind::offline, 0}; }
        static SendError ownKeyUnreadable() { return {Kind::ownKeyUnreadable, 0}; }
        bool operator==(const SendError&) const = default;
    };

    struct SendResult {
        std::optional<StoredMessage> message; // the stored outgoing message on success
        std::optional<SendError> error;
        bool ok() const { return message.has_value(); }
    };

    using Contacts = std::function<std::vector<PairedDevice>()>;

    using Options = MessengerOptions;

    static constexpr std::size_t kHistoryLimit = 200;
    static constexpr std::size_t kSeenLimit = 2000;

    Messenger(std::string historyKey, Contacts contacts, Options options = {}, QObject* parent = nullptr);
    ~Messenger() override;

    const std::vector<StoredMessage>& messages() const { return messages_; }

    // Seals and posts; `done` runs on the main thread with the outcome (never throws).
    void send(const MailContent& content, const PairedDevice& device, std::function<void(SendResult)> done = {});
    // Asks for the text of a message (or a reply to `answering`) and sends it; a failure
    // is shown in an alert.
    void compose(const PairedDevice& device, const std::optional<StoredMessage>& answering = std::nullopt);

    // Incoming help requests not withdrawn by their sender, not in leaveOut and younger
    // than two days at `now`, newest first.
    std::vector<StoredMessage> openHelpRequests(const std::set<std::string>& leaveOut, Date now) const;
    // Replies (both ways) whose replyTo is in ids, in history order.
    std::vector<StoredMessage> replies(const std::set<std::string>& ids) const;

    // Notifications, key record publishing, the mailbox link.
    void start();
    void stop();

    std::function<void(const MailContent&, const PairedDevice&)> onQuiet;
    std::function<void(const StoredMessage&)> onReceive;

    // One frame of the mailbox link: handled, then acknowledged.
    void receiveFrame(const std::string& frame);

    // Changes one stored message and saves; false when no message has that id.
    bool updateMessage(const std::string& id, const std::function<void(StoredMessage&)>& change);
    std::optional<StoredMessage> message(const std::string& id) const;

    // Publishes this Mac's key record (PUT v1/keys/<id>); done(true) on 200.
    void publishKeyRecord(std::function<void(bool)> done = {});

    const MailIdentity& identity() const { return options_.identity; }
    Defaults& defaults() const { return options_.identity.defaults(); }
    Prompts& prompts() const;
    Date now() const;
    std::vector<PairedDevice> contacts() const;
    std::optional<PairedDevice> contact(const std::string& id) const;
    MailboxLink* mailboxLink() const { return link_.get(); }
    QUrl serviceURL() const;

    // The informative text of an alert about a failed send.
    static std::string sendErrorText(const SendError& error);

Q_SIGNALS:
    void changed();

private:
    void load();
    void save();
    void append(StoredMessage message);
    bool seen(const std::string& id) const;
    void markSeen(const std::string& id);
    // Returns the envelope id to acknowledge ("" when there is none).
    std::string handleFrame(const std::string& frame);
    void announce(const StoredMessage& message);
    QUrl endpoint(const std::string& path) const;
    std::optional<QUrl> signedEndpoint(const std::string& path, const std::string& purpose, bool webSocket) const;
    void post(const MailContent& content, const PairedDevice& device, const std::string& mailKey,
              std::function<void(SendResult)> done);

    std::string historyKey_;
    std::string seenKey_;
    Contacts contacts_;
    Options options_;
    QNetworkAccessManager network_;
    std::unique_ptr<MailboxLink> link_;
    std::vector<StoredMessage> messages_;
    std::deque<std::string> seenOrder_;
    std::unordered_set<std::string> seenIds_;
    bool keyPublished_ = false;
    bool keyPublishing_ = false;
};

} // namespace wl
