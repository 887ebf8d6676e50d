#pragma once
// This person's roster of Macs, signed by the person key. A Mac asks another to join
// (linkRequest); on "accepted" (linkReply) it adds the newcomer, raises the version,
// signs and mails the roster (myMacs) to every Mac of it, to the newcomer with the
// person key. A roster is taken only with a valid signature, the same person key and a
// higher version, except for the first one after this Mac accepted a join, which
// carries the person key and is adopted.

#include "mail/Messenger.h"
#include "protocol/PairedDevice.h"
#include "protocol/Roster.h"

#include <QObject>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class MyMacs final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<wl::MyMacsRoster> roster READ roster NOTIFY changed)
    Q_PROPERTY(std::set<std::string> asking READ asking NOTIFY changed)
public:
    // Given the roster's other Macs and the ids that the new roster no longer holds.
    using Listener =
        std::function<void(const std::vector<PairedDevice>& macs, const std::vector<std::string>& removedIds)>;
    // Title, informative text, confirming and cancelling button; true for the confirming one.
    using Confirm = std::function<bool(const std::string& title, const std::string& informativeText,
                                       const std::string& confirmTitle, const std::string& cancelTitle)>;

    static constexpr const char* kRosterKey = "WLMyMacsRoster";
    static constexpr const char* kAskingKey = "WLMyMacsAsking";
    static constexpr const char* kAcceptedKey = "WLMyMacsAccepted";

    explicit MyMacs(Messenger& messenger, QObject* parent = nullptr);

    const std::optional<MyMacsRoster>& roster() const { return roster_; }
    const std::set<std::string>& asking() const { return asking_; }

    void ask(const PairedDevice& device);
    void handleLinkRequest(const MailContent& content, const PairedDevice& sender);
    void handleLinkReply(const MailContent& content, const PairedDevice& sender);
    void handleRoster(const MailContent& content, const PairedDevice& sender);
    // Another Mac of this Mac's roster; false for this Mac and with no roster.
    bool isMine(const std::string& id) const;
    void remove(const PairedDevice& device);
    // Calls every listener with the current roster's Macs and no removed ids.
    void notifyChange();
    // The roster's Macs other than this one, as paired-device records.
    std::vector<PairedDevice> devices() const;

    std::vector<Listener> onChange;
    Confirm confirm;

Q_SIGNALS:
    void changed();

private:
    void load();
    void saveSets();
    // Stores the roster (signed), tells the listeners; nullopt forgets it.
    void adopt(std::optional<SignedRoster> signedRoster, const std::vector<std::string>& removedIds);
    // Signs, saves and mails the roster to its Macs (and to `alsoTo`); `newcomer` gets the person key.
    void publish(const MyMacsRoster& roster, const std::vector<std::string>& removedIds, const std::string& newcomer,
                 const std::vector<PairedDevice>& alsoTo);
    RosterMac ownEntry() const;
    void showSendFailure(const std::string& title, const Messenger::SendError& error);

    Messenger& messenger_;
    std::optional<MyMacsRoster> roster_;
    std::set<std::string> asking_;
    std::set<std::string> accepted_; // Macs this one said yes to, until their roster arrives
};

} // namespace wl
